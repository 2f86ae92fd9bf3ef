"""normal_equations, uniform_normal_equations and evaluate_spline against the
design matrix they stand in for, the tile contract, and bad input."""
import numpy as np
import pytest
from scipy.interpolate import BSpline

import bsbasis
from bsbasis import NormalEquations
from bsbasis._abi import NORMAL_TILE as TILE


def banded(G, u):
    n = G.shape[0]
    ab = np.zeros((u + 1, n))
    for d in range(u + 1):
        ab[u - d, d:] = np.diagonal(G, d)
    return ab


def dense_sums(x, t, k, y, w, nu, mode):
    X = bsbasis.design_matrix(x, t, k, nu=nu, extrapolate=mode).toarray()
    return X, (X.T * w) @ X, (X.T * w) @ y


def same_bits(a, b):
    assert a.count == b.count and a.sum_weights == b.sum_weights and a.yty == b.yty
    assert np.array_equal(a.gram, b.gram) and np.array_equal(a.rhs, b.rhs)


def knots(rng, k, inner=12):
    return np.r_[[0.0] * (k + 1), np.sort(rng.uniform(0, 1, inner)), [1.0] * (k + 1)]


@pytest.mark.parametrize("k", [0, 1, 3, 5])
@pytest.mark.parametrize("mode", ["zero", "continue", "constant", "linear", "periodic"])
def test_sums_equal_the_design_matrix_products(k, mode):
    rng = np.random.default_rng(k)
    t = knots(rng, k)
    x = rng.uniform(-0.2, 1.2, 20_000)
    y = np.sin(5 * x) + rng.normal(0, 0.1, len(x))
    w = rng.uniform(0, 3, len(x))
    for nu in range(min(k, 2) + 1):
        ne = bsbasis.normal_equations(x, t, k, y=y, weights=w, nu=nu, extrapolate=mode)
        X, G, r = dense_sums(x, t, k, y, w, nu, mode)
        scale = max(np.abs(G).max(), 1e-300)
        np.testing.assert_allclose(ne.gram, banded(G, k), rtol=0, atol=1e-12 * scale)
        np.testing.assert_allclose(ne.rhs, r, rtol=0, atol=1e-12 * np.abs(r).max() + 1e-300)
        rows = (X != 0).any(axis=1) if mode == "zero" else np.ones(len(x), bool)
        if mode == "zero" and nu == 0:
            assert ne.count == rows.sum()
            np.testing.assert_allclose(ne.sum_weights, w[rows].sum(), rtol=1e-12)
            np.testing.assert_allclose(ne.yty, w[rows] @ y[rows] ** 2, rtol=1e-12)
        elif mode != "zero":
            assert ne.count == len(x)


def test_weights_and_responses_are_optional():
    rng = np.random.default_rng(1)
    t = knots(rng, 3)
    x = rng.uniform(0, 1, 5000)
    plain = bsbasis.normal_equations(x, t, 3)
    ones = bsbasis.normal_equations(x, t, 3, weights=np.ones(len(x)))
    assert plain.rhs is None and plain.yty is None
    assert np.array_equal(plain.gram, ones.gram) and plain.sum_weights == 5000.0
    # Integer weights are repeated rows.
    y = np.cos(3 * x)
    reps = rng.integers(0, 4, len(x))
    a = bsbasis.normal_equations(x, t, 3, y=y, weights=reps.astype(float))
    b = bsbasis.normal_equations(np.repeat(x, reps), t, 3, y=np.repeat(y, reps))
    np.testing.assert_allclose(a.gram, b.gram, rtol=1e-12, atol=1e-12)
    np.testing.assert_allclose(a.rhs, b.rhs, rtol=1e-12, atol=1e-12)
    assert a.sum_weights == b.sum_weights and a.count == len(x)


