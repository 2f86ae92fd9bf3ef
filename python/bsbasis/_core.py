"""Design matrices and interval search on top of the library.

Every argument is checked here before the library runs; the library then
fills the result tile by tile (see _tiles).
"""

from __future__ import annotations

import math
from typing import TYPE_CHECKING, Any, Callable, Literal, Sequence, SupportsIndex, overload

import numpy as np

from . import _lib, _tiles
from ._abi import EXTRAPOLATE_ERROR, EXTRAPOLATE_PERIODIC, EXTRAPOLATE_ZERO
from ._checks import (INT32_MAX, as_int, as_real, as_unmasked_vector, as_vector, check_degree,
                      check_extrapolate, check_knots, check_option, check_threads, range_error)

if TYPE_CHECKING:
    from numpy.typing import ArrayLike, NDArray
    from scipy.sparse import (coo_array, coo_matrix, csc_array, csc_matrix, csr_array,
                              csr_matrix)

    from ._typing import Blocks, DesignFormat, DesignResult, Extrapolate, Real


def _addr(a: NDArray[Any], offset: int) -> int:
    return a.ctypes.data + offset * a.itemsize


# ---------------------------------------------------------------- kernels

class _KnotKernel:
    """Values or derivatives of any order on the knots t.  `knots`: how many
    knots each call checks, which a tile should at least match."""

    j64 = False
    knots = 0
    fn: Callable[..., int]
    args: tuple[float, ...]

    def __init__(self, t: NDArray[np.float64], order: int, nj: int, nu: int, mode: int,
                 x: NDArray[np.float64]) -> None:
        self.fn = _lib.kernels().bsbasis_design
        self.args = (t.ctypes.data, len(t), order, nj, nu, mode)
        self.entries, self.x, self.xp, self.knots = order, x, x.ctypes.data, len(t)

    def __call__(self, a: int, m: int, ip: int | None, jp: int, Bp: int, nep: int) -> None:
        _lib.check_status(self.fn(*self.args, self.xp + 8 * a, m, ip, jp, Bp, nep))


class _UniformKernel(_KnotKernel):
    """The same on the knots origin + m*spacing."""

    def __init__(self, origin: float, spacing: float, n: int, order: int, nu: int, mode: int,
                 x: NDArray[np.float64]) -> None:
        self.fn = _lib.kernels().bsbasis_uniform_design
        self.args = (origin, spacing, n, order, nu, mode)
        self.entries, self.x, self.xp = order, x, x.ctypes.data


class _PeriodicKernel(_KnotKernel):
    """The periodic basis on the breaks."""

    def __init__(self, breaks: NDArray[np.float64], order: int, nu: int,
                 x: NDArray[np.float64]) -> None:
        self.fn = _lib.kernels().bsbasis_periodic_design
        self.args = (breaks.ctypes.data, len(breaks), order, nu)
        self.entries, self.x, self.xp, self.knots = order, x, x.ctypes.data, len(breaks)


# ------------------------------------------------------------ abscissae

def _abscissae(x: ArrayLike, mode: int, lo: float, hi: float,
               ends: tuple[str, str] | None) -> tuple[NDArray[np.float64], int]:
    """x for the library, and the mode to pass it.  Masked abscissae become
    NaN: empty rows, never an error.  Under extrapolate=False the range is
    checked here, so that the error can say where and by how much."""
    x, mask = as_vector(x, "x")
    if mask is not None:
        x = np.where(mask, np.nan, x)
    if mode != EXTRAPOLATE_ERROR or len(x) == 0:
        return x, mode
    if lo <= x.min() and x.max() <= hi:  # False for NaN
        return x, mode
    inside = (x >= lo) & (x <= hi)
    allowed = inside if mask is None else inside | mask
    if not allowed.all():
        assert ends is not None  # every caller under extrapolate=False names the ends
        raise range_error(x, allowed, lo, hi, ends)
    return x, EXTRAPOLATE_ZERO  # only masked rows are outside: they are empty


def _common(k: SupportsIndex, nu: SupportsIndex, fmt: str,
            threads: SupportsIndex | None) -> tuple[int, int, int | None]:
    k, nu = check_degree(k, nu)
    check_option(fmt, "format", _tiles.FORMAT_NAMES)
    return k, nu, check_threads(threads)



@overload
def design_matrix(x: ArrayLike, t: ArrayLike, k: SupportsIndex, *, nu: SupportsIndex = ...,
                  extrapolate: Extrapolate = ..., nj: SupportsIndex | None = ...,
                  format: Literal["csr"] = ...,
                  threads: SupportsIndex | None = ...) -> csr_array: ...


@overload
def design_matrix(x: ArrayLike, t: ArrayLike, k: SupportsIndex, *, nu: SupportsIndex = ...,
                  extrapolate: Extrapolate = ..., nj: SupportsIndex | None = ...,
                  format: Literal["csc"], threads: SupportsIndex | None = ...) -> csc_array: ...


@overload
def design_matrix(x: ArrayLike, t: ArrayLike, k: SupportsIndex, *, nu: SupportsIndex = ...,
                  extrapolate: Extrapolate = ..., nj: SupportsIndex | None = ...,
                  format: Literal["coo"], threads: SupportsIndex | None = ...) -> coo_array: ...


