"""Values and derivatives against scipy.interpolate, an independent implementation."""
import numpy as np
import pytest
from scipy.interpolate import BSpline

import bsbasis
from conftest import KNOT_KINDS, abscissae, make_knots

RTOL = 1e-13


def assert_rows_close(got, want):
    """|got - want| <= RTOL * (largest |value| in the row of want), row by row."""
    got = np.asarray(got)
    scale = np.abs(want).max(axis=1, keepdims=True)
    err = np.abs(got - want)
    bad = err > RTOL * scale
    assert not bad.any(), "worst row error %g at %s" % (
        (err / np.where(scale > 0, scale, 1)).max(), np.argwhere(bad)[:3].tolist())


def scipy_values(x, t, order):
    return BSpline.design_matrix(x, t, order - 1).toarray()


def scipy_derivs(x, t, order):
    n = len(t) - order
    if order == 1:
        return np.zeros((len(x), n))
    spl = BSpline(t, np.eye(n), order - 1)
    try:
        return spl.derivative()(x)
    except ValueError:
        # .derivative() refuses interior knots of full multiplicity; the
        # direct evaluation of the first derivative handles them.
        return spl(x, nu=1)


@pytest.mark.parametrize("kind", KNOT_KINDS)
@pytest.mark.parametrize("order", range(1, 9))
def test_knot_values_and_derivatives(kind, order):
    for seed in range(3):
        t = make_knots(kind, order, seed)
        nj = len(t) - order
        x = abscissae(t, order, nj, seed)
        m = bsbasis.design_matrix(x, t, order - 1)
        assert m.shape == (len(x), nj)
        assert np.all(np.diff(m.indptr) == order)
        want = scipy_values(x, t, order)
        assert_rows_close(m.toarray(), want)
        np.testing.assert_allclose(m.sum(axis=1), 1.0, rtol=0, atol=1e-14)
        d = bsbasis.design_matrix(x, t, order - 1, nu=1)
        assert_rows_close(d.toarray(), scipy_derivs(x, t, order))


@pytest.mark.parametrize("order", [1, 2, 4, 7])
def test_right_end_left_limit_with_repeated_end_knot(order):
    # The right end t[nj] repeats inside the knots: the left limit comes from
    # the last non-empty interval before it.
    t = np.concatenate([np.zeros(order), [0.3, 0.5, 0.5, 0.5, 0.8], np.ones(order)])
    x = np.array([1.0, 0.8, 0.5, 1.0 - 1e-12, 0.0])
    assert_rows_close(bsbasis.design_matrix(x, t, order - 1).toarray(), scipy_values(x, t, order))
    assert_rows_close(bsbasis.design_matrix(x, t, order - 1, nu=1).toarray(),
                      scipy_derivs(x, t, order))


@pytest.mark.parametrize("order", [2, 4, 6])
def test_fewer_columns_than_knots_allow(order):
    # nj < len(t) - order: the base interval ends at t[nj]; the first nj
    # functions only use the knots t[:nj + order].
    t = make_knots("clamped", order, 11)
    for nj in (order, order + 2, len(t) - order - 1):
        x = abscissae(t, order, nj, nj)
        tt = t[:nj + order]
        m = bsbasis.design_matrix(x, t, order - 1, nj=nj)
        assert m.shape == (len(x), nj)
        assert_rows_close(m.toarray(), scipy_values(x, tt, order))
        d = bsbasis.design_matrix(x, t, order - 1, nj=nj, nu=1)
        assert_rows_close(d.toarray(), scipy_derivs(x, tt, order))


@pytest.mark.parametrize("order", range(1, 9))
def test_uniform_grid(order):
    nj = order + 9
    t = np.arange(nj + order, dtype=float)
    x = abscissae(t, order, nj, order)
    u = bsbasis.uniform_design_matrix(x, order - 1, nj)
    k = bsbasis.design_matrix(x, t, order - 1)
    # Spans on the integer grid are exact: both kernels give the same bits.
    assert np.array_equal(u.indices, k.indices) and np.array_equal(u.data, k.data)
    assert_rows_close(u.toarray(), scipy_values(x, t, order))
    du = bsbasis.uniform_design_matrix(x, order - 1, nj, nu=1)
    assert_rows_close(du.toarray(), scipy_derivs(x, t, order))

    # A grid that is not the integers.
    origin, spacing = -0.7, 0.1
    tg = origin + spacing * np.arange(nj + order)
    xg = np.concatenate([abscissae(tg, order, nj, order + 1),
                         [origin + spacing * nj, origin + spacing * (order - 1)]])
    g = bsbasis.uniform_design_matrix(xg, order - 1, nj, origin=origin, spacing=spacing)
    assert_rows_close(g.toarray(), scipy_values(xg, tg, order))
    dg = bsbasis.uniform_design_matrix(xg, order - 1, nj, nu=1, origin=origin, spacing=spacing)
    want = scipy_derivs(xg, tg, order)
    assert_rows_close(dg.toarray(), want)


def test_known_values():
    t = np.array([0, 0, 0, 0, 1, 2, 3, 3, 3, 3.0])
    m = bsbasis.design_matrix([0.0, 3.0, 2.999], t, 3)
    np.testing.assert_array_equal(m.toarray()[0], [1, 0, 0, 0, 0, 0])
    np.testing.assert_array_equal(m.toarray()[1], [0, 0, 0, 0, 0, 1])
    assert list(m.indices[8:]) == [2, 3, 4, 5]
    d = bsbasis.uniform_design_matrix([3.5], 3, 10, nu=1)
    np.testing.assert_allclose(d.toarray()[0, :4], [-1 / 8, -5 / 8, 5 / 8, 1 / 8], atol=1e-15)


def test_interval_index():
    arr = np.array([0.0, 1.0, 1.0, 2.0, 3.0, 5.0, 8.0])
    keys = np.array([-1.0, 0.0, 0.5, 1.0, 4.9, 8.0, 9.0, -np.inf, np.inf, 2.0])
    want = np.searchsorted(arr, keys, side="right") - 1
    want[keys > arr[-1]] = len(arr)
    got = bsbasis.interval_index(keys, arr)
    assert got.dtype == np.int32
    np.testing.assert_array_equal(got, want)
    for guess in (-5, 0, 3, 100, np.arange(len(keys))):
        np.testing.assert_array_equal(bsbasis.interval_index(keys, arr, guess=guess), want)
    np.testing.assert_array_equal(bsbasis.interval_index(keys.reshape(2, 5), arr),
                                  want.reshape(2, 5))
    np.testing.assert_array_equal(bsbasis.interval_index(keys, []), -1)
