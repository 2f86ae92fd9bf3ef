#!/usr/bin/env bash
# Builds the R package in r/ (the library's sources vendored into it) with
# its vignette, runs R CMD check on the tarball, tests and the vignette's
# code included, and prints the time of each stage; then checks that the
# installed package gives the same bits with the library's exported names
# interposed (tests/preload/run_r.sh).  Work happens in a fresh directory
# under /tmp (RBUILD_DIR to choose).
#
#   R_CHECK=0   install and run the tests only, without the vignette or
#               R CMD check
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

start=$SECONDS
stage() {
  local name=$1 t0=$SECONDS
  shift
  echo "=== $name"
  "$@"
  printf '=== %s: %d s (total %d s)\n' "$name" $((SECONDS - t0)) $((SECONDS - start))
}

stage deps bash scripts/deps.sh r-base-core r-base-dev r-cran-matrix r-cran-testthat \
  r-cran-splines2 r-cran-mgcv r-cran-survival r-cran-knitr r-cran-rmarkdown pandoc

if [ -n "${RBUILD_DIR:-}" ]; then
  work=$RBUILD_DIR
else
  work=$(mktemp -d /tmp/rbuild-XXXXXX)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work/lib"
echo "working in $work"

stage vendor sh r/tools/vendor.sh "$root"
build() {
  (cd "$work" && R CMD build "$@" "$root/r" >build.log 2>&1) || {
    cat "$work/build.log"
    return 1
  }
  grep -E "vignettes|building" "$work/build.log"
}
if [ "${R_CHECK:-1}" = 0 ]; then
  stage build build --no-build-vignettes
else
  # R CMD build knits the vignette into the tarball (inst/doc), which
  # R CMD check wants of a package that has one; to knit it, it installs
  # the package, a compile that R CMD check repeats.  That first compile
  # only serves the vignette, so it goes without optimisation (-O0 for R's
  # -O2: a third of the time; -ffp-contract=off still holds, and the
  # vignette comes out the same bytes).  R CMD check knits the vignette
  # again on the package it compiled with R's flags ("re-building of
  # vignette outputs"): that is where its code runs on the package
  # checked, since knitr hands "running R code from vignettes" an empty
  # script.
  printf 'CXX17FLAGS = -O0\n' > "$work/Makevars-O0"
  MAKEFLAGS=-j2 R_MAKEVARS_USER=$work/Makevars-O0 stage build build
fi
tarball=$(ls -t "$work"/bsbasis_*.tar.gz | head -n 1)
# The tarball carries the license its DESCRIPTION points at.
tar -tzf "$tarball" > "$work/contents"
if ! grep -qx 'bsbasis/LICENSE' "$work/contents"; then
  echo "r_test: $tarball holds no bsbasis/LICENSE" >&2
  exit 1
fi

if [ "${R_CHECK:-1}" = 0 ]; then
  stage install R CMD INSTALL --no-test-load -l "$work/lib" "$tarball"
  stage tests bash -c "cd '$root/r/tests' && R_LIBS='$work/lib' Rscript testthat.R"
else
  check() {
    (cd "$work" && _R_CHECK_FORCE_SUGGESTS_=false MAKEFLAGS=-j2 \
      R CMD check --no-manual "$tarball" >check.log 2>&1) || {
      cat "$work/check.log"
      tail -n 40 "$work"/bsbasis.Rcheck/tests/testthat.Rout.fail 2>/dev/null || true
      return 1
    }
    grep -E "^\* checking tests|Running|vignette|^Status" "$work/check.log"
    # The license is one R knows, its template filled in.
    if ! grep -qE "^\* checking DESCRIPTION meta-information \.\.\. OK" "$work/check.log"; then
      grep -A6 "checking DESCRIPTION meta-information" "$work/check.log" || true
      return 1
    fi
    grep -E "^\[ FAIL" "$work"/bsbasis.Rcheck/tests/testthat.Rout || true
    # A warning fails too: the package must check clean but for notes.
    if grep -qE "^Status:.*(WARNING|ERROR)" "$work/check.log"; then
      grep -B2 -A8 "WARNING" "$work/check.log" || true
      return 1
    fi
    # So does a note, but for the size of the installed package (its
    # compiled library passes the 5 MB over which R CMD check notes it).
    if ! grep -qxE "Status: (OK|1 NOTE)" "$work/check.log" ||
      { grep -qx "Status: 1 NOTE" "$work/check.log" &&
        ! grep -qE "^\* checking installed package size \.\.\. NOTE" "$work/check.log"; }; then
      echo "r_test: R CMD check notes more than the installed size:" >&2
      grep -B1 -A8 "NOTE" "$work/check.log" || true
      return 1
    fi
  }
  stage check check
fi

# No call inside the package goes through a name that another object in
# the process may define: the same bits with such an object preloaded.
if [ "${R_CHECK:-1}" = 0 ]; then installed=$work/lib; else installed=$work/bsbasis.Rcheck; fi
stage preload sh tests/preload/run_r.sh "$installed"
# The R code of the README and of the documentation's pages, as written.
stage "docs' R code" env R_LIBS="$installed" Rscript scripts/run_r_blocks.R README.md \
  docs/getting_started/r.md docs/coming_from/r_splines.md docs/coming_from/mgcv.md
# The benchmark of the speed goals runs and its calls agree (timings not judged).
stage "benchmark check" env R_LIBS="$installed" Rscript "$root/r/bench/goals.R" 1 10000
