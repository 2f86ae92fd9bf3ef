"""P-spline fits against dense linear algebra, and the banded algebra below them."""
import numpy as np
import pytest
import scipy.sparse as sp
from numpy.testing import assert_allclose

import bsbasis
from bsbasis import derivative_penalty, design_matrix, difference_penalty, make_knots
from bsbasis._banded import (cholesky, combine, selected_inverse, solve_penalized, to_banded,
                             trace_inverse_product)
from bsbasis._pspline import fit_pspline

SINGULAR = "singular or not positive definite"


def dense(ab):
    u, n = ab.shape[0] - 1, ab.shape[1]
    a = np.zeros((n, n))
    for d in range(u + 1):
        a += np.diag(ab[u - d, d:], d) + (np.diag(ab[u - d, d:], -d) if d else 0)
    return a


def spd_band(n, u, seed):
    """A random symmetric positive definite band form."""
    rng = np.random.default_rng(seed)
    ab = rng.uniform(-1, 1, (u + 1, n))
    ab[u] = 2.0 * (u + 1)  # diagonally dominant
    return to_banded(dense(ab), n)


def data(seed, m=120, lo=-1.0, hi=2.0):
    rng = np.random.default_rng(seed)
    x = rng.uniform(lo, hi, m)
    y = np.cos(2 * x) + 0.1 * rng.standard_normal(m)
    return x, y, rng.uniform(0.5, 2.0, m)


def dense_fit(x, y, w, t, k, P, lam):
    """coef, edf and rss of the penalised fit by dense linear algebra."""
    X = design_matrix(x, t, k).toarray()
    G = X.T @ (w[:, None] * X)
    c = np.linalg.solve(G + lam * P, X.T @ (w * y))
    edf = np.trace(np.linalg.solve(G + lam * P, G))
    return c, edf, np.sum(w * (y - X @ c) ** 2)


# ------------------------------------------------------------ banded algebra

@pytest.mark.parametrize("n,u", [(1, 0), (5, 0), (7, 1), (9, 3), (4, 3), (30, 5)])
def test_selected_inverse_and_trace(n, u):
    ab = spd_band(n, u, n + u)
    Z = selected_inverse(cholesky(ab))
    inv = np.linalg.inv(dense(ab))
    band = np.abs(np.subtract.outer(np.arange(n), np.arange(n))) <= u
    assert_allclose(dense(Z)[band], inv[band], rtol=1e-12, atol=1e-14)
    g = spd_band(n, max(u - 1, 0), 1)  # narrower G is padded
    assert_allclose(trace_inverse_product(Z, g), np.trace(inv @ dense(g)), rtol=1e-12)


def test_to_banded_forms_agree():
    ab = difference_penalty(8, 3)
    full = dense(ab)
    for form in (ab, full, sp.csr_array(full), sp.csr_matrix(full), full.tolist()):
        assert_allclose(to_banded(form, 8), ab, atol=0)
    # A square band form (u = n - 1) that is not symmetric is read as a band.
    sq = difference_penalty(4, 3)
    assert_allclose(to_banded(sq, 4), sq, atol=0)


@pytest.mark.parametrize("P,n,exc", [
    (np.ones((3, 5)), 4, ValueError), (np.ones((6, 6)), 5, ValueError),
    (np.arange(25.0).reshape(5, 5), 5, ValueError),
    (sp.csr_array(np.triu(np.ones((5, 5)))), 5, ValueError),
    (np.full((2, 5), np.nan), 5, ValueError), (np.ones((2, 5), complex), 5, TypeError),
    ("banded", 5, TypeError)])
def test_to_banded_rejects(P, n, exc):
    with pytest.raises(exc):
        to_banded(P, n)


