#!/bin/sh
# Builds the library, the concurrency test and the C++ host's model sums
# (tiles on threads, added in order) with ThreadSanitizer and runs them; any
# reported race fails the run.
set -eu
cd "$(dirname "$0")/.."
build=${TSAN_BUILD_DIR:-build-tsan}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
  -DBSBASIS_TSAN=ON -DBSBASIS_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j2 --target threads_test cpp_model_test >/dev/null
for t in threads_test cpp_model_test; do
  TSAN_OPTIONS="halt_on_error=1 exitcode=66 ${TSAN_OPTIONS:-}" "$build/tests/$t"
done
