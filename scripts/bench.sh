#!/usr/bin/env bash
# Builds the library and the benchmark in build-bench/ and runs it.
# Arguments go to the benchmark (--reps N, --nx N, --only W1).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh libeigen3-dev libgsl-dev
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBSBASIS_BUILD_BENCH=ON \
  -DBUILD_TESTING=OFF -DBSBASIS_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build-bench -j2 >/dev/null
grep -m1 "model name" /proc/cpuinfo || true
printf "cpu flags:"
for f in avx2 avx512f; do grep -qw "$f" /proc/cpuinfo && printf " %s" "$f"; done
echo
exec ./build-bench/bench/bsbasis_bench "$@"
