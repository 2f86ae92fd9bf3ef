"""The package's annotations: mypy --strict, with the project's settings,
finds no error in them; they let a user's correct code through and stop
the mistakes; and py.typed marks the package as typed for the checkers.

One mypy run serves the checks (the package and two snippets of user code).
It takes about half a minute, from an empty cache, most of it in numpy's and
dask's annotations.  The checks skip only where mypy is not installed and
the environment variable CI is unset; in CI they fail then.  With
BSBASIS_TEST_INSTALLED=1 they check the installed copy of the package.
"""
import importlib.metadata
import importlib.util
import os
import re
import shutil
import subprocess
import sys
import textwrap

import pytest

import bsbasis

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CONFIG = os.path.join(ROOT, "pyproject.toml")
PACKAGE_DIR = os.path.dirname(os.path.abspath(bsbasis.__file__))
INSTALLED = os.environ.get("BSBASIS_TEST_INSTALLED") == "1"

# Code that uses the package as documented.  assert_type fails unless the
# type is exactly the one given.
CORRECT = '''
import dask.array as da
import numpy as np
from dask.delayed import Delayed
from numpy.typing import NDArray
from typing_extensions import assert_type

import bsbasis
import bsbasis.dask
import bsbasis.formula
import bsbasis.sklearn
from bsbasis import NormalEquations, PSplineFit

x = np.linspace(0.0, 1.0, 50)
y = np.sin(x)
t = bsbasis.make_knots(x, 6, 3, kind="quantile", boundary="extended")
assert_type(t, NDArray[np.float64])
X = bsbasis.design_matrix(x, t, 3, nu=1, extrapolate="linear", threads=-1)
rows, cols, values = bsbasis.design_matrix(x, t, np.int64(3), format="blocks")
assert_type(values, NDArray[np.float64])
U = bsbasis.uniform_design_matrix(x, 3, 8, origin=-0.5, spacing=0.25, format="csc_matrix")
P = bsbasis.periodic_design_matrix(x, [0.0, 0.5, 1.0, 1.5], 2)
T = bsbasis.tensor_design_matrix(np.c_[x, x], [t, t], [3, 3], nu=(0, 1))
dense = bsbasis.natural_design_matrix(x, [0.5], 0.0, 1.0, intercept=True, format="dense")
assert_type(dense, NDArray[np.float64])
assert_type(bsbasis.evaluate_spline(x, t, 3, np.ones(len(t) - 4)), NDArray[np.float64])
assert_type(bsbasis.interval_index([0.2, 0.7], t), NDArray[np.int32])
ne = bsbasis.normal_equations(x, t, 3, y=y, weights=np.ones(50))
ne = bsbasis.normal_equations(x, t, 3, y=y, out=ne)
assert_type(sum([ne, ne], ne), NormalEquations)
assert_type(ne + ne, NormalEquations)
assert_type(ne.n, int)
coef = ne.solve(bsbasis.difference_penalty(ne.n, 2), lam=1.0)
assert_type(coef, NDArray[np.float64])
fit = bsbasis.fit_pspline(x, y, k=2, penalty=("derivative", 2), lam_bounds=(1e-4, 1e4))
assert_type(fit, PSplineFit)
assert_type(fit.lam, float)
assert_type(fit([0.25, 0.5], nu=1), NDArray[np.float64])
assert_type(bsbasis.fit_normal_equations(ne, t, 3, lam=0.5), PSplineFit)
assert_type(bsbasis.load_library(), str)
spline = bsbasis.sklearn.SplineTransformer(n_knots=4, degree=2, extrapolation="periodic")
assert_type(spline.fit(np.c_[x, y]), bsbasis.sklearn.SplineTransformer)
basis = bsbasis.formula.ns(x, df=4, lower_bound=0.0)


def lazy(dx: da.Array) -> None:
    assert_type(fit(dx), da.Array)
    assert_type(bsbasis.dask.normal_equations(dx, t, 3), NormalEquations)
    assert_type(bsbasis.dask.fit_pspline(dx, dx, n_knots=10, compute=False), Delayed)
'''

# Mistakes, each on a line that ends in the code of the error mypy must
# report there.
MISUSE = '''
import numpy as np

import bsbasis
import bsbasis.dask
import bsbasis.formula
import bsbasis.sklearn

x = np.linspace(0.0, 1.0, 50)
t = bsbasis.make_knots(x, 6, 3)
bsbasis.design_matrix(x, t, "3")  # call-overload
bsbasis.make_knots(x, 6, k="3")  # arg-type
bsbasis.design_matrix(x, t, 3, format="blocks").upper()  # attr-defined
name: str = bsbasis.evaluate_spline(x, t, 3, np.ones(6))  # assignment
bsbasis.fit_pspline(x, np.sin(x), smoothing=1.0)  # call-arg
bsbasis.fit_pspline(x, np.sin(x)).lam.upper()  # attr-defined
bsbasis.design_matrix(x, t, 3, format="dense")  # call-overload
bsbasis.design_matrix(x, t, 3, extrapolate="wrap")  # call-overload
bsbasis.difference_penalty(5, format="csc")  # call-overload
bsbasis.normal_equations(x, t, 3, out=np.zeros(3))  # arg-type
bsbasis.make_knots(x, 6, kind="even")  # arg-type
bsbasis.sklearn.SplineTransformer(degree="3")  # arg-type
bsbasis.formula.ns(x, degree=3)  # call-arg
bsbasis.dask.normal_equations(x, t, 3, compute="no")  # call-overload
'''