@overload
def design_matrix(x: ArrayLike, t: ArrayLike, k: SupportsIndex, *, nu: SupportsIndex = ...,
                  extrapolate: Extrapolate = ..., nj: SupportsIndex | None = ...,
                  format: Literal["csr_matrix"],
                  threads: SupportsIndex | None = ...) -> csr_matrix: ...


@overload
def design_matrix(x: ArrayLike, t: ArrayLike, k: SupportsIndex, *, nu: SupportsIndex = ...,
                  extrapolate: Extrapolate = ..., nj: SupportsIndex | None = ...,
                  format: Literal["csc_matrix"],
                  threads: SupportsIndex | None = ...) -> csc_matrix: ...


@overload
def design_matrix(x: ArrayLike, t: ArrayLike, k: SupportsIndex, *, nu: SupportsIndex = ...,
                  extrapolate: Extrapolate = ..., nj: SupportsIndex | None = ...,
                  format: Literal["coo_matrix"],
                  threads: SupportsIndex | None = ...) -> coo_matrix: ...


@overload
def design_matrix(x: ArrayLike, t: ArrayLike, k: SupportsIndex, *, nu: SupportsIndex = ...,
                  extrapolate: Extrapolate = ..., nj: SupportsIndex | None = ...,
                  format: Literal["blocks"], threads: SupportsIndex | None = ...) -> Blocks: ...


@overload
def design_matrix(x: ArrayLike, t: ArrayLike, k: SupportsIndex, *, nu: SupportsIndex = ...,
                  extrapolate: Extrapolate = ..., nj: SupportsIndex | None = ...,
                  format: DesignFormat, threads: SupportsIndex | None = ...) -> DesignResult: ...


def design_matrix(x: ArrayLike, t: ArrayLike, k: SupportsIndex, *, nu: SupportsIndex = 0,
                  extrapolate: Extrapolate = False, nj: SupportsIndex | None = None,
                  format: DesignFormat = "csr", threads: SupportsIndex | None = None
                  ) -> DesignResult:
    """B-spline design matrix on a knot sequence.

    Parameters
    ----------
    x : array_like, shape (n,), or a scalar
        Abscissae.  A scalar gives one row.  Entries that a masked array
        hides give empty rows.
    t : array_like, shape (nt,)
        Non-decreasing, finite knots.
    k : int
        Degree of the B-splines (order k + 1), as in scipy.interpolate.
    nu : int, default 0
        Derivative order: 0 for values, 1, 2, ... for derivatives.  From
        k + 1 on the derivatives are 0, as in scipy; the row keeps the
        columns of the values.
    extrapolate : bool or str, default False
        What an abscissa outside the base interval gets:

        - False: ValueError, as scipy raises it for design matrices;
        - 'zero': an empty row;
        - True or 'continue': the end polynomial pieces, continued, as
          scipy's ``extrapolate=True``;
        - 'constant': the row at the nearest end; derivatives 0, as
          scikit-learn's SplineTransformer;
        - 'linear': value and first derivative at the nearest end,
          continued linearly (second and higher derivatives 0), as
          scikit-learn's SplineTransformer;
        - 'periodic': x wrapped into the base interval, as scipy's
          ``extrapolate='periodic'``.

        NaN is never extrapolated: it gives an empty row in every mode but
        False, as do +-inf except under 'constant' and 'zero' (the end row
        and an empty row).  Deliberate difference: under 'constant' with
        k = 0 the row is the end value, where scikit-learn gives zeros.
    nj : int, optional
        Number of basis functions (columns), ``k + 1 <= nj <= nt - k - 1``;
        default ``nt - k - 1``.  The base interval is ``[t[k], t[nj]]``.
    format : {'csr', 'csc', 'coo', 'csr_matrix', 'csc_matrix', 'coo_matrix', 'blocks'}
        A scipy sparse array (or matrix, for the ``*_matrix`` names) of
        shape (n, nj), canonical; or 'blocks': the raw triplets ``(i, j, B)``
        of n*(k+1) entries each, block p at entries p*(k+1) .. p*(k+1)+k,
        where an empty row has column -1 and value 0.
    threads : int, optional
        Threads to use: a count, or a negative n for ``cores + 1 + n``
        (-1: every core, -2: all but one), as scipy's ``workers``.  By
        default every core for large inputs and one for small ones.  No
        more threads than cores are started, and none beyond the number of
        tiles of the work.  The result is the same bits for any value.

    Returns
    -------
    scipy.sparse array, matrix or tuple of three ndarrays
        Row p holds the k+1 B-splines (or derivatives) that are non-zero at
        x[p], in the columns J-k .. J of the interval t[J] <= x[p] < t[J+1].
        The base interval is closed: at ``x == t[nj]`` the row holds the
        limits from the left, exactly (see Notes).

    Raises
    ------
    TypeError
        For arguments of the wrong type: a float k, a bool nu, an x or t
        that is complex, boolean, string or object, an extrapolate that is
        neither a bool nor a string.
    ValueError
        For wrong values: knots that are not finite, decrease, overflow
        (``t[-1] - t[0]`` not finite) or are too few, an empty base
        interval, nj out of range, a negative nu, an unknown mode, a
        threads of 0 or below minus the cores, and abscissae outside the
        base interval when extrapolate is False.

    See Also
    --------
    uniform_design_matrix : The same on a uniform grid, faster.
    periodic_design_matrix, tensor_design_matrix : Other bases.
    normal_equations : ``X.T @ W @ X`` without X.
    scipy.interpolate.BSpline.design_matrix : Scipy's, for comparison.

    Notes
    -----
    The row at the right end ``t[nj]`` is the limit from the left, exactly:
    a column whose limit there is 0 holds 0, and at a clamped end the row
    is the unit vector of the last column, as scipy gives.

    **Empty end intervals: a deliberate difference from scipy.**  When an
    end interval of the base interval is empty (``t[nj-1] == t[nj]``, or
    ``t[k] == t[k+1]``), bsbasis takes the nearest interval that is not
    empty, as R's ``splines::splineDesign`` does: the row at ``t[nj]`` is
    the limit from the left of the last piece, and abscissae beyond an end
    (under ``extrapolate=True``, 'constant' or 'linear') continue the end
    piece that is not empty.  scipy evaluates the empty interval itself: it
    gives a row of zeros there for ``k >= 1``, and for ``k = 0`` a 1 in the
    last column, a B-spline whose support is empty.  bsbasis keeps the limit
    because the basis functions of an empty interval are identically zero:
    an observation at the end of the data keeps its row in a fit, and the
    row sums to 1 as everywhere else in the base interval.  One place where
    this shows: ``make_interp_spline(x, y, k=0)`` builds ``t = x`` with the
    last knot repeated, so its spline evaluated through bsbasis gives
    ``y[-2]`` at ``x[-1]`` where scipy gives ``y[-1]``; evaluate such an
    interpolant with scipy's ``BSpline``.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis import design_matrix
    >>> t = np.r_[[0.0] * 3, 0.5, [1.0] * 3]
    >>> design_matrix([0.0, 0.25, 1.0], t, 2).toarray()
    array([[1.   , 0.   , 0.   , 0.   ],
           [0.25 , 0.625, 0.125, 0.   ],
           [0.   , 0.   , 0.   , 1.   ]])
    """
    k, nu, threads = _common(k, nu, format, threads)
    mode = check_extrapolate(extrapolate)
    tv = as_unmasked_vector(t, "t")
    nj = check_knots(tv, k, nj)
    lo, hi = float(tv[k]), float(tv[nj])
    xv, mode = _abscissae(x, mode, lo, hi, ("t[%d]" % k, "t[%d]" % nj))
    kernel = _KnotKernel(tv, k + 1, nj, nu, mode, xv)
    return _tiles.fill_design(kernel, len(xv), nj, format, threads)