def test_threads_and_tile_splits_give_the_same_bits():
    rng = np.random.default_rng(2)
    t = knots(rng, 3, 40)
    x = rng.uniform(0, 1, 3 * TILE + 999)
    y = np.exp(x) + rng.normal(0, 0.01, len(x))
    w = rng.uniform(0.5, 2, len(x))
    one = bsbasis.normal_equations(x, t, 3, y=y, weights=w, threads=1)
    for threads in (2, 3, 5):
        same_bits(one, bsbasis.normal_equations(x, t, 3, y=y, weights=w, threads=threads))
    parts = [bsbasis.normal_equations(x[a:a + TILE], t, 3, y=y[a:a + TILE],
                                      weights=w[a:a + TILE], threads=1)
             for a in range(0, len(x), TILE)]
    same_bits(one, sum(parts))
    # Consecutive parts added in place, all but the last whole tiles.
    chained = bsbasis.normal_equations(x[:2 * TILE], t, 3, y=y[:2 * TILE], weights=w[:2 * TILE])
    before = chained.gram.copy()
    bad = y[2 * TILE:].copy()
    bad[-1] = np.nan
    with pytest.raises(ValueError, match=r"y\[%d\]" % (len(bad) - 1)):
        bsbasis.normal_equations(x[2 * TILE:], t, 3, y=bad, weights=w[2 * TILE:], out=chained,
                                 threads=2)
    assert np.array_equal(chained.gram, before) and chained.count == 2 * TILE
    got = bsbasis.normal_equations(x[2 * TILE:], t, 3, y=y[2 * TILE:], weights=w[2 * TILE:],
                                   out=chained, threads=2)
    assert got is chained
    same_bits(one, chained)
    with pytest.raises(ValueError, match="without responses"):
        bsbasis.normal_equations(x, t, 3, y=y, out=bsbasis.normal_equations(x, t, 3))
    # Elsewhere the split agrees within rounding.
    a = bsbasis.normal_equations(x[:1001], t, 3, y=y[:1001], weights=w[:1001])
    b = bsbasis.normal_equations(x[1001:], t, 3, y=y[1001:], weights=w[1001:])
    np.testing.assert_allclose((a + b).gram, one.gram, rtol=1e-12, atol=1e-9)


def test_adding_checks_the_shapes():
    rng = np.random.default_rng(3)
    t = knots(rng, 3)
    x = rng.uniform(0, 1, 100)
    with_y = bsbasis.normal_equations(x, t, 3, y=x)
    without = bsbasis.normal_equations(x, t, 3)
    with pytest.raises(ValueError, match="with and without responses"):
        with_y + without
    with pytest.raises(ValueError, match="band shapes"):
        with_y + bsbasis.normal_equations(x, knots(rng, 2), 2, y=x)
    assert (with_y + with_y).count == 200
    with pytest.raises(TypeError):
        with_y + 1.5
    with pytest.raises(ValueError, match="together"):
        NormalEquations(with_y.gram, with_y.rhs, None)


def test_uniform_grid_agrees_with_its_knots():
    rng = np.random.default_rng(4)
    k, n, origin, spacing = 3, 30, -1.0, 0.1
    t = origin + spacing * np.arange(n + k + 1)
    x = rng.uniform(t[k], t[n], 50_000)
    y = np.sin(x)
    a = bsbasis.uniform_normal_equations(x, k, n, origin=origin, spacing=spacing, y=y)
    b = bsbasis.normal_equations(x, t, k, y=y)
    np.testing.assert_allclose(a.gram, b.gram, rtol=1e-12, atol=1e-10)
    np.testing.assert_allclose(a.rhs, b.rhs, rtol=1e-12, atol=1e-10)
    assert a.count == b.count == len(x)


