"""Derivatives of any order, the extrapolation modes, periodic and tensor
bases: against scipy and scikit-learn, and against each other."""
import numpy as np
import pytest
import scipy.sparse as sp
from scipy.interpolate import BSpline

import bsbasis
from bsbasis import _tiles

RNG = np.random.default_rng(20261208)


def one_hot(x, t, k, nu=0, extrapolate=False):
    """scipy's basis functions one column at a time (scipy's own call for
    nu > k reads out of bounds, so those are zeros)."""
    nj = len(t) - k - 1
    out = np.zeros((len(x), nj))
    if nu > k:
        return out
    for c in range(nj):
        out[:, c] = BSpline(t, np.eye(nj)[c], k, extrapolate=extrapolate)(x, nu)
    return out


def row_error(got, want):
    """Largest difference in each row, relative to the row's largest entry."""
    scale = np.abs(want).max(axis=1)
    return np.abs(got - want).max(axis=1) / np.where(scale > 0, scale, 1.0)


def knot_cases():
    for k in range(0, 6):
        for clamped in (False, True):
            t = np.sort(RNG.uniform(-2, 5, 3 * k + 6))
            t[k + 2] = t[k + 3]  # a double knot inside
            if clamped:
                t = np.r_[[t[0]] * k, t, [t[-1]] * k]
            yield k, t


@pytest.mark.parametrize("k,t", list(knot_cases()))
def test_derivatives_and_scipy_modes_match_scipy(k, t):
    nj = len(t) - k - 1
    lo, hi = t[k], t[nj]
    inside = np.r_[RNG.uniform(lo, hi, 200), t[k:nj + 1]]
    outside = np.r_[RNG.uniform(lo - 3, lo, 20), RNG.uniform(hi, hi + 3, 20)]
    for nu in range(k + 3):
        got = bsbasis.design_matrix(inside, t, k, nu=nu).toarray()
        assert row_error(got, one_hot(inside, t, k, nu)).max() <= 1e-12
        x = np.r_[inside, outside]
        got = bsbasis.design_matrix(x, t, k, nu=nu, extrapolate=True).toarray()
        assert row_error(got, one_hot(x, t, k, nu, True)).max() <= 1e-12
        got = bsbasis.design_matrix(x, t, k, nu=nu, extrapolate="periodic").toarray()
        assert row_error(got, one_hot(x, t, k, nu, "periodic")).max() <= 1e-12


def sklearn_transformer(knots, k, extrapolation):
    pre = pytest.importorskip("sklearn.preprocessing")
    st = pre.SplineTransformer(knots=knots[:, None], degree=k, extrapolation=extrapolation)
    return st.fit(knots[:, None])


@pytest.mark.parametrize("k", [1, 2, 3, 4])
@pytest.mark.parametrize("mode", ["constant", "linear", "continue", "error"])
def test_sklearn_modes_on_its_own_knots(k, mode):
    breaks = np.sort(RNG.uniform(0, 10, 7))
    st = sklearn_transformer(breaks, k, mode)
    t = st.bsplines_[0].t
    x = np.r_[RNG.uniform(breaks[0], breaks[-1], 50), breaks]
    if mode != "error":
        x = np.r_[x, RNG.uniform(breaks[0] - 5, breaks[0], 20), breaks[-1] + [1e-9, 1, 7]]
    want = st.transform(x[:, None])
    ours = {"error": False}.get(mode, mode)
    got = bsbasis.design_matrix(x, t, k, extrapolate=ours).toarray()
    np.testing.assert_allclose(got, want, rtol=0, atol=1e-12 * np.abs(want).max())


def test_constant_and_linear_derivatives():
    t = np.r_[0, 0, 0, 0, 1, 2, 4, 4, 4, 4.0]
    x = np.array([-3.0, 7.0])
    ends = np.array([0.0, 4.0])
    for nu in (0, 1, 2):
        c = bsbasis.design_matrix(x, t, 3, nu=nu, extrapolate="constant").toarray()
        want = one_hot(ends, t, 3, nu=0) if nu == 0 else np.zeros((2, 6))
        np.testing.assert_array_equal(c, want)
        lin = bsbasis.design_matrix(x, t, 3, nu=nu, extrapolate="linear").toarray()
        value, slope = one_hot(ends, t, 3), one_hot(ends, t, 3, nu=1)
        want = {0: value + (x - ends)[:, None] * slope, 1: slope, 2: np.zeros((2, 6))}[nu]
        np.testing.assert_allclose(lin, want, rtol=0, atol=1e-14)


