#!/bin/sh
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for
# the given number of seconds (default 20), starting from fuzz/corpus/<target>.
# fuzz_extension covers the whole extension API (bsbasis_*), the first byte
# of an input choosing the function.
# The targets live in the sanitized clang build of the tests
# (build-clang-sanitize, configured as scripts/test.sh configures it), whose
# library objects are instrumented for coverage too: the library is compiled
# once for the sanitized tests and the fuzzers.
# New inputs go to <build>/corpus/<target>, crashes to <build>/crashes.
#   scripts/fuzz.sh            # about 20 s per target
#   scripts/fuzz.sh 600        # ten minutes per target
#   FUZZ_TARGETS="fuzz_blossom" scripts/fuzz.sh 60
#   FUZZ_BUILD_DIR=dir         # another build directory
set -eu
cd "$(dirname "$0")/.."
secs=${1:-20}
build=${FUZZ_BUILD_DIR:-build-clang-sanitize}
targets=${FUZZ_TARGETS:-"fuzz_blossom fuzz_blossom_grid fuzz_deriv_grid fuzz_binary_search_with_guess fuzz_binary_search fuzz_test fuzz_extension"}

CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S . -B "$build" -DBUILD_TESTING=ON \
  -DBSBASIS_SANITIZE=ON -DBSBASIS_BUILD_FUZZ=ON >/dev/null
# Only the fuzz targets and the library objects they link.
cmake --build "$build" -j2 --target $targets >/dev/null

mkdir -p "$build/crashes"
status=0
for t in $targets; do
  mkdir -p "$build/corpus/$t"
  echo "== $t: $secs s"
  if ! "$build/fuzz/$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/crashes/$t-" \
      "$build/corpus/$t" "fuzz/corpus/$t" >"$build/$t.log" 2>&1; then
    status=1
    echo "FAILED: $t (log: $build/$t.log)"
    grep -E "ERROR|contract violated|runtime error|SUMMARY" "$build/$t.log" | head -5 || true
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/$t.log" || true
  grep -E "^#[0-9]+.*DONE" "$build/$t.log" | tail -1 || true
done
exit $status
