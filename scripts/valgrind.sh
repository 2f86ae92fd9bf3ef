#!/bin/sh
# Runs the hostile-argument driver (plain build) under valgrind memcheck.
# Any memcheck error (invalid read or write, uninitialised value, bad free,
# leak) fails the run, as does a contract violation reported by the driver.
set -eu
cd "$(dirname "$0")/.."
build=${VALGRIND_BUILD_DIR:-build-valgrind}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
  -DBSBASIS_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j2 --target hostile_driver fault_regression_test kernel_paths_test >/dev/null
status=0
for prog in "$build/tests/hostile_driver" "$build/tests/fault_regression_test" \
    "$build/tests/kernel_paths_test"; do
  log="$build/valgrind-$(basename "$prog").log"
  echo "== valgrind $prog (log: $log)"
  valgrind --tool=memcheck --error-exitcode=1 --leak-check=full \
    --errors-for-leak-kinds=definite,indirect --track-origins=yes \
    --log-file="$log" "$prog" || status=1
  grep -E "ERROR SUMMARY|All heap blocks|definitely lost" "$log" | sed 's/^==[0-9]*== //'
done
[ $status -eq 0 ] && echo "valgrind: no errors" || echo "valgrind: FAILED"
exit $status