def test_cholesky_singular_raises():
    a = np.array([[1.0, 1.0], [1.0, 1.0]])  # rank 1: LAPACK or the pivot rule
    # The second passes LAPACK with a pivot of eps: the pivot rule rejects it.
    for ab in (to_banded(a, 2), to_banded(a + np.diag([0.0, 2.5e-16]), 2),
               np.zeros((2, 4)), to_banded(-np.eye(3), 3)):
        with pytest.raises(np.linalg.LinAlgError, match=SINGULAR):
            cholesky(ab)
    # Small but well-determined pivots pass.
    assert_allclose(cholesky(to_banded(a + np.diag([0.0, 1e-8]), 2))[1], [1.0, 1e-4])


def test_solve_penalized_and_combine_checks():
    g, p = spd_band(6, 2, 0), difference_penalty(6, 3)
    b = np.arange(6.0)
    assert_allclose(solve_penalized(g, b, p, 0.5), np.linalg.solve(dense(g) + 0.5 * dense(p), b),
                    rtol=1e-12)
    assert combine(g, p, 1.0).shape == (4, 6)
    with pytest.raises(ValueError, match="responses"):
        solve_penalized(g, None)
    for lam, exc in ((-1.0, ValueError), (np.inf, ValueError), ("1", TypeError)):
        with pytest.raises(exc):
            combine(g, p, lam)


# ------------------------------------------------------------------ the fit

@pytest.mark.parametrize("k", [1, 2, 3, 4, 5])
@pytest.mark.parametrize("penalty", [1, 2, 3, 4, ("derivative", 1), ("derivative", 2)])
def test_fit_matches_dense(k, penalty):
    x, y, w = data(k)
    t = make_knots(x, 12, k, boundary="extended")
    n = len(t) - k - 1
    if isinstance(penalty, int):
        P = difference_penalty(n, penalty, format="csr").toarray()
    else:
        P = derivative_penalty(t, k, penalty[1], format="csr").toarray()
    for lam in (1e-3, 0.3, 30.0):
        fit = fit_pspline(x, y, t=t, k=k, penalty=penalty, lam=lam, weights=w)
        c, edf, rss = dense_fit(x, y, w, t, k, P, lam)
        assert np.linalg.norm(fit.coef - c) <= 1e-10 * np.linalg.norm(c)
        assert fit.edf == pytest.approx(edf, rel=1e-8)
        assert fit.rss == pytest.approx(rss, rel=1e-8)
        assert fit.sigma == pytest.approx(np.sqrt(rss / (len(x) - edf)), rel=1e-8)


@pytest.mark.parametrize("k,penalty,seed",
                         [(3, 2, 0), (2, 3, 1), (1, 1, 2), (3, ("derivative", 2), 3)])
def test_gcv_finds_dense_minimum(k, penalty, seed):
    x, y, w = data(seed, m=80)
    fit = fit_pspline(x, y, k=k, n_knots=15, penalty=penalty, weights=w)
    P = (difference_penalty(len(fit.coef), penalty, format="csr") if isinstance(penalty, int)
         else derivative_penalty(fit.t, k, penalty[1], format="csr")).toarray()
    grid = 10.0 ** np.arange(np.log10(fit.lam) - 4, np.log10(fit.lam) + 4, 0.005)
    gcv = []
    for lam in grid:
        _, edf, rss = dense_fit(x, y, w, fit.t, k, P, lam)
        gcv.append(len(x) * rss / (len(x) - edf) ** 2)
    best = int(np.argmin(gcv))
    assert 0 < best < len(grid) - 1  # an interior minimum
    assert fit.gcv <= gcv[best] * (1 + 1e-7)
    _, edf, rss = dense_fit(x, y, w, fit.t, k, P, fit.lam)
    assert fit.gcv == pytest.approx(len(x) * rss / (len(x) - edf) ** 2, rel=1e-8)
    assert abs(np.log10(fit.lam / grid[best])) < 0.02


