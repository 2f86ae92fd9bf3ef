"""natural_design_matrix against R's definition of natural cubic splines,
written out here with scipy's B-splines and the Householder reflections of
R's qr (LINPACK's dqrdc2), and against R itself where it is installed."""
import math
import re
import shutil
import subprocess

import numpy as np
import pytest
import scipy.sparse as sp
from scipy.interpolate import BSpline

import bsbasis
from bsbasis import _natural, _tiles
from bsbasis._abi import NATURAL_WIDTH


# ---------------------------------------------------------------- reference

def dqrdc2_q(a):
    """The full Q of R's qr(a) for a matrix of full column rank: the
    reflections H_l = I - u u^T / u[0] of LINPACK's dqrdc2, where u is the
    rest of column l over its norm, the norm taking the sign of its first
    entry, plus 1 in that entry; Q = H_1 H_2 ... H_p."""
    a = np.array(a, dtype=float)
    n, p = a.shape
    q = np.eye(n)
    for col in range(p):
        v = a[col:, col]
        nrm = math.sqrt(float(v @ v))
        if nrm == 0.0:
            continue
        if v[0] != 0.0:
            nrm = math.copysign(nrm, v[0])
        u = v / nrm
        u[0] += 1.0
        h = np.eye(n)
        h[col:, col:] -= np.outer(u, u) / u[0]
        a = h @ a
        q = q @ h
    return q


def natural_reference(x, knots, lo, hi, intercept=False, nu=0, norms=False):
    """R's splines::ns: the cubic B-splines on lo x4, knots, hi x4 (their
    values and slopes at the nearer boundary knot continued linearly
    beyond it), without the first unless intercept, times the columns of Q
    after the first two, where Q comes from the QR of the transposed
    second derivatives at lo and hi.  With `norms`, also the 2-norm of
    each B-spline row: Q is orthogonal, so no entry of the row exceeds it,
    and it is the size of the terms that the product adds."""
    x = np.asarray(x, dtype=float)
    t = np.r_[[lo] * 4, knots, [hi] * 4]
    n = len(t) - 4
    spl = BSpline(t, np.eye(n), 3)
    B = np.zeros((len(x), n))
    inside = (x >= lo) & (x <= hi)
    if nu == 0:
        B[inside] = BSpline.design_matrix(x[inside], t, 3).toarray()
    elif nu <= 3:
        B[inside] = spl(x[inside], nu)
    for end, beyond in ((lo, x < lo), (hi, x > hi)):
        if nu == 0:
            B[beyond] = spl(end) + np.outer(x[beyond] - end, spl(end, 1))
        elif nu == 1:
            B[beyond] = spl(end, 1)
    const = spl(np.array([lo, hi]), 2)
    if not intercept:
        B, const = B[:, 1:], const[:, 1:]
    out = B @ dqrdc2_q(const.T)[:, 2:]
    return (out, np.sqrt((B * B).sum(axis=1))) if norms else out


def assert_rows_close(got, ref, tol=1e-13, norms=None):
    """Each row within tol of its largest entry, or of the norm of its
    B-spline row where that is larger: a row that the reflections cancel
    to about 0 (a second derivative at a boundary knot) is compared with
    the size of what cancelled."""
    assert got.shape == ref.shape
    scale = np.abs(ref).max(axis=1, initial=0.0)
    if norms is not None:
        scale = np.maximum(scale, norms)
    scale = scale[:, None]
    assert (np.abs(got - ref) <= tol * scale).all(), np.abs(got - ref).max()


def test_the_reference_reflections_are_those_of_r():
    # The Q of dqrdc2 is orthogonal and its first two columns span the
    # columns reflected, with R's signs: R = Q.T a is upper triangular and
    # its diagonal has the opposite sign of each pivot entry.
    rng = np.random.default_rng(1)
    a = rng.normal(size=(6, 2))
    q = dqrdc2_q(a)
    assert np.allclose(q.T @ q, np.eye(6), atol=1e-14)
    r = q.T @ a
    assert np.allclose(r[2:], 0.0, atol=1e-14) and abs(r[1, 0]) < 1e-14
    assert np.sign(r[0, 0]) == -np.sign(a[0, 0])


# ------------------------------------------------------------- the basis

KNOT_SETS = {
    "none": [],
    "one": [0.4],
    "uneven": [0.05, 0.1, 0.6, 0.65, 0.9],
    "many": list(np.linspace(0.0, 1.0, 22)[1:-1] ** 2),
    "double": [0.3, 0.3, 0.7],
}


