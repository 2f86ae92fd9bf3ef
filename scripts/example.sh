#!/usr/bin/env bash
# Builds the library, runs the C example, then the Python demo (a P-spline
# fit of matplotlib's sample stock data; it writes demo.png).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh python3-numpy python3-scipy python3-matplotlib libeigen3-dev
cmake -S . -B build
cmake --build build -j2
./build/design_matrix
echo
(cd python && /usr/bin/python3 -m bsbasis.demo --output ../demo.png "$@")
