"""Normal equations and spline values straight from the abscissae.

The library forms the rows of the design matrix in a cache-sized buffer and
adds them to the sums at once, so no design matrix is ever held.  It works
in tiles of NORMAL_TILE abscissae: a tile's sums start at zero and add its
rows in order, and the tiles are added to the total one after the other.
Threads here form tiles in parallel and add them in that same order, so the
result is the same bits for any number of threads.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Callable, Optional, SupportsIndex, Tuple

import numpy as np

from . import _lib, _tiles
from ._abi import ERROR_DATA
from ._checks import (as_int, as_real, as_real_array, as_unmasked_vector, as_vector,
                      check_degree, check_extrapolate, check_knots, check_threads)
from ._core import _abscissae, uniform_grid

if TYPE_CHECKING:
    from numpy.typing import ArrayLike, NDArray

    from ._typing import Extrapolate, Real, SparseInput

    # The running sums of _Sums: X'WX (banded), X'Wy or None, (y'Wy, sum of
    # the weights), and the count of rows in range.
    _Acc = Tuple[NDArray[np.float64], Optional[NDArray[np.float64]], NDArray[np.float64],
                 NDArray[np.int64]]

# Abscissae per library call of the spline values, or the knots when there
# are more (the library checks them all at each call).  Rows are
# independent, so any split gives the same bits.
_VALUES_PER_CALL = 1 << 16

_INT64_MAX = 2**63 - 1


def _owned_array(a: ArrayLike, name: str) -> NDArray[np.float64]:
    """`a` as a float64 array the class can own; TypeError unless it holds
    real numbers."""
    return np.require(as_real_array(a, name), np.float64, ["C", "A", "W"])


def _count(value: object, name: str) -> int:
    value = as_int(value, name)
    if not 0 <= value <= _INT64_MAX:
        raise ValueError("%s must be between 0 and 2**63 - 1, got %d" % (name, value))
    return value


class NormalEquations:
    """Weighted normal equations of a B-spline basis, summed over data.

    For the design matrix X of the abscissae, the diagonal W of the weights
    and the responses y, holds ``X.T @ W @ X`` (banded), ``X.T @ W @ y``,
    ``y.T @ W @ y``, the sum of the weights and the count of the rows in
    range.  `normal_equations` and `uniform_normal_equations` return it,
    and add to one given as ``out=``.

    Parameters
    ----------
    gram : array_like of real numbers, shape (k + 1, n)
        ``X.T @ W @ X`` in upper band form (see `gram` below).
    rhs : array_like of real numbers, shape (n,), optional
        ``X.T @ W @ y``; given together with `yty`, or neither.
    yty : float, optional
        ``y.T @ W @ y``.
    sum_weights : float, default 0.0
        The sum of the weights of the rows in range.
    count : int, default 0
        The number of rows in range, ``0 <= count < 2**63``.

    Attributes
    ----------
    gram : ndarray of float64, shape (k + 1, n)
        ``X.T @ W @ X`` in the upper band form of
        `scipy.linalg.solveh_banded`: ``gram[k + i - j, j] == G[i, j]`` for
        ``i <= j``.
    rhs : ndarray of float64, shape (n,), or None
        ``X.T @ W @ y``; None when no responses were given.
    yty : float or None
        ``y.T @ W @ y``; None without responses.
    sum_weights : float
        The sum of the weights of the rows in range.
    count : int
        The number of abscissae in range (rows that are not empty).
    n : int
        The number of basis functions (read-only).

    Raises
    ------
    TypeError
        For arrays that do not hold real numbers, a `yty` or `sum_weights`
        that is not a real number, a `count` that is not an integer.
    ValueError
        For a `gram` that is not 2-D, an `rhs` of another length than n,
        `rhs` without `yty` or the reverse, a negative `count`.

    See Also
    --------
    normal_equations : Forms them from data.
    NormalEquations.solve : The penalised least-squares coefficients.

    Notes
    -----
    Partial results over parts of the data add up with ``+`` (and `sum`).
    An instance given as ``out=`` is checked at each call, whatever was
    assigned to its attributes since: the arrays must be float64,
    C-contiguous, aligned, writeable and of the call's shapes.  Pickling
    goes through the constructor and its checks.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis import normal_equations
    >>> t = np.r_[[0.0] * 4, 0.5, [1.0] * 4]
    >>> x = np.linspace(0.0, 1.0, 50)
    >>> ne = normal_equations(x[:20], t, 3, y=np.sin(x[:20]))
    >>> ne = normal_equations(x[20:], t, 3, y=np.sin(x[20:]), out=ne)
    >>> ne.count, ne.gram.shape
    (50, (4, 5))
    """

    gram: NDArray[np.float64]
    rhs: NDArray[np.float64] | None
    yty: float | None
    sum_weights: float
    count: int

    def __init__(self, gram: ArrayLike, rhs: ArrayLike | None = None, yty: Real | None = None,
                 sum_weights: Real = 0.0, count: SupportsIndex = 0) -> None:
        gram = _owned_array(gram, "gram")
        if gram.ndim != 2 or gram.shape[0] < 1:
            raise ValueError("gram must be a 2-D band of shape (k + 1, n), got shape %s"
                             % (gram.shape,))
        if (rhs is None) != (yty is None):
            raise ValueError("rhs and yty come together: give both or neither")
        if rhs is not None:
            rhs = _owned_array(rhs, "rhs")
            if rhs.shape != (gram.shape[1],):
                raise ValueError("rhs must have shape (%d,), got %s"
                                 % (gram.shape[1], rhs.shape))
            yty = as_real(yty, "yty")
        # Without rhs, yty is None (checked above).
        self.gram, self.rhs, self.yty = gram, rhs, yty  # type: ignore[assignment]
        self.sum_weights = as_real(sum_weights, "sum_weights")
        self.count = _count(count, "count")

    def __reduce__(self) -> tuple[type[NormalEquations],
                                  tuple[NDArray[np.float64], NDArray[np.float64] | None,
                                        float | None, float, int]]:
        # Unpickling runs the constructor, so a tampered pickle is refused.
        return (NormalEquations, (self.gram, self.rhs, self.yty, self.sum_weights,
                                  self.count))

    def __setstate__(self, state: object) -> None:
        # A pickle that restores the attributes directly is checked the same.
        if not isinstance(state, dict):
            raise TypeError("cannot restore NormalEquations from %s" % type(state).__name__)
        # The constructor's checks, on this instance (mypy flags a call of
        # __init__ on an instance, which a subclass could have changed).
        self.__init__(**state)  # type: ignore[misc]

    @property
    def n(self) -> int:
        """The number of basis functions, the columns of the design matrix.

        See Also
        --------
        difference_penalty : A penalty of this size, ``difference_penalty(ne.n)``.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis import uniform_normal_equations
        >>> uniform_normal_equations(np.linspace(3.0, 8.0, 11), 3, 8).n
        8
        """
        return self.gram.shape[1]

    def __add__(self, other: NormalEquations | int) -> NormalEquations:
        if isinstance(other, int) and other == 0:  # sum() starts from 0
            return self
        if not isinstance(other, NormalEquations):
            return NotImplemented
        if other.gram.shape != self.gram.shape:
            raise ValueError("cannot add normal equations of band shapes %s and %s"
                             % (self.gram.shape, other.gram.shape))
        if (self.rhs is None) != (other.rhs is None):
            raise ValueError("cannot add normal equations with and without responses")
        both = self.rhs is not None
        # Under both, neither rhs nor yty is None on either side.
        return NormalEquations(self.gram + other.gram,
                               self.rhs + other.rhs if both else None,  # type: ignore[operator]
                               self.yty + other.yty if both else None,  # type: ignore[operator]
                               self.sum_weights + other.sum_weights,
                               self.count + other.count)

    __radd__ = __add__

    def solve(self, penalty: ArrayLike | SparseInput | None = None,
              lam: Real = 0.0) -> NDArray[np.float64]:
        """Solve for the coefficients of the penalised least-squares fit.

        Solves ``(G + lam * P) c = X.T W y`` by a banded Cholesky
        factorisation.

        Parameters
        ----------
        penalty : array_like or sparse matrix, optional
            P: a band in the upper form (as `difference_penalty` returns
            it), or a symmetric (n, n) matrix, dense or sparse.
        lam : float, default 0.0
            The smoothing parameter, finite and >= 0.

        Returns
        -------
        ndarray, shape (n,)
            The coefficients c of the basis functions.

        Raises
        ------
        TypeError
            For a penalty or lam that is not real numbers.
        ValueError
            For a penalty of another size or band than the basis, a
            negative or non-finite lam, or sums without responses (formed
            without y).
        numpy.linalg.LinAlgError
            When the system is singular (too few abscissae for the basis
            and no penalty to make up for them).

        See Also
        --------
        difference_penalty, derivative_penalty : Penalties P.
        fit_pspline : A fit with lam chosen by GCV.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis import difference_penalty, normal_equations
        >>> t = np.r_[[0.0] * 4, np.linspace(0.0, 1.0, 9)[1:-1], [1.0] * 4]
        >>> x = np.linspace(0.0, 1.0, 60)
        >>> ne = normal_equations(x, t, 3, y=np.full(60, 5.0))
        >>> c = ne.solve(difference_penalty(ne.n, 2), lam=10.0)
        >>> bool(np.allclose(c, 5.0))  # the penalty leaves a constant alone
        True
        """
        from ._banded import solve_penalized
        return solve_penalized(self.gram, self.rhs, penalty, lam)

    def __repr__(self) -> str:
        return ("NormalEquations(n=%d, bandwidth=%d, count=%d, sum_weights=%r, "
                "responses=%s)" % (self.n, self.gram.shape[0] - 1, self.count,
                                   self.sum_weights, self.rhs is not None))


# ------------------------------------------------------------------ data

def _basis(t: ArrayLike, k: SupportsIndex, nu: SupportsIndex, extrapolate: Extrapolate,
           nj: SupportsIndex | None, threads: SupportsIndex | None
           ) -> tuple[int, int, int | None, int, NDArray[np.float64], int]:
    """The checked arguments of a basis on knots."""
    k, nu = check_degree(k, nu)
    threads = check_threads(threads)
    mode = check_extrapolate(extrapolate)
    tv = as_unmasked_vector(t, "t")
    return k, nu, threads, mode, tv, check_knots(tv, k, nj)


def _per_row(values: ArrayLike | None, name: str, n: int) -> NDArray[np.float64] | None:
    """y or weights: None, or a vector of one value per abscissa."""
    if values is None:
        return None
    v, mask = as_vector(values, name)
    if mask is not None:
        raise ValueError("%s must not be masked; give such rows a weight of 0 and any "
                         "finite value, or leave them out" % name)
    if len(v) != n:
        raise ValueError("%s has %d entries but x has %d" % (name, len(v), n))
    return v


def _bad_row(row: int, x: NDArray[np.float64], y: NDArray[np.float64] | None,
             w: NDArray[np.float64] | None) -> ValueError:
    if w is not None and not (np.isfinite(w[row]) and w[row] >= 0):
        return ValueError("weights[%d] = %r: weights must be finite and >= 0"
                          % (row, float(w[row])))
    # Weights in order, the library found y at fault: there is a y.
    return ValueError("y[%d] = %r on a row in range (x[%d] = %r): responses must be "
                      "finite" % (row, float(y[row]), row, float(x[row])))  # type: ignore[index]


def _check_array(a: object, name: str, shape: tuple[int, ...], basis: str,
                 formula: str) -> None:
    """An array that `out` holds, as the sums need it: float64 of the
    call's shape, C-contiguous, aligned and writeable."""
    if not isinstance(a, np.ndarray):
        raise TypeError("%s must be a numpy array of float64, got %s"
                        % (name, type(a).__name__))
    if a.dtype != np.float64:
        raise TypeError("%s must have dtype float64, got %s" % (name, a.dtype))
    if a.shape != shape:
        raise ValueError("%s has shape %s; this call's basis (%s) needs %s = %s"
                         % (name, a.shape, basis, formula, shape))
    if not (a.flags.c_contiguous and a.flags.aligned):
        raise ValueError("%s must be a C-contiguous, aligned array (not a strided view)"
                         % name)
    if not a.flags.writeable:
        raise ValueError("%s is read-only; the sums are added to it in place" % name)


