#!/usr/bin/env bash
# Builds and runs every test: the plain suite, then the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

cmake -S . -B build -DBUILD_TESTING=ON
cmake --build build -j2
(cd build && ctest --output-on-failure -j2)

cmake -S . -B build-sanitize -DBUILD_TESTING=ON -DBSBASIS_SANITIZE=ON
cmake --build build-sanitize -j2
(cd build-sanitize && ctest --output-on-failure -j2)