def abscissae(knots, lo, hi, seed):
    rng = np.random.default_rng(seed)
    span = hi - lo
    return np.r_[rng.uniform(lo, hi, 60), knots, lo, hi, lo - span * rng.uniform(0, 3, 5),
                 hi + span * rng.uniform(0, 3, 5), np.nextafter(lo, -np.inf),
                 np.nextafter(hi, np.inf)]


@pytest.mark.parametrize("name", sorted(KNOT_SETS))
@pytest.mark.parametrize("intercept", [False, True])
@pytest.mark.parametrize("nu", [0, 1, 2, 3, 4, 9])
def test_rows_match_rs_definition(name, intercept, nu):
    lo, hi = -0.5, 1.25
    knots = np.asarray(KNOT_SETS[name]) * (hi - lo) + lo
    x = abscissae(knots, lo, hi, nu + 10 * intercept)
    got = bsbasis.natural_design_matrix(x, knots, lo, hi, intercept=intercept, nu=nu,
                                        format="dense")
    ref, norms = natural_reference(x, knots, lo, hi, intercept, min(nu, 4), norms=True)
    assert got.shape == (len(x), len(knots) + 1 + intercept)
    assert_rows_close(got, ref, norms=norms)
    if nu >= 4:
        assert not got.any()


@pytest.mark.parametrize("intercept", [False, True])
def test_columns_are_natural_splines(intercept):
    # Second derivative 0 at both boundary knots, and beyond them straight
    # lines: the slope there is the slope at the boundary knot.
    knots, lo, hi = [1.0, 2.5, 3.0], 0.0, 4.0
    d2 = bsbasis.natural_design_matrix([lo, hi], knots, lo, hi, intercept=intercept, nu=2,
                                       format="dense")
    scale = np.abs(bsbasis.natural_design_matrix(np.linspace(lo, hi, 50), knots, lo, hi,
                                                 intercept=intercept, nu=2,
                                                 format="dense")).max()
    assert scale > 0.1 and np.abs(d2).max() < 1e-13 * scale
    beyond = np.array([-3.0, -1.0, 5.0, 9.0])
    d1 = bsbasis.natural_design_matrix(beyond, knots, lo, hi, intercept=intercept, nu=1,
                                       format="dense")
    at_ends = bsbasis.natural_design_matrix([lo, lo, hi, hi], knots, lo, hi,
                                            intercept=intercept, nu=1, format="dense")
    assert np.allclose(d1, at_ends, rtol=0, atol=1e-13)


def test_without_intercept_every_column_is_zero_at_lo():
    row = bsbasis.natural_design_matrix([2.0], [3.0, 5.0], 2.0, 7.0, format="dense")
    assert np.array_equal(row, np.zeros((1, 3)))
    row = bsbasis.natural_design_matrix([2.0], [3.0, 5.0], 2.0, 7.0, intercept=True,
                                        format="dense")
    assert abs(row.sum()) > 0.1


def test_intercept_columns_span_the_constant():
    x = np.linspace(-1.0, 3.0, 41)
    X = bsbasis.natural_design_matrix(x, [0.5, 1.0], 0.0, 2.0, intercept=True, format="dense")
    coef, *_ = np.linalg.lstsq(X, np.ones_like(x), rcond=None)
    assert np.abs(X @ coef - 1.0).max() < 1e-12


def test_boundary_knots_default_to_the_range_of_finite_x():
    x = np.array([3.0, np.nan, -2.0, 7.5, np.inf, 1.0])
    got = bsbasis.natural_design_matrix(x, [0.0, 2.0], format="dense")
    ref = bsbasis.natural_design_matrix(x, [0.0, 2.0], -2.0, 7.5, format="dense")
    assert np.array_equal(got, ref)
    # One boundary given, the other from x.
    got = bsbasis.natural_design_matrix(x, [0.0, 2.0], lo=-5.0, format="dense")
    assert np.array_equal(got, bsbasis.natural_design_matrix(x, [0.0, 2.0], -5.0, 7.5,
                                                             format="dense"))


# ------------------------------------------------------------- the formats

def test_every_format_holds_the_same_matrix():
    rng = np.random.default_rng(3)
    knots = [0.1, 0.35, 0.4, 0.8]
    x = np.r_[rng.uniform(-0.5, 1.5, 200), np.nan, np.inf, -np.inf, 0.0, 1.0]
    dense = bsbasis.natural_design_matrix(x, knots, 0.0, 1.0, format="dense")
    assert dense.flags.c_contiguous and dense.dtype == np.float64
    assert np.array_equal(dense[-5:-2], np.zeros((3, 5)))  # NaN and +-inf: empty rows
    for fmt, cls in [("csr", sp.csr_array), ("csc", sp.csc_array), ("coo", sp.coo_array),
                     ("csr_matrix", sp.csr_matrix), ("csc_matrix", sp.csc_matrix),
                     ("coo_matrix", sp.coo_matrix)]:
        m = bsbasis.natural_design_matrix(x, knots, 0.0, 1.0, format=fmt)
        assert type(m) is cls and m.shape == dense.shape
        assert np.array_equal(m.toarray(), dense), fmt
        cols = m.col if "coo" in fmt else m.indices
        assert (cols >= 0).all()
        if fmt.startswith("csr"):
            m.check_format(full_check=True)
            assert m.has_canonical_format
            assert (np.diff(m.indptr)[-5:-2] == 0).all()
            assert np.diff(m.indptr).max() <= NATURAL_WIDTH