def _check_out(out: object, order: int, n: int, has_y: bool) -> None:
    """Refuses an `out` that is not a NormalEquations of this basis, with
    responses exactly when the call has them."""
    if not isinstance(out, NormalEquations):
        raise TypeError("out must be a NormalEquations, got %s" % type(out).__name__)
    basis = "degree k=%d, n=%d functions" % (order - 1, n)
    _check_array(out.gram, "out.gram", (order, n), basis, "(k + 1, n)")
    if (out.rhs is None) != (not has_y):
        raise ValueError("out was formed %s responses and this call has %s"
                         % ("with" if out.rhs is not None else "without",
                            "some" if has_y else "none"))
    if has_y:
        _check_array(out.rhs, "out.rhs", (n,), basis, "(n,)")
        as_real(out.yty, "out.yty")
    elif out.yty is not None:
        raise ValueError("out.yty must be None when out.rhs is, got %r" % (out.yty,))
    as_real(out.sum_weights, "out.sum_weights")
    _count(out.count, "out.count")


class _Sums:
    """One call of the library's sums, over rows a .. a+m-1 of the data."""

    t: NDArray[np.float64]  # knots kept alive while the library reads them (normal_equations)

    def __init__(self, fn: Callable[..., int], args: tuple[float, ...], order: int, n: int,
                 x: NDArray[np.float64], y: NDArray[np.float64] | None,
                 w: NDArray[np.float64] | None) -> None:
        self.fn, self.args, self.order, self.n = fn, args, order, n
        self.x, self.y, self.w = x, y, w

    def zeros(self) -> _Acc:
        return (np.zeros((self.order, self.n)),
                np.zeros(self.n) if self.y is not None else None,
                np.zeros(2), np.zeros(1, np.int64))

    def __call__(self, a: int, m: int, acc: _Acc | None = None) -> _Acc:
        gram, rhs, sums, count = self.zeros() if acc is None else acc
        bad = np.zeros(1, np.int64)
        y, w = self.y, self.w
        status = self.fn(*self.args, self.x.ctypes.data + 8 * a,
                         None if y is None else y.ctypes.data + 8 * a,
                         None if w is None else w.ctypes.data + 8 * a, m,
                         gram.ctypes.data, None if rhs is None else rhs.ctypes.data,
                         sums.ctypes.data, count.ctypes.data, bad.ctypes.data)
        if status == ERROR_DATA and bad[0] >= 0:
            raise _bad_row(a + int(bad[0]), self.x, y, w)
        _lib.check_status(status)
        return gram, rhs, sums, count

    def accumulators(self, out: NormalEquations | None) -> _Acc:
        """The arrays the sums are added to: zeros, or copies of those of
        `out`, so that a call that fails part way leaves `out` as it was."""
        if out is None:
            return self.zeros()
        _check_out(out, self.order, self.n, self.y is not None)
        return (np.array(out.gram, np.float64, order="C"),
                None if out.rhs is None else np.array(out.rhs, np.float64, order="C"),
                np.array([out.yty or 0.0, out.sum_weights]), np.array([out.count], np.int64))

    def run(self, threads: int | None, out: NormalEquations | None = None) -> NormalEquations:
        nx = len(self.x)
        threads = _tiles.threads_for(threads, nx, self.order)
        acc = self.accumulators(out)
        _tiles.sum_tiles(nx, threads, self, acc)
        gram, rhs, sums, count = acc
        has_y = rhs is not None
        if out is None:
            return NormalEquations(gram, rhs, float(sums[0]) if has_y else None,
                                   float(sums[1]), int(count[0]))
        # Checked again: another thread may have replaced them meanwhile.
        _check_out(out, self.order, self.n, has_y)
        np.copyto(out.gram, gram)
        if has_y:
            # _check_out has just found out.rhs an array, as rhs is.
            np.copyto(out.rhs, rhs)  # type: ignore[arg-type]
        out.yty = float(sums[0]) if has_y else None
        out.sum_weights, out.count = float(sums[1]), int(count[0])
        return out