def test_nan_and_infinities_under_every_mode():
    t = np.arange(10.0)
    x = np.array([np.nan, -np.inf, np.inf, 5.0])
    rows = {"zero": [0, 0, 0, 3], True: [0, 0, 0, 3], "continue": [0, 0, 0, 3],
            "constant": [0, 3, 3, 3], "linear": [0, 0, 0, 3], "periodic": [0, 0, 0, 3]}
    for mode, lengths in rows.items():
        m = bsbasis.design_matrix(x, t, 2, extrapolate=mode)
        assert np.diff(m.indptr).tolist() == lengths, mode
        assert np.isfinite(m.data).all()
    with pytest.raises(ValueError, match="not a number"):
        bsbasis.design_matrix(x[:1], t, 2)


@pytest.mark.parametrize("mode", [False, "zero", True, "constant", "linear", "periodic"])
def test_uniform_grid_equals_its_knot_sequence(mode):
    origin, spacing, k, n = -1.25, 0.375, 3, 12
    t = origin + spacing * np.arange(n + k + 1)
    lo, hi = t[k], t[n]
    x = np.r_[RNG.uniform(lo, hi, 300), t[k:n + 1]]
    if mode is not False:
        x = np.r_[x, lo - 2.5, hi + 0.7, np.nan]
    for nu in range(k + 2):
        u = bsbasis.uniform_design_matrix(x, k, n, nu=nu, origin=origin, spacing=spacing,
                                          extrapolate=mode)
        g = bsbasis.design_matrix(x, t, k, nu=nu, extrapolate=mode)
        assert (np.diff(u.indptr) == np.diff(g.indptr)).all()
        ud, gd = u.toarray(), g.toarray()
        assert row_error(ud, gd).max() <= 1e-12


@pytest.mark.parametrize("k", [0, 1, 2, 3, 5])
def test_periodic_basis_is_sklearns(k):
    breaks = np.sort(RNG.uniform(-3, 4, k + 4))
    st = sklearn_transformer(breaks, k, "periodic")
    period = breaks[-1] - breaks[0]
    x = np.r_[RNG.uniform(breaks[0] - 3 * period, breaks[-1] + 2 * period, 400), breaks,
              breaks + period, breaks - 7 * period]
    m = bsbasis.periodic_design_matrix(x, breaks, k)
    assert m.shape == (len(x), len(breaks) - 1) and m.has_canonical_format
    want = st.transform(x[:, None])
    np.testing.assert_allclose(m.toarray(), want, rtol=0, atol=1e-13)
    # Derivatives: sklearn's spline with its coefficient matrix, at the
    # abscissae wrapped as sklearn wraps them.
    spl = st.bsplines_[0]
    xw = breaks[0] + (x - breaks[0]) % period
    for nu in range(1, k + 1):
        d = bsbasis.periodic_design_matrix(x, breaks, k, nu=nu).toarray()
        ref = spl(xw, nu)
        assert row_error(d, ref).max() <= 1e-11
    assert bsbasis.periodic_design_matrix([np.nan, np.inf], breaks, k).nnz == 0


def test_periodic_refuses_fewer_intervals_than_the_order():
    with pytest.raises(ValueError, match="at least k\\+2"):
        bsbasis.periodic_design_matrix([0.5], [0, 1, 2, 3.0], 3)
    with pytest.raises(ValueError, match="strictly increasing"):
        bsbasis.periodic_design_matrix([0.5], [0, 1, 1, 2, 3, 4.0], 2)


def kron_rows(a, b):
    """Row-wise Kronecker product of two dense matrices, C order."""
    return (a[:, :, None] * b[:, None, :]).reshape(len(a), -1)