def test_bad_input_is_refused_naming_the_row():
    rng = np.random.default_rng(5)
    t = knots(rng, 3)
    x = rng.uniform(0, 1, 200)
    y = x.copy()
    with pytest.raises(ValueError, match="y has 199 entries but x has 200"):
        bsbasis.normal_equations(x, t, 3, y=y[:-1])
    with pytest.raises(ValueError, match="weights has 201"):
        bsbasis.normal_equations(x, t, 3, weights=np.ones(201))
    w = np.ones(200)
    w[17] = -1.0
    with pytest.raises(ValueError, match=r"weights\[17\] = -1.0"):
        bsbasis.normal_equations(x, t, 3, y=y, weights=w)
    w[17] = np.inf
    with pytest.raises(ValueError, match=r"weights\[17\] = inf"):
        bsbasis.normal_equations(x, t, 3, weights=w)
    y[42] = np.nan
    with pytest.raises(ValueError, match=r"y\[42\] = nan on a row in range"):
        bsbasis.normal_equations(x, t, 3, y=y)
    # Out of range the response is not used: under 'zero' it may be anything.
    x[42] = 7.0
    ne = bsbasis.normal_equations(x, t, 3, y=y, extrapolate="zero")
    assert ne.count == 199 and np.isfinite(ne.yty)
    with pytest.raises(ValueError, match="outside"):
        bsbasis.normal_equations(x, t, 3, y=y)
    with pytest.raises(ValueError, match="masked"):
        bsbasis.normal_equations(x, t, 3, y=np.ma.masked_invalid(y), extrapolate="zero")
    with pytest.raises(TypeError):
        bsbasis.normal_equations(x, t, 3.0)
    with pytest.raises(TypeError):
        bsbasis.normal_equations(x, t, 3, y=["a"] * 200, extrapolate="zero")
    with pytest.raises(ValueError, match="threads"):
        bsbasis.normal_equations(x, t, 3, threads=0)


@pytest.mark.parametrize("k", [1, 2, 3, 5])
def test_evaluate_spline_matches_scipy(k):
    rng = np.random.default_rng(6 + k)
    t = knots(rng, k)
    c = rng.normal(size=len(t) - k - 1)
    x = rng.uniform(-0.3, 1.3, 3001)
    for nu in range(k + 2):
        got = bsbasis.evaluate_spline(x, t, k, c, nu=nu)
        want = BSpline(t, c, k)(x, nu) if nu <= k else np.zeros_like(x)
        np.testing.assert_allclose(got, want, rtol=0, atol=1e-11 * max(1, np.abs(want).max()))
    grid = x[:3000].reshape(30, 100)
    assert bsbasis.evaluate_spline(grid, t, k, c).shape == (30, 100)
    v = bsbasis.evaluate_spline([np.nan, 2.0, 0.5], t, k, c, extrapolate="zero")
    assert np.isnan(v[0]) and v[1] == 0.0 and np.isclose(v[2], BSpline(t, c, k)(0.5), rtol=1e-13)
    with pytest.raises(ValueError, match="outside"):
        bsbasis.evaluate_spline([2.0], t, k, c, extrapolate=False)
    with pytest.raises(ValueError, match="entries"):
        bsbasis.evaluate_spline(x, t, k, c[:-1])
    many = np.tile(x, 100)
    np.testing.assert_array_equal(bsbasis.evaluate_spline(many, t, k, c, threads=3),
                                  bsbasis.evaluate_spline(many, t, k, c, threads=1))


def test_evaluate_spline_with_more_knots_than_a_tile():
    # Tiles hold at least as many rows as there are knots; every split gives
    # the same bits, and scipy's values.
    rng = np.random.default_rng(11)
    t = knots(rng, 3, inner=TILE + 5000)
    c = rng.normal(size=len(t) - 4)
    x = rng.uniform(0, 1, 3 * TILE + 17)
    one = bsbasis.evaluate_spline(x, t, 3, c, threads=1)
    np.testing.assert_array_equal(bsbasis.evaluate_spline(x, t, 3, c, threads=2), one)
    np.testing.assert_allclose(one[:2000], BSpline(t, c, 3)(x[:2000]), rtol=1e-10, atol=1e-10)