def _check_grid(origin: Real, spacing: Real, k: int, n: int) -> tuple[float, float]:
    origin = as_real(origin, "origin")
    spacing = as_real(spacing, "spacing")
    if not math.isfinite(origin):
        raise ValueError("origin must be finite, got %r" % origin)
    if not (math.isfinite(spacing) and spacing > 0):
        raise ValueError("spacing must be finite and positive, got %r" % spacing)
    last = origin + (n + k) * spacing
    if not math.isfinite(last):
        raise ValueError("the last knot origin + (n+k)*spacing = %r + %d*%r overflows"
                         % (origin, n + k, spacing))
    # Distinct knots need a spacing well above the resolution of the values.
    resolution = float(np.spacing(max(abs(origin), abs(last), (n + k) * spacing)))
    if not spacing > 2.0 * resolution:
        raise ValueError("spacing=%r is below the resolution of the knots (%r near %r): "
                         "neighbouring knots origin + m*spacing would coincide"
                         % (spacing, resolution, max(abs(origin), abs(last))))
    return origin, spacing


def uniform_grid(k: int, n: SupportsIndex, origin: Real,
                 spacing: Real) -> tuple[int, float, float, float, float]:
    """Checks the uniform grid of n functions of degree k; returns n, origin,
    spacing and the base interval [lo, hi] as the library forms it."""
    n = as_int(n, "n")
    order = k + 1
    if n < order:
        raise ValueError("n=%d is below k+1 = %d: the base interval [k, n] would be empty"
                         % (n, order))
    if n + order > INT32_MAX:
        raise ValueError("n + k + 1 = %d exceeds %d" % (n + order, INT32_MAX))
    origin, spacing = _check_grid(origin, spacing, k, n)
    plain = origin == 0.0 and spacing == 1.0
    lo = float(k) if plain else origin + k * spacing
    hi = float(n) if plain else origin + n * spacing
    return n, origin, spacing, lo, hi


@overload
def uniform_design_matrix(x: ArrayLike, k: SupportsIndex, n: SupportsIndex, *,
                          nu: SupportsIndex = ..., origin: Real = ..., spacing: Real = ...,
                          extrapolate: Extrapolate = ..., format: Literal["csr"] = ...,
                          threads: SupportsIndex | None = ...) -> csr_array: ...


@overload
def uniform_design_matrix(x: ArrayLike, k: SupportsIndex, n: SupportsIndex, *,
                          nu: SupportsIndex = ..., origin: Real = ..., spacing: Real = ...,
                          extrapolate: Extrapolate = ..., format: Literal["csc"],
                          threads: SupportsIndex | None = ...) -> csc_array: ...


@overload
def uniform_design_matrix(x: ArrayLike, k: SupportsIndex, n: SupportsIndex, *,
                          nu: SupportsIndex = ..., origin: Real = ..., spacing: Real = ...,
                          extrapolate: Extrapolate = ..., format: Literal["coo"],
                          threads: SupportsIndex | None = ...) -> coo_array: ...


