"""Normal equations and spline values straight from the abscissae.

The library forms the rows of the design matrix in a cache-sized buffer and
adds them to the sums at once, so no design matrix is ever held.  It works
in tiles of `TILE` abscissae: a tile's sums start at zero and add its rows
in order, and the tiles are added to the total one after the other.  Threads
here form tiles in parallel and add them in that same order, so the result
is the same bits for any number of threads.
"""

import numpy as np

from . import _lib, _tiles
from ._checks import (as_int, as_vector, check_degree, check_extrapolate, check_knots,
                      check_threads)
from ._core import _abscissae, uniform_grid

# Abscissae per tile of the sums (BSBASIS_NORMAL_TILE in bsbasis.h).
TILE = 65536

_DATA = -8  # the library's status for data it refuses


class NormalEquations:
    """Weighted normal equations of a B-spline basis, summed over data.

    For the design matrix X of the abscissae, weights W and responses y:

    Attributes
    ----------
    gram : ndarray, shape (k + 1, n)
        ``X.T @ W @ X`` in the upper band form of
        `scipy.linalg.solveh_banded`: ``gram[k + i - j, j] == G[i, j]`` for
        ``i <= j``.
    rhs : ndarray, shape (n,), or None
        ``X.T @ W @ y``; None when no responses were given.
    yty : float or None
        ``y.T @ W @ y``; None without responses.
    sum_weights : float
        The sum of the weights of the rows in range.
    count : int
        The number of abscissae in range (rows that are not empty).

    Partial results over parts of the data add up with ``+`` (and `sum`).
    """

    def __init__(self, gram, rhs=None, yty=None, sum_weights=0.0, count=0):
        gram = np.asarray(gram, dtype=np.float64)
        if gram.ndim != 2 or gram.shape[0] < 1:
            raise ValueError("gram must be a 2-D band of shape (k + 1, n), got shape %s"
                             % (gram.shape,))
        if (rhs is None) != (yty is None):
            raise ValueError("rhs and yty come together: give both or neither")
        if rhs is not None:
            rhs = np.asarray(rhs, dtype=np.float64)
            if rhs.shape != (gram.shape[1],):
                raise ValueError("rhs must have shape (%d,), got %s"
                                 % (gram.shape[1], rhs.shape))
            yty = float(yty)
        self.gram, self.rhs, self.yty = gram, rhs, yty
        self.sum_weights = float(sum_weights)
        self.count = as_int(count, "count")

    @property
    def n(self):
        """The number of basis functions."""
        return self.gram.shape[1]

    def __add__(self, other):
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
        return NormalEquations(self.gram + other.gram,
                               self.rhs + other.rhs if both else None,
                               self.yty + other.yty if both else None,
                               self.sum_weights + other.sum_weights,
                               self.count + other.count)

    __radd__ = __add__

    def solve(self, penalty=None, lam=0.0):
        """Coefficients of the penalised least-squares fit.

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

        Raises
        ------
        numpy.linalg.LinAlgError
            When the system is singular (too few abscissae for the basis
            and no penalty to make up for them).
        """
        from ._banded import solve_penalized
        return solve_penalized(self.gram, self.rhs, penalty, lam)

    def __repr__(self):
        return ("NormalEquations(n=%d, bandwidth=%d, count=%d, sum_weights=%r, "
                "responses=%s)" % (self.n, self.gram.shape[0] - 1, self.count,
                                   self.sum_weights, self.rhs is not None))


# ------------------------------------------------------------------ data

def _basis(t, k, nu, extrapolate, nj, threads):
    """The checked arguments of a basis on knots."""
    k, nu = check_degree(k, nu)
    threads = check_threads(threads)
    mode = check_extrapolate(extrapolate)
    tv, tmask = as_vector(t, "t")
    if tmask is not None:
        raise ValueError("t must not be masked")
    return k, nu, threads, mode, tv, check_knots(tv, k, nj)


def _data(values, name, n):
    if values is None:
        return None
    v, mask = as_vector(values, name)
    if mask is not None:
        raise ValueError("%s must not be masked; give such rows a weight of 0 and any "
                         "finite value, or leave them out" % name)
    if len(v) != n:
        raise ValueError("%s has %d entries but x has %d" % (name, len(v), n))
    return v


def _bad_row(row, x, y, w):
    if w is not None and not (np.isfinite(w[row]) and w[row] >= 0):
        return ValueError("weights[%d] = %r: weights must be finite and >= 0"
                          % (row, float(w[row])))
    return ValueError("y[%d] = %r on a row in range (x[%d] = %r): responses must be "
                      "finite" % (row, float(y[row]), row, float(x[row])))