@pytest.mark.parametrize("nu", [None, (0, 1), (2, 1)])
def test_tensor_rows_are_kronecker_products(nu):
    t0 = np.r_[[0.0] * 3, np.sort(RNG.uniform(0, 1, 5)), [1.0] * 3]
    t1 = np.r_[[-1.0] * 4, 0.0, 0.5, [2.0] * 4]
    x = np.c_[RNG.uniform(0, 1, 300), RNG.uniform(-1, 2, 300)]
    x[:3] = [[0, -1], [1, 2], [1, -1]]
    m = bsbasis.tensor_design_matrix(x, (t0, t1), (2, 3), nu=nu)
    n0, n1 = (0, 0) if nu is None else nu
    a = bsbasis.design_matrix(x[:, 0], t0, 2, nu=n0).toarray()
    b = bsbasis.design_matrix(x[:, 1], t1, 3, nu=n1).toarray()
    assert m.shape == (300, 8 * 6) and m.has_canonical_format
    np.testing.assert_array_equal(m.toarray(), kron_rows(a, b))
    sa, sb = one_hot(x[:, 0], t0, 2, n0), one_hot(x[:, 1], t1, 3, n1)
    assert row_error(m.toarray(), kron_rows(sa, sb)).max() <= 1e-12


def test_tensor_of_three_with_modes_and_empty_rows():
    ts = [np.arange(8.0), np.linspace(0, 1, 9), np.r_[0, 0, 1, 2, 3, 3.0]]
    x = np.c_[RNG.uniform(2, 5, 50), RNG.uniform(0.4, 0.6, 50), RNG.uniform(0, 3, 50)]
    x[0, 1] = np.nan
    x[1, 0] = 9.0
    m = bsbasis.tensor_design_matrix(x, ts, (2, 3, 1), extrapolate="zero")
    rows = [bsbasis.design_matrix(x[:, a], ts[a], kk, extrapolate="zero").toarray()
            for a, kk in enumerate((2, 3, 1))]
    want = kron_rows(kron_rows(rows[0], rows[1]), rows[2])
    np.testing.assert_array_equal(m.toarray(), want)
    assert np.diff(m.indptr)[:3].tolist() == [0, 0, 3 * 4 * 2]
    with pytest.raises(ValueError, match=r"xvals\[:, 0\]: .* above the right end"):
        bsbasis.tensor_design_matrix(x[1:], ts, (2, 3, 1))
    c = bsbasis.tensor_design_matrix(x[1:], ts, (2, 3, 1), extrapolate="constant")
    assert np.isfinite(c.data).all() and (np.diff(c.indptr) == 24).all()


def test_tensor_range_is_checked_per_dimension_when_the_intervals_differ():
    """A point inside the union of the base intervals but outside its own
    dimension's is named by its column, not let through to the library."""
    ts = [np.r_[0, 0, np.linspace(0, 1, 5), 1, 1], np.r_[0.5, 0.5, np.linspace(0.5, 2, 5), 2, 2]]
    inside = bsbasis.tensor_design_matrix([[0.2, 0.7], [0.9, 1.5]], ts, 2)
    assert inside.shape == (2, 6 * 6) and np.allclose(inside.sum(axis=1), 1.0)
    with pytest.raises(ValueError, match=r"xvals\[:, 1\]: .* below the left end"):
        bsbasis.tensor_design_matrix([[0.2, 0.7], [0.7, 0.2]], ts, 2)
    with pytest.raises(ValueError, match=r"xvals\[:, 0\]: .* above the right end"):
        bsbasis.tensor_design_matrix([[1.5, 0.7]], ts, 2)


