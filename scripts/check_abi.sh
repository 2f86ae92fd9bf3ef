#!/bin/sh
# The ABI gate.  Fails unless the shared object
#   - exports exactly the six entry points and the bsbasis_* functions that
#     include/bsbasis.h declares, all of them functions (nm -D --defined-only),
#   - has no relocation against its own exports (no internal call can be
#     interposed by another object that defines the same name),
#   - needs only the C runtime (NEEDED: libc, libm),
#   - has no text relocations and no executable stack,
# and unless include/bsbasis.h compiles as strict C99 and as C++ (with C
# linkage), and a C host that dlopens the library gets known answers from
# all six functions and from the extension API; and unless the sources keep
# the house rules of lib/ (below, with grep).
#   scripts/check_abi.sh [path/to/libbsbasis.so]   (default: build/libbsbasis.so)
set -eu
cd "$(dirname "$0")/.."
lib=${1:-}
if [ -z "$lib" ]; then
  lib=build/libbsbasis.so
  if [ ! -e "$lib" ]; then
    cmake -S . -B build >/dev/null
    cmake --build build -j2 --target bsbasis >/dev/null
  fi
fi
[ -e "$lib" ] || { echo "check_abi: no such file: $lib" >&2; exit 1; }
CC=${CC:-cc}
CXX=${CXX:-c++}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; }
ok() { echo "ok:   $*"; }

# Exported symbols: exactly the six and the header's bsbasis_* functions,
# whose names come from the declarations that start a line of the header
# (a return type, then the name and its parenthesis).
sed -n -E 's/^[A-Za-z_][A-Za-z0-9_ ]*[ *](bsbasis_[a-z0-9_]+)\(.*/\1/p' include/bsbasis.h |
  sort -u >"$tmp/declared"
if [ ! -s "$tmp/declared" ]; then
  bad "no bsbasis_* declarations found in include/bsbasis.h"
fi
{ printf '%s\n' binary_search binary_search_with_guess blossom blossom_grid deriv_grid test
  cat "$tmp/declared"; } | sort -u >"$tmp/want"
nm -D --defined-only "$lib" | awk '{print $NF}' | sed 's/@.*//' | sort -u >"$tmp/got"
if cmp -s "$tmp/want" "$tmp/got"; then
  ok "exports exactly the six functions and the $(wc -l <"$tmp/declared") declared bsbasis_* ones"
else
  missing=$(comm -23 "$tmp/want" "$tmp/got" | tr '\n' ' ')
  extra=$(comm -13 "$tmp/want" "$tmp/got" | tr '\n' ' ')
  [ -n "$missing" ] && bad "declared or required but not exported: $missing"
  [ -n "$extra" ] && bad "exported but not declared in include/bsbasis.h: $extra"
fi
nm -D --defined-only "$lib" | awk '$(NF-1) != "T" {print}' >"$tmp/nonfunc"
[ -s "$tmp/nonfunc" ] && bad "exported symbols that are not functions: $(cat "$tmp/nonfunc")"

# No call or address inside the library goes through one of its own exports:
# a relocation against an exported name (a PLT slot, a GOT entry) would bind
# to whatever object in the process defines that name first.
readelf -rW "$lib" | awk 'NF >= 5 && $1 ~ /^[0-9a-f]+$/ {print $5}' | sed 's/@.*//' |
  sort -u >"$tmp/relocated"
self=$(comm -12 "$tmp/got" "$tmp/relocated" | tr '\n' ' ')
if [ -z "$self" ]; then
  ok "no relocation against the library's own exports"
else
  bad "relocations against the library's own exports (calls through the PLT/GOT): $self"
fi

# NEEDED: the C runtime only.
readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' >"$tmp/needed"
extra=$(grep -v -E '^(libc\.so\.[0-9]+|libm\.so\.[0-9]+)$' "$tmp/needed" || true)
if [ -z "$extra" ]; then
  ok "NEEDED: $(tr '\n' ' ' <"$tmp/needed")"
else
  bad "NEEDED beyond libc/libm: $extra"
fi

# No text relocations.
if readelf -d "$lib" | grep -q -E 'TEXTREL'; then bad "text relocations (TEXTREL)"; else ok "no TEXTREL"; fi

# Non-executable stack: a GNU_STACK header without E.
stack=$(readelf -lW "$lib" | awk '$1 == "GNU_STACK" {print $(NF-1)}')
case "$stack" in
  RW) ok "GNU_STACK $stack" ;;
  "") bad "no GNU_STACK header (executable stack by default)" ;;
  *) bad "GNU_STACK flags $stack" ;;
esac

