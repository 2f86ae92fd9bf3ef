"""Normal equations and P-spline fits of data held in dask arrays.

Each chunk of the abscissae is reduced in a task of its own, on one
thread, by `bsbasis.normal_equations`; the partial results are then added
in a tree whose shape depends only on the number of chunks and
``split_every``, never on the scheduler.  So the same chunking gives the
same bits on every scheduler and in every run, and another chunking the
same result to within rounding.

This is the one module of bsbasis that imports dask::

    import bsbasis.dask
    ne = bsbasis.dask.normal_equations(x, t, 3, y=y)
"""

import math

import dask
import dask.array as da
from dask.base import tokenize
import numpy as np

from . import _normal, _penalties, _pspline
from ._checks import as_int, as_vector

__all__ = ["normal_equations", "uniform_normal_equations", "fit_pspline"]


class _ChunkReduction:
    """The reduction of one chunk: knots (or grid) and options, nothing else.

    Instances travel to the workers inside every task, so they hold only
    what the library call needs besides the data, and pickle small.
    """

    __slots__ = ("t", "k", "nj", "grid", "nu", "extrapolate", "has_y", "has_w")

    def __init__(self, t, k, nj, grid, nu, extrapolate, has_y, has_w):
        self.t = t  # knots, or None on a uniform grid
        self.k = k
        self.nj = nj
        self.grid = grid  # (n, origin, spacing) or None
        self.nu = nu
        self.extrapolate = extrapolate
        self.has_y = has_y
        self.has_w = has_w

    def __getstate__(self):
        return tuple(getattr(self, s) for s in self.__slots__)

    def __setstate__(self, state):
        for s, v in zip(self.__slots__, state):
            setattr(self, s, v)

    def __dask_tokenize__(self):
        return (type(self).__name__,) + self.__getstate__()

    def reduce(self, x, y=None, w=None):
        """The chunk's `NormalEquations`, on one thread."""
        if self.grid is None:
            return _normal.normal_equations(
                x, self.t, self.k, y=y, weights=w, nu=self.nu,
                extrapolate=self.extrapolate, nj=self.nj, threads=1)
        n, origin, spacing = self.grid
        return _normal.uniform_normal_equations(
            x, self.k, n, origin=origin, spacing=spacing, y=y, weights=w, nu=self.nu,
            extrapolate=self.extrapolate, threads=1)

    def __call__(self, x, *rest, block_info=None):
        y = rest[0] if self.has_y else None
        w = rest[-1] if self.has_w else None
        try:
            ne = self.reduce(x, y, w)
        except ValueError as e:
            # Name the chunk: the row numbers in the message count from its start.
            start, stop = block_info[0]["array-location"][0]
            raise ValueError("rows %d to %d: %s" % (start, stop, e)) from e
        out = np.empty(1, dtype=object)  # one block of an object array
        out[0] = ne
        return out


def _sum(*parts):
    """The partial results added left to right."""
    parts = [p[0] if isinstance(p, np.ndarray) else p for p in parts]
    total = parts[0]
    for p in parts[1:]:
        total = total + p
    return total


def _as_dask(a, name, chunks=None):
    """`a` as a 1-D dask array.  Other arrays are wrapped with `chunks`, or
    returned as numpy arrays when `chunks` is None."""
    if not isinstance(a, da.Array):
        if isinstance(a, (str, bytes)):
            raise TypeError("%s must be an array of real numbers, got a string" % name)
        a = np.asarray(a)
    if a.ndim != 1:
        raise ValueError("%s must be 1-D, got an array of shape %s" % (name, a.shape))
    if a.dtype.kind not in "iuf":
        raise TypeError("%s must hold real numbers, got an array of dtype %s"
                        % (name, a.dtype))
    if not isinstance(a, da.Array):
        return a if chunks is None else da.from_array(a, chunks=chunks)
    if any(math.isnan(c) for c in a.chunks[0]):
        raise ValueError("%s has chunks of unknown size; call its compute_chunk_sizes() "
                         "first" % name)
    return a