@overload
def uniform_design_matrix(x: ArrayLike, k: SupportsIndex, n: SupportsIndex, *,
                          nu: SupportsIndex = ..., origin: Real = ..., spacing: Real = ...,
                          extrapolate: Extrapolate = ..., format: Literal["csr_matrix"],
                          threads: SupportsIndex | None = ...) -> csr_matrix: ...


@overload
def uniform_design_matrix(x: ArrayLike, k: SupportsIndex, n: SupportsIndex, *,
                          nu: SupportsIndex = ..., origin: Real = ..., spacing: Real = ...,
                          extrapolate: Extrapolate = ..., format: Literal["csc_matrix"],
                          threads: SupportsIndex | None = ...) -> csc_matrix: ...


@overload
def uniform_design_matrix(x: ArrayLike, k: SupportsIndex, n: SupportsIndex, *,
                          nu: SupportsIndex = ..., origin: Real = ..., spacing: Real = ...,
                          extrapolate: Extrapolate = ..., format: Literal["coo_matrix"],
                          threads: SupportsIndex | None = ...) -> coo_matrix: ...


@overload
def uniform_design_matrix(x: ArrayLike, k: SupportsIndex, n: SupportsIndex, *,
                          nu: SupportsIndex = ..., origin: Real = ..., spacing: Real = ...,
                          extrapolate: Extrapolate = ..., format: Literal["blocks"],
                          threads: SupportsIndex | None = ...) -> Blocks: ...


@overload
def uniform_design_matrix(x: ArrayLike, k: SupportsIndex, n: SupportsIndex, *,
                          nu: SupportsIndex = ..., origin: Real = ..., spacing: Real = ...,
                          extrapolate: Extrapolate = ..., format: DesignFormat,
                          threads: SupportsIndex | None = ...) -> DesignResult: ...


def uniform_design_matrix(x: ArrayLike, k: SupportsIndex, n: SupportsIndex, *,
                          nu: SupportsIndex = 0, origin: Real = 0.0, spacing: Real = 1.0,
                          extrapolate: Extrapolate = False, format: DesignFormat = "csr",
                          threads: SupportsIndex | None = None) -> DesignResult:
    """B-spline design matrix on a uniform grid.

    Knot m lies at ``origin + m*spacing`` for m = 0 .. n+k, so there are n
    basis functions of degree k and the base interval is
    ``[origin + k*spacing, origin + n*spacing]``, closed.  The other
    parameters are those of `design_matrix`; derivatives are with respect
    to x (divided by spacing once per order).

    An abscissa is placed among the knots as they round in floating point:
    one equal to a knot is on it.  The ends of the base interval are such
    knots too, and an abscissa that misses them by rounding (for example
    0.3 against ``3*0.1``) is outside, as in scipy; the error says by how
    much.

    Parameters
    ----------
    x : array_like, shape (m,), or a scalar
        Abscissae, as for `design_matrix`.
    k : int
        Degree.
    n : int
        Number of basis functions (columns), at least k + 1.
    nu : int, default 0
        Derivative order, as for `design_matrix`.
    origin, spacing : float, default 0.0 and 1.0
        The grid: finite, spacing > 0 and above the resolution of the
        knots.
    extrapolate : bool or str, default False
        What an abscissa outside the base interval gets, as for
        `design_matrix`.
    format : str, default 'csr'
        Output format, one of the names `design_matrix` takes.
    threads : int, optional
        A count, or a negative n for ``cores + 1 + n`` (-1: every core),
        as for `design_matrix`.  The result is the same bits for any value.

    Returns
    -------
    scipy.sparse array, matrix or tuple of three ndarrays
        Shape (m, n), as `design_matrix` returns it for the knots
        ``origin + spacing * np.arange(n + k + 1)``.

    Raises
    ------
    TypeError
        As `design_matrix`; for an n that is not an integer, an origin or
        spacing that is not a real number.
    ValueError
        As `design_matrix`; for n < k + 1, a spacing that is not positive
        or too fine, a grid that overflows.

    See Also
    --------
    design_matrix : The same on any knots.

    Examples
    --------
    >>> from bsbasis import uniform_design_matrix
    >>> uniform_design_matrix([1.0, 1.5], 1, 3).toarray()
    array([[1. , 0. , 0. ],
           [0.5, 0.5, 0. ]])
    """
    k, nu, threads = _common(k, nu, format, threads)
    mode = check_extrapolate(extrapolate)
    n, origin, spacing, lo, hi = uniform_grid(k, n, origin, spacing)
    order = k + 1
    xv, mode = _abscissae(x, mode, lo, hi, ("origin + k*spacing", "origin + n*spacing"))
    kernel = _UniformKernel(origin, spacing, n, order, nu, mode, xv)
    return _tiles.fill_design(kernel, len(xv), n, format, threads)


@overload
def periodic_design_matrix(x: ArrayLike, breaks: ArrayLike, k: SupportsIndex, *,
                           nu: SupportsIndex = ..., format: Literal["csr"] = ...,
                           threads: SupportsIndex | None = ...) -> csr_array: ...


@overload
def periodic_design_matrix(x: ArrayLike, breaks: ArrayLike, k: SupportsIndex, *,
                           nu: SupportsIndex = ..., format: Literal["csc"],
                           threads: SupportsIndex | None = ...) -> csc_array: ...


