"""Penalty matrices for penalized splines, and knots placed from data."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Literal, SupportsIndex, Union, overload

import numpy as np
import scipy.sparse as sp

from . import _lib
from ._abi import (BOUNDARY_CLAMPED, BOUNDARY_EXTENDED, ERROR_DATA, KNOTS_QUANTILE,
                   KNOTS_UNIFORM)
from ._checks import INT32_MAX, as_int, as_unmasked_vector, check_knots, check_option

if TYPE_CHECKING:
    from numpy.typing import ArrayLike, NDArray
    from scipy.sparse import csr_array, csr_matrix

    from ._typing import PenaltyFormat

    # A penalty in any of its formats.
    _Penalty = Union[NDArray[np.float64], csr_array, csr_matrix]

_PENALTY_FORMATS = ("banded", "csr", "csr_matrix")
# make_knots' kind and boundary by name, each the library's code of that name.
_KINDS = {"uniform": KNOTS_UNIFORM, "quantile": KNOTS_QUANTILE}
_BOUNDARIES = {"clamped": BOUNDARY_CLAMPED, "extended": BOUNDARY_EXTENDED}


def _symmetric(ab: NDArray[np.float64], format: PenaltyFormat) -> _Penalty:
    """The banded upper form ab, shape (u+1, n), as `format`."""
    if format == "banded":
        return ab
    u, n = ab.shape[0] - 1, ab.shape[1]
    rows: list[NDArray[np.int_]] = []
    cols: list[NDArray[np.int_]] = []
    vals: list[NDArray[np.float64]] = []
    for d in range(u + 1):
        c = np.arange(d, n)
        v = ab[u - d, d:]
        rows += [c - d] + ([c] if d else [])
        cols += [c] + ([c - d] if d else [])
        vals += [v] + ([v] if d else [])
    cls = sp.csr_array if format == "csr" else sp.csr_matrix
    a = cls((np.concatenate(vals), (np.concatenate(rows), np.concatenate(cols))), shape=(n, n))
    a.eliminate_zeros()
    a.sort_indices()
    return a


@overload
def difference_penalty(n: SupportsIndex, order: SupportsIndex = ..., *,
                       format: Literal["banded"] = ...) -> NDArray[np.float64]: ...


@overload
def difference_penalty(n: SupportsIndex, order: SupportsIndex = ..., *,
                       format: Literal["csr"]) -> csr_array: ...


@overload
def difference_penalty(n: SupportsIndex, order: SupportsIndex = ..., *,
                       format: Literal["csr_matrix"]) -> csr_matrix: ...


@overload
def difference_penalty(n: SupportsIndex, order: SupportsIndex = ..., *,
                       format: PenaltyFormat) -> _Penalty: ...


def difference_penalty(n: SupportsIndex, order: SupportsIndex = 2, *,
                       format: PenaltyFormat = "banded") -> _Penalty:
    """Difference penalty ``D.T @ D`` of P-splines.

    Parameters
    ----------
    n : int
        Number of coefficients, at least 1.
    order : int, optional
        Order of the differences, 1 to 4.  Default 2.
    format : {'banded', 'csr', 'csr_matrix'}, optional
        'banded' gives the upper band form that
        `scipy.linalg.solveh_banded` takes: an array ``ab`` of shape
        ``(order + 1, n)`` with ``ab[order + i - j, j] == P[i, j]`` for
        ``i <= j``, zeros where no element lies.  'csr' gives the full
        symmetric matrix as a `scipy.sparse.csr_array`, 'csr_matrix' as a
        `scipy.sparse.csr_matrix`.

    Returns
    -------
    ndarray or sparse matrix
        ``D.T @ D`` for the ``(n - order, n)`` difference matrix ``D`` of
        ``np.diff(np.eye(n), order, axis=0)``; exact integers.  Zero when
        ``n <= order``.

    Raises
    ------
    TypeError
        For a non-integer n or order, a non-string format.
    ValueError
        For n < 1, order outside 1 .. 4, an unknown format.

    See Also
    --------
    derivative_penalty : The penalty of a derivative's integral.
    NormalEquations.solve : A fit with this penalty.

    Examples
    --------
    >>> from bsbasis import difference_penalty
    >>> difference_penalty(4, 1, format="csr").toarray()
    array([[ 1., -1.,  0.,  0.],
           [-1.,  2., -1.,  0.],
           [ 0., -1.,  2., -1.],
           [ 0.,  0., -1.,  1.]])
    """
    n = as_int(n, "n")
    order = as_int(order, "order")
    check_option(format, "format", _PENALTY_FORMATS)
    if n < 1:
        raise ValueError("n must be at least 1, got %d" % n)
    if not 1 <= order <= 4:
        raise ValueError("order must be 1, 2, 3 or 4, got %d" % order)
    ab = np.empty((order + 1, n))
    _lib.check_status(_lib.kernels().bsbasis_difference_penalty(n, order, ab.ctypes.data))
    return _symmetric(ab, format)


@overload
def derivative_penalty(t: ArrayLike, k: SupportsIndex, m: SupportsIndex = ..., *,
                       nj: SupportsIndex | None = ...,
                       format: Literal["banded"] = ...) -> NDArray[np.float64]: ...


@overload
def derivative_penalty(t: ArrayLike, k: SupportsIndex, m: SupportsIndex = ..., *,
                       nj: SupportsIndex | None = ..., format: Literal["csr"]) -> csr_array: ...


@overload
def derivative_penalty(t: ArrayLike, k: SupportsIndex, m: SupportsIndex = ..., *,
                       nj: SupportsIndex | None = ...,
                       format: Literal["csr_matrix"]) -> csr_matrix: ...


@overload
def derivative_penalty(t: ArrayLike, k: SupportsIndex, m: SupportsIndex = ..., *,
                       nj: SupportsIndex | None = ..., format: PenaltyFormat) -> _Penalty: ...


def derivative_penalty(t: ArrayLike, k: SupportsIndex, m: SupportsIndex = 2, *,
                       nj: SupportsIndex | None = None,
                       format: PenaltyFormat = "banded") -> _Penalty:
    """Gram matrix of the m-th derivatives of a B-spline basis.

    ``G[i, j]`` is the integral over the base interval ``[t[k], t[nj]]`` of
    the product of the m-th derivatives of the B-splines i and j, exact up
    to rounding (Gauss-Legendre quadrature with ``k + 1 - m`` points on
    each knot interval).

    Parameters
    ----------
    t : array_like, shape (nt,)
        Non-decreasing, finite knots.
    k : int
        Degree of the B-splines (order k + 1), as in scipy.interpolate.
    m : int, optional
        Derivative order, at least 0; ``m > k`` gives zeros.  Default 2.
    nj : int, optional
        Number of basis functions, ``k + 1 <= nj <= nt - k - 1``; default
        ``nt - k - 1``.
    format : {'banded', 'csr', 'csr_matrix'}, optional
        'banded': the upper band form of `scipy.linalg.solveh_banded`, shape
        ``(k + 1, nj)``, ``ab[k + i - j, j] == G[i, j]`` for ``i <= j``;
        'csr' and 'csr_matrix': the full symmetric matrix, sparse.

    Returns
    -------
    ndarray or sparse matrix
        G, of shape (nj, nj), banded with bandwidth k.

    Raises
    ------
    TypeError
        For non-integer k, m or nj, a t that is not real, a non-string
        format.
    ValueError
        For unusable knots (as in `design_matrix`), k < 0, m < 0, nj out of
        range, an unknown format.

    See Also
    --------
    difference_penalty : The discrete penalty of P-splines.
    NormalEquations.solve : A fit with this penalty.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis import derivative_penalty
    >>> t = np.r_[[0.0] * 4, 0.5, [1.0] * 4]
    >>> derivative_penalty(t, 3, m=3, format="csr").toarray()[0]
    array([ 1152., -2016.,  1152.,  -288.,     0.])
    """
    tv = as_unmasked_vector(t, "t")
    k = as_int(k, "k")
    m = as_int(m, "m")
    check_option(format, "format", _PENALTY_FORMATS)
    if k < 0:
        raise ValueError("k (the degree) must be >= 0, got %d" % k)
    if k + 1 > INT32_MAX // 2:
        raise ValueError("k=%d is too large" % k)
    if m < 0:
        raise ValueError("m must be >= 0, got %d" % m)
    nj = check_knots(tv, k, nj)
    ab = np.empty((k + 1, nj))
    _lib.check_status(_lib.kernels().bsbasis_derivative_penalty(
        tv.ctypes.data, len(tv), k + 1, nj, min(m, INT32_MAX), ab.ctypes.data))
    return _symmetric(ab, format)


def _check_knot_data(x: NDArray[np.float64], w: NDArray[np.float64] | None) -> None:
    bad = ~np.isfinite(x)
    if bad.any():
        p = int(np.argmax(bad))
        raise ValueError("x must be finite: x[%d] = %r" % (p, float(x[p])))
    if w is None:
        used = x
    else:
        if len(w) != len(x):
            raise ValueError("weights has %d entries, x has %d" % (len(w), len(x)))
        bad = ~(np.isfinite(w) & (w >= 0))
        if bad.any():
            p = int(np.argmax(bad))
            raise ValueError("weights must be finite and >= 0: weights[%d] = %r"
                             % (p, float(w[p])))
        used = x[w > 0]
    if len(used) == 0 or not used.min() < used.max():
        raise ValueError("x needs at least 2 distinct values with positive weight, got %s"
                         % ("none" if len(used) == 0 else "only %r" % float(used[0])))
    lo, hi = float(used.min()), float(used.max())
    if not np.isfinite(hi - lo):
        raise ValueError("x spans [%r, %r]%s: the length %r - (%r) overflows a double, so "
                         "no knot between the ends can be placed; rescale x"
                         % (lo, hi, "" if w is None else " where the weights are positive",
                            hi, lo))


def _knots_error(x: NDArray[np.float64], w: NDArray[np.float64] | None, n_knots: int, k: int,
                 kind: Literal["uniform", "quantile"],
                 boundary: Literal["clamped", "extended"]) -> ValueError:
    """Why the library found no finite knots for data that passed
    _check_knot_data: the cumulative weights or the extended ends overflow."""
    with np.errstate(over="ignore"):
        total: np.floating[Any] | float = np.sum(w) if w is not None else 0.0
    if kind == "quantile" and not np.isfinite(total):
        return ValueError("weights sum to more than the largest double, so the cumulative "
                          "weights of kind='quantile' overflow; rescale the weights (only "
                          "their ratios matter)")
    if boundary == "extended" and k > 0:
        try:
            t = make_knots(x, n_knots, k, kind=kind, weights=w, boundary="clamped")
        except ValueError:
            pass
        else:
            n = n_knots + k
            return ValueError(
                "boundary='extended' continues the end intervals (%r on the left, %r on "
                "the right) k=%d times beyond [%r, %r], past the largest double; use "
                "boundary='clamped' or rescale x"
                % (float(t[k + 1] - t[k]), float(t[n - 1] - t[n - 2]), k, float(t[k]),
                   float(t[n - 1])))
    return ValueError("x gives knots that are not all finite (kind=%r, boundary=%r, "
                      "n_knots=%d, k=%d)" % (kind, boundary, n_knots, k))


def make_knots(x: ArrayLike, n_knots: SupportsIndex, k: SupportsIndex = 3, *,
               kind: Literal["uniform", "quantile"] = "uniform", weights: ArrayLike | None = None,
               boundary: Literal["clamped", "extended"] = "clamped") -> NDArray[np.float64]:
    """Place the knots of a B-spline basis of degree k from data.

    The ``n_knots`` base knots run from the smallest to the largest
    abscissa with positive weight; ``k`` more knots lie beyond each end.
    The placement is that of scikit-learn's ``SplineTransformer``: with
    ``boundary='extended'`` the result equals its fitted knots
    ``bsplines_[0].t`` for the same n_knots, degree, knots=kind and
    sample_weight.

    Parameters
    ----------
    x : array_like, shape (n,)
        Finite abscissae.
    n_knots : int
        Number of base knots, at least 2.
    k : int, optional
        Degree of the B-splines.  Default 3.
    kind : {'uniform', 'quantile'}, optional
        'uniform': equally spaced, as ``np.linspace(min, max, n_knots)``.
        'quantile': at the percentiles ``100 * np.linspace(0, 1, n_knots)``
        of x, as `np.percentile` places them without weights; with weights,
        at the lower weighted percentiles.
    weights : array_like, shape (n,), optional
        Finite, non-negative weights.  Abscissae of weight 0 are ignored for
        the ends of 'uniform'.
    boundary : {'clamped', 'extended'}, optional
        'clamped' repeats each end k times; 'extended' continues the
        spacing of the end interval k times.

    Returns
    -------
    ndarray, shape (n_knots + 2*k,)
        The knots, for ``design_matrix(x, t, k)`` and friends.

    Raises
    ------
    TypeError
        For non-integer n_knots or k, x or weights that are not real,
        non-string kind or boundary.
    ValueError
        For n_knots < 2, k < 0, unknown kind or boundary, x or weights that
        are not finite or negative (naming the first such row), fewer than
        2 distinct abscissae with positive weight, or knots that overflow:
        the message names the cause (a span ``max(x) - min(x)`` beyond the
        largest double, weights whose sum overflows, or an 'extended'
        boundary that reaches past the largest double).

    See Also
    --------
    design_matrix : The basis on these knots.
    bsbasis.sklearn.SplineTransformer : Places the same knots.

    Examples
    --------
    >>> from bsbasis import make_knots
    >>> make_knots([0.0, 1.0, 4.0], 3, k=2)
    array([0., 0., 0., 2., 4., 4., 4.])
    >>> make_knots([0.0, 1.0, 4.0], 3, k=2, boundary="extended")
    array([-4., -2.,  0.,  2.,  4.,  6.,  8.])
    """
    xv = as_unmasked_vector(x, "x")
    n_knots = as_int(n_knots, "n_knots")
    k = as_int(k, "k")
    check_option(kind, "kind", tuple(_KINDS))
    check_option(boundary, "boundary", tuple(_BOUNDARIES))
    wv = None if weights is None else as_unmasked_vector(weights, "weights")
    if n_knots < 2:
        raise ValueError("n_knots must be at least 2, got %d" % n_knots)
    if k < 0:
        raise ValueError("k (the degree) must be >= 0, got %d" % k)
    if k + 1 > INT32_MAX:
        raise ValueError("k=%d is too large" % k)
    _check_knot_data(xv, wv)
    t = np.empty(n_knots + 2 * k)
    status = _lib.kernels().bsbasis_make_knots(
        xv.ctypes.data, len(xv), None if wv is None else wv.ctypes.data, n_knots, k + 1,
        _KINDS[kind], _BOUNDARIES[boundary], t.ctypes.data)
    if status == ERROR_DATA:
        raise _knots_error(xv, wv, n_knots, k, kind, boundary)
    _lib.check_status(status)
    return t
