"""Penalty matrices against numpy and scipy, knots against scikit-learn's
SplineTransformer, and the checks of their arguments."""
import warnings

import numpy as np
import pytest
import scipy.sparse as sp
from numpy.testing import assert_array_equal
from scipy.interpolate import BSpline
from scipy.linalg import solveh_banded

from bsbasis._penalties import derivative_penalty, difference_penalty, make_knots
from conftest import KNOT_KINDS, make_knots as knot_sequence


def dense_from_band(ab):
    """The symmetric matrix of the upper band form, by its definition."""
    u, n = ab.shape[0] - 1, ab.shape[1]
    a = np.zeros((n, n))
    for j in range(n):
        for i in range(max(0, j - u), j + 1):
            a[i, j] = a[j, i] = ab[u + i - j, j]
    return a


def check_band(ab, dense):
    """ab is the upper band form of dense: band, mirror, zeros elsewhere."""
    u, n = ab.shape[0] - 1, ab.shape[1]
    assert_array_equal(dense_from_band(ab), dense)
    assert not np.triu(dense, u + 1).any()
    for d in range(1, u + 1):
        assert_array_equal(ab[u - d, :d], 0.0)


# ---------------------------------------------------------- difference penalty

@pytest.mark.parametrize("order", [1, 2, 3, 4])
@pytest.mark.parametrize("n", [1, 2, 3, 4, 5, 6, 13])
def test_difference_penalty_is_dtd(n, order):
    d = np.diff(np.eye(n), order, axis=0)
    want = d.T @ d
    ab = difference_penalty(n, order)
    assert ab.shape == (order + 1, n)
    check_band(ab, want)
    csr = difference_penalty(n, order, format="csr")
    assert isinstance(csr, sp.csr_array)
    assert_array_equal(csr.toarray(), want)
    assert isinstance(difference_penalty(n, order, format="csr_matrix"), sp.csr_matrix)


# ---------------------------------------------------------- derivative penalty

def reference_gram(t, k, m, nj):
    """Integrals of products of m-th derivatives, 20 Gauss points per interval."""
    nodes, weights = np.polynomial.legendre.leggauss(20)
    spl = BSpline(t, np.eye(len(t) - k - 1), k)
    g = np.zeros((nj, nj))
    for a, b in zip(t[k:nj], t[k + 1:nj + 1]):
        if a < b:
            x = (a + b) / 2 + (b - a) / 2 * nodes
            v = spl(x, nu=m)[:, :nj]
            g += (v * ((b - a) / 2 * weights)[:, None]).T @ v
    return g


@pytest.mark.parametrize("kind", KNOT_KINDS)
@pytest.mark.parametrize("k", [0, 1, 2, 3, 5])
def test_derivative_penalty_matches_scipy_quadrature(kind, k):
    t = knot_sequence(kind, k + 1, seed=k)
    for trim in (0, 1):
        nj = len(t) - k - 1 - trim
        for m in range(k + 1):
            want = reference_gram(t, k, m, nj)
            got = derivative_penalty(t, k, m, nj=nj, format="csr").toarray()
            scale = np.abs(want).max()
            assert np.abs(got - want).max() <= 1e-12 * scale, (kind, k, nj, m)
            ab = derivative_penalty(t, k, m, nj=nj)
            check_band(ab, got)
        assert not derivative_penalty(t, k, k + 1, nj=nj).any()


def test_derivative_penalty_solves_with_solveh_banded():
    t = knot_sequence("clamped", 4, seed=3)
    ab = derivative_penalty(t, 3, 2)
    ab[-1] += 1.0  # + identity: positive definite
    b = np.arange(ab.shape[1], dtype=float)
    want = np.linalg.solve(dense_from_band(ab), b)
    assert np.allclose(solveh_banded(ab, b), want, rtol=1e-12, atol=0)


def test_derivative_penalty_same_bits_again():
    t = knot_sequence("repeated", 4, seed=9)
    a = derivative_penalty(t, 3, 1)
    assert_array_equal(a.view(np.uint64), derivative_penalty(t.copy(), 3, 1).view(np.uint64))


# ------------------------------------------------------------------ make_knots

def sklearn_knots(x, n_knots, k, kind, w):
    pytest.importorskip("sklearn")
    from sklearn.preprocessing import SplineTransformer
    st = SplineTransformer(n_knots=n_knots, degree=k, knots=kind)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return st.fit(x[:, None], sample_weight=w).bsplines_[0].t


@pytest.mark.parametrize("kind", ["uniform", "quantile"])
@pytest.mark.parametrize("weighted", [False, True])
def test_make_knots_match_spline_transformer(kind, weighted):
    rng = np.random.default_rng(4)
    for trial in range(12):
        x = rng.standard_normal(int(rng.integers(2, 60))) * 10.0 ** rng.integers(-3, 4)
        w = None
        if weighted:
            w = rng.uniform(0.0, 3.0, len(x)) * (rng.uniform(size=len(x)) < 0.8)
            w[:2] = 1.0  # two abscissae with weight
        for k in (0, 1, 2, 3, 4):
            n_knots = int(rng.integers(2, 14))
            want = sklearn_knots(x, n_knots, k, kind, w)
            got = make_knots(x, n_knots, k, kind=kind, weights=w, boundary="extended")
            assert_array_equal(got, want, err_msg=str((trial, k, n_knots)))
            clamped = make_knots(x, n_knots, k, kind=kind, weights=w)
            assert_array_equal(clamped[k:k + n_knots], want[k:k + n_knots])
            assert_array_equal(clamped[:k], want[k])
            assert_array_equal(clamped[k + n_knots:], want[k + n_knots - 1])