def test_blocks_put_the_columns_first_then_padding():
    x = np.r_[np.linspace(-1.0, 2.0, 61), np.nan]
    knots = np.linspace(0.0, 1.0, 10)[1:-1]
    i, j, B = bsbasis.natural_design_matrix(x, knots, 0.0, 1.0, format="blocks")
    assert len(i) == len(j) == len(B) == NATURAL_WIDTH * len(x)
    assert np.array_equal(i, np.repeat(np.arange(len(x)), NATURAL_WIDTH))
    j2, B2 = j.reshape(-1, NATURAL_WIDTH), B.reshape(-1, NATURAL_WIDTH)
    dense = bsbasis.natural_design_matrix(x, knots, 0.0, 1.0, format="dense")
    for p in range(len(x)):
        used = j2[p] >= 0
        count = int(used.sum())
        assert used[:count].all() and not used[count:].any()  # columns first
        assert (np.diff(j2[p, :count]) > 0).all()
        assert (j2[p, count:] == -1).all() and (B2[p, count:] == 0.0).all()
        row = np.zeros(dense.shape[1])
        row[j2[p, :count]] = B2[p, :count]
        assert np.array_equal(row, dense[p])
    assert (j2[-1] == -1).all()  # NaN
    # Interior rows have the four B-splines of their interval; rows near an
    # end more, mixed in by the reflections: padding sits in both.
    counts = (j2 >= 0).sum(axis=1)
    assert counts.max() > 4 and (counts[:-1] < NATURAL_WIDTH).any() and counts[-1] == 0


def test_masked_entries_give_empty_rows():
    x = np.ma.masked_array([0.2, 0.5, 0.9], mask=[False, True, False])
    got = bsbasis.natural_design_matrix(x, [0.5], 0.0, 1.0, format="dense")
    ref = bsbasis.natural_design_matrix([0.2, np.nan, 0.9], [0.5], 0.0, 1.0, format="dense")
    assert np.array_equal(got, ref) and not got[1].any()


def test_a_scalar_gives_one_row_and_no_x_no_rows():
    assert bsbasis.natural_design_matrix(0.3, [0.5], 0.0, 1.0, format="dense").shape == (1, 2)
    for fmt in ("dense", "csr", "coo"):
        assert bsbasis.natural_design_matrix(np.empty(0), [0.5], 0.0, 1.0,
                                             format=fmt).shape == (0, 2)


def same_bits(a, b):
    if isinstance(a, np.ndarray):
        return np.array_equal(a, b)
    return (np.array_equal(a.indptr, b.indptr) and np.array_equal(a.indices, b.indices)
            and np.array_equal(a.data, b.data))


@pytest.mark.parametrize("fmt", ["dense", "csr", "csc"])
def test_tiles_and_threads_give_the_same_bits(monkeypatch, fmt):
    x = np.random.default_rng(5).uniform(-0.2, 1.2, 5000)
    x[::97] = np.nan
    knots = np.linspace(0.0, 1.0, 9)[1:-1]
    ref = bsbasis.natural_design_matrix(x, knots, 0.0, 1.0, format=fmt, threads=1)
    monkeypatch.setattr(_tiles, "_ROWS_PER_CALL", 64)  # many tiles
    for threads in (1, 3, -1):
        got = bsbasis.natural_design_matrix(x, knots, 0.0, 1.0, format=fmt, threads=threads)
        assert same_bits(got, ref), threads


def test_wide_indices_give_the_same_matrix(monkeypatch):
    x = np.r_[np.random.default_rng(6).uniform(-0.2, 1.2, 300), np.nan]
    ref = bsbasis.natural_design_matrix(x, [0.3, 0.6], 0.0, 1.0, format="coo")
    monkeypatch.setattr(_tiles, "_INDEX32_LIMIT", 100)
    for fmt in ("csr", "coo"):
        got = bsbasis.natural_design_matrix(x, [0.3, 0.6], 0.0, 1.0, format=fmt)
        assert (got.indices if fmt == "csr" else got.col).dtype == np.int64
        assert np.array_equal(got.toarray(), ref.toarray())


