"""Every input the kernels would take silently but is wrong raises first:
TypeError for a wrong type, ValueError for a wrong value, as scipy does."""
import warnings

import numpy as np
import pytest
from scipy.interpolate import BSpline

import bsbasis

T = np.array([0, 0, 0, 0, 1, 2, 3, 3, 3, 3.0])
X = np.array([0.5, 1.5, 2.5])


@pytest.mark.parametrize("call, pattern", [
    (lambda: bsbasis.design_matrix(X, T, 3.0), r"k must be an integer, got float"),
    (lambda: bsbasis.design_matrix(X, T, True), r"k must be an integer, got a bool"),
    (lambda: bsbasis.design_matrix(X, T, 3, nu=True), r"nu must be an integer, got a bool"),
    (lambda: bsbasis.design_matrix(X, T, 3, nu=1.0), r"nu must be an integer"),
    (lambda: bsbasis.design_matrix(X + 1j, T, 3), r"x must hold real numbers, got a complex"),
    (lambda: bsbasis.design_matrix("0.5", T, 3), r"x must be an array .* string"),
    (lambda: bsbasis.design_matrix(["a", "b"], T, 3), r"x must hold real numbers, got a string"),
    (lambda: bsbasis.design_matrix([object()], T, 3), r"got a object array"),
    (lambda: bsbasis.design_matrix([True, False], T, 3), r"got a boolean array"),
    (lambda: bsbasis.design_matrix(X, T.astype(complex), 3), r"t must hold real numbers"),
    (lambda: bsbasis.design_matrix(X, T, 3, nj=6.0), r"nj must be an integer"),
    (lambda: bsbasis.design_matrix(X, T, 3, threads=2.5), r"threads must be an integer"),
    (lambda: bsbasis.design_matrix(X, T, 3, format=None), r"format must be a string"),
    (lambda: bsbasis.design_matrix(X, T, 3, extrapolate=None), r"extrapolate must be a bool or one of"),
    (lambda: bsbasis.uniform_design_matrix(X, 3, 10, origin="0"), r"origin must be a real number"),
    (lambda: bsbasis.uniform_design_matrix(X, 3, 10, spacing=1j), r"spacing must be a real number"),
    (lambda: bsbasis.uniform_design_matrix(X, 3, 10.0), r"n must be an integer"),
    (lambda: bsbasis.interval_index([0.5], T, guess=1.5), r"guess must be an integer"),
    (lambda: bsbasis.interval_index([0.5, 1.0], T, guess=[0.5, 1.0]), r"guess must be an integer"),
    (lambda: bsbasis.interval_index("0.5", T), r"keys must be an array .* string"),
    # None where an integer is required is refused as design_matrix refuses it.
    (lambda: bsbasis.design_matrix(X, T, None), r"k must be an integer, got NoneType"),
    (lambda: bsbasis.tensor_design_matrix(np.c_[X, X], [T, T], None),
     r"k must be an integer or a sequence of integers, got None"),
    (lambda: bsbasis.tensor_design_matrix(np.c_[X, X], [T, T], [3, None]),
     r"k must be an integer, got NoneType"),
    (lambda: bsbasis.tensor_design_matrix(np.c_[X, X], [T, T], [3, 3.0]), r"k must be an integer"),
    (lambda: bsbasis.tensor_design_matrix(np.c_[X, X], [T, T], 3, nu=True), r"got a bool"),
    (lambda: bsbasis.evaluate_spline(X, T, 3, None), r"c must be an array of real numbers"),
    (lambda: bsbasis.evaluate_spline(X, T, 3, True), r"c must be an array of real numbers"),
    (lambda: bsbasis.evaluate_spline(X, T, 3, [1j] * 6), r"c must .* dtype complex"),
    (lambda: bsbasis.evaluate_spline(X, T, 3, [True] * 6), r"c must .* dtype bool"),
    (lambda: bsbasis.evaluate_spline(X, T, 3, np.ones(6), threads=1.0),
     r"threads must be an integer"),
    (lambda: bsbasis.make_knots(X, None), r"n_knots must be an integer"),
    (lambda: bsbasis.make_knots(X, 4, k=None), r"k must be an integer"),
    (lambda: bsbasis.derivative_penalty(T, 3, m=None), r"m must be an integer"),
    (lambda: bsbasis.difference_penalty(5, order=True), r"order must be an integer"),
    (lambda: bsbasis.NormalEquations(np.ones((4, 6)), sum_weights=None),
     r"sum_weights must be a real number"),
])
def test_wrong_types_raise_type_error(call, pattern):
    with pytest.raises(TypeError, match=pattern):
        call()