ERROR = re.compile(r"^(?P<path>[^:\n]+):(?P<line>\d+): error: .*\[(?P<code>[a-z-]+)\]$",
                   re.MULTILINE)
CHECKED = re.compile(r"\(checked (\d+) source files?\)|no issues found in (\d+) source files?")


def require_mypy():
    if importlib.util.find_spec("mypy") is None:
        if os.environ.get("CI"):
            pytest.fail("mypy is not installed; CI needs it (Debian: python3-mypy)")
        pytest.skip("mypy is not installed (Debian: python3-mypy); CI runs these checks")


def run_mypy(args, cwd):
    """mypy as the project runs it; returns (exit status, output).  Without
    PYTHONPATH and MYPYPATH: the snippets are to find the package under
    test, and no other copy of it."""
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "MYPYPATH")}
    proc = subprocess.run([sys.executable, "-m", "mypy", "--config-file", CONFIG] + args,
                          cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True)
    return proc.returncode, proc.stdout


def package_modules(directory):
    return sorted(f for f in os.listdir(directory) if f.endswith(".py"))


def write_snippets(directory):
    for name, text in (("correct.py", CORRECT), ("misuse.py", MISUSE)):
        with open(os.path.join(directory, name), "w") as f:
            f.write(textwrap.dedent(text).lstrip())


def expected_errors(text):
    """{line: code} of the lines that end in an error code."""
    out = {}
    for number, line in enumerate(textwrap.dedent(text).lstrip().splitlines(), start=1):
        m = re.search(r"  # ([a-z-]+)$", line)
        if m:
            out[number] = m.group(1)
    return out


def errors_in(output, filename):
    """{line: [codes]} of mypy's errors in the file of that name."""
    out = {}
    for m in ERROR.finditer(output):
        if os.path.basename(m.group("path")) == filename:
            out.setdefault(int(m.group("line")), []).append(m.group("code"))
    return out


@pytest.fixture(scope="module")
def mypy_run(tmp_path_factory):
    """One run over the package and both snippets, with a fresh cache:
    (exit status, output, work directory).

    The package is the one imported here: the source tree, or for an
    installed copy a copy of its files (mypy reports no error in what it
    finds in site-packages)."""
    require_mypy()
    work = tmp_path_factory.mktemp("typing")
    snippets = work / "snippets"
    snippets.mkdir()
    write_snippets(str(snippets))
    package = PACKAGE_DIR
    if INSTALLED:
        package = str(work / "installed" / "bsbasis")
        shutil.copytree(PACKAGE_DIR, package,
                        ignore=shutil.ignore_patterns("*.so", "__pycache__"))
    status, output = run_mypy(["--cache-dir", str(work / "cache"), package, "correct.py",
                               "misuse.py"], str(snippets))
    return status, output, work


def completed(mypy_run):
    """The output of a run that checked every file: exit status 1 (the
    misuse has errors), not 2 (mypy itself failed)."""
    status, output, _ = mypy_run
    assert status == 1, output
    checked = [int(a or b) for a, b in CHECKED.findall(output)]
    assert checked == [len(package_modules(PACKAGE_DIR)) + 2], output
    return output


def test_mypy_finds_no_error_in_the_package(mypy_run):
    output = completed(mypy_run)
    snippets = ("correct.py", "misuse.py")
    package_errors = [m.group(0) for m in ERROR.finditer(output)
                      if os.path.basename(m.group("path")) not in snippets]
    # An error without a code (a syntax error, say) counts wherever it is.
    uncoded = [line for line in output.splitlines()
               if ": error:" in line and not ERROR.match(line)]
    assert not package_errors and not uncoded, "mypy --strict on bsbasis:\n" + output


def test_correct_use_passes(mypy_run):
    output = completed(mypy_run)
    assert errors_in(output, "correct.py") == {}, output


def test_each_misuse_is_an_error_on_its_line(mypy_run):
    output = completed(mypy_run)
    want = expected_errors(MISUSE)
    got = errors_in(output, "misuse.py")
    assert {line: [code] for line, code in want.items()} == got, output


def test_py_typed_marks_the_package():
    path = os.path.join(PACKAGE_DIR, "py.typed")
    assert os.path.isfile(path), path
    if INSTALLED:
        files = {str(f) for f in importlib.metadata.distribution("bsbasis").files}
        assert "bsbasis/py.typed" in files


@pytest.mark.skipif(not INSTALLED, reason="set BSBASIS_TEST_INSTALLED=1")
def test_mypy_reads_the_installed_copy(mypy_run):
    """User code finds the installed package's annotations, as PEP 561
    has mypy find them: in site-packages, through py.typed."""
    _, _, work = mypy_run
    status, output = run_mypy(["--cache-dir", str(work / "cache"), "correct.py"],
                              str(work / "snippets"))
    assert status == 0, output
