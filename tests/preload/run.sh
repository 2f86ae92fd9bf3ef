#!/bin/sh
# Shows that no call inside the library goes through one of its exported
# names, which another object in the process may define too:
#   1. the C++ host prints the same bits with and without LD_PRELOAD of an
#      object that defines the six original names with wrong answers, while
#      its own direct call of blossom_grid gets the wrong answer (so the
#      preload did take effect);
#   2. a C host that dlopens the library and calls every export by dlsym
#      gets the known answers while an object defining every exported name
#      is preloaded.
# Usage: run.sh HOST INTERPOSE_SIX ABI_DLOPEN INTERPOSE_ALL LIBRARY
set -eu
host=$1 six=$2 dlopen_host=$3 all=$4 lib=$5
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0

"$host" >"$tmp/plain"
LD_PRELOAD=$six "$host" >"$tmp/preloaded"
direct() { sed -n 's/^direct blossom_grid: //p' "$1"; }
if [ "$(direct "$tmp/preloaded")" != "0x1.5p+7" ]; then
  echo "FAIL: the preloaded object did not take effect (direct call gave $(direct "$tmp/preloaded"))"
  fail=1
fi
if [ "$(direct "$tmp/plain")" = "0x1.5p+7" ]; then
  echo "FAIL: the library's own blossom_grid gave the interposer's answer"
  fail=1
fi
grep -v '^direct ' "$tmp/plain" >"$tmp/plain.rest"
grep -v '^direct ' "$tmp/preloaded" >"$tmp/preloaded.rest"
if cmp -s "$tmp/plain.rest" "$tmp/preloaded.rest"; then
  echo "ok:   the C++ host's $(wc -l <"$tmp/plain.rest") results are the same bits with the six names interposed"
else
  echo "FAIL: the C++ host's results change when the six names are interposed:"
  diff "$tmp/plain.rest" "$tmp/preloaded.rest" | head -5 | cut -c1-200
  fail=1
fi

if LD_PRELOAD=$all "$dlopen_host" "$lib"; then
  echo "ok:   every export gives its known answers with every exported name interposed"
else
  echo "FAIL: known answers change when the exported names are interposed"
  fail=1
fi
exit $fail
