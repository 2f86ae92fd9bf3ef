#!/usr/bin/env bash
# Builds and runs every test: the C++ suite plain and under AddressSanitizer
# and UndefinedBehaviorSanitizer, then the Python host's tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh python3-numpy python3-scipy python3-pytest python3-matplotlib libeigen3-dev pkg-config

cmake -S . -B build -DBUILD_TESTING=ON
cmake --build build -j2
(cd build && ctest --output-on-failure -j2)

cmake -S . -B build-sanitize -DBUILD_TESTING=ON -DBSBASIS_SANITIZE=ON
cmake --build build-sanitize -j2
(cd build-sanitize && ctest --output-on-failure -j2)

# The Python host, against the plain build.  pytest exits 5 when it
# collects nothing, which counts as a failure here too.
(cd python && BSBASIS_LIBRARY="$PWD/../build/libbsbasis.so" /usr/bin/python3 -m pytest -q tests)