# The house rules of lib/, read from the sources.  Rooms by layer, each
# including only its own layer and those below: core/ (0), lanes/ (1),
# blocks/ (2), the argument rules and status texts at the top of lib/ (3),
# eval/ (3), fit/ (4).
rank() {
  case $1 in
    core/*) echo 0 ;; lanes/*) echo 1 ;; blocks/*) echo 2 ;;
    eval/*) echo 3 ;; fit/*) echo 4 ;; */*) echo 9 ;; *) echo 3 ;;
  esac
}
rules_before=$fail
for f in $(cd lib && find . -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.inc' \) | sed 's|^\./||' | sort); do
  own=$(rank "$f")
  [ "$own" = 9 ] && bad "lib/$f: not in a room (core, lanes, blocks, eval, fit)"
  # Includes of the library's own files by their path under lib/.
  for inc in $(sed -n -E 's/^#include "([^"]+)".*/\1/p' "lib/$f"); do
    [ "$inc" = bsbasis.h ] && continue
    [ -f "lib/$inc" ] || { bad "lib/$f includes \"$inc\", not a path under lib/"; continue; }
    [ "$(rank "$inc")" -le "$own" ] || bad "lib/$f includes lib/$inc, a layer above its own"
  done
  # No file over 450 lines.
  n=$(wc -l <"lib/$f")
  [ "$n" -le 450 ] || bad "lib/$f has $n lines (at most 450)"
  # Code compiled per instruction set (intrinsics, vector registers, target
  # regions) lives in lanes/ only.
  case $f in
    lanes/*) ;;
    *) grep -n -E 'intrin\.h|_mm[0-9]*_|__m(128|256|512)|BSBASIS_TARGET_BEGIN|target\("' "lib/$f" |
         sed "s|^|lib/$f:|" | while read -r hit; do echo "FAIL: per-ISA code outside lanes/: $hit"; done |
         grep . && fail=1 ;;
  esac
  # Exports only in subject files of blocks/, eval/, fit/, checks.cpp and
  # status.cpp, and at the bottom of each: no namespace opens or closes
  # after the first.
  if grep -q '^BSBASIS_EXPORT' "lib/$f"; then
    case $f in blocks/*.cpp|eval/*.cpp|fit/*.cpp|checks.cpp|status.cpp) ;; *) bad "lib/$f defines an export" ;; esac
    first=$(grep -n '^BSBASIS_EXPORT' "lib/$f" | head -1 | cut -d: -f1)
    tail -n "+$first" "lib/$f" | grep -q -E '^(namespace|}  // namespace)' &&
      bad "lib/$f: its exports are not at the bottom of the file"
  fi
  # No call through an exported name: code reaches the internal entry points.
  # Comment lines and the exports' own definitions are not calls.
  grep -n -E '(^|[^A-Za-z0-9_])(blossom|blossom_grid|deriv_grid|binary_search|binary_search_with_guess|test|bsbasis_[a-z0-9_]+) *\(' "lib/$f" |
    grep -v -E '^[0-9]+: *(//|\*)|BSBASIS_EXPORT' | sed "s|^|lib/$f:|" |
    while read -r hit; do echo "FAIL: a call through an exported name: $hit"; done | grep . && fail=1
done
[ $fail -eq "$rules_before" ] && ok "lib/ keeps its house rules (rooms by layer, files of at most 450 lines, per-ISA code in lanes/, exports at the bottom of subject files, no call through an export)"

# The header as strict C99 and as C++.
printf '#include "bsbasis.h"\nint main(void) { return BSBASIS_VERSION > 0 ? 0 : 1; }\n' >"$tmp/h.c"
if $CC -std=c99 -Wall -Wextra -pedantic -Werror -Iinclude -c "$tmp/h.c" -o "$tmp/h.o"; then
  ok "bsbasis.h compiles as C99 (-std=c99 -Wall -Wextra -pedantic -Werror)"
else
  bad "bsbasis.h does not compile as C99"
fi
cat >"$tmp/h.cpp" <<'CPP'
#include "bsbasis.h"
int main() {
  int j[3] = {5, 5, 5};
  double B[3];
  test(nullptr, 0, nullptr, 0, j, B, 3, 3);  // links only with C linkage
  return j[0] == 2 && B[2] == 1.0 ? 0 : 1;
}
CPP
if $CXX -std=c++11 -Wall -Wextra -pedantic -Werror -Iinclude "$tmp/h.cpp" \
     -o "$tmp/hpp" "$lib" && LD_LIBRARY_PATH="$(dirname "$lib")" "$tmp/hpp"; then
  ok "bsbasis.h compiles as C++ and links with C linkage"
else
  bad "bsbasis.h as C++"
fi

# A C host that dlopens the library.
if $CC -std=c99 -Wall -Wextra -Werror -Iinclude tests/abi_dlopen.c -o "$tmp/abi_dlopen" -ldl -lm &&
   "$tmp/abi_dlopen" "$(cd "$(dirname "$lib")" && pwd)/$(basename "$lib")"; then
  ok "dlopen/dlsym host gets known answers"
else
  bad "dlopen/dlsym host"
fi

[ $fail -eq 0 ] && echo "check_abi: passed" || echo "check_abi: FAILED"
exit $fail