@overload
def periodic_design_matrix(x: ArrayLike, breaks: ArrayLike, k: SupportsIndex, *,
                           nu: SupportsIndex = ..., format: Literal["coo"],
                           threads: SupportsIndex | None = ...) -> coo_array: ...


@overload
def periodic_design_matrix(x: ArrayLike, breaks: ArrayLike, k: SupportsIndex, *,
                           nu: SupportsIndex = ..., format: Literal["csr_matrix"],
                           threads: SupportsIndex | None = ...) -> csr_matrix: ...


@overload
def periodic_design_matrix(x: ArrayLike, breaks: ArrayLike, k: SupportsIndex, *,
                           nu: SupportsIndex = ..., format: Literal["csc_matrix"],
                           threads: SupportsIndex | None = ...) -> csc_matrix: ...


@overload
def periodic_design_matrix(x: ArrayLike, breaks: ArrayLike, k: SupportsIndex, *,
                           nu: SupportsIndex = ..., format: Literal["coo_matrix"],
                           threads: SupportsIndex | None = ...) -> coo_matrix: ...


@overload
def periodic_design_matrix(x: ArrayLike, breaks: ArrayLike, k: SupportsIndex, *,
                           nu: SupportsIndex = ..., format: Literal["blocks"],
                           threads: SupportsIndex | None = ...) -> Blocks: ...


@overload
def periodic_design_matrix(x: ArrayLike, breaks: ArrayLike, k: SupportsIndex, *,
                           nu: SupportsIndex = ..., format: DesignFormat,
                           threads: SupportsIndex | None = ...) -> DesignResult: ...


def periodic_design_matrix(x: ArrayLike, breaks: ArrayLike, k: SupportsIndex, *,
                           nu: SupportsIndex = 0, format: DesignFormat = "csr",
                           threads: SupportsIndex | None = None) -> DesignResult:
    """Periodic B-spline design matrix.

    The m + 1 strictly increasing breaks ``u[0] < ... < u[m]`` span one
    period, ``u[m] - u[0]``.  The knots continue the breaks periodically
    on both sides, and the basis has m functions of degree k: a function
    that leaves the period on the right continues in the columns on the
    left.  This is scikit-learn's periodic SplineTransformer basis
    (``knots=breaks[:, None], extrapolation='periodic'``).

    Parameters
    ----------
    x : array_like, shape (n,), or a scalar
        Abscissae.  Any finite x is in range: it is wrapped into
        ``[u[0], u[m])``.  NaN, +-inf and masked entries give empty rows.
    breaks : array_like, shape (m + 1,)
        Finite, strictly increasing; m >= k + 1.
    k : int
        Degree.
    nu : int, default 0
        Derivative order, as for `design_matrix`.
    format : str, default 'csr'
        Output format, one of the names `design_matrix` takes.
    threads : int, optional
        Threads to use, as for `design_matrix`.  The result is the same
        bits for any value.

    Returns
    -------
    scipy.sparse array, matrix or tuple of three ndarrays
        Shape (n, m).  Columns within a row are sorted, so the CSR is
        canonical.

    Raises
    ------
    TypeError
        As `design_matrix`; for breaks that are not real numbers.
    ValueError
        As `design_matrix`; for fewer than k + 2 breaks, breaks that are
        not finite or not strictly increasing, a period that overflows.

    See Also
    --------
    design_matrix : The basis on a knot sequence.
    bsbasis.sklearn.SplineTransformer : The periodic basis as a transformer.

    Notes
    -----
    scikit-learn accepts m = k, where the first and the last function of
    a row fall in the same column; it is refused here (ValueError), so
    that every row keeps k + 1 distinct columns.

    Examples
    --------
    >>> from bsbasis import periodic_design_matrix
    >>> periodic_design_matrix([0.0, 3.5], [0.0, 1.0, 2.0, 3.0], 1).toarray()
    array([[1. , 0. , 0. ],
           [0.5, 0.5, 0. ]])
    """
    k, nu, threads = _common(k, nu, format, threads)
    u = as_unmasked_vector(breaks, "breaks")
    m = len(u) - 1
    if m < k + 1:
        raise ValueError("breaks has %d elements: degree k=%d needs at least k+2 = %d "
                         "(k+1 intervals in the period)" % (len(u), k, k + 2))
    if len(u) > INT32_MAX - 2 * (k + 1):
        raise ValueError("breaks has %d elements; too many" % len(u))
    if not np.isfinite(u).all():
        p = int(np.argmax(~np.isfinite(u)))
        raise ValueError("breaks must be finite: breaks[%d] = %r" % (p, float(u[p])))
    inc = u[1:] > u[:-1]
    if not inc.all():
        p = int(np.argmax(~inc))
        raise ValueError("breaks must be strictly increasing: breaks[%d] = %r, "
                         "breaks[%d] = %r" % (p, float(u[p]), p + 1, float(u[p + 1])))
    period = float(u[-1] - u[0])
    if not math.isfinite(period) or not math.isfinite(float(u[-1]) + period) or \
            not math.isfinite(float(u[0]) - period):
        raise ValueError("the period breaks[-1] - breaks[0] overflows, or the knots "
                         "continued a period beyond the breaks do")
    xv, _ = _abscissae(x, EXTRAPOLATE_PERIODIC, 0.0, 0.0, None)
    kernel = _PeriodicKernel(u, k + 1, nu, xv)
    return _tiles.fill_design(kernel, len(xv), m, format, threads)