@pytest.mark.parametrize("fmt", ["csc", "coo", "csr_matrix", "blocks"])
def test_new_bases_in_every_format(fmt):
    breaks = np.linspace(0, 1, 7)
    x = RNG.uniform(-1, 2, 40)
    csr = bsbasis.periodic_design_matrix(x, breaks, 2, nu=1)
    other = bsbasis.periodic_design_matrix(x, breaks, 2, nu=1, format=fmt)
    ts = (np.arange(8.0), np.arange(9.0))
    xx = np.c_[RNG.uniform(2, 5, 40), RNG.uniform(3, 5, 40)]
    tcsr = bsbasis.tensor_design_matrix(xx, ts, 2, nu=(1, 0))
    tother = bsbasis.tensor_design_matrix(xx, ts, 2, nu=(1, 0), format=fmt)
    if fmt == "blocks":
        i, j, B = other
        dense = sp.coo_array((B, (i, j)), shape=csr.shape).toarray()
        np.testing.assert_array_equal(dense, csr.toarray())
        i, j, B = tother
        assert len(B) == 40 * 9
        np.testing.assert_array_equal(sp.coo_array((B, (i, j)), shape=tcsr.shape).toarray(),
                                      tcsr.toarray())
    else:
        np.testing.assert_array_equal(other.toarray(), csr.toarray())
        np.testing.assert_array_equal(tother.toarray(), tcsr.toarray())


def test_tiles_threads_and_wide_indices_keep_the_bits(monkeypatch):
    ts = (np.arange(9.0), np.linspace(-1, 1, 12))
    x = np.c_[RNG.uniform(0, 9, 1000), RNG.uniform(-2, 2, 1000)]
    x[::17, 1] = np.nan
    base = bsbasis.tensor_design_matrix(x, ts, (2, 3), nu=(0, 2), extrapolate="linear")
    xp = RNG.uniform(-5, 5, 1000)
    pbase = bsbasis.periodic_design_matrix(xp, np.linspace(0, 2, 9), 3, format="coo")
    for tile, threads, limit in ((7, 3, None), (1, 1, None), (100, 2, 500)):
        monkeypatch.setattr(_tiles, "_ROWS_PER_CALL", tile)
        if limit:
            monkeypatch.setattr(_tiles, "_INDEX32_LIMIT", limit)
        m = bsbasis.tensor_design_matrix(x, ts, (2, 3), nu=(0, 2), extrapolate="linear",
                                         threads=threads)
        assert m.indices.dtype == (np.int64 if limit else np.int32)
        for name in ("data", "indices", "indptr"):
            np.testing.assert_array_equal(getattr(m, name), getattr(base, name))
        p = bsbasis.periodic_design_matrix(xp, np.linspace(0, 2, 9), 3, format="coo",
                                           threads=threads)
        for name in ("data", "row", "col"):
            np.testing.assert_array_equal(getattr(p, name), getattr(pbase, name))


@pytest.mark.parametrize("call,error,pattern", [
    (lambda: bsbasis.tensor_design_matrix([[0.5, 0.5]], np.arange(8.0), 2), TypeError,
     "sequence of knot vectors"),
    (lambda: bsbasis.tensor_design_matrix([[0.5]], (np.arange(8.0),) * 2, 2), ValueError,
     r"shape \(npts, 2\)"),
    (lambda: bsbasis.tensor_design_matrix([[3.0, 3.0]], (np.arange(8.0),) * 2, (2, 2, 2)),
     ValueError, "one per dimension"),
    (lambda: bsbasis.tensor_design_matrix([["a", "b"]], (np.arange(8.0),) * 2, 2), TypeError,
     "real numbers"),
    (lambda: bsbasis.tensor_design_matrix([[3.0, 3.0]], (np.arange(8.0),) * 2, 2, nu=1.5),
     TypeError, "nu must be an integer"),
    (lambda: bsbasis.periodic_design_matrix([0.5], [0, 1, 2, 3, np.inf], 2), ValueError,
     "finite"),
    (lambda: bsbasis.periodic_design_matrix([0.5], [[0, 1, 2, 3, 4]], 2), ValueError, "1-D"),
    (lambda: bsbasis.design_matrix([0.5], np.arange(8.0), 2, extrapolate=1), TypeError,
     "extrapolate must be a bool"),
    (lambda: bsbasis.design_matrix([0.5], np.arange(8.0), 2, extrapolate="wrap"), ValueError,
     "is not one of"),
])
def test_bad_arguments_of_the_new_bases(call, error, pattern):
    with pytest.raises(error, match=pattern):
        call()
