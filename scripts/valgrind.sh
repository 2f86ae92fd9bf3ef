#!/bin/sh
# Runs the hostile-argument driver (plain build) under valgrind memcheck.
# Any memcheck error (invalid read or write, uninitialised value, bad free,
# leak) fails the run, as does a contract violation reported by the driver.
set -eu
cd "$(dirname "$0")/.."
build=${VALGRIND_BUILD_DIR:-build-valgrind}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
  -DBSBASIS_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j2 --target hostile_driver fault_regression_test >/dev/null
for prog in "$build/tests/hostile_driver" "$build/tests/fault_regression_test"; do
  echo "== valgrind $prog"
  valgrind --tool=memcheck --error-exitcode=1 --leak-check=full \
    --errors-for-leak-kinds=definite,indirect --track-origins=yes -q "$prog"
done
echo "valgrind: no errors"
