"""Natural cubic spline design matrices on top of the library.

The arguments are checked here; the library forms the rows, tile by tile
(see _tiles), NATURAL_WIDTH entries a row.
"""

from __future__ import annotations

import math
from typing import TYPE_CHECKING, Callable, Literal, SupportsIndex, overload

import numpy as np

from . import _lib, _tiles
from ._abi import EXTRAPOLATE_LINEAR, NATURAL_WIDTH
from ._checks import INT32_MAX, as_int, as_real, as_unmasked_vector, check_option, check_threads
from ._core import _abscissae

if TYPE_CHECKING:
    from numpy.typing import ArrayLike, NDArray
    from scipy.sparse import (coo_array, coo_matrix, csc_array, csc_matrix, csr_array,
                              csr_matrix)

    from ._typing import Blocks, NaturalFormat, NaturalResult, Real

FORMAT_NAMES = _tiles.FORMAT_NAMES + ("dense",)


class _NaturalKernel:
    """The rows of the natural cubic splines on [lo, hi] and the interior
    knots.  Rows that have fewer non-zero columns than NATURAL_WIDTH end in
    entries of column -1 (`padded`), which the assembly drops."""

    j64 = False
    padded = True
    entries = NATURAL_WIDTH
    fn: Callable[..., int]

    def __init__(self, lo: float, hi: float, knots: NDArray[np.float64], intercept: bool,
                 nu: int, x: NDArray[np.float64]) -> None:
        self.fn = _lib.kernels().bsbasis_natural_design
        self.args = (lo, hi, knots.ctypes.data, len(knots), int(intercept), nu)
        self.x, self.xp, self.knots = x, x.ctypes.data, len(knots)
        self.keep = knots  # the library reads it at every tile

    def __call__(self, a: int, m: int, ip: int | None, jp: int, Bp: int, nep: int) -> None:
        _lib.check_status(self.fn(*self.args, self.xp + 8 * a, m, ip, jp, Bp, nep))


def check_flag(value: object, name: str) -> bool:
    """`value` as a Python bool; TypeError for anything but a bool."""
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError("%s must be a bool, got %s %r" % (name, type(value).__name__, value))
    return bool(value)


def _boundary(value: Real | None, x: NDArray[np.float64], name: str,
              pick: Callable[[NDArray[np.float64]], np.float64]) -> float:
    """A boundary knot: the value given, or pick (min or max) of the finite
    abscissae."""
    if value is not None:
        value = as_real(value, name)
        if not math.isfinite(value):
            raise ValueError("%s must be finite, got %r" % (name, value))
        return value
    finite = x[np.isfinite(x)]
    if len(finite) == 0:
        raise ValueError("%s is not given and x has no finite abscissa to take it from"
                         % name)
    return float(pick(finite))


def check_natural_knots(knots: ArrayLike, lo: float, hi: float) -> NDArray[np.float64]:
    """The interior knots as a float64 vector: finite, non-decreasing, and
    strictly between the boundary knots lo < hi."""
    if not lo < hi:
        raise ValueError("the boundary knots must satisfy lo < hi, got lo=%r, hi=%r"
                         % (lo, hi))
    if not math.isfinite(hi - lo):
        raise ValueError("the boundary knots [%r, %r] span a length that overflows a double"
                         % (lo, hi))
    kv = as_unmasked_vector(knots, "knots")
    if len(kv) > INT32_MAX - 8:
        raise ValueError("knots has %d elements; too many" % len(kv))
    if len(kv) == 0:
        return kv
    if not np.isfinite(kv).all():
        p = int(np.argmax(~np.isfinite(kv)))
        raise ValueError("knots must be finite: knots[%d] = %r" % (p, float(kv[p])))
    dec = kv[1:] < kv[:-1]
    if dec.any():
        p = int(np.argmax(dec))
        raise ValueError("knots must be non-decreasing: knots[%d] = %r > knots[%d] = %r"
                         % (p, float(kv[p]), p + 1, float(kv[p + 1])))
    outside = (kv <= lo) | (kv >= hi)
    if outside.any():
        p = int(np.argmax(outside))
        raise ValueError("the interior knots must lie strictly between the boundary knots "
                         "lo=%r and hi=%r: knots[%d] = %r" % (lo, hi, p, float(kv[p])))
    return kv


