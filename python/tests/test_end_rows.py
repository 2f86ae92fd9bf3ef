"""The rows at the ends of the base interval, against scipy.

At the right end t[n] a row is the limit from the left, exactly: where that
limit is 0, the entry is 0 (as scipy gives), and at a clamped end the row is
the unit vector.  Where an end interval is empty (t[n-1] == t[n], or
t[k] == t[k+1]), bsbasis takes the nearest piece that is not empty, as R's
splines does, where scipy evaluates the empty interval.
"""

import numpy as np
import pytest
from scipy.interpolate import BSpline, make_interp_spline

import bsbasis


@pytest.mark.parametrize("k", [1, 2, 3, 4])
def test_right_end_row_is_the_exact_limit(k):
    rng = np.random.default_rng(20 + k)
    for _ in range(200):
        clamped = rng.random() < 0.7
        inner = np.sort(rng.uniform(0, 1, rng.integers(0, 7)))
        right = np.ones(k + 1) if clamped else 1 + np.cumsum(np.r_[0, rng.uniform(0.1, 1, k)])
        t = np.r_[np.zeros(k + 1), inner, right]
        n = len(t) - k - 1
        hi = t[n]
        ours = bsbasis.design_matrix(np.array([hi]), t, k).toarray()[0]
        theirs = BSpline.design_matrix(np.array([hi]), t, k).toarray()[0]
        # The same zeros as scipy, and the values within rounding.
        np.testing.assert_array_equal(ours == 0, theirs == 0)
        np.testing.assert_allclose(ours, theirs, rtol=1e-13, atol=0)
        if clamped:
            np.testing.assert_array_equal(ours, np.eye(n)[-1])
        # So do the derivatives whose limit vanishes, and the rows that
        # the constant mode continues beyond hi.
        cont = bsbasis.design_matrix(np.array([hi + 1.0]), t, k,
                                     extrapolate="constant").toarray()[0]
        np.testing.assert_array_equal(cont, ours)
        q = np.arange(k + 1)
        c = n - 1 - k + q  # the columns of the last interval's row
        for nu in range(1, k):
            d = bsbasis.design_matrix(np.array([hi]), t, k, nu=nu).toarray()[0]
            # Column c falls to 0 at hi like (hi - x)**(k - q) when its
            # support ends there.
            vanish = (t[c + k + 1] == hi) & (nu < k - q)
            np.testing.assert_array_equal(d[c[vanish]], 0.0)


def test_scipy_k0_interpolant_and_the_empty_last_interval():
    # make_interp_spline(k=0) puts the last datum on an empty interval:
    # scipy's row at x[-1] is the identically zero function of that
    # interval; ours is the limit from the left, the last piece.
    x = np.array([0.0, 1.0, 2.0, 3.0])
    y = np.array([1.0, 5.0, 2.0, 7.0])
    s = make_interp_spline(x, y, k=0)
    assert s.t[-1] == s.t[-2]
    ours = bsbasis.design_matrix(x, s.t, 0).toarray()
    theirs = BSpline.design_matrix(x, s.t, 0).toarray()
    np.testing.assert_array_equal(ours[:-1], theirs[:-1])
    np.testing.assert_array_equal(theirs[-1], [0, 0, 0, 1])
    np.testing.assert_array_equal(ours[-1], [0, 0, 1, 0])
    # So the interpolant evaluated through bsbasis misses its last datum
    # by the jump, as the docstring says.
    assert bsbasis.evaluate_spline(x, s.t, 0, s.c)[-1] == y[-2]
    assert s(x[-1]) == y[-1]


def test_empty_end_intervals_take_the_nearest_piece():
    # k = 1 on [0, 2], both end intervals empty: t[1] == t[2], t[4] == t[5].
    t = np.array([0.0, 0.0, 0.0, 1.0, 2.0, 2.0, 2.0])
    n = len(t) - 2
    assert t[1] == t[2] and t[n - 1] == t[n]
    # At the right end scipy gives a row of zeros (the empty interval);
    # ours is the limit of the last piece: the hat of column n - 2 at 1.
    at_hi = np.array([2.0])
    np.testing.assert_array_equal(BSpline.design_matrix(at_hi, t, 1).toarray()[0], 0.0)
    np.testing.assert_array_equal(bsbasis.design_matrix(at_hi, t, 1).toarray()[0],
                                  np.eye(n)[n - 2])
    # Beyond the left end scipy extrapolates the empty first interval
    # (zeros); ours continues the first piece, linear on [0, 1].
    xs = np.array([-0.5, 0.0, 0.5])
    np.testing.assert_array_equal(
        BSpline.design_matrix(xs[:1], t, 1, extrapolate=True).toarray()[0], 0.0)
    ours = bsbasis.design_matrix(xs, t, 1, extrapolate=True).toarray()
    np.testing.assert_allclose(ours[0], ours[1] + (ours[1] - ours[2]), rtol=0, atol=1e-15)
    # Inside, both agree.
    inside = np.linspace(0, 2, 9)[:-1]
    np.testing.assert_allclose(bsbasis.design_matrix(inside, t, 1).toarray(),
                               BSpline.design_matrix(inside, t, 1).toarray(), atol=1e-15)
