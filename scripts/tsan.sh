#!/bin/sh
# Builds the library and the concurrency test with ThreadSanitizer and runs
# it; any reported race fails the run.
set -eu
cd "$(dirname "$0")/.."
build=${TSAN_BUILD_DIR:-build-tsan}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
  -DBSBASIS_TSAN=ON -DBSBASIS_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j2 --target threads_test >/dev/null
TSAN_OPTIONS="halt_on_error=1 exitcode=66 ${TSAN_OPTIONS:-}" "$build/tests/threads_test"