def test_singular_systems_raise():
    x = np.r_[np.linspace(0.0, 0.2, 10), np.linspace(0.8, 1.0, 10)]
    t = make_knots([0.0, 1.0], 20, 3, boundary="extended")  # empty intervals between
    with pytest.raises(np.linalg.LinAlgError, match=SINGULAR):
        fit_pspline(x, np.sin(x), t=t, lam=0.0)
    assert np.isfinite(fit_pspline(x, np.sin(x), t=t, lam=1e-3).coef).all()
    # Two distinct abscissae cannot fix the quadratics a third-order penalty
    # leaves free, whatever lam: under a heavy one the pivots stay far above
    # rounding, the smallest eigenvalue does not.
    with pytest.raises(np.linalg.LinAlgError, match=SINGULAR):
        fit_pspline(np.repeat([0.0, 1.0], 20), np.arange(40.0), n_knots=40, penalty=3)


@pytest.mark.parametrize("nu", [0, 1, 2])
def test_call_matches_bspline(nu):
    x, y, _ = data(5)
    fit = fit_pspline(x, y)
    xe = np.linspace(-1.5, 2.5, 101)  # beyond both ends too
    assert_allclose(fit(xe, nu=nu), fit.to_bspline()(xe, nu=nu), rtol=1e-12, atol=1e-12)


def test_recovers_smooth_function_and_noise_level():
    rng = np.random.default_rng(7)
    x = rng.uniform(0.0, 1.0, 3000)
    f = np.sin(2 * np.pi * x) + 0.5 * x
    fit = fit_pspline(x, f + 0.1 * rng.standard_normal(len(x)))
    assert np.sqrt(np.mean((fit(x) - f) ** 2)) < 0.02
    assert fit.sigma == pytest.approx(0.1, rel=0.05)
    assert 4 < fit.edf < 20
    assert "PSplineFit(k=3" in repr(fit)


def test_weights_equal_repeated_rows():
    x, y, _ = data(9, m=60)
    reps = np.random.default_rng(9).integers(0, 4, len(x))
    reps[[np.argmin(x), np.argmax(x)]] = 0  # the knots must ignore these ends
    xr, yr = np.repeat(x, reps), np.repeat(y, reps)
    a = fit_pspline(x, y, n_knots=10, lam=0.5, weights=reps.astype(float))
    b = fit_pspline(xr, yr, n_knots=10, lam=0.5)
    assert_allclose(a.t, b.t, rtol=1e-15)
    assert_allclose(a.coef, b.coef, rtol=1e-10, atol=1e-12)
    assert a.edf == pytest.approx(b.edf, rel=1e-10)
    assert a.rss == pytest.approx(b.rss, rel=1e-9)
    # Rows of weight 0 are no observations for GCV either.
    a = fit_pspline(x, y, n_knots=10, weights=(reps > 0) * 1.0)
    b = fit_pspline(x[reps > 0], y[reps > 0], n_knots=10)
    assert (a.count, a.lam, a.gcv) == (b.count, pytest.approx(b.lam, rel=1e-8),
                                       pytest.approx(b.gcv, rel=1e-10))
    assert_allclose(a.coef, b.coef, rtol=1e-8)


@pytest.mark.parametrize("kwargs,exc", [
    (dict(y=np.zeros(3)), ValueError), (dict(weights=np.ones(3)), ValueError),
    (dict(n_knots=5, t=np.linspace(0, 1, 12)), ValueError), (dict(lam="aic"), ValueError),
    (dict(lam=-1.0), ValueError), (dict(lam=None), TypeError), (dict(penalty=5), ValueError),
    (dict(penalty=True), TypeError), (dict(penalty=("curvature", 2)), ValueError),
    (dict(penalty=np.eye(3)), ValueError), (dict(k=2.0), TypeError)])
def test_fit_rejects(kwargs, exc):
    x = np.linspace(0.0, 1.0, 50)
    args = dict(y=np.sin(x))
    args.update(kwargs)
    with pytest.raises(exc):
        fit_pspline(x, **args)


# ------------------------------------------------------- conventions, sums

