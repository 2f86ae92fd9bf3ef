#!/usr/bin/env bash
# Builds and runs every test: the C++ suite built with GCC and with clang,
# each plain and under AddressSanitizer and UndefinedBehaviorSanitizer; the
# ABI gate, valgrind, ThreadSanitizer and a short run of every fuzzer; then
# the Python host's tests.  Prints the time of each stage.
#
#   FUZZ_SECONDS=N         fuzzing time per target (default 20)
#   BSBASIS_LONG_TESTS=1   also the tests that take minutes (plain GCC build)
set -euo pipefail
cd "$(dirname "$0")/.."

start=$SECONDS
stage() {
  local name=$1 t0=$SECONDS
  shift
  echo "=== $name"
  "$@"
  printf '=== %s: %d s (total %d s)\n' "$name" $((SECONDS - t0)) $((SECONDS - start))
}

# Configures, builds and runs ctest in one build directory.
suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DBUILD_TESTING=ON "$@" >/dev/null
  cmake --build "$dir" -j2 >/dev/null
  (cd "$dir" && ctest --output-on-failure -j2 -LE long | tail -n 3)
}

with_clang() { CC=clang CXX=clang++ "$@"; }

long_tests() {
  cmake -S . -B build -DBUILD_TESTING=ON -DBSBASIS_LONG_TESTS=ON >/dev/null
  cmake --build build -j2 >/dev/null
  (cd build && ctest --output-on-failure -L long)
}

python_tests() {
  # pytest exits 5 when it collects nothing, which counts as a failure here too.
  (cd python && BSBASIS_LIBRARY="$PWD/../build/libbsbasis.so" /usr/bin/python3 -m pytest -q tests)
}

stage "dependencies" scripts/deps.sh python3-numpy python3-scipy python3-pytest \
  python3-matplotlib libeigen3-dev pkg-config clang libclang-rt-14-dev valgrind
stage "gcc" suite build
stage "gcc, asan+ubsan" suite build-sanitize -DBSBASIS_SANITIZE=ON
stage "clang" with_clang suite build-clang
stage "clang, asan+ubsan" with_clang suite build-clang-sanitize -DBSBASIS_SANITIZE=ON
stage "abi gate" scripts/check_abi.sh build/libbsbasis.so
stage "valgrind" scripts/valgrind.sh
stage "tsan" scripts/tsan.sh
stage "fuzz" scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
if [ "${BSBASIS_LONG_TESTS:-0}" = 1 ]; then
  stage "long tests" long_tests
fi
stage "python" python_tests