@overload
def natural_design_matrix(x: ArrayLike, knots: ArrayLike, lo: Real | None = ...,
                          hi: Real | None = ..., *, intercept: bool | np.bool_ = ...,
                          nu: SupportsIndex = ..., format: Literal["csr"] = ...,
                          threads: SupportsIndex | None = ...) -> csr_array: ...


@overload
def natural_design_matrix(x: ArrayLike, knots: ArrayLike, lo: Real | None = ...,
                          hi: Real | None = ..., *, intercept: bool | np.bool_ = ...,
                          nu: SupportsIndex = ..., format: Literal["csc"],
                          threads: SupportsIndex | None = ...) -> csc_array: ...


@overload
def natural_design_matrix(x: ArrayLike, knots: ArrayLike, lo: Real | None = ...,
                          hi: Real | None = ..., *, intercept: bool | np.bool_ = ...,
                          nu: SupportsIndex = ..., format: Literal["coo"],
                          threads: SupportsIndex | None = ...) -> coo_array: ...


@overload
def natural_design_matrix(x: ArrayLike, knots: ArrayLike, lo: Real | None = ...,
                          hi: Real | None = ..., *, intercept: bool | np.bool_ = ...,
                          nu: SupportsIndex = ..., format: Literal["csr_matrix"],
                          threads: SupportsIndex | None = ...) -> csr_matrix: ...


@overload
def natural_design_matrix(x: ArrayLike, knots: ArrayLike, lo: Real | None = ...,
                          hi: Real | None = ..., *, intercept: bool | np.bool_ = ...,
                          nu: SupportsIndex = ..., format: Literal["csc_matrix"],
                          threads: SupportsIndex | None = ...) -> csc_matrix: ...


@overload
def natural_design_matrix(x: ArrayLike, knots: ArrayLike, lo: Real | None = ...,
                          hi: Real | None = ..., *, intercept: bool | np.bool_ = ...,
                          nu: SupportsIndex = ..., format: Literal["coo_matrix"],
                          threads: SupportsIndex | None = ...) -> coo_matrix: ...


@overload
def natural_design_matrix(x: ArrayLike, knots: ArrayLike, lo: Real | None = ...,
                          hi: Real | None = ..., *, intercept: bool | np.bool_ = ...,
                          nu: SupportsIndex = ..., format: Literal["blocks"],
                          threads: SupportsIndex | None = ...) -> Blocks: ...


@overload
def natural_design_matrix(x: ArrayLike, knots: ArrayLike, lo: Real | None = ...,
                          hi: Real | None = ..., *, intercept: bool | np.bool_ = ...,
                          nu: SupportsIndex = ..., format: Literal["dense"],
                          threads: SupportsIndex | None = ...) -> NDArray[np.float64]: ...


@overload
def natural_design_matrix(x: ArrayLike, knots: ArrayLike, lo: Real | None = ...,
                          hi: Real | None = ..., *, intercept: bool | np.bool_ = ...,
                          nu: SupportsIndex = ..., format: NaturalFormat,
                          threads: SupportsIndex | None = ...) -> NaturalResult: ...