def _data(x, y, weights):
    """x, y and weights as dask arrays with the chunks of x."""
    x = _as_dask(x, "x", "auto")
    arrays = [x]
    for a, name in ((y, "y"), (weights, "weights")):
        if a is None:
            continue
        a = _as_dask(a, name)
        if a.shape[0] != x.shape[0]:
            raise ValueError("%s has %d entries, x has %d" % (name, a.shape[0], x.shape[0]))
        if not isinstance(a, da.Array):
            a = da.from_array(a, chunks=x.chunks)
        elif a.chunks != x.chunks:
            a = a.rechunk(x.chunks)
        arrays.append(a)
    return arrays


def _check_split_every(split_every):
    split_every = as_int(split_every, "split_every")
    if split_every < 2:
        raise ValueError("split_every must be at least 2, got %d" % split_every)
    return split_every


def _reduce(reduction, arrays, split_every, compute):
    """Runs `reduction` on every chunk of `arrays` and adds the results in a
    fixed tree: groups of split_every consecutive partials, level by level."""
    split_every = _check_split_every(split_every)
    # Every argument but the data checked here, not in a task: on no rows.
    empty = [np.empty(0, dtype=a.dtype) for a in arrays]
    reduction.reduce(empty[0], empty[1] if reduction.has_y else None,
                     empty[-1] if reduction.has_w else None)
    # One task per chunk of x, its result a one-element object block.
    parts = da.map_blocks(reduction, *arrays, dtype=object,
                          chunks=((1,) * arrays[0].numblocks[0],),
                          meta=np.empty(0, dtype=object),
                          name="bsbasis-chunk-" + tokenize(reduction, *arrays))
    level = list(parts.to_delayed(optimize_graph=True).ravel())
    add = dask.delayed(_sum, pure=True)
    while len(level) > split_every:
        level = [add(*level[i:i + split_every]) for i in range(0, len(level), split_every)]
    total = add(*level)
    return total.compute() if compute else total


def normal_equations(x, t, k, *, y=None, weights=None, nu=0, extrapolate=False, nj=None,
                     split_every=8, compute=True):
    """Normal equations of a B-spline least-squares fit to dask arrays.

    The same sums as `bsbasis.normal_equations`, formed chunk by chunk:
    one task per chunk of x (the library on one thread), the results added
    in groups of `split_every` consecutive chunks, level after level.

    Parameters
    ----------
    x : dask.array.Array or array_like, shape (n,)
        Abscissae.  Other arrays are wrapped with ``chunks='auto'``.
    t : array_like, shape (nt,)
        Non-decreasing, finite knots.
    k : int
        Degree of the B-splines.
    y : dask.array.Array or array_like, shape (n,), optional
        Ordinates; without them the result has no ``rhs`` and ``yty``.
    weights : dask.array.Array or array_like, shape (n,), optional
        Finite, non-negative weights; default 1.
    nu, extrapolate, nj
        As for `bsbasis.normal_equations`.
    split_every : int, optional
        How many partial results one task adds, at least 2.  Default 8.
    compute : bool, optional
        True (default): compute and return the result.  False: return a
        `dask.delayed.Delayed` that computes it.

    Returns
    -------
    NormalEquations or Delayed

    Raises
    ------
    TypeError
        For arguments of the wrong type, as `bsbasis.normal_equations`
        raises it, and for data that are not real.
    ValueError
        For wrong values, as `bsbasis.normal_equations` raises them; for
        data that are not 1-D, chunks of unknown size, y or weights whose
        length is not that of x.  An error found in a chunk names the rows
        of the chunk; its row numbers count from the chunk's start.

    Notes
    -----
    y and weights are rechunked to the chunks of x when theirs differ.
    The result is the same bits for the same chunks of x and the same
    `split_every`, on any scheduler and in any run; with other chunks it
    agrees to within rounding.
    """
    arrays = _data(x, y, weights)
    tv, mask = as_vector(t, "t")
    if mask is not None:
        raise ValueError("t must not be masked")
    tv = tv.copy()  # the tasks keep the knots as they are now
    reduction = _ChunkReduction(tv, k, nj, None, nu, extrapolate, y is not None,
                           weights is not None)
    return _reduce(reduction, arrays, split_every, compute)