def normal_equations(x: ArrayLike, t: ArrayLike, k: SupportsIndex, *, y: ArrayLike | None = None,
                     weights: ArrayLike | None = None, nu: SupportsIndex = 0,
                     extrapolate: Extrapolate = False, nj: SupportsIndex | None = None,
                     threads: SupportsIndex | None = None,
                     out: NormalEquations | None = None) -> NormalEquations:
    """Normal equations of a B-spline least-squares fit, without the design matrix.

    Forms ``X.T @ W @ X``, ``X.T @ W @ y``, ``y.T @ W @ y``, the sum of the
    weights and the count of the abscissae in range, where X is
    ``design_matrix(x, t, k, nu=nu, extrapolate=extrapolate, nj=nj)`` and W
    the diagonal of the weights.  Memory beyond the result is a few hundred
    kilobytes whatever the number of abscissae.

    Parameters
    ----------
    x : array_like, shape (m,)
        Abscissae, any order.  Masked entries give empty rows.
    t : array_like, shape (nt,)
        Non-decreasing, finite knots.
    k : int
        Degree (order k + 1).
    y : array_like, shape (m,), optional
        Responses: finite on every row in range.
    weights : array_like, shape (m,), optional
        Finite and >= 0; each multiplies its row's squared residual, as
        scikit-learn's ``sample_weight`` does.  By default all 1 (the same
        bits as ones).  scipy's ``make_lsq_spline`` and
        ``UnivariateSpline`` take weights that multiply the residual itself:
        pass the square of theirs (see Notes).
    nu : int, default 0
        Derivative order of the rows.
    extrapolate : bool or str, default False
        As for `design_matrix`: rows outside the base interval raise
        (False), are left out ('zero'), or are extrapolated.
    nj : int, optional
        Number of basis functions; default ``nt - k - 1``.
    threads : int, optional
        Threads to use: a count, or a negative n for ``cores + 1 + n``
        (-1: every core, -2: all but one), as scipy's ``workers``.  By
        default every core for large inputs and one for small ones.  No
        more threads than cores are started.  The result is the same bits
        for any value.
    out : NormalEquations, optional
        Sums of earlier data on the same basis (with responses if and only
        if y is given), to add this data to, in place; it is returned.  Its
        arrays must be float64, C-contiguous, aligned, writeable and of
        this basis's shapes; they are checked at every call.  A call that
        raises leaves it as it was.

    Returns
    -------
    NormalEquations
        `out` when given, else a new instance.

    Raises
    ------
    TypeError
        As `design_matrix` for the basis and x; for an `out` that is not a
        `NormalEquations`, or whose arrays are not float64 ndarrays, whose
        `yty` or `sum_weights` is not a real number or `count` not an
        integer.
    ValueError
        As `design_matrix` for the basis and x; for y or weights of another
        length than x, negative or non-finite weights, and responses that
        are not finite on a row in range (naming the first such row); for
        an `out` of another basis (band height k + 1 or n), formed with
        responses when this call has none or the reverse, or whose arrays
        are strided views or read-only.

    See Also
    --------
    uniform_normal_equations : The same on a uniform grid.
    NormalEquations.solve : The coefficients of the fit.
    fit_pspline : A penalised fit with the smoothing chosen by GCV.
    design_matrix : The matrix X itself.

    Notes
    -----
    The weights multiply squared residuals: the least-squares problem is
    ``min sum(weights * (y - X @ c)**2)``.  So do scikit-learn's
    ``sample_weight`` and the ``w`` of
    `scipy.interpolate.make_smoothing_spline` (give them as they are).  The
    ``w`` of `scipy.interpolate.make_lsq_spline`,
    `scipy.interpolate.UnivariateSpline`, ``LSQUnivariateSpline`` and
    `scipy.interpolate.splrep` multiplies the residual before it is
    squared, ``min sum((w * (y - X @ c))**2)``: the same fit needs
    ``weights=w**2``.  ``weights=w`` is accepted and fits another problem.

    The sums run in tiles of 65,536 abscissae (``BSBASIS_NORMAL_TILE`` of
    bsbasis.h) counted from ``x[0]``: a tile's sums start at zero and add
    its rows in order, then the tiles are added to the total in order.  The
    result is therefore the same bits for any thread count, and for data
    passed in consecutive parts through `out` when every part but the last
    holds a multiple of 65,536 rows.
    ``a + b`` adds b's total at once, so it gives those bits when b is a
    single tile; other splits agree within rounding.

    Examples
    --------
    A weighted least-squares fit, as scipy's ``make_lsq_spline`` gives it
    for ``w`` (whose weights multiply the residuals, hence ``w**2`` here):

    >>> import numpy as np
    >>> from scipy.interpolate import make_lsq_spline
    >>> from bsbasis import normal_equations
    >>> t = np.r_[[0.0] * 4, 0.25, 0.5, 0.75, [1.0] * 4]
    >>> x = np.linspace(0.0, 1.0, 200)
    >>> y = np.sin(6.0 * x)
    >>> w = np.linspace(1.0, 2.0, 200)
    >>> c = normal_equations(x, t, 3, y=y, weights=w**2).solve()
    >>> bool(np.allclose(c, make_lsq_spline(x, y, t, 3, w=w).c))
    True

    Data that arrives in parts is added up with ``out=``:

    >>> ne = normal_equations(x[:100], t, 3, y=y[:100])
    >>> ne = normal_equations(x[100:], t, 3, y=y[100:], out=ne)
    >>> ne.count
    200
    """
    k, nu, threads, mode, tv, nj = _basis(t, k, nu, extrapolate, nj, threads)
    xv, mode = _abscissae(x, mode, float(tv[k]), float(tv[nj]),
                          ("t[%d]" % k, "t[%d]" % nj))
    yv = _per_row(y, "y", len(xv))
    wv = _per_row(weights, "weights", len(xv))
    fn = _lib.kernels().bsbasis_normal_equations
    sums = _Sums(fn, (tv.ctypes.data, len(tv), k + 1, nj, nu, mode), k + 1, nj, xv, yv, wv)
    sums.t = tv  # the knots stay alive while the library reads them
    return sums.run(threads, out)


