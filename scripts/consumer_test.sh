#!/usr/bin/env bash
# Installs bsbasis into a temporary prefix and builds and runs the project in
# tests/consumer against it, once through find_package and once through
# pkg-config (and once against the static library when it was built).
#
#   scripts/consumer_test.sh                   configure, build and install from source
#   scripts/consumer_test.sh --build-dir DIR   install an existing build tree
set -euo pipefail

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=""
if [[ ${1:-} == --build-dir ]]; then
  build=$(cd "$2" && pwd)
fi
for tool in cmake pkg-config c++; do
  command -v "$tool" >/dev/null || { echo "consumer_test: $tool not found" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/bsbasis-consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

if [[ -z $build ]]; then
  build=$work/build
  cmake -S "$src" -B "$build" -DBUILD_TESTING=OFF -DBSBASIS_BUILD_EXAMPLES=OFF \
    -DBSBASIS_BUILD_STATIC=ON >"$work/configure.log"
  cmake --build "$build" -j2 >"$work/build.log"
fi
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

libdir=$(dirname "$(find "$prefix" -name libbsbasis.so -print -quit)")
echo "installed:"
(cd "$prefix" && find . \( -type f -o -type l \) | sort | sed 's|^\./|  |')
soname=$(readelf -d "$libdir/libbsbasis.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[[ $soname == libbsbasis.so.0 && -L $libdir/libbsbasis.so && -L $libdir/$soname ]] ||
  { echo "consumer_test: bad SONAME or links ($soname)" >&2; exit 1; }

# Runs a consumer binary, checks that it loaded the library from the prefix,
# and keeps its output.
run() {
  local exe=$1 out=$2
  local loaded
  loaded=$(ldd "$exe" | sed -n 's/.*libbsbasis[^ ]* => \([^ ]*\) .*/\1/p')
  if [[ -n $loaded && $(readlink -f "$loaded") != $(readlink -f "$libdir/libbsbasis.so.0") ]]; then
    echo "consumer_test: $exe loads $loaded, not the installed library" >&2; exit 1
  fi
  "$exe" >"$out"
  grep -qx "consumer: ok" "$out"
}

# 1. CMake package.
cmake -S "$src/tests/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON >"$work/consumer-cmake.log"
cmake --build "$work/cmake" >>"$work/consumer-cmake.log"
run "$work/cmake/consumer" "$work/out-cmake.txt"
echo "find_package: ok"

# 2. pkg-config, with a plain compiler command line.
export PKG_CONFIG_PATH=$libdir/pkgconfig
c++ -std=c++17 -O2 "$src/tests/consumer/main.cpp" -o "$work/consumer-pc" \
  $(pkg-config --cflags --libs bsbasis) -Wl,-rpath,"$(pkg-config --variable=libdir bsbasis)"
run "$work/consumer-pc" "$work/out-pc.txt"
cmp -s "$work/out-cmake.txt" "$work/out-pc.txt" ||
  { echo "consumer_test: find_package and pkg-config builds disagree" >&2; exit 1; }
echo "pkg-config: ok ($(pkg-config --modversion bsbasis))"

# 3. The static library, when it was installed.
if [[ -f $libdir/libbsbasis.a ]]; then
  cmake -S "$src/tests/consumer" -B "$work/static" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON -DCONSUMER_STATIC=ON >"$work/consumer-static.log"
  cmake --build "$work/static" >>"$work/consumer-static.log"
  if readelf -d "$work/static/consumer" | grep -q 'NEEDED.*libbsbasis'; then
    echo "consumer_test: static consumer needs libbsbasis.so" >&2; exit 1
  fi
  run "$work/static/consumer" "$work/out-static.txt"
  cmp -s "$work/out-cmake.txt" "$work/out-static.txt" ||
    { echo "consumer_test: static build disagrees" >&2; exit 1; }
  echo "static: ok"
fi

cat "$work/out-cmake.txt"
echo "consumer_test: passed"