# ------------------------------------------------------------- the checks

@pytest.mark.parametrize("kwargs, error, pattern", [
    ({"lo": 1.0, "hi": 1.0}, ValueError, "lo < hi"),
    ({"lo": 2.0, "hi": 1.0}, ValueError, "lo < hi"),
    ({"lo": -np.inf}, ValueError, "lo must be finite"),
    ({"hi": np.nan}, ValueError, "hi must be finite"),
    ({"lo": "0"}, TypeError, "lo must be a real number"),
    ({"knots": [0.0]}, ValueError, r"strictly between .* knots\[0\] = 0.0"),
    ({"knots": [0.5, 1.0]}, ValueError, r"strictly between .* knots\[1\] = 1.0"),
    ({"knots": [0.6, 0.4]}, ValueError, "non-decreasing"),
    ({"knots": [np.nan]}, ValueError, "finite"),
    ({"knots": ["a"]}, TypeError, "knots must hold real numbers"),
    ({"knots": [[0.5]]}, ValueError, "1-D"),
    ({"intercept": 1}, TypeError, "intercept must be a bool"),
    ({"nu": 1.0}, TypeError, "nu must be an integer"),
    ({"nu": True}, TypeError, "nu must be an integer"),
    ({"nu": -1}, ValueError, "nu"),
    ({"format": "array"}, ValueError, "format='array' is not one of"),
    ({"format": None}, TypeError, "format must be a string"),
    ({"threads": 0}, ValueError, "threads must be at least 1"),
    ({"x": ["a"]}, TypeError, "x must hold real numbers"),
    ({"x": [np.nan], "lo": None}, ValueError, "lo is not given"),
])
def test_bad_arguments_are_refused(kwargs, error, pattern):
    args = {"x": [0.1, 0.9], "knots": [0.5], "lo": 0.0, "hi": 1.0}
    args.update(kwargs)
    with pytest.raises(error, match=pattern):
        bsbasis.natural_design_matrix(**args)


# ---------------------------------------------------------------- R itself

def r_splines_available():
    if shutil.which("Rscript") is None:
        return False
    run = subprocess.run(["Rscript", "-e", "library(splines)"], capture_output=True)
    return run.returncode == 0


@pytest.mark.skipif(not r_splines_available(), reason="R with its splines package is absent")
@pytest.mark.parametrize("intercept", [False, True])
def test_rows_match_r_itself(tmp_path, intercept):
    knots, lo, hi = [0.15, 0.5, 0.55, 0.9], -0.25, 1.5
    x = abscissae(np.asarray(knots), lo, hi, 21)
    path = tmp_path / "x.txt"
    np.savetxt(path, x, fmt="%.17g")
    code = ("library(splines); x <- scan('%s', quiet=TRUE); "
            "b <- ns(x, knots=c(%s), Boundary.knots=c(%r, %r), intercept=%s); "
            "write.table(format(unclass(b)[, ], digits=17), quote=FALSE, row.names=FALSE, "
            "col.names=FALSE)"
            % (path, ", ".join(map(repr, knots)), lo, hi, "TRUE" if intercept else "FALSE"))
    run = subprocess.run(["Rscript", "-e", code], capture_output=True, text=True, check=True)
    ref = np.array([[float(v) for v in line.split()] for line in run.stdout.splitlines()])
    got = bsbasis.natural_design_matrix(x, knots, lo, hi, intercept=intercept, format="dense")
    assert_rows_close(got, ref)


# ------------------------------------------------------------------- docs

def assert_numpydoc(doc, sections=("Parameters", "Returns", "Raises", "See Also", "Examples")):
    """The docstring has the sections and names no private module or function."""
    for section in sections:
        assert "\n    %s\n    %s" % (section, "-" * len(section)) in doc, section
    assert not re.search(r"(?<![\w*])_[a-z]", doc), "names a private module or function"


def run_examples(module, suffix):
    """Runs the Examples of the docstrings of the public names of module
    that end with suffix; they must exist and pass.  Returns the count."""
    from test_examples import run_docstring_examples
    names = [name for name, obj in vars(module).items()
             if name.endswith(suffix) and not name.startswith("_")
             and getattr(obj, "__module__", None) == module.__name__]
    assert names
    total = 0
    for name in names:
        attempted, failed = run_docstring_examples(getattr(module, name),
                                                   "%s.%s" % (module.__name__, name))
        assert failed == 0 and attempted > 0, name
        total += attempted
    return total


def test_the_docstring_example_runs_and_has_the_sections():
    assert_numpydoc(bsbasis.natural_design_matrix.__doc__)
    run_examples(_natural, "natural_design_matrix")
    assert "natural_design_matrix" in bsbasis.__all__