# ---------------------------------------------------------------- tensor

def _per_dimension(value: SupportsIndex | Sequence[SupportsIndex] | None, d: int, name: str,
                   default: int) -> list[int]:
    """An int, or a sequence of d ints, as a list of d ints."""
    if value is None:
        return [default] * d
    # np.ndim takes any object, 0 for a scalar; from 1 on value is a sequence.
    if np.ndim(value) == 0:  # type: ignore[arg-type]
        return [as_int(value, name)] * d
    vals = list(value)  # type: ignore[arg-type]
    if len(vals) != d:
        raise ValueError("%s has %d entries; it must have one per dimension (%d)"
                         % (name, len(vals), d))
    return [as_int(v, name) for v in vals]


def _points(xvals: ArrayLike, d: int) -> tuple[NDArray[np.float64], NDArray[np.bool_] | None]:
    """xvals as a C-contiguous float64 (npts, d) array, masked entries NaN."""
    if isinstance(xvals, (str, bytes)):
        raise TypeError("xvals must be an array of real numbers, got a string")
    mask = None
    if isinstance(xvals, np.ma.MaskedArray):
        # numpy's stubs leave numpy.ma untyped.
        mask = np.ma.getmaskarray(xvals)  # type: ignore[no-untyped-call]
        xvals = np.ma.getdata(xvals)  # type: ignore[no-untyped-call]
    a = np.asarray(xvals)
    if a.dtype.kind not in "iuf":
        raise TypeError("xvals must hold real numbers, got dtype %s" % a.dtype)
    if a.ndim != 2 or a.shape[1] != d:
        raise ValueError("xvals must have shape (npts, %d) for %d knot vectors, got %s"
                         % (d, d, a.shape))
    a = np.require(a, np.float64, ["C", "A"])
    if mask is not None and mask.any():
        a = np.where(mask.any(axis=1)[:, None], np.nan, a)
    return np.ascontiguousarray(a), mask


def _within_all(x: NDArray[np.float64], tvs: list[NDArray[np.float64]], ks: list[int],
                njs: list[int]) -> bool:
    """Whether every coordinate lies in every dimension's base interval:
    two passes over the contiguous points rather than two per strided
    column.  True proves each column in its own interval; False (bases on
    other ranges, NaN) leaves it to the check per column."""
    flat = x.reshape(-1)
    lo = max(float(tv[k]) for tv, k in zip(tvs, ks))
    hi = min(float(tv[nj]) for tv, nj in zip(tvs, njs))
    return bool(lo <= flat.min() and flat.max() <= hi)  # False for NaN


class _TensorKernel:
    """Kronecker rows of d bases."""

    def __init__(self, ts: list[NDArray[np.float64]], orders: list[int], njs: list[int],
                 nus: list[int], mode: int, x: NDArray[np.float64], j64: bool) -> None:
        d = len(ts)
        self.fn = _lib.kernels().bsbasis_tensor_design
        # The arrays stay referenced: the library reads them at each tile.
        # Five arrays of the parameters, then the knot arrays and x.
        self.arrays: list[Any] = [np.array([tv.ctypes.data for tv in ts], np.uintp),
                       np.array([len(tv) for tv in ts], np.int64),
                       np.array(orders, np.int32), np.array(njs, np.int64),
                       np.array(nus, np.int32), ts, x]
        self.tp, self.ntp, self.op, self.njp, self.nup = (
            v.ctypes.data for v in self.arrays[:5])
        self.d, self.mode, self.xp, self.j64 = d, mode, x.ctypes.data, j64
        self.entries = int(np.prod(orders))
        self.knots = sum(len(tv) for tv in ts)

    def __call__(self, a: int, m: int, ip: int | None, jp: int, Bp: int, nep: int) -> None:
        j32, j64 = (None, jp) if self.j64 else (jp, None)
        _lib.check_status(self.fn(self.d, self.tp, self.ntp, self.op, self.njp, self.nup,
                                  self.mode, self.xp + 8 * self.d * a, m, ip, j32, j64,
                                  Bp, nep))


@overload
def tensor_design_matrix(xvals: ArrayLike, t: Sequence[ArrayLike] | NDArray[Any],
                         k: SupportsIndex | Sequence[SupportsIndex], *,
                         nu: SupportsIndex | Sequence[SupportsIndex] | None = ...,
                         extrapolate: Extrapolate = ..., format: Literal["csr"] = ...,
                         threads: SupportsIndex | None = ...) -> csr_array: ...


@overload
def tensor_design_matrix(xvals: ArrayLike, t: Sequence[ArrayLike] | NDArray[Any],
                         k: SupportsIndex | Sequence[SupportsIndex], *,
                         nu: SupportsIndex | Sequence[SupportsIndex] | None = ...,
                         extrapolate: Extrapolate = ..., format: Literal["csc"],
                         threads: SupportsIndex | None = ...) -> csc_array: ...


@overload
def tensor_design_matrix(xvals: ArrayLike, t: Sequence[ArrayLike] | NDArray[Any],
                         k: SupportsIndex | Sequence[SupportsIndex], *,
                         nu: SupportsIndex | Sequence[SupportsIndex] | None = ...,
                         extrapolate: Extrapolate = ..., format: Literal["coo"],
                         threads: SupportsIndex | None = ...) -> coo_array: ...