# --------------------------------------------------------------- bad arguments

T = np.r_[[0.0] * 4, 0.5, [1.0] * 4]
X = np.array([0.0, 1.0, 4.0])


@pytest.mark.parametrize("call, pattern", [
    (lambda: difference_penalty(4.0), r"n must be an integer"),
    (lambda: difference_penalty(4, True), r"order must be an integer, got a bool"),
    (lambda: difference_penalty(4, format=1), r"format must be a string"),
    (lambda: derivative_penalty(T, 3.0), r"k must be an integer"),
    (lambda: derivative_penalty(T, 3, m=2.0), r"m must be an integer"),
    (lambda: derivative_penalty(T, 3, nj=5.0), r"nj must be an integer"),
    (lambda: derivative_penalty(T + 1j, 3), r"t must hold real numbers"),
    (lambda: make_knots("abc", 4), r"x must be an array"),
    (lambda: make_knots(X, 4.0), r"n_knots must be an integer"),
    (lambda: make_knots(X, 4, k=3.0), r"k must be an integer"),
    (lambda: make_knots(X, 4, kind=None), r"kind must be a string"),
    (lambda: make_knots(X, 4, boundary=0), r"boundary must be a string"),
    (lambda: make_knots(X, 4, weights=[True, False, True]), r"weights must hold real"),
])
def test_wrong_types_raise_type_error(call, pattern):
    with pytest.raises(TypeError, match=pattern):
        call()


@pytest.mark.parametrize("call, pattern", [
    (lambda: difference_penalty(0), r"n must be at least 1"),
    (lambda: difference_penalty(5, 5), r"order must be 1, 2, 3 or 4"),
    (lambda: difference_penalty(5, 0), r"order must be 1, 2, 3 or 4"),
    (lambda: difference_penalty(5, format="dense"), r"format='dense' is not one of"),
    (lambda: derivative_penalty(T, -1), r"k \(the degree\) must be >= 0"),
    (lambda: derivative_penalty(T, 3, m=-1), r"m must be >= 0"),
    (lambda: derivative_penalty(T, 3, nj=6), r"nj=6 is outside"),
    (lambda: derivative_penalty(T[::-1], 3), r"t must be non-decreasing"),
    (lambda: derivative_penalty(np.r_[T, np.nan], 3), r"t must be finite"),
    (lambda: derivative_penalty(T, 4), r"t has 9 knots"),
    (lambda: derivative_penalty(np.ma.masked_array(T, T > 0.7), 3), r"t must not be masked"),
    (lambda: make_knots(X, 1), r"n_knots must be at least 2"),
    (lambda: make_knots(X, 4, k=-1), r"k \(the degree\) must be >= 0"),
    (lambda: make_knots(X, 4, kind="even"), r"kind='even' is not one of"),
    (lambda: make_knots(X, 4, boundary="periodic"), r"boundary='periodic' is not one of"),
    (lambda: make_knots(X.reshape(3, 1), 4), r"x must be 1-D"),
    (lambda: make_knots([0.0, np.inf, 1.0], 4), r"x must be finite: x\[1\] = inf"),
    (lambda: make_knots(X, 4, weights=[1.0, -1.0, 1.0]), r"weights\[1\] = -1.0"),
    (lambda: make_knots(X, 4, weights=[1.0, np.nan, 1.0]), r"weights\[1\] = nan"),
    (lambda: make_knots(X, 4, weights=[1.0, 1.0]), r"weights has 2 entries, x has 3"),
    (lambda: make_knots(X, 4, weights=[0.0, 1.0, 0.0]), r"at least 2 distinct values"),
    (lambda: make_knots([2.0, 2.0], 4), r"at least 2 distinct values"),
    (lambda: make_knots([], 4), r"at least 2 distinct values"),
    # Knots that would overflow: the message names the cause.
    (lambda: make_knots([-1e308, 1e308], 3),
     r"x spans \[-1e\+308, 1e\+308\]: the length .* overflows"),
    (lambda: make_knots([-1e308, 1e308], 3, kind="quantile"), r"x spans .* overflows"),
    (lambda: make_knots([-1e308, 0.0, 1e308], 2, weights=[1.0, 0.0, 1.0]),
     r"x spans .* where the weights are positive"),
    (lambda: make_knots([0.0, 1e308], 2, k=3, boundary="extended"),
     r"boundary='extended' continues the end intervals \(1e\+308 on the left, 1e\+308 on "
     r"the right\) k=3 times"),
    (lambda: make_knots([0.0, 1.0, 2.0], 3, kind="quantile", weights=[1e308] * 3),
     r"weights sum to more than the largest double"),
    (lambda: make_knots([0.0, np.inf], 3), r"x must be finite: x\[1\] = inf"),
    (lambda: make_knots([0.0, 1.0, 2.0], 3, weights=[1.0, np.nan, 1.0]),
     r"weights\[1\] = nan"),
])
def test_wrong_values_raise_value_error(call, pattern):
    with pytest.raises(ValueError, match=pattern):
        call()
