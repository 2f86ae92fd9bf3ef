#!/usr/bin/env bash
# Builds the library and the benchmark in build-bench/ and runs it.
# Arguments go to the benchmark (--reps N, --nx N, --only W1).  With
# --python first, runs bench/python_bench.py on that library instead, the
# other arguments going to it (--reps N, --n N, --big N).
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
if [ "${1:-}" = --python ]; then
  shift
  scripts/deps.sh python3-numpy python3-scipy
  BSBASIS_LIBRARY=$PWD/build-bench/libbsbasis.so exec /usr/bin/python3 bench/python_bench.py "$@"
fi
exec ./build-bench/bench/bsbasis_bench "$@"