class _Sums:
    """One call of the library's sums, over rows a .. a+m-1 of the data."""

    def __init__(self, fn, args, order, n, x, y, w):
        self.fn, self.args, self.order, self.n = fn, args, order, n
        self.x, self.y, self.w = x, y, w

    def zeros(self):
        return (np.zeros((self.order, self.n)),
                np.zeros(self.n) if self.y is not None else None,
                np.zeros(2), np.zeros(1, np.int64))

    def __call__(self, a, m, acc=None):
        gram, rhs, sums, count = self.zeros() if acc is None else acc
        bad = np.zeros(1, np.int64)
        y, w = self.y, self.w
        status = self.fn(*self.args, self.x.ctypes.data + 8 * a,
                         None if y is None else y.ctypes.data + 8 * a,
                         None if w is None else w.ctypes.data + 8 * a, m,
                         gram.ctypes.data, None if rhs is None else rhs.ctypes.data,
                         sums.ctypes.data, count.ctypes.data, bad.ctypes.data)
        if status == _DATA and bad[0] >= 0:
            raise _bad_row(a + int(bad[0]), self.x, y, w)
        _tiles.check_status(status)
        return gram, rhs, sums, count

    def accumulators(self, out):
        """The arrays the sums are added to: zeros, or those of `out`."""
        if out is None:
            return self.zeros()
        if not isinstance(out, NormalEquations):
            raise TypeError("out must be a NormalEquations, got %s" % type(out).__name__)
        if out.gram.shape != (self.order, self.n):
            raise ValueError("out has a band of shape %s; this basis needs (%d, %d)"
                             % (out.gram.shape, self.order, self.n))
        if (out.rhs is None) != (self.y is None):
            raise ValueError("out was formed %s responses and this call has %s"
                             % ("with" if out.rhs is not None else "without",
                                "none" if self.y is None else "some"))
        # Copies, so that a call that fails part way leaves `out` as it was.
        return (np.array(out.gram, order="C"),
                None if out.rhs is None else np.array(out.rhs, order="C"),
                np.array([out.yty or 0.0, out.sum_weights]), np.array([out.count], np.int64))

    def run(self, threads, out=None):
        nx = len(self.x)
        tiles = -(-nx // TILE)
        threads = _tiles.threads_for(threads, nx, self.order)
        acc = self.accumulators(out)
        if threads == 1 or tiles <= 1:
            self(0, nx, acc)
        else:
            self._parallel(min(threads, tiles), tiles, acc)
        gram, rhs, sums, count = acc
        has_y = rhs is not None
        if out is None:
            return NormalEquations(gram, rhs, float(sums[0]) if has_y else None,
                                   float(sums[1]), int(count[0]))
        out.gram, out.rhs = gram, rhs
        out.yty = float(sums[0]) if has_y else None
        out.sum_weights, out.count = float(sums[1]), int(count[0])
        return out

    def _parallel(self, threads, tiles, total):
        # Tiles in parallel, each from zero, added to the total in tile order:
        # what one call does.  At most 2*threads tiles wait at a time.
        nx = len(self.x)
        pool = _tiles._executor(threads)
        window = 2 * threads
        for start in range(0, tiles, window):
            futures = [pool.submit(self, s * TILE, min(TILE, nx - s * TILE))
                       for s in range(start, min(start + window, tiles))]
            try:
                for f in futures:
                    part = f.result()
                    for acc, p in zip(total, part):
                        if acc is not None:
                            acc += p
            finally:
                for f in futures:
                    f.cancel()


def normal_equations(x, t, k, *, y=None, weights=None, nu=0, extrapolate=False, nj=None,
                     threads=None, out=None):
    """Normal equations of a B-spline least-squares fit, without the design
    matrix.

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
        Finite and >= 0; by default all 1 (the same bits as ones).
    nu : int, default 0
        Derivative order of the rows.
    extrapolate : bool or str, default False
        As for `design_matrix`: rows outside the base interval raise
        (False), are left out ('zero'), or are extrapolated.
    nj : int, optional
        Number of basis functions; default ``nt - k - 1``.
    threads : int, optional
        Threads to use; by default every core for large inputs.  The result
        is the same bits for any value.
    out : NormalEquations, optional
        Sums of earlier data on the same basis (with responses if and only
        if y is given), to add this data to, in place; it is returned.

    Returns
    -------
    NormalEquations

    Notes
    -----
    The sums run in tiles of `TILE` abscissae counted from ``x[0]``: a
    tile's sums start at zero and add its rows in order, then the tiles are
    added to the total in order.  The result is therefore the same bits for
    any thread count, and for data passed in consecutive parts through
    `out` when every part but the last holds a multiple of `TILE` rows.
    ``a + b`` adds b's total at once, so it gives those bits when b is a
    single tile; other splits agree within rounding.

    Raises
    ------
    TypeError, ValueError
        As `design_matrix` for the basis and x; ValueError also for y or
        weights of another length than x, negative or non-finite weights,
        and responses that are not finite on a row in range (naming the
        first such row).
    """
    k, nu, threads, mode, tv, nj = _basis(t, k, nu, extrapolate, nj, threads)
    xv, mode = _abscissae(x, mode, float(tv[k]), float(tv[nj]),
                          ("t[%d]" % k, "t[%d]" % nj))
    yv = _data(y, "y", len(xv))
    wv = _data(weights, "weights", len(xv))
    fn = _lib.kernels().bsbasis_normal_equations
    sums = _Sums(fn, (tv.ctypes.data, len(tv), k + 1, nj, nu, mode), k + 1, nj, xv, yv, wv)
    sums.t = tv  # the knots stay alive while the library reads them
    return sums.run(threads, out)


def uniform_normal_equations(x, k, n, *, origin=0.0, spacing=1.0, y=None, weights=None, nu=0,
                             extrapolate=False, threads=None, out=None):
    """`normal_equations` on the uniform grid of `uniform_design_matrix`:
    knots ``origin + m*spacing``, n basis functions of degree k."""
    k, nu = check_degree(k, nu)
    threads = check_threads(threads)
    mode = check_extrapolate(extrapolate)
    n, origin, spacing, lo, hi = uniform_grid(k, n, origin, spacing)
    xv, mode = _abscissae(x, mode, lo, hi, ("origin + k*spacing", "origin + n*spacing"))
    yv = _data(y, "y", len(xv))
    wv = _data(weights, "weights", len(xv))
    fn = _lib.kernels().bsbasis_uniform_normal_equations
    return _Sums(fn, (origin, spacing, n, k + 1, nu, mode), k + 1, n, xv, yv, wv).run(threads,
                                                                                     out)


# ---------------------------------------------------------------- values

def _values(fn, args, c, xv, threads):
    """X c at the abscissae xv, in parts of at least TILE rows per thread."""
    nx = len(xv)
    out = np.empty(nx)

    def part(a, m):
        _tiles.check_status(fn(*args, c.ctypes.data, xv.ctypes.data + 8 * a, m,
                               out.ctypes.data + 8 * a))

    threads = _tiles.threads_for(threads, nx, 4)
    step = max(-(-nx // threads), TILE)
    if threads == 1 or nx <= step:
        part(0, nx)
    else:
        pool = _tiles._executor(threads)
        for f in [pool.submit(part, a, min(step, nx - a)) for a in range(0, nx, step)]:
            f.result()
    out[np.isnan(xv)] = np.nan  # empty rows give 0; a NaN abscissa has no value
    return out


def evaluate_spline(x, t, k, c, *, nu=0, extrapolate=True, nj=None, threads=None):
    """The spline ``sum_j c[j] B_j(x)`` (or its derivative), through the
    library: ``design_matrix(x, t, k, nu=nu, ...) @ c`` without the matrix.

    Parameters
    ----------
    x : array_like
        Abscissae, any shape; the result has the same shape.
    t, k, nj
        The basis, as for `design_matrix`.
    c : array_like, shape (nj,)
        Coefficients.
    nu : int, default 0
        Derivative order.
    extrapolate : bool or str, default True
        As for `design_matrix`; True continues the end pieces, as
        `scipy.interpolate.BSpline` does by default.  Abscissae that give
        an empty row (NaN, or outside under 'zero') give 0, except that
        NaN and masked entries give NaN.
    threads : int, optional
        Threads to use.

    Returns
    -------
    ndarray
    """
    k, nu, threads, mode, tv, nj = _basis(t, k, nu, extrapolate, nj, threads)
    cv = _data(c, "c", nj) if np.ndim(c) == 1 else None
    if cv is None:
        raise ValueError("c must be 1-D with nj = %d entries, got shape %s"
                         % (nj, np.shape(c)))
    shape = np.shape(x)
    xv, mode = _abscissae(np.ravel(x) if len(shape) > 1 else x, mode, float(tv[k]),
                          float(tv[nj]), ("t[%d]" % k, "t[%d]" % nj))
    fn = _lib.kernels().bsbasis_evaluate
    out = _values(fn, (tv.ctypes.data, len(tv), k + 1, nj, nu, mode), cv, xv, threads)
    return out.reshape(shape)