def natural_design_matrix(x: ArrayLike, knots: ArrayLike, lo: Real | None = None,
                          hi: Real | None = None, *, intercept: bool | np.bool_ = False,
                          nu: SupportsIndex = 0, format: NaturalFormat = "csr",
                          threads: SupportsIndex | None = None
                          ) -> NaturalResult:
    """Natural cubic spline design matrix, as R's ``splines::ns`` forms it.

    The cubic B-splines on the knots ``lo`` (4 times), `knots`, ``hi`` (4
    times), without the first one unless `intercept`, are combined into
    the functions whose second derivative is 0 at ``lo`` and at ``hi``:
    the natural cubic splines.  The combination is R's: Householder
    reflections of the second derivatives at the boundary knots, the last
    columns of their Q.  Beyond ``[lo, hi]`` each function continues as the
    straight line of its value and slope at the nearer boundary knot.

    Parameters
    ----------
    x : array_like, shape (n,), or a scalar
        Abscissae; any finite x is in range.  NaN, +-inf and the entries a
        masked array hides give empty rows.
    knots : array_like, shape (m,)
        Interior knots: finite, non-decreasing and strictly between ``lo``
        and ``hi``; may be empty.
    lo, hi : float, optional
        The boundary knots, ``lo < hi``.  By default the smallest and the
        largest finite abscissa, as R's ``Boundary.knots = range(x)``.
    intercept : bool, default False
        Keep the first B-spline, as R's ``intercept=TRUE``: the columns then
        span the constant function.  Without it every function is 0 at
        ``lo``, and a model's own intercept completes the space.
    nu : int, default 0
        Derivative order: 0 for values, 1, 2, ... for derivatives with
        respect to x.  Beyond ``[lo, hi]`` the first derivative is the
        slope of the line and the higher ones are 0; from 4 on every
        derivative is 0.
    format : {'csr', 'csc', 'coo', 'csr_matrix', 'csc_matrix', 'coo_matrix', 'dense', 'blocks'}
        A scipy sparse array (or matrix, for the ``*_matrix`` names) of
        shape (n, m + 1 + intercept), canonical, holding the non-zero
        entries of each row; 'dense': a C-ordered ndarray of that shape,
        an empty row all zeros; or 'blocks': the raw triplets ``(i, j, B)``
        of ``7 * n`` entries each, block p at entries ``7*p .. 7*p + 6``:
        the row's non-zero columns in increasing order, then entries of
        column -1 and value 0.
    threads : int, optional
        Threads to use: a count, or a negative n for ``cores + 1 + n``
        (-1: every core), as for `design_matrix`.  The result is the same
        bits for any value.

    Returns
    -------
    scipy.sparse array, matrix, ndarray or tuple of three ndarrays
        Shape (n, m + 1 + intercept).  At ``x == hi`` the row holds the
        limits from the left.  A row has at most 7 non-zero entries: the
        four B-splines of its interval, and where these reach the first
        or last three, the columns that the reflections mix with them.

    Raises
    ------
    TypeError
        For arguments of the wrong type: x or knots that are not real
        numbers, lo or hi that are not real numbers, a non-bool intercept,
        a float or bool nu, a format that is not a string.
    ValueError
        For wrong values: lo >= hi, boundary knots that are not finite,
        interior knots that are not finite, decrease or do not lie strictly
        inside ``(lo, hi)``, a negative nu, an unknown format, a threads of
        0 or below minus the cores, and boundary knots left to x when x
        has no finite abscissa.

    See Also
    --------
    design_matrix : The B-spline basis on a knot sequence.
    bsbasis.formula.ns : The same basis as a patsy formula term.
    bsbasis.sklearn.NaturalSplineTransformer : As a scikit-learn transformer.

    Notes
    -----
    The columns are those of R's ``splines::ns(x, knots=knots,
    Boundary.knots=c(lo, hi), intercept=intercept)`` to rounding: R's
    ``qr`` (LINPACK's ``dqrdc2``) reflects the 2-column matrix ``C.T`` of
    the second derivatives of the B-splines at ``lo`` and ``hi`` with
    ``H_l = I - u u^T / u[0]``, ``u = v / ||v||`` (the norm taking the sign
    of ``v[0]``) plus 1 in its first entry, and the basis is ``B @ Q[:,
    2:]`` with ``Q = H_1 H_2``.  Any basis of the same space gives the same
    fitted values in a least-squares fit; this one gives R's coefficients.

    Examples
    --------
    >>> from bsbasis import natural_design_matrix
    >>> natural_design_matrix([0.0, 0.25, 1.0, 2.0], [0.5], 0.0, 1.0,
    ...                       format="dense").round(4)
    array([[ 0.    ,  0.    ],
           [ 0.357 , -0.2172],
           [ 0.3441,  0.7706],
           [-0.4944,  3.3296]])
    """
    nu = as_int(nu, "nu")
    if nu < 0:
        raise ValueError("nu (the derivative order) must be >= 0, got %d" % nu)
    nu = min(nu, 4)  # every order from 4 on gives zeros
    intercept = check_flag(intercept, "intercept")
    check_option(format, "format", FORMAT_NAMES)
    threads = check_threads(threads)
    xv, _ = _abscissae(x, EXTRAPOLATE_LINEAR, 0.0, 0.0, None)
    lo = _boundary(lo, xv, "lo", np.min)
    hi = _boundary(hi, xv, "hi", np.max)
    kv = check_natural_knots(knots, lo, hi)
    kernel = _NaturalKernel(lo, hi, kv, intercept, nu, xv)
    ncols = len(kv) + 1 + intercept
    if format == "dense":
        return _tiles.fill_dense(kernel, len(xv), ncols, threads)
    return _tiles.fill_design(kernel, len(xv), ncols, format, threads)
