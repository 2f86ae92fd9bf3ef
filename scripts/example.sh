#!/usr/bin/env bash
# Builds the library and runs the example.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build
cmake --build build -j2
./build/design_matrix