@pytest.mark.parametrize("call, pattern", [
    (lambda: bsbasis.design_matrix(X.reshape(3, 1), T, 3), r"x must be 1-D.*\(3, 1\)"),
    (lambda: bsbasis.design_matrix([[1.0], [1.0, 2.0]], T, 3), r"inhomogeneous|sequence"),
    (lambda: bsbasis.design_matrix(X, T.reshape(2, 5), 3), r"t must be 1-D"),
    (lambda: bsbasis.design_matrix(X, T[::-1], 3), r"t must be non-decreasing: t\[3\] = 3\.0 > t\[4\] = 2\.0"),
    (lambda: bsbasis.design_matrix(X, np.r_[T, np.nan], 3), r"t must be finite: t\[10\] = nan"),
    (lambda: bsbasis.design_matrix(X, np.r_[T[:5], np.nan, T[5:]], 3), r"t must be finite: t\[5\]"),
    (lambda: bsbasis.design_matrix(X, np.r_[T, np.inf], 3), r"t must be finite"),
    (lambda: bsbasis.design_matrix(X, T, -1), r"k \(the degree\) must be >= 0, got -1"),
    (lambda: bsbasis.evaluate_spline(X, T, 3, np.ones(5)),
     r"c has 5 entries; the basis has nj = 6 functions"),
    (lambda: bsbasis.evaluate_spline(X, T, 3, np.ones((6, 1))), r"c must be 1-D"),
    (lambda: bsbasis.design_matrix(X, T, 5), r"t has 10 knots; degree k=5 needs at least 2\*\(k\+1\) = 12"),
    (lambda: bsbasis.design_matrix(X, T, 3, nj=7), r"nj=7 is outside k\+1 \.\. len\(t\)-k-1 = 4 \.\. 6"),
    (lambda: bsbasis.design_matrix(X, T, 3, nj=3), r"nj=3 is outside"),
    (lambda: bsbasis.design_matrix(X, np.ones(8), 3), r"base interval .* is empty"),
    (lambda: bsbasis.design_matrix(X, T, 3, nu=-1), r"nu \(the derivative order\) must be >= 0"),
    (lambda: bsbasis.design_matrix(X, T, 3, extrapolate="clip"), r"extrapolate='clip' is not one of"),
    (lambda: bsbasis.design_matrix(X, T, 3, format="dense"), r"format='dense' is not one of"),
    (lambda: bsbasis.design_matrix(X, T, 3, threads=0), r"threads must be at least 1"),
    (lambda: bsbasis.design_matrix([0.5, 4.0, np.nan, -1.0], T, 3),
     r"x: 3 of 4 abscissae are outside the base interval \[0\.0, 3\.0\] or not finite; "
     r"the first, x\[1\] = 4\.0, is above the right end t\[6\] = 3\.0 by 1\.0"),
    (lambda: bsbasis.design_matrix([np.nan], T, 3), r"x\[0\] = nan, is not a number"),
    (lambda: bsbasis.design_matrix([-np.inf], T, 3), r"below the left end t\[3\] = 0\.0 by inf"),
    (lambda: bsbasis.uniform_design_matrix(X, 3, 3), r"n=3 is below k\+1 = 4"),
    (lambda: bsbasis.uniform_design_matrix(X, -1, 5), r"k \(the degree\) must be >= 0"),
    (lambda: bsbasis.uniform_design_matrix(X, 3, 10, spacing=0.0), r"spacing must be finite and positive"),
    (lambda: bsbasis.uniform_design_matrix(X, 3, 10, origin=np.nan), r"origin must be finite"),
    (lambda: bsbasis.uniform_design_matrix(X, 3, 10, origin=1e308, spacing=1e307),
     r"last knot .* overflows"),
    (lambda: bsbasis.uniform_design_matrix([0.5], 3, 10), r"outside the base interval \[3\.0, 10\.0\]"),
    (lambda: bsbasis.interval_index([0.5], T[::-1]), r"arr must be sorted"),
    (lambda: bsbasis.interval_index([0.5], [0.0, np.nan]), r"arr must not contain NaN"),
    (lambda: bsbasis.interval_index([np.nan], T), r"keys must not contain NaN"),
    (lambda: bsbasis.interval_index([0.5, 1.0], T, guess=[1, 2, 3]), r"guess has 3 elements"),
])
def test_wrong_values_raise_value_error(call, pattern):
    with pytest.raises(ValueError, match=pattern):
        call()