@overload
def tensor_design_matrix(xvals: ArrayLike, t: Sequence[ArrayLike] | NDArray[Any],
                         k: SupportsIndex | Sequence[SupportsIndex], *,
                         nu: SupportsIndex | Sequence[SupportsIndex] | None = ...,
                         extrapolate: Extrapolate = ..., format: Literal["csr_matrix"],
                         threads: SupportsIndex | None = ...) -> csr_matrix: ...


@overload
def tensor_design_matrix(xvals: ArrayLike, t: Sequence[ArrayLike] | NDArray[Any],
                         k: SupportsIndex | Sequence[SupportsIndex], *,
                         nu: SupportsIndex | Sequence[SupportsIndex] | None = ...,
                         extrapolate: Extrapolate = ..., format: Literal["csc_matrix"],
                         threads: SupportsIndex | None = ...) -> csc_matrix: ...


@overload
def tensor_design_matrix(xvals: ArrayLike, t: Sequence[ArrayLike] | NDArray[Any],
                         k: SupportsIndex | Sequence[SupportsIndex], *,
                         nu: SupportsIndex | Sequence[SupportsIndex] | None = ...,
                         extrapolate: Extrapolate = ..., format: Literal["coo_matrix"],
                         threads: SupportsIndex | None = ...) -> coo_matrix: ...


@overload
def tensor_design_matrix(xvals: ArrayLike, t: Sequence[ArrayLike] | NDArray[Any],
                         k: SupportsIndex | Sequence[SupportsIndex], *,
                         nu: SupportsIndex | Sequence[SupportsIndex] | None = ...,
                         extrapolate: Extrapolate = ..., format: Literal["blocks"],
                         threads: SupportsIndex | None = ...) -> Blocks: ...


@overload
def tensor_design_matrix(xvals: ArrayLike, t: Sequence[ArrayLike] | NDArray[Any],
                         k: SupportsIndex | Sequence[SupportsIndex], *,
                         nu: SupportsIndex | Sequence[SupportsIndex] | None = ...,
                         extrapolate: Extrapolate = ..., format: DesignFormat,
                         threads: SupportsIndex | None = ...) -> DesignResult: ...


def tensor_design_matrix(xvals: ArrayLike, t: Sequence[ArrayLike] | NDArray[Any],
                         k: SupportsIndex | Sequence[SupportsIndex], *,
                         nu: SupportsIndex | Sequence[SupportsIndex] | None = None,
                         extrapolate: Extrapolate = False, format: DesignFormat = "csr",
                         threads: SupportsIndex | None = None) -> DesignResult:
    """Tensor-product B-spline design matrix.

    Parameters
    ----------
    xvals : array_like, shape (npts, d)
        Points.  A row with a masked or (except under extrapolate=False)
        NaN coordinate is empty.
    t : sequence of d array_like
        The knot vector of each dimension, as for `design_matrix`.
    k : int or sequence of d ints
        Degrees; required (None is refused, as in `design_matrix`).
    nu : int or sequence of d ints, optional
        Derivative order in each dimension; default 0 (values).
    extrapolate : bool or str, default False
        As for `design_matrix`, in every dimension.  A row is empty when
        any of its coordinates gives an empty row.
    format : str, default 'csr'
        Output format, one of the names `design_matrix` takes.
    threads : int, optional
        Threads to use, as for `design_matrix`.  The result is the same
        bits for any value.

    Returns
    -------
    scipy.sparse array, matrix or tuple of three ndarrays
        Shape (npts, prod(nj)) with ``nj[a] = len(t[a]) - k[a] - 1``.  Row p
        is the Kronecker product of the d rows of x[p, 0], ..., x[p, d-1]:
        columns in C order (the last dimension varies fastest), as scipy's
        ``NdBSpline.design_matrix``; values multiplied left to right.

    Raises
    ------
    TypeError
        As `design_matrix` in each dimension; for a t that is not a
        sequence of knot vectors, a k or nu that is not an integer (None
        included for k) or a sequence of them.
    ValueError
        As `design_matrix` in each dimension; for a k or nu with another
        number of entries than t, xvals not of shape (npts, d), more than
        64 dimensions or 2**63 - 1 columns.

    See Also
    --------
    design_matrix : One dimension.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis import tensor_design_matrix
    >>> t = np.array([0.0, 0.0, 1.0, 1.0])
    >>> tensor_design_matrix([[0.25, 0.5]], [t, t], 1).toarray()
    array([[0.375, 0.375, 0.125, 0.125]])
    """
    check_option(format, "format", _tiles.FORMAT_NAMES)
    threads = check_threads(threads)
    mode = check_extrapolate(extrapolate)
    if not (isinstance(t, (list, tuple)) or isinstance(t, np.ndarray) and t.ndim == 2):
        raise TypeError("t must be a sequence of knot vectors, one per dimension, got %s"
                        % type(t).__name__)
    ts = list(t)
    d = len(ts)
    if not 1 <= d <= 64:
        raise ValueError("t must hold between 1 and 64 knot vectors, got %d" % d)
    if k is None:
        raise TypeError("k must be an integer or a sequence of integers, got None")
    ks = _per_dimension(k, d, "k", 0)
    nus = _per_dimension(nu, d, "nu", 0)
    tvs, njs = [], []
    for a in range(d):
        ks[a], nus[a] = check_degree(ks[a], nus[a])
        tv = as_unmasked_vector(ts[a], "t[%d]" % a)
        njs.append(check_knots(tv, ks[a], None))
        tvs.append(tv)
    orders = [kk + 1 for kk in ks]
    ncols = math.prod(njs)
    if ncols > 2**63 - 1:
        raise ValueError("the tensor basis has %d columns; at most 2**63 - 1" % ncols)
    x, mask = _points(xvals, d)
    if mode == EXTRAPOLATE_ERROR and len(x) and not _within_all(x, tvs, ks, njs):
        for a in range(d):
            lo, hi = float(tvs[a][ks[a]]), float(tvs[a][njs[a]])
            col = x[:, a]
            if not (lo <= col.min() and col.max() <= hi):
                allowed = (col >= lo) & (col <= hi)
                if mask is not None:
                    allowed |= mask.any(axis=1)
                if not allowed.all():
                    raise ValueError("xvals[:, %d]: %s" % (a, range_error(
                        col, allowed, lo, hi, ("t[%d][%d]" % (a, ks[a]),
                                               "t[%d][%d]" % (a, njs[a]))).args[0]))
                mode = EXTRAPOLATE_ZERO
    E = math.prod(orders)
    if E > INT32_MAX:
        raise ValueError("rows of %d entries are too long" % E)
    idx = _tiles.index_dtype(len(x), E, ncols)
    kernel = _TensorKernel(tvs, orders, njs, nus, mode, x, idx == np.int64)
    return _tiles.fill_design(kernel, len(x), ncols, format, threads)