def uniform_normal_equations(x: ArrayLike, k: SupportsIndex, n: SupportsIndex, *,
                             origin: Real = 0.0, spacing: Real = 1.0, y: ArrayLike | None = None,
                             weights: ArrayLike | None = None, nu: SupportsIndex = 0,
                             extrapolate: Extrapolate = False,
                             threads: SupportsIndex | None = None,
                             out: NormalEquations | None = None) -> NormalEquations:
    """`normal_equations` on the uniform grid of `uniform_design_matrix`.

    Knot m lies at ``origin + m*spacing``; the basis has n functions of
    degree k on the base interval ``[origin + k*spacing,
    origin + n*spacing]``.

    Parameters
    ----------
    x : array_like, shape (m,)
        Abscissae, any order.  Masked entries give empty rows.
    k : int
        Degree (order k + 1).
    n : int
        Number of basis functions, at least k + 1.
    origin, spacing : float, default 0.0 and 1.0
        The grid: finite, spacing > 0.
    y : array_like, shape (m,), optional
        Responses, as for `normal_equations`.
    weights : array_like, shape (m,), optional
        Finite and >= 0, as for `normal_equations`; the weights multiply
        squared residuals (scipy's ``make_lsq_spline`` weights ``w`` are
        ``weights=w**2`` here).
    nu : int, default 0
        Derivative order of the rows.
    extrapolate : bool or str, default False
        As for `design_matrix`.
    threads : int, optional
        A count, or a negative n for ``cores + 1 + n`` (-1: every core), as
        for `normal_equations`.  The result is the same bits for any value.
    out : NormalEquations, optional
        Sums of earlier data on the same grid to add to in place, as for
        `normal_equations`.

    Returns
    -------
    NormalEquations
        `out` when given, else a new instance.

    Raises
    ------
    TypeError, ValueError
        As `uniform_design_matrix` for the grid and x, and as
        `normal_equations` for y, weights and out.

    See Also
    --------
    normal_equations : The same on any knots.
    uniform_design_matrix : The matrix X itself.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis import normal_equations, uniform_normal_equations
    >>> x = np.linspace(3.0, 8.0, 101)
    >>> ne = uniform_normal_equations(x, 3, 8, y=np.cos(x))
    >>> same = normal_equations(x, np.arange(12.0), 3, y=np.cos(x))
    >>> bool(np.allclose(ne.gram, same.gram)), ne.count
    (True, 101)
    """
    k, nu = check_degree(k, nu)
    threads = check_threads(threads)
    mode = check_extrapolate(extrapolate)
    n, origin, spacing, lo, hi = uniform_grid(k, n, origin, spacing)
    xv, mode = _abscissae(x, mode, lo, hi, ("origin + k*spacing", "origin + n*spacing"))
    yv = _per_row(y, "y", len(xv))
    wv = _per_row(weights, "weights", len(xv))
    fn = _lib.kernels().bsbasis_uniform_normal_equations
    return _Sums(fn, (origin, spacing, n, k + 1, nu, mode), k + 1, n, xv, yv, wv).run(threads,
                                                                                     out)