@pytest.mark.parametrize("t", [[-1e308, -1e308, 1e308, 1e308], [-1.5e308, -1.5e308, 0, 1.5e308, 1.5e308]])
def test_knots_whose_span_overflows_are_refused(t):
    # Differences of such knots are inf: the values would be wrong ([1, 0]
    # instead of [0.25, 0.75] at 0.5e308), so there is no answer at all.
    with pytest.raises(ValueError, match=r"t\[-1\] - t\[0\] overflows"):
        bsbasis.design_matrix([0.5e308], t, 1)
    # The widest knots whose span is finite still give scipy's values.
    t = [-0.8e308, -0.8e308, 0.8e308, 0.8e308]
    np.testing.assert_allclose(bsbasis.design_matrix([0.4e308], t, 1).toarray(),
                               BSpline.design_matrix([0.4e308], t, 1).toarray(), atol=1e-15)


def test_knots_whose_gap_has_no_reciprocal_are_refused():
    # 1 / 5e-324 overflows: every value near that gap would be NaN.
    with pytest.raises(ValueError, match=r"t\[2\] - t\[1\] = 5e-324 is too small"):
        bsbasis.design_matrix([0.5], [0, 0, 5e-324, 1, 1], 1)
    # A gap whose reciprocal is finite is fine.
    t = [0, 0, 1e-300, 1, 1]
    np.testing.assert_allclose(bsbasis.design_matrix([0.5], t, 1).toarray(),
                               BSpline.design_matrix([0.5], t, 1).toarray(), atol=1e-15)


def test_uniform_spacing_that_misses_the_left_end_says_by_how_much():
    # 3 * 0.1 rounds to 0.30000000000000004 > 0.3: the first abscissa is
    # outside, as in scipy, and the message shows both numbers.
    with pytest.raises(ValueError, match=r"x\[0\] = 0\.3, is below the left end origin \+ "
                                         r"k\*spacing = 0\.30000000000000004 by 5\.55\d*e-17"):
        bsbasis.uniform_design_matrix(np.linspace(0.3, 0.7, 5), 3, 7, spacing=0.1)
    m = bsbasis.uniform_design_matrix(np.linspace(0.3, 0.7, 5), 3, 7, spacing=0.1,
                                      extrapolate="zero")
    assert np.diff(m.indptr).tolist() == [0, 4, 4, 4, 4]


def test_uniform_spacing_below_the_resolution_of_origin_is_refused():
    with pytest.raises(ValueError, match=r"spacing=1e-10 is below the resolution of the knots"):
        bsbasis.uniform_design_matrix([1e7 + 4e-10], 3, 10, origin=1e7, spacing=1e-10)
    # Just above it the knots are distinct, and the basis is a partition of unity.
    sp = 4 * np.spacing(1e7)
    m = bsbasis.uniform_design_matrix([1e7 + 5 * sp], 3, 10, origin=1e7, spacing=sp)
    assert m.nnz == 4 and abs(m.sum() - 1.0) < 1e-12


def test_scalar_x_gives_one_row():
    m = bsbasis.design_matrix(1.5, T, 3)
    assert m.shape == (1, 6)
    np.testing.assert_array_equal(m.toarray(), bsbasis.design_matrix([1.5], T, 3).toarray())
    assert bsbasis.uniform_design_matrix(np.float32(4.5), 3, 10, nu=1).shape == (1, 10)


def test_masked_abscissae_give_empty_rows_whatever_extrapolate_says():
    x = np.ma.masked_array([0.5, 99.0, np.nan, 2.5], mask=[False, True, True, False])
    for extrapolate in (False, "zero"):
        m = bsbasis.design_matrix(x, T, 3, extrapolate=extrapolate)
        assert np.diff(m.indptr).tolist() == [4, 0, 0, 4]
        np.testing.assert_array_equal(m.toarray()[[0, 3]],
                                      bsbasis.design_matrix([0.5, 2.5], T, 3).toarray())
    i, j, B = bsbasis.design_matrix(x, T, 3, format="blocks")
    assert not B[4:12].any() and (j[4:12] == -1).all()
    # An unmasked value outside is still an error.
    with pytest.raises(ValueError, match=r"1 of 2 abscissae"):
        bsbasis.design_matrix(np.ma.masked_array([0.5, 7.0], mask=[False, False]), T, 3)
    with pytest.raises(ValueError, match="t must not be masked"):
        bsbasis.design_matrix(X, np.ma.masked_array(T, mask=T > 2), 3)


