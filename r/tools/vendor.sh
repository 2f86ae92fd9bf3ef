#!/bin/sh
# Copies the library's header and sources from the repository at $1 into
# src/ (the sources under src/lib, in their rooms), so that the package
# compiles the very code the C ABI ships.
set -e
root=$1
here=$(cd "$(dirname "$0")/.." && pwd)
cp "$root/include/bsbasis.h" "$here/src/"
# Installed with the package, for code that links to it and for the test
# that holds the R statement of the ABI's numbers to the header.
mkdir -p "$here/inst/include"
cp "$root/include/bsbasis.h" "$here/inst/include/"
# The library's rooms as they are in the repository, under src/lib.
rm -rf "$here/src/lib"
(cd "$root/lib" && find . -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.inc' \)) |
  while read -r f; do
    mkdir -p "$here/src/lib/$(dirname "$f")"
    cp "$root/lib/$f" "$here/src/lib/$f"
  done
# The periodic cases the Python host wrote, for the tests to compare with.
cp "$root/tests/shared/periodic_cases.txt" "$here/tests/testthat/"
