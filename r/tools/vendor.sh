#!/bin/sh
# Copies the library's header and sources from the repository at $1 into
# src/, so that the package compiles the very code the C ABI ships.
set -e
root=$1
here=$(cd "$(dirname "$0")/.." && pwd)
cp "$root/include/bsbasis.h" "$here/src/"
# Installed with the package, for code that links to it and for the test
# that holds the R statement of the ABI's numbers to the header.
mkdir -p "$here/inst/include"
cp "$root/include/bsbasis.h" "$here/inst/include/"
for f in "$root"/lib/*.cpp "$root"/lib/*.hpp "$root"/lib/*.inc; do
  cp "$f" "$here/src/"
done
# The periodic cases the Python host wrote, for the tests to compare with.
cp "$root/tests/shared/periodic_cases.txt" "$here/tests/testthat/"
