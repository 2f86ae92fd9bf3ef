#!/usr/bin/env bash
# Builds and runs every test: the C++ suite plain and under AddressSanitizer
# and UndefinedBehaviorSanitizer; the ABI gate, valgrind, ThreadSanitizer and
# a short run of every fuzzer; then the Python host's tests.
# FUZZ_SECONDS sets the fuzzing time per target (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh python3-numpy python3-scipy python3-pytest python3-matplotlib libeigen3-dev pkg-config \
  clang libclang-rt-14-dev valgrind

cmake -S . -B build -DBUILD_TESTING=ON
cmake --build build -j2
(cd build && ctest --output-on-failure -j2)

cmake -S . -B build-sanitize -DBUILD_TESTING=ON -DBSBASIS_SANITIZE=ON
cmake --build build-sanitize -j2
(cd build-sanitize && ctest --output-on-failure -j2)

scripts/check_abi.sh build/libbsbasis.so
scripts/valgrind.sh
scripts/tsan.sh
scripts/fuzz.sh "${FUZZ_SECONDS:-20}"

# The Python host, against the plain build.  pytest exits 5 when it
# collects nothing, which counts as a failure here too.
(cd python && BSBASIS_LIBRARY="$PWD/../build/libbsbasis.so" /usr/bin/python3 -m pytest -q tests)