# ---------------------------------------------------------------- values

def _values(fn: Callable[..., int], args: tuple[float, ...], c: NDArray[np.float64],
            xv: NDArray[np.float64], threads: int | None, knots: int) -> NDArray[np.float64]:
    """X c at the abscissae xv, `knots` being the knots the library checks
    at each call."""
    nx = len(xv)
    out = _tiles.result_array(nx)

    def tile(a: int, m: int, _: None) -> None:
        _lib.check_status(fn(*args, c.ctypes.data, xv.ctypes.data + 8 * a, m,
                             out.ctypes.data + 8 * a))

    _tiles.run_rows(nx, max(_VALUES_PER_CALL, knots), _tiles.threads_for(threads, nx, 4), tile)
    out[np.isnan(xv)] = np.nan  # empty rows give 0; a NaN abscissa has no value
    return out


def _coefficients(c: ArrayLike, nj: int) -> NDArray[np.float64]:
    """c as a float64 vector of nj entries."""
    kind = None if isinstance(c, (str, bytes)) else np.asarray(c).dtype.kind
    if kind is None or kind not in "iuf":
        what = ("%s %r" % (type(c).__name__, c) if kind is None or np.ndim(c) == 0
                else "an array of dtype %s" % np.asarray(c).dtype)
        raise TypeError("c must be an array of real numbers, got %s" % what)
    if np.ndim(c) != 1:
        raise ValueError("c must be 1-D with nj = %d entries, got shape %s"
                         % (nj, np.shape(c)))
    cv = as_unmasked_vector(c, "c")
    if len(cv) != nj:
        raise ValueError("c has %d entries; the basis has nj = %d functions" % (len(cv), nj))
    return cv


