#!/usr/bin/env bash
# Builds the library and the benchmark in build-bench/ and runs it.
# Arguments go to the benchmark (--reps N, --nx N, --only W1).  With
# --python first, runs bench/python_bench.py on that library instead, the
# other arguments going to it (--reps N, --n N, --big N).  With --goals
# first, also builds the benchmark with clang in build-bench-clang/ and runs
# bench/goals.py (--reps N, --n N, --no-r): the speed goals in one table.
# With --gam first, runs bench/gam_bench.py (--rows N, --gam-rows N,
# --family F, --reps N, --skip-gam, --skip-r): additive models against
# mgcv's bam and gam, which it calls through Rscript.
#
#   BSBASIS_BENCH_DIR=dir   add the benchmark to that Release build instead
#                           (CI: the test build, whose library is built)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh libeigen3-dev libgsl-dev
dir=${BSBASIS_BENCH_DIR:-build-bench}
if [ "$dir" = build-bench ]; then
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBSBASIS_BUILD_BENCH=ON \
    -DBUILD_TESTING=OFF -DBSBASIS_BUILD_EXAMPLES=OFF >/dev/null
else
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBSBASIS_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$dir" -j2 >/dev/null
grep -m1 "model name" /proc/cpuinfo || true
printf "cpu flags:"
for f in avx2 avx512f; do grep -qw "$f" /proc/cpuinfo && printf " %s" "$f"; done
echo
if [ "${1:-}" = --goals ]; then
  shift
  scripts/deps.sh python3-numpy python3-scipy clang
  CC=clang CXX=clang++ cmake -S . -B build-bench-clang -DCMAKE_BUILD_TYPE=Release \
    -DBSBASIS_BUILD_BENCH=ON -DBUILD_TESTING=OFF -DBSBASIS_BUILD_EXAMPLES=OFF >/dev/null
  cmake --build build-bench-clang -j2 --target bsbasis_bench >/dev/null
  BSBASIS_LIBRARY=$PWD/$dir/libbsbasis.so exec /usr/bin/python3 bench/goals.py \
    --gcc "$dir" --clang build-bench-clang "$@"
fi
if [ "${1:-}" = --gam ]; then
  shift
  scripts/deps.sh python3-numpy python3-scipy r-base-core r-cran-mgcv
  BSBASIS_LIBRARY=$PWD/$dir/libbsbasis.so exec /usr/bin/python3 bench/gam_bench.py "$@"
fi
if [ "${1:-}" = --python ]; then
  shift
  scripts/deps.sh python3-numpy python3-scipy
  BSBASIS_LIBRARY=$PWD/$dir/libbsbasis.so exec /usr/bin/python3 bench/python_bench.py "$@"
fi
exec "./$dir/bench/bsbasis_bench" "$@"