def interval_index(keys: ArrayLike, arr: ArrayLike,
                   guess: ArrayLike | None = None) -> NDArray[np.int32]:
    """Interval index of every key in the sorted array `arr`, as int32.

    -1 below arr[0], len(arr) above arr[-1], otherwise the largest m with
    arr[m] <= key.  The result has the shape of `keys`.

    Each search starts from the answer for the key before it, which is fast
    for sorted keys.  `guess` (an integer, or one per key) is checked but
    only a hint: the answer never depends on it, and values beyond the
    array are clamped to it.

    Parameters
    ----------
    keys : array_like of real numbers
        The keys, any shape; no NaN.
    arr : array_like of real numbers, shape (n,)
        Sorted (non-decreasing); no NaN.
    guess : int or array_like of ints, optional
        Where to start the search: one for all keys or one per key.

    Returns
    -------
    ndarray of int32
        The interval indices, of the shape of keys.

    Raises
    ------
    TypeError
        For keys or arr that are not real numbers, a guess that is not an
        integer or an array of integers.
    ValueError
        For NaN in keys or arr, an arr that is not sorted or has more than
        2**31 - 1 elements, a guess of another size than the keys.

    See Also
    --------
    numpy.searchsorted : ``searchsorted(arr, keys, 'right') - 1`` is the
        same answer.

    Examples
    --------
    >>> from bsbasis import interval_index
    >>> interval_index([-1.0, 0.0, 0.5, 2.0, 3.0], [0.0, 1.0, 2.0])
    array([-1,  0,  0,  2,  3], dtype=int32)
    """
    a = as_unmasked_vector(arr, "arr")
    if len(a) > INT32_MAX:
        raise ValueError("arr has %d elements; at most %d are supported" % (len(a), INT32_MAX))
    if np.isnan(a).any():
        raise ValueError("arr must not contain NaN: arr[%d] is NaN" % int(np.argmax(np.isnan(a))))
    dec = a[1:] < a[:-1]
    if dec.any():
        m = int(np.argmax(dec))
        raise ValueError("arr must be sorted (non-decreasing): arr[%d] = %r > arr[%d] = %r"
                         % (m, float(a[m]), m + 1, float(a[m + 1])))
    if isinstance(keys, (str, bytes)):
        raise TypeError("keys must be an array of real numbers, got a string")
    shape = np.shape(keys)
    kv = as_unmasked_vector(np.ravel(keys) if np.ndim(keys) > 1 else keys, "keys")
    if np.isnan(kv).any():
        raise ValueError("keys must not contain NaN: keys[%d] is NaN"
                         % int(np.argmax(np.isnan(kv))))
    if guess is not None:
        _check_guess(guess, len(kv))
    out = np.empty(len(kv), dtype=np.int32)
    lib = _lib.kernels()
    for s in range(0, len(kv), INT32_MAX):
        e = min(s + INT32_MAX, len(kv))
        lib.binary_search(_addr(kv, s), _addr(out, s), e - s, a.ctypes.data, len(a))
    return out.reshape(shape)


def _check_guess(guess: ArrayLike, nkeys: int) -> None:
    if np.ndim(guess) == 0:
        as_int(guess, "guess")
        return
    g = np.asarray(guess)
    if g.dtype.kind == "O":  # integers beyond int64
        np.frompyfunc(lambda v: as_int(v, "guess"), 1, 1)(g)
    elif g.dtype.kind not in "iu":
        raise TypeError("guess must be an integer or an array of integers, got dtype %s"
                        % g.dtype)
    if g.size != 1 and g.size != nkeys:
        raise ValueError("guess has %d elements; it must be a scalar or have one per key (%d)"
                         % (g.size, nkeys))
