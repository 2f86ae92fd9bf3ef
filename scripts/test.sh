#!/usr/bin/env bash
# Builds and runs every test: the C++ suite built with GCC and with clang,
# and with clang under AddressSanitizer and UndefinedBehaviorSanitizer; the
# ABI gate, valgrind, ThreadSanitizer and a short run of every fuzzer (built
# in the sanitized clang build, on its library objects); then
# the Python host's tests, the R package's check and the documentation
# site's build (scripts/docs.sh, warnings as errors).  Prints the time of each
# stage.
#
#   FUZZ_SECONDS=N         fuzzing time per target (default 20)
#   BSBASIS_LONG_TESTS=1   also the tests that take minutes (plain GCC build)
set -euo pipefail
cd "$(dirname "$0")/.."

start=$SECONDS
stage() {
  local name=$1 t0=$SECONDS
  shift
  echo "=== $name"
  "$@"
  printf '=== %s: %d s (total %d s)\n' "$name" $((SECONDS - t0)) $((SECONDS - start))
}

# Configures, builds and runs ctest in one build directory.
suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DBUILD_TESTING=ON "$@" >/dev/null
  cmake --build "$dir" -j2 >/dev/null
  (cd "$dir" && ctest --output-on-failure -j2 -LE long | tail -n 3)
}

with_clang() { CC=clang CXX=clang++ "$@"; }

long_tests() {
  cmake -S . -B build -DBUILD_TESTING=ON -DBSBASIS_LONG_TESTS=ON >/dev/null
  cmake --build build -j2 >/dev/null
  (cd build && ctest --output-on-failure -L long)
}

python_tests() {
  # pytest exits 5 when it collects nothing, which counts as a failure here too.
  (cd python && BSBASIS_LIBRARY="$PWD/../build/libbsbasis.so" /usr/bin/python3 -m pytest -q tests)
}

# pip-installs the package into a fresh venv (offline) and runs the Python
# tests against that copy, from a directory that puts no source on sys.path;
# then builds a wheel and checks what it holds.
installed_tests() (
  local root=$PWD tmp
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  echo "pip install --no-build-isolation --no-index . into a venv in $tmp"
  /usr/bin/python3 -m venv --system-site-packages "$tmp/venv"
  "$tmp/venv/bin/python" -m pip install -q --no-build-isolation --no-index .
  mkdir "$tmp/run"
  cd "$tmp/run"
  unset BSBASIS_LIBRARY PYTHONPATH
  "$tmp/venv/bin/python" - "$tmp/venv" <<'PY'
import os, sys, bsbasis
venv = os.path.realpath(sys.argv[1]) + os.sep
for got in (bsbasis.__file__, bsbasis.library_path()):
    print("  " + got)
    assert os.path.realpath(got).startswith(venv), "not from the venv: " + got
PY
  echo "pytest against the installed copy"
  BSBASIS_TEST_INSTALLED=1 "$tmp/venv/bin/python" -m pytest -q -p no:cacheprovider \
    "$root/python/tests"
  echo "python3 -m build --no-isolation --wheel"
  (cd "$root" && /usr/bin/python3 -m build --no-isolation --wheel --outdir "$tmp/dist" . \
    >"$tmp/build.log" 2>&1) || { cat "$tmp/build.log"; return 1; }
  LICENSE_FILE="$root/LICENSE" /usr/bin/python3 - "$tmp"/dist/*.whl <<'PY'
import os, sys, zipfile
whl = sys.argv[1]
print("  " + os.path.basename(whl))
assert len(sys.argv) == 2, "more than one wheel"
assert not whl.endswith("-py3-none-any.whl"), "pure wheel: the library is platform-specific"
with zipfile.ZipFile(whl) as z:
    # A stored symlink holds its target's name, not an ELF image.
    assert z.read("bsbasis/libbsbasis.so")[:4] == b"\x7fELF", "library is not an ELF file"
    # PEP 561: without the marker, type checkers ignore the package's annotations.
    assert "bsbasis/py.typed" in z.namelist(), "no bsbasis/py.typed in the wheel"
    info = [n for n in z.namelist() if n.endswith(".dist-info/METADATA")][0].rsplit("/", 1)[0]
    with open(os.environ["LICENSE_FILE"], "rb") as f:
        assert z.read(info + "/LICENSE") == f.read(), "the wheel's LICENSE is not ours"
    assert b"\nLicense: BSD-3-Clause\n" in z.read(info + "/METADATA"), "no license in METADATA"
PY
)

stage "dependencies" scripts/deps.sh python3-numpy python3-scipy python3-pytest python3-sklearn \
  python3-dask python3-distributed python3-pandas python3-patsy python3-statsmodels python3-numpydoc python3-mypy r-base-core r-base-dev r-cran-matrix r-cran-testthat \
  r-cran-splines2 r-cran-mgcv r-cran-survival \
  python3-matplotlib libeigen3-dev pkg-config clang libclang-rt-14-dev valgrind \
  python3-venv python3-pip python3-setuptools python3-wheel python3-build
stage "gcc" suite build
stage "clang" with_clang suite build-clang
# One sanitized build serves the tests and the fuzzers: clang's ASan and
# UBSan (with checks GCC's lacks, such as function types), its library
# objects also instrumented for the fuzzers' coverage.
stage "clang, asan+ubsan" with_clang suite build-clang-sanitize -DBSBASIS_SANITIZE=ON \
  -DBSBASIS_BUILD_FUZZ=ON
stage "abi gate" scripts/check_abi.sh build/libbsbasis.so
stage "valgrind" scripts/valgrind.sh
stage "tsan" scripts/tsan.sh
stage "fuzz" scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
if [ "${BSBASIS_LONG_TESTS:-0}" = 1 ]; then
  stage "long tests" long_tests
fi
stage "python" python_tests
stage "python, installed" installed_tests
stage "r" bash scripts/r_test.sh
# The documentation site, warnings as errors; its gallery scripts run.
stage "docs" scripts/docs.sh