def test_interval_index_guess_is_a_hint_of_any_integer_size():
    keys = np.array([-1.0, 0.0, 2.5, 3.0, 7.0])
    want = bsbasis.interval_index(keys, T)
    for guess in (10**30, -10**30, [10**30, 0, -5, 3, 2**62], np.arange(5)):
        np.testing.assert_array_equal(bsbasis.interval_index(keys, T, guess=guess), want)


def test_no_numpy_warning_escapes():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        x = [np.nan, np.inf, -np.inf, 1e308, -1e308, 0.5]
        bsbasis.design_matrix(x, T, 3, extrapolate="zero", nu=1)
        bsbasis.uniform_design_matrix(x, 3, 10, origin=-1e300, spacing=1e299, extrapolate="zero")
        bsbasis.uniform_design_matrix(x, 3, 10, origin=0.25, spacing=0.5, extrapolate="zero", nu=1)
        with pytest.raises(ValueError):
            bsbasis.design_matrix(x, T, 3)


def test_any_numeric_layout_of_x_is_converted_not_misread():
    base = np.array([0.25, 2.5, 1.0, 3.0, 0.0, 1.75])
    ref = bsbasis.design_matrix(base, T, 3).toarray()
    wide = np.zeros(2 * len(base))
    wide[::2] = base
    for x in (wide[::2], base.astype(np.float32), base.astype(">f8"), list(base),
              np.asfortranarray(base), (base * 4).astype(np.int64) / 4):
        np.testing.assert_array_equal(bsbasis.design_matrix(x, T, 3).toarray(), ref)
    np.testing.assert_array_equal(bsbasis.design_matrix([0, 1, 3], T, 3).toarray(),
                                  ref[[4, 2, 3]])
    tt = T.astype(np.float32)[::-1][::-1]
    np.testing.assert_array_equal(bsbasis.design_matrix(base, tt, 3).toarray(), ref)


def test_knot_messages_name_the_rule_the_library_finds():
    # The host says in words what bsbasis_check_knots finds: on random knots
    # with planted faults it raises exactly when the library refuses them,
    # and names the knot the library points at.
    from bsbasis import _abi, _checks
    rng = np.random.default_rng(20261209)
    seen = set()
    for _ in range(1500):
        k = int(rng.integers(0, 4))
        nt = int(rng.integers(0, 14))
        t = np.cumsum(rng.random(nt) * (rng.random(nt) < 0.7)) - 1.0
        fault = rng.integers(0, 6)
        if nt and fault == 0:
            t[rng.integers(nt)] = [np.nan, np.inf, -np.inf][rng.integers(3)]
        elif nt > 1 and fault == 1:
            a, b = rng.integers(nt, size=2)
            t[a], t[b] = t[b], t[a]
        elif nt > 2 and fault == 2:
            m = int(rng.integers(1, nt))
            t = t - t[m - 1]
            t[m] = 2.0 ** -1072
            t[m + 1:] = np.maximum(t[m + 1:], t[m])
        elif nt > 1 and fault == 3:
            t[0], t[-1] = -1e308, 1.7e308
        nj = None if rng.random() < 0.5 else nt - (k + 1) + int(rng.integers(-1, 2))
        want = nt - (k + 1) if nj is None else nj
        rule, m = _checks.knot_rule(t, k + 1, want)
        seen.add(rule)
        if rule == _abi.RULE_NONE:
            assert _checks.check_knots(t, k, nj) == want
            continue
        with pytest.raises(ValueError) as err:
            _checks.check_knots(t, k, nj)
        if rule in (_abi.RULE_NOT_FINITE, _abi.RULE_DECREASING, _abi.RULE_TOO_CLOSE):
            assert "t[%d]" % m in str(err.value)
    assert {_abi.RULE_NONE, _abi.RULE_TOO_FEW, _abi.RULE_COLUMNS, _abi.RULE_NOT_FINITE,
            _abi.RULE_DECREASING, _abi.RULE_TOO_CLOSE, _abi.RULE_SPAN,
            _abi.RULE_EMPTY_BASE} <= seen