def uniform_normal_equations(x, k, n, *, origin=0.0, spacing=1.0, y=None, weights=None,
                             nu=0, extrapolate=False, split_every=8, compute=True):
    """Normal equations on the uniform knots ``origin + m*spacing``, from
    dask arrays.

    `bsbasis.uniform_normal_equations`, formed chunk by chunk as
    `normal_equations` does; the parameters are those two functions'.

    Returns
    -------
    NormalEquations or Delayed
    """
    arrays = _data(x, y, weights)
    reduction = _ChunkReduction(None, k, None, (n, origin, spacing), nu, extrapolate,
                           y is not None, weights is not None)
    return _reduce(reduction, arrays, split_every, compute)


def _data_range(x, weights):
    """The smallest and largest abscissa with positive weight, in one pass."""
    if weights is not None:
        used = weights > 0
        lo, hi = da.where(used, x, np.inf).min(), da.where(used, x, -np.inf).max()
    else:
        lo, hi = x.min(), x.max()
    lo, hi = dask.compute(lo, hi)
    return float(lo), float(hi)


def fit_pspline(x, y, *, k=3, n_knots=None, t=None, penalty=2, lam="gcv", weights=None,
                split_every=8):
    """P-spline fit to dask arrays: the normal equations in one pass over
    the data, then `bsbasis._pspline.fit_normal_equations`.

    Parameters
    ----------
    x, y : dask.array.Array or array_like, shape (m,)
        Abscissae and responses; y is rechunked to the chunks of x.
    k : int, optional
        Degree.  Default 3.
    n_knots : int, optional
        Number of equally spaced base knots from the smallest to the
        largest x with positive weight, when t is not given; default
        ``min(40, max(4, m // 4))``.  The knots are those of
        `bsbasis.fit_pspline` (``kind='uniform'``, ``boundary='extended'``
        of `bsbasis.make_knots`); quantile knots are not offered here, as
        they would need a sort of the data.
    t : array_like, optional
        Knots to use instead.  Given, the data are read once; otherwise
        twice: once for their range, once for the sums.
    penalty, lam
        As for `bsbasis.fit_pspline`; ``lam='gcv'`` chooses the smoothing
        from the normal equations alone, with no further pass.
    weights : dask.array.Array or array_like, shape (m,), optional
        Finite, non-negative weights, rechunked to the chunks of x.
    split_every : int, optional
        As for `normal_equations`.

    Returns
    -------
    PSplineFit
        The fit, as `bsbasis.fit_pspline` returns it.

    Raises
    ------
    TypeError, ValueError
        As `normal_equations` and `bsbasis.fit_pspline` raise them.
    numpy.linalg.LinAlgError
        If the penalised normal equations are singular.
    """
    if y is None:
        raise ValueError("y is needed for a fit")
    x, y, *rest = _data(x, y, weights)
    w = rest[0] if rest else None
    k = as_int(k, "k")
    if t is None:
        n_knots = _pspline.default_n_knots(x.shape[0]) if n_knots is None else n_knots
        lo, hi = _data_range(x, w)
        if not lo < hi:  # also NaN, and no positive weight at all
            raise ValueError("x needs at least 2 distinct, finite values with positive "
                             "weight; its range is [%r, %r]" % (lo, hi))
        # make_knots places uniform knots from the two ends alone.
        t = _penalties.make_knots(np.array([lo, hi]), n_knots, k, kind="uniform",
                                  boundary="extended")
    elif n_knots is not None:
        raise ValueError("give n_knots or t, not both")
    ne = normal_equations(x, t, k, y=y, weights=w, split_every=split_every)
    return _pspline.fit_normal_equations(ne, t, k, penalty=penalty, lam=lam)
