"""Every input the kernels would take silently but is wrong raises first."""
import numpy as np
import pytest

import bsbasis

T = np.array([0, 0, 0, 0, 1, 2, 3, 3, 3, 3.0])
X = np.array([0.5, 1.5, 2.5])


@pytest.mark.parametrize("call, pattern", [
    (lambda: bsbasis.design_matrix(X.reshape(3, 1), T, 4), r"x must be 1-D.*\(3, 1\)"),
    (lambda: bsbasis.design_matrix(1.0, T, 4), r"x must be 1-D"),
    (lambda: bsbasis.design_matrix(["a", "b"], T, 4), r"x has dtype .* not numeric"),
    (lambda: bsbasis.design_matrix("0.5", T, 4), r"x must be .* string"),
    (lambda: bsbasis.design_matrix(X + 1j, T, 4), r"x is complex"),
    (lambda: bsbasis.design_matrix([object()], T, 4), r"x cannot be converted to float64"),
    (lambda: bsbasis.design_matrix([[1.0], [1.0, 2.0]], T, 4), r"x cannot be converted"),
    (lambda: bsbasis.design_matrix(X, T.reshape(2, 5), 4), r"t must be 1-D"),
    (lambda: bsbasis.design_matrix(X, T[::-1], 4), r"t must be non-decreasing: t\[3\] = 3\.0 > t\[4\] = 2\.0"),
    (lambda: bsbasis.design_matrix(X, np.r_[T, np.nan], 4), r"t must be finite: t\[10\] = nan"),
    (lambda: bsbasis.design_matrix(X, np.r_[T, np.inf], 4), r"t must be finite"),
    (lambda: bsbasis.design_matrix(X, T, 0), r"order must be at least 1, got 0"),
    (lambda: bsbasis.design_matrix(X, T, 4.0), r"order must be an integer"),
    (lambda: bsbasis.design_matrix(X, T, True), r"order must be an integer"),
    (lambda: bsbasis.design_matrix(X, T, 10), r"t has 10 knots; order 10 needs at least 11"),
    (lambda: bsbasis.design_matrix(X, T, 4, nj=7), r"nj=7 is outside 4 \.\. 6"),
    (lambda: bsbasis.design_matrix(X, T, 4, nj=3), r"nj=3 is outside"),
    (lambda: bsbasis.design_matrix(X, np.zeros(10), 4), r"base interval .* is empty"),
    (lambda: bsbasis.design_matrix(X, T, 4, deriv=2), r"deriv must be 0 .* or 1 .*got 2"),
    (lambda: bsbasis.design_matrix(X, T, 4, right="left"), r"right='left' is not one of"),
    (lambda: bsbasis.design_matrix(X, T, 4, out_of_range="clip"), r"out_of_range='clip'"),
    (lambda: bsbasis.design_matrix(X, T, 4, format="dense"), r"format='dense' is not one of"),
    (lambda: bsbasis.design_matrix(X, T, 4, threads=0), r"threads must be at least 1"),
    (lambda: bsbasis.design_matrix([0.5, 4.0, np.nan, -1.0], T, 4),
     r"x: 3 of 4 abscissae are outside the base interval \[0\.0, 3\.0\] or not finite; "
     r"the first is x\[1\] = 4\.0"),
    (lambda: bsbasis.design_matrix([np.inf], T, 4), r"1 of 1 .* x\[0\] = inf"),
    (lambda: bsbasis.uniform_design_matrix(X, 4, 3), r"nj=3 is below order 4"),
    (lambda: bsbasis.uniform_design_matrix(X, 0, 5), r"order must be at least 1"),
    (lambda: bsbasis.uniform_design_matrix(X, 4, 10, spacing=0.0), r"spacing must be finite and positive"),
    (lambda: bsbasis.uniform_design_matrix(X, 4, 10, origin=np.nan), r"origin must be finite"),
    (lambda: bsbasis.uniform_design_matrix([0.5], 4, 10), r"outside the base interval \[3\.0, 10\.0\]"),
    (lambda: bsbasis.uniform_design_matrix([10.0], 4, 10, right="open"), r"\[3\.0, 10\.0\)"),
    (lambda: bsbasis.uniform_design_matrix(X, 4, 10, deriv=-1), r"deriv must be"),
    (lambda: bsbasis.interval_index([0.5], T[::-1]), r"arr must be sorted"),
    (lambda: bsbasis.interval_index([0.5], [0.0, np.nan]), r"arr must not contain NaN"),
    (lambda: bsbasis.interval_index([np.nan], T), r"keys must not contain NaN"),
    (lambda: bsbasis.interval_index([0.5], T, guess=1.5), r"guess must be an integer"),
    (lambda: bsbasis.interval_index([0.5, 1.0], T, guess=[1, 2, 3]), r"guess has shape"),
])
def test_input_errors(call, pattern):
    with pytest.raises(ValueError, match=pattern):
        call()


def test_too_many_abscissae_refused_before_any_copy():
    # A zero-stride view: 2**31 rows without the memory; converting it would copy.
    x = np.broadcast_to(1.0, (2**31,))
    with pytest.raises(ValueError, match=r"x has 2147483648 elements; at most 2147483647"):
        bsbasis.design_matrix(x, T, 4)


def test_any_numeric_layout_of_x_is_converted_not_misread():
    base = np.array([0.25, 2.5, 1.0, 3.0, 0.0, 1.75])
    ref = bsbasis.design_matrix(base, T, 4).toarray()
    wide = np.zeros(2 * len(base))
    wide[::2] = base
    for x in (wide[::2], base.astype(np.float32), base.astype(">f8"), list(base),
              np.asfortranarray(base), (base * 4).astype(np.int64) / 4):
        np.testing.assert_array_equal(bsbasis.design_matrix(x, T, 4).toarray(), ref)
    np.testing.assert_array_equal(bsbasis.design_matrix([0, 1, 3], T, 4).toarray(),
                                  ref[[4, 2, 3]])
    tt = T.astype(np.float32)[::-1][::-1]
    np.testing.assert_array_equal(bsbasis.design_matrix(base, tt, 4).toarray(), ref)