def evaluate_spline(x: ArrayLike, t: ArrayLike, k: SupportsIndex, c: ArrayLike, *,
                    nu: SupportsIndex = 0, extrapolate: Extrapolate = True,
                    nj: SupportsIndex | None = None,
                    threads: SupportsIndex | None = None) -> NDArray[np.float64]:
    """Evaluate the spline ``sum_j c[j] B_j(x)`` or its derivative.

    The result is ``design_matrix(x, t, k, nu=nu, ...) @ c``, computed by
    the library without forming the matrix.

    Parameters
    ----------
    x : array_like
        Abscissae, any shape; the result has the same shape.
    t : array_like, shape (nt,)
        Non-decreasing, finite knots, as for `design_matrix`.
    k : int
        Degree, as for `design_matrix`.
    c : array_like, shape (nj,)
        Coefficients, real.
    nu : int, default 0
        Derivative order.
    extrapolate : bool or str, default True
        As for `design_matrix`; True continues the end pieces, as
        `scipy.interpolate.BSpline` does by default.  Abscissae that give
        an empty row (NaN, or outside under 'zero') give 0, except that
        NaN and masked entries give NaN.
    nj : int, optional
        Number of basis functions; default ``nt - k - 1``, as for
        `design_matrix`.
    threads : int, optional
        Threads to use: a count, or a negative n for ``cores + 1 + n``
        (-1: every core), as for `design_matrix`.  The result is the same
        bits for any value.

    Returns
    -------
    ndarray of float64
        The values, of the shape of x.

    Raises
    ------
    TypeError
        As `design_matrix`; for a c that is not an array of real numbers.
    ValueError
        As `design_matrix`; for a c that is not 1-D with nj entries.

    See Also
    --------
    design_matrix : The basis itself; its Notes say where the rows at the
        ends differ from scipy's on purpose.
    scipy.interpolate.BSpline : The same values, evaluated by scipy.

    Notes
    -----
    Where an end interval is empty (``t[nj-1] == t[nj]``, as
    ``make_interp_spline(k=0)`` builds), the value at ``t[nj]`` and beyond
    comes from the last piece that is not empty, as in R, where scipy
    evaluates the empty interval: a scipy-built ``k = 0`` interpolant gives
    ``y[-2]`` at its last datum here (see `design_matrix`).

    Examples
    --------
    >>> import numpy as np
    >>> from scipy.interpolate import BSpline
    >>> from bsbasis import evaluate_spline
    >>> t = np.r_[[0.0] * 4, 0.5, [1.0] * 4]
    >>> c = np.array([1.0, 2.0, 0.0, -1.0, 3.0])
    >>> x = np.linspace(-0.5, 1.5, 9)
    >>> bool(np.allclose(evaluate_spline(x, t, 3, c), BSpline(t, c, 3)(x)))
    True
    """
    k, nu, threads, mode, tv, nj = _basis(t, k, nu, extrapolate, nj, threads)
    cv = _coefficients(c, nj)
    shape = np.shape(x)
    xv, mode = _abscissae(np.ravel(x) if len(shape) > 1 else x, mode, float(tv[k]),
                          float(tv[nj]), ("t[%d]" % k, "t[%d]" % nj))
    fn = _lib.kernels().bsbasis_evaluate
    out = _values(fn, (tv.ctypes.data, len(tv), k + 1, nj, nu, mode), cv, xv, threads,
                  len(tv))
    return out.reshape(shape)