def test_weights_square_make_lsq_splines_w():
    # scipy's make_lsq_spline multiplies residuals by w: weights=w**2 here.
    from scipy.interpolate import make_lsq_spline
    x, y, w = data(11, m=300)
    x.sort()
    t = np.r_[[-1.0] * 4, np.linspace(-1.0, 2.0, 9)[1:-1], [2.0] * 4]
    ref = make_lsq_spline(x, y, t, k=3, w=w).c
    got = bsbasis.normal_equations(x, t, 3, y=y, weights=w**2).solve()
    assert_allclose(got, ref, rtol=0, atol=1e-12 * np.abs(ref).max())
    other = bsbasis.normal_equations(x, t, 3, y=y, weights=w).solve()
    assert np.abs(other - ref).max() > 1e-4  # w itself gives another fit


def test_fit_normal_equations_is_public_and_counts_what_it_is_told():
    assert "fit_normal_equations" in bsbasis.__all__
    x, y, w = data(12, m=400)
    w[::3] = 0.0
    t = make_knots(x[w > 0], 15, 3, boundary="extended")
    ref = fit_pspline(x, y, t=t, weights=w)
    ne = None
    for part in np.array_split(np.arange(len(x)), 3):  # accumulated in parts
        ne = bsbasis.normal_equations(x[part], t, 3, y=y[part], weights=w[part], out=ne)
    fit = bsbasis.fit_normal_equations(ne, t, 3, count=int(np.count_nonzero(w)))
    assert fit.count == ref.count == np.count_nonzero(w)
    assert fit.lam == pytest.approx(ref.lam, rel=1e-9)
    assert_allclose(fit.coef, ref.coef, rtol=1e-9, atol=1e-12)
    # By default every row in range counts, weight 0 or not.
    assert bsbasis.fit_normal_equations(ne, t, 3, lam=1.0).count == len(x)
    with pytest.raises(ValueError, match="count must be >= 0"):
        bsbasis.fit_normal_equations(ne, t, 3, count=-1)
    with pytest.raises(TypeError, match="count"):
        bsbasis.fit_normal_equations(ne, t, 3, count=2.5)
    # Second differences leave lines free: edf >= 2 at every lam.
    with pytest.raises(ValueError, match="GCV is undefined: the 2 observations"):
        bsbasis.fit_normal_equations(ne, t, 3, count=2)


@pytest.mark.parametrize("bounds,exc,match", [
    ((1.0,), ValueError, "pair"), ((0.0, 1.0), ValueError, "0 < lo < hi"),
    ((2.0, 1.0), ValueError, "0 < lo < hi"), ((1.0, np.inf), ValueError, "0 < lo < hi"),
    ("1,2", TypeError, "pair"), (3.0, TypeError, "pair"), ((1.0, "2"), TypeError, "lam_bounds")])
def test_lam_bounds_rejects(bounds, exc, match):
    x, y, _ = data(13, m=60)
    with pytest.raises(exc, match=match):
        fit_pspline(x, y, lam_bounds=bounds)


def test_lam_bounds_sets_the_window():
    x, y, _ = data(14, m=200)
    free = fit_pspline(x, y)
    assert free.lam_bounds[0] < free.lam < free.lam_bounds[1]
    assert fit_pspline(x, y, lam=0.5).lam_bounds is None
    with pytest.raises(ValueError, match="lam_bounds"):
        fit_pspline(x, y, lam=0.5, lam_bounds=(1.0, 2.0))
    # A window around the free minimum finds it again; one above it stops
    # at its lower end and says so.
    near = fit_pspline(x, y, lam_bounds=(free.lam / 30, free.lam * 30))
    assert near.lam == pytest.approx(free.lam, rel=1e-3)
    with pytest.warns(UserWarning, match="lower end"):
        high = fit_pspline(x, y, lam_bounds=(free.lam * 10, free.lam * 1e3))
    assert high.lam == high.lam_bounds[0] == free.lam * 10
