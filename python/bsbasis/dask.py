"""Normal equations and P-spline fits of data held in dask arrays.

Each chunk of the abscissae is reduced in a task of its own, on one
thread, by `bsbasis.normal_equations`; the partial results are then added
in a tree whose shape depends only on the number of chunks and
``split_every``, never on the scheduler.  So the same chunking gives the
same bits on every scheduler and in every run, and another chunking the
same result to within rounding.  The data are never brought into the
client's memory: dask arrays and dask Series (columns of a dask DataFrame)
are read chunk by chunk in the tasks.

This is the one module of bsbasis that imports dask::

    import bsbasis.dask
    ne = bsbasis.dask.normal_equations(x, t, 3, y=y)
"""

from __future__ import annotations

import math
import re
import sys
import warnings
from typing import TYPE_CHECKING, Any, Callable, Literal, Sequence, SupportsIndex, Union, overload

import dask
import dask.array as da
from dask.base import tokenize
from dask.graph_manipulation import bind
import numpy as np

from . import _normal, _penalties, _pspline
from ._checks import as_int, as_unmasked_vector, check_knots

if TYPE_CHECKING:
    from dask.dataframe.core import Series
    from dask.delayed import Delayed
    from numpy.typing import ArrayLike, NDArray

    from ._normal import NormalEquations
    from ._pspline import PSplineFit
    from ._typing import Extrapolate, HasDtype, Penalty, Real

    # The data of the functions here: a dask array, a dask Series, or an
    # array in memory.
    _Data = Union[ArrayLike, da.Array, Series]
    # A first row and its value.
    _Row = tuple[int, float]

__all__ = ["normal_equations", "uniform_normal_equations", "fit_pspline"]

# A row named in a message of the in-memory functions: x[12], y[3], weights[7].
_ROW = re.compile(r"\b(x|y|weights)\[(\d+)\]")


def _shift_rows(message: str, offset: int) -> str:
    """The message with every row it names counted `offset` rows later."""
    return _ROW.sub(lambda m: "%s[%d]" % (m.group(1), int(m.group(2)) + offset), message)


def _block(value: object) -> NDArray[np.object_]:
    """value as the one element of a block of an object array."""
    out = np.empty(1, dtype=object)
    out[0] = value
    return out


def _start(block_info: Any) -> int:
    """The first row of the chunk a task works on."""
    # dask's description of the task's chunks, by argument.
    start: int = block_info[0]["array-location"][0][0]
    return start


class _ChunkReduction:
    """The reduction of one chunk: knots (or grid) and options, nothing else.

    Instances travel to the workers inside every task, so they hold only
    what the library call needs besides the data, and pickle small.  The
    knots may instead come with each call (``knots=``), when the graph
    computes them.
    """

    __slots__ = ("t", "k", "nj", "grid", "nu", "extrapolate", "has_y", "has_w")

    def __init__(self, t: NDArray[np.float64] | None, k: SupportsIndex, nj: SupportsIndex | None,
                 grid: tuple[SupportsIndex, Real, Real] | None, nu: SupportsIndex,
                 extrapolate: Extrapolate, has_y: bool, has_w: bool) -> None:
        self.t = t  # knots, or None on a uniform grid or when they come with the call
        self.k = k
        self.nj = nj
        self.grid = grid  # (n, origin, spacing) or None
        self.nu = nu
        self.extrapolate = extrapolate
        self.has_y = has_y
        self.has_w = has_w

    def __getstate__(self) -> tuple[Any, ...]:
        return tuple(getattr(self, s) for s in _ChunkReduction.__slots__)

    def __setstate__(self, state: tuple[Any, ...]) -> None:
        for s, v in zip(_ChunkReduction.__slots__, state):
            setattr(self, s, v)

    def __dask_tokenize__(self) -> tuple[Any, ...]:
        return (type(self).__name__,) + self.__getstate__()

    def reduce(self, x: NDArray[Any], y: NDArray[Any] | None = None,
               w: NDArray[Any] | None = None,
               knots: NDArray[np.float64] | None = None) -> NormalEquations:
        """The chunk's `NormalEquations`, on one thread."""
        if self.grid is None:
            # Knots come with the call when the instance has none.
            return _normal.normal_equations(
                x, self.t if knots is None else knots,  # type: ignore[arg-type]
                self.k, y=y, weights=w, nu=self.nu, extrapolate=self.extrapolate, nj=self.nj,
                threads=1)
        n, origin, spacing = self.grid
        return _normal.uniform_normal_equations(
            x, self.k, n, origin=origin, spacing=spacing, y=y, weights=w, nu=self.nu,
            extrapolate=self.extrapolate, threads=1)

    def __call__(self, x: NDArray[Any], *rest: NDArray[Any],
                 knots: NDArray[np.float64] | None = None,
                 block_info: Any = None) -> NDArray[np.object_]:
        y = rest[0] if self.has_y else None
        w = rest[-1] if self.has_w else None
        try:
            return _block(self.reduce(x, y, w, knots))
        except ValueError as e:
            # The rows the message names count from the chunk's start: from
            # the array's start instead, as in memory.
            start = _start(block_info)
            raise ValueError("rows %d to %d: %s" % (start, start + len(x),
                                                    _shift_rows(str(e), start))) from e


class _FitReduction(_ChunkReduction):
    """The reduction of one chunk for a fit: its normal equations and, with
    weights, its count of rows of positive weight."""

    __slots__ = ()

    # A fit's chunks give a _FitPart where the sums' give NormalEquations.
    def reduce(self, x: NDArray[Any], y: NDArray[Any] | None = None,  # type: ignore[override]
               w: NDArray[Any] | None = None,
               knots: NDArray[np.float64] | None = None) -> _FitPart:
        ne = super().reduce(x, y, w, knots)
        return _FitPart(ne, None if w is None else _pspline.observations(w))


class _FitPart:
    """Normal equations and the count of rows of positive weight (None
    without weights), added part to part."""

    __slots__ = ("ne", "positive")

    def __init__(self, ne: NormalEquations, positive: int | None) -> None:
        self.ne, self.positive = ne, positive

    def __add__(self, other: _FitPart) -> _FitPart:
        # Every part has a count, or none has.
        return _FitPart(self.ne + other.ne,
                        None if self.positive is None
                        else self.positive + other.positive)  # type: ignore[operator]


def _sum(*parts: Any) -> Any:
    """The partial results added left to right."""
    # Blocks (of dask's tasks) and partial results, all added alike.
    parts = [p[0] if isinstance(p, np.ndarray) else p for p in parts]  # type: ignore[assignment]
    total = parts[0]
    for p in parts[1:]:
        total = total + p
    return total


def _check_dtype(a: HasDtype, name: str) -> None:
    if a.dtype.kind not in "iuf":
        raise TypeError("%s must hold real numbers, got an array of dtype %s"
                        % (name, a.dtype))


@overload
def _as_dask(a: _Data, name: str, chunks: None = ...) -> NDArray[Any] | da.Array: ...


@overload
def _as_dask(a: _Data, name: str, chunks: str | tuple[tuple[float, ...], ...]) -> da.Array: ...


def _as_dask(a: _Data, name: str,
             chunks: str | tuple[tuple[float, ...], ...] | None = None) -> NDArray[Any] | da.Array:
    """`a` as a 1-D dask array.  Other arrays are wrapped with `chunks`, or
    returned as numpy arrays when `chunks` is None."""
    if not isinstance(a, da.Array):
        if dask.is_dask_collection(a):
            raise TypeError("%s must be a dask array or a dask Series (one column of a "
                            "DataFrame), got %s" % (name, type(a).__name__))
        if isinstance(a, (str, bytes)):
            raise TypeError("%s must be an array of real numbers, got a string" % name)
        a = np.asarray(a)
    if a.ndim != 1:
        raise ValueError("%s must be 1-D, got an array of shape %s" % (name, a.shape))
    _check_dtype(a, name)
    if not isinstance(a, da.Array):
        return a if chunks is None else da.from_array(a, chunks=chunks)
    if any(math.isnan(c) for c in a.chunks[0]):
        raise ValueError("%s has chunks of unknown size; call its compute_chunk_sizes() "
                         "first" % name)
    return a


def _columns(named: list[tuple[Any, str]]) -> list[tuple[Any, str]]:
    """The dask Series among (value, name) pairs as dask arrays, their
    partitions' lengths counted together in one pass (nothing else is
    computed, and nothing but the lengths reaches the client)."""
    dd = sys.modules.get("dask.dataframe")
    if dd is None:
        return named
    series = [i for i, (a, _) in enumerate(named) if isinstance(a, dd.Series)]
    for i in series:
        _check_dtype(named[i][0], named[i][1])
    lengths = dask.compute(*[named[i][0].map_partitions(len) for i in series])
    named = list(named)
    for i, counts in zip(series, lengths):
        a, name = named[i]
        named[i] = (a.to_dask_array(lengths=tuple(int(c) for c in counts)), name)
    return named


def _data(x: _Data, y: _Data | None, weights: _Data | None) -> list[da.Array]:
    """x, y and weights as dask arrays with the chunks of x."""
    # The data as given: dask Series are found through sys.modules, where
    # mypy cannot follow, so the values are Any until _as_dask has them.
    named = _columns([(a, name) for a, name in ((x, "x"), (y, "y"), (weights, "weights"))
                      if a is not None])
    x = _as_dask(named[0][0], "x", "auto")
    arrays = [x]
    for a, name in named[1:]:
        a = _as_dask(a, name)
        if a.shape[0] != x.shape[0]:
            raise ValueError("%s has %d entries, x has %d" % (name, a.shape[0], x.shape[0]))
        if not isinstance(a, da.Array):
            a = da.from_array(a, chunks=x.chunks)
        elif a.chunks != x.chunks:
            a = a.rechunk(x.chunks)
        arrays.append(a)
    return arrays


def _check_split_every(split_every: SupportsIndex) -> int:
    split_every = as_int(split_every, "split_every")
    if split_every < 2:
        raise ValueError("split_every must be at least 2, got %d" % split_every)
    return split_every


def _tree(function: Callable[..., NDArray[np.object_]], arrays: Sequence[da.Array],
          split_every: int, name: str, **kwargs: Any) -> Delayed:
    """A delayed object: `function` on every chunk of `arrays` (a block of
    one object each), the results added in a fixed tree: groups of
    split_every consecutive partials, level by level."""
    parts = da.map_blocks(function, *arrays, dtype=object,
                          chunks=((1,) * arrays[0].numblocks[0],),
                          meta=np.empty(0, dtype=object),
                          name=name + "-" + tokenize(function, *arrays, kwargs), **kwargs)
    level = list(parts.to_delayed(optimize_graph=True).ravel())
    add = dask.delayed(_sum, pure=True)
    while len(level) > split_every:
        level = [add(*level[i:i + split_every]) for i in range(0, len(level), split_every)]
    total: Delayed = add(*level)
    return total


def _reduce(reduction: _ChunkReduction, arrays: Sequence[da.Array], split_every: SupportsIndex,
            stand_in: NDArray[np.float64] | None = None, **kwargs: Any) -> Delayed:
    """The delayed sums of `reduction` over the chunks of `arrays`; knots
    computed by the graph come as ``knots=``, and `stand_in` knots of the
    same shape then serve the checks."""
    split_every = _check_split_every(split_every)
    # Every argument but the data checked here, not in a task: on no rows.
    empty = [np.empty(0, dtype=a.dtype) for a in arrays]
    reduction.reduce(empty[0], empty[1] if reduction.has_y else None,
                     empty[-1] if reduction.has_w else None, stand_in)
    return _tree(reduction, arrays, split_every, "bsbasis-chunk", **kwargs)


@overload
def normal_equations(x: _Data, t: ArrayLike, k: SupportsIndex, *, y: _Data | None = ...,
                     weights: _Data | None = ..., nu: SupportsIndex = ...,
                     extrapolate: Extrapolate = ..., nj: SupportsIndex | None = ...,
                     split_every: SupportsIndex = ...,
                     compute: Literal[True] = ...) -> NormalEquations: ...


@overload
def normal_equations(x: _Data, t: ArrayLike, k: SupportsIndex, *, y: _Data | None = ...,
                     weights: _Data | None = ..., nu: SupportsIndex = ...,
                     extrapolate: Extrapolate = ..., nj: SupportsIndex | None = ...,
                     split_every: SupportsIndex = ..., compute: Literal[False]) -> Delayed: ...


@overload
def normal_equations(x: _Data, t: ArrayLike, k: SupportsIndex, *, y: _Data | None = ...,
                     weights: _Data | None = ..., nu: SupportsIndex = ...,
                     extrapolate: Extrapolate = ..., nj: SupportsIndex | None = ...,
                     split_every: SupportsIndex = ...,
                     compute: bool) -> NormalEquations | Delayed: ...


def normal_equations(x: _Data, t: ArrayLike, k: SupportsIndex, *, y: _Data | None = None,
                     weights: _Data | None = None, nu: SupportsIndex = 0,
                     extrapolate: Extrapolate = False, nj: SupportsIndex | None = None,
                     split_every: SupportsIndex = 8,
                     compute: bool = True) -> NormalEquations | Delayed:
    """Normal equations of a B-spline least-squares fit to dask arrays.

    The same sums as `bsbasis.normal_equations`, formed chunk by chunk:
    one task per chunk of x (the library on one thread), the results added
    in groups of `split_every` consecutive chunks, level after level.

    Parameters
    ----------
    x : dask.array.Array, dask Series or array_like, shape (n,)
        Abscissae.  A dask Series (a column of a dask DataFrame) is read
        partition by partition, as a dask array, by position (its index is
        not used); its partitions' lengths are counted first, in one pass
        with those of y and weights.  Other arrays are wrapped with
        ``chunks='auto'``.
    t : array_like, shape (nt,)
        Non-decreasing, finite knots.
    k : int
        Degree of the B-splines.
    y : dask.array.Array, dask Series or array_like, shape (n,), optional
        Ordinates; without them the result has no ``rhs`` and ``yty``.
    weights : dask.array.Array, dask Series or array_like, shape (n,), optional
        Finite, non-negative weights of the squared residuals; default 1.
    nu : int, default 0
        Derivative order of the rows, as for `bsbasis.normal_equations`.
    extrapolate : bool or str, default False
        What rows outside the base interval get, as for
        `bsbasis.normal_equations`.
    nj : int, optional
        Number of basis functions; default ``nt - k - 1``.
    split_every : int, optional
        How many partial results one task adds, at least 2.  Default 8.
    compute : bool, optional
        True (default): compute and return the result.  False: return a
        `dask.delayed.Delayed` that computes it.

    Returns
    -------
    NormalEquations or Delayed
        The sums over all the chunks; under ``compute=False``, a
        `dask.delayed.Delayed` that computes them.

    Raises
    ------
    TypeError
        For arguments of the wrong type, as `bsbasis.normal_equations`
        raises it; for data that are not real, or dask collections other
        than arrays and Series.
    ValueError
        For wrong values, as `bsbasis.normal_equations` raises them; for
        data that are not 1-D, chunks of unknown size, y or weights whose
        length is not that of x.  An error found in a chunk names the rows
        of the chunk (``rows 400 to 800: ...``), then gives the in-memory
        message, its rows counted from the start of the data.

    See Also
    --------
    bsbasis.normal_equations : The same in memory.
    fit_pspline : A P-spline fit from the sums.

    Notes
    -----
    y and weights are rechunked to the chunks of x when theirs differ.
    The result is the same bits for the same chunks of x and the same
    `split_every`, on any scheduler and in any run; with other chunks it
    agrees to within rounding.

    Examples
    --------
    >>> import numpy as np
    >>> import dask.array as da
    >>> import bsbasis, bsbasis.dask
    >>> t = bsbasis.make_knots([0.0, 1.0], 10, 3)
    >>> x = da.linspace(0.0, 1.0, 10_000, chunks=2_500)
    >>> ne = bsbasis.dask.normal_equations(x, t, 3, y=da.sin(x))
    >>> ne.count, ne.gram.shape
    (10000, (4, 12))
    """
    arrays = _data(x, y, weights)
    tv = as_unmasked_vector(t, "t").copy()  # the tasks keep the knots as they are now
    reduction = _ChunkReduction(tv, k, nj, None, nu, extrapolate, y is not None,
                                weights is not None)
    total = _reduce(reduction, arrays, split_every)
    return total.compute() if compute else total


@overload
def uniform_normal_equations(x: _Data, k: SupportsIndex, n: SupportsIndex, *, origin: Real = ...,
                             spacing: Real = ..., y: _Data | None = ...,
                             weights: _Data | None = ..., nu: SupportsIndex = ...,
                             extrapolate: Extrapolate = ..., split_every: SupportsIndex = ...,
                             compute: Literal[True] = ...) -> NormalEquations: ...


@overload
def uniform_normal_equations(x: _Data, k: SupportsIndex, n: SupportsIndex, *, origin: Real = ...,
                             spacing: Real = ..., y: _Data | None = ...,
                             weights: _Data | None = ..., nu: SupportsIndex = ...,
                             extrapolate: Extrapolate = ..., split_every: SupportsIndex = ...,
                             compute: Literal[False]) -> Delayed: ...


@overload
def uniform_normal_equations(x: _Data, k: SupportsIndex, n: SupportsIndex, *, origin: Real = ...,
                             spacing: Real = ..., y: _Data | None = ...,
                             weights: _Data | None = ..., nu: SupportsIndex = ...,
                             extrapolate: Extrapolate = ..., split_every: SupportsIndex = ...,
                             compute: bool) -> NormalEquations | Delayed: ...


def uniform_normal_equations(x: _Data, k: SupportsIndex, n: SupportsIndex, *,
                             origin: Real = 0.0, spacing: Real = 1.0, y: _Data | None = None,
                             weights: _Data | None = None, nu: SupportsIndex = 0,
                             extrapolate: Extrapolate = False, split_every: SupportsIndex = 8,
                             compute: bool = True) -> NormalEquations | Delayed:
    """Normal equations on uniform knots ``origin + m*spacing`` from dask arrays.

    `bsbasis.uniform_normal_equations`, formed chunk by chunk as
    `normal_equations` does.

    Parameters
    ----------
    x : dask.array.Array, dask Series or array_like, shape (m,)
        Abscissae, as for `normal_equations`.
    k : int
        Degree of the B-splines.
    n : int
        Number of basis functions, at least k + 1.
    origin, spacing : float, default 0.0 and 1.0
        The grid: finite, spacing > 0, as for
        `bsbasis.uniform_normal_equations`.
    y, weights : dask.array.Array, dask Series or array_like, shape (m,), optional
        Responses and weights of the squared residuals, as for
        `normal_equations`.
    nu : int, default 0
        Derivative order of the rows.
    extrapolate : bool or str, default False
        What rows outside the base interval get, as for
        `bsbasis.uniform_normal_equations`.
    split_every : int, default 8
        How many partial results one task adds, at least 2.
    compute : bool, default True
        Compute and return the result; False returns a
        `dask.delayed.Delayed` that computes it.

    Returns
    -------
    NormalEquations or Delayed
        The sums over all the chunks; under ``compute=False``, a
        `dask.delayed.Delayed` that computes them.

    Raises
    ------
    TypeError, ValueError
        As `normal_equations` raises them.

    See Also
    --------
    bsbasis.uniform_normal_equations : The same in memory.

    Examples
    --------
    >>> import dask.array as da
    >>> import bsbasis.dask
    >>> x = da.linspace(3.0, 10.0, 1_000, chunks=250)
    >>> bsbasis.dask.uniform_normal_equations(x, 3, 10).count
    1000
    """
    arrays = _data(x, y, weights)
    reduction = _ChunkReduction(None, k, None, (n, origin, spacing), nu, extrapolate,
                                y is not None, weights is not None)
    total = _reduce(reduction, arrays, split_every)
    return total.compute() if compute else total


# ------------------------------------------------------------------ fits

class _Range:
    """What the knots need from the data, as in memory: the first row whose
    x is not finite, the first whose weight is not finite and >= 0 (each
    (row, value) or None), and the smallest and largest x of positive weight
    (None when there is none)."""

    __slots__ = ("bad_x", "bad_w", "lo", "hi")

    def __init__(self, bad_x: _Row | None, bad_w: _Row | None, lo: float | None,
                 hi: float | None) -> None:
        self.bad_x, self.bad_w, self.lo, self.hi = bad_x, bad_w, lo, hi

    def __add__(self, other: _Range) -> _Range:
        def first(a: _Row | None, b: _Row | None) -> _Row | None:
            return a if b is None or (a is not None and a[0] <= b[0]) else b

        def extreme(f: Callable[[float, float], float], a: float | None,
                    b: float | None) -> float | None:
            return b if a is None else a if b is None else f(a, b)

        return _Range(first(self.bad_x, other.bad_x), first(self.bad_w, other.bad_w),
                      extreme(min, self.lo, other.lo), extreme(max, self.hi, other.hi))


def _first_bad(bad: NDArray[np.bool_], values: NDArray[np.float64], start: int) -> _Row | None:
    """(row, value) of the first True in bad, rows counted from start."""
    if not bad.any():
        return None
    p = int(np.argmax(bad))
    return start + p, float(values[p])


def _chunk_range(x: NDArray[Any], *rest: NDArray[Any],
                 block_info: Any = None) -> NDArray[np.object_]:
    """The _Range of one chunk, its rows counted from the array's start."""
    start = _start(block_info)
    x = np.asarray(x, dtype=np.float64)
    w = np.asarray(rest[0], dtype=np.float64) if rest else None
    bad_x = _first_bad(~np.isfinite(x), x, start)
    bad_w = None if w is None else _first_bad(~(np.isfinite(w) & (w >= 0)), w, start)
    used = x if w is None else x[w > 0]
    lo = float(used.min()) if len(used) else None
    hi = float(used.max()) if len(used) else None
    return _block(_Range(bad_x, bad_w, lo, hi))


def _knots(data_range: _Range, n_knots: SupportsIndex, k: int,
           has_w: bool) -> NDArray[np.float64]:
    """The knots the in-memory fit places, from the data's _Range; its
    errors, naming the same rows.  The in-memory `make_knots` decides, on
    stand-in data of one or two values with the range's extremes."""
    def knots(x: list[float], w: list[float] | None = None, row: int = 0) -> NDArray[np.float64]:
        try:
            return _penalties.make_knots(np.array(x, dtype=np.float64), n_knots, k,
                                         kind="uniform", boundary="extended",
                                         weights=None if w is None else np.array(w, np.float64))
        except ValueError as e:
            raise ValueError(_shift_rows(str(e), row)) from None

    if data_range.bad_x is not None:
        row, value = data_range.bad_x
        knots([value], row=row)
    if data_range.bad_w is not None:
        row, value = data_range.bad_w
        knots([0.0], [value], row=row)
    if data_range.lo is None:
        return knots([0.0], [0.0])  # no row of positive weight
    ends = [data_range.lo, data_range.hi]  # hi is None only with lo
    return knots(ends, [1.0, 1.0] if has_w else None)  # type: ignore[arg-type]


def _fit(part: _FitPart, t: ArrayLike, k: int, penalty: Penalty, lam: Real | Literal["gcv"],
         lam_bounds: Sequence[Real] | None, warn: bool) -> tuple[PSplineFit, str | None]:
    """The fit from the summed parts, through the in-memory fit's path;
    returns the fit and the warning it gives (given here when warn)."""
    count = part.ne.count if part.positive is None else part.positive
    fit, note = _pspline._fit_sums(part.ne, t, k, penalty, lam, lam_bounds, count)
    if warn and note is not None:
        warnings.warn(note, UserWarning, stacklevel=2)
    return fit, note


def _fit_task(part: _FitPart, t: ArrayLike, k: int, penalty: Penalty,
              lam: Real | Literal["gcv"], lam_bounds: Sequence[Real] | None) -> PSplineFit:
    return _fit(part, t, k, penalty, lam, lam_bounds, warn=True)[0]


@overload
def fit_pspline(x: _Data, y: _Data, *, k: SupportsIndex = ..., n_knots: SupportsIndex | None = ...,
                t: ArrayLike | None = ..., penalty: Penalty = ...,
                lam: Real | Literal["gcv"] = ..., lam_bounds: Sequence[Real] | None = ...,
                weights: _Data | None = ..., split_every: SupportsIndex = ...,
                compute: Literal[True] = ...) -> PSplineFit: ...


@overload
def fit_pspline(x: _Data, y: _Data, *, k: SupportsIndex = ..., n_knots: SupportsIndex | None = ...,
                t: ArrayLike | None = ..., penalty: Penalty = ...,
                lam: Real | Literal["gcv"] = ..., lam_bounds: Sequence[Real] | None = ...,
                weights: _Data | None = ..., split_every: SupportsIndex = ...,
                compute: Literal[False]) -> Delayed: ...


@overload
def fit_pspline(x: _Data, y: _Data, *, k: SupportsIndex = ..., n_knots: SupportsIndex | None = ...,
                t: ArrayLike | None = ..., penalty: Penalty = ...,
                lam: Real | Literal["gcv"] = ..., lam_bounds: Sequence[Real] | None = ...,
                weights: _Data | None = ..., split_every: SupportsIndex = ...,
                compute: bool) -> PSplineFit | Delayed: ...


def fit_pspline(x: _Data, y: _Data, *, k: SupportsIndex = 3,
                n_knots: SupportsIndex | None = None, t: ArrayLike | None = None,
                penalty: Penalty = 2, lam: Real | Literal["gcv"] = "gcv",
                lam_bounds: Sequence[Real] | None = None, weights: _Data | None = None,
                split_every: SupportsIndex = 8, compute: bool = True) -> PSplineFit | Delayed:
    """Fit a P-spline to dask arrays from sums formed chunk by chunk.

    The fit is the one `bsbasis.fit_pspline` makes on the same data in
    memory.

    Parameters
    ----------
    x, y : dask.array.Array, dask Series or array_like, shape (m,)
        Abscissae and responses, as for `normal_equations`; y is rechunked
        to the chunks of x.
    k : int, optional
        Degree.  Default 3.
    n_knots : int, optional
        Number of equally spaced base knots from the smallest to the
        largest x of positive weight, when t is not given; default
        ``min(40, max(4, m // 4))``.  The knots are those of
        `bsbasis.fit_pspline` (``kind='uniform'``, ``boundary='extended'``
        of `bsbasis.make_knots`); quantile knots are not offered here, as
        they would need a sort of the data.
    t : array_like, optional
        Knots to use instead; every x must lie in ``[t[k], t[-k-1]]``.
        Given, the data are read once; otherwise twice: once for their
        range, then, once the knots are known, for the sums.
    penalty : int, ('derivative', m), ndarray or sparse matrix, optional
        The penalty, as for `bsbasis.fit_pspline`.  Default 2, second
        differences.
    lam : float or 'gcv', optional
        The smoothing parameter, as for `bsbasis.fit_pspline`; ``'gcv'``
        (the default) chooses it from the sums alone, with no further pass.
    lam_bounds : (float, float), optional
        The window of lam that 'gcv' searches, as for `bsbasis.fit_pspline`.
    weights : dask.array.Array, dask Series or array_like, shape (m,), optional
        Finite, non-negative weights of the squared residuals, as for
        `bsbasis.fit_pspline` (``weights=w**2`` for the fit of scipy's
        ``make_lsq_spline(..., w=w)``); rechunked to the chunks of x.
        Rows of weight 0 take no part: not in the knots, not in GCV's count
        of observations, and they may lie outside the knots.
    split_every : int, optional
        As for `normal_equations`.
    compute : bool, optional
        True (default): run the passes and return the fit.  False: return
        a `dask.delayed.Delayed` whose ``compute()`` (or `dask.compute`, or
        a distributed client's ``compute``) runs them and returns the
        `PSplineFit`.  Its graph holds both passes when the knots come from
        the data, the second bound to the first's result, so that the data
        are read twice rather than held in memory between them.

    Returns
    -------
    PSplineFit or Delayed
        The fit `bsbasis.fit_pspline` returns for the same data: the same
        knots, count of observations and lam (to within the rounding of
        sums added in another order).

    Raises
    ------
    TypeError
        As `normal_equations` and `bsbasis.fit_pspline` raise it, before any
        pass over the data.
    ValueError
        As `bsbasis.fit_pspline` raises it, with the same message and the
        same row for data that are not finite or weights that are negative
        when the knots come from the data; otherwise as `normal_equations`
        raises it.  Argument errors are raised before any pass; data errors
        when the pass that finds them runs (under ``compute=False``, by
        ``compute()``).
    numpy.linalg.LinAlgError
        If the penalised normal equations are singular.

    Warns
    -----
    UserWarning
        When GCV is smallest at an end of its search window, as
        `bsbasis.fit_pspline` warns.  Under ``compute=False`` the warning is
        given where the fit's task runs (on a distributed worker: in its
        log); the fit's ``lam_bounds`` and ``lam`` tell the same.

    See Also
    --------
    bsbasis.fit_pspline : The same fit in memory.
    bsbasis.fit_normal_equations : The fit from sums.
    bsbasis.PSplineFit : Calling it on a dask array or Series gives a lazy result.

    Examples
    --------
    >>> import numpy as np
    >>> import dask.array as da
    >>> import bsbasis.dask
    >>> x = da.random.RandomState(0).uniform(0.0, 1.0, 20_000, chunks=5_000)
    >>> y = da.sin(2 * np.pi * x)
    >>> fit = bsbasis.dask.fit_pspline(x, y, lam=1e-6)
    >>> fit.count, bool(abs(fit(0.25) - 1.0) < 1e-3)
    (20000, True)
    >>> lazy = bsbasis.dask.fit_pspline(x, y, lam=1e-6, compute=False)
    >>> bool(np.allclose(lazy.compute().coef, fit.coef))
    True
    >>> fit(x).compute().shape  # a dask array in, a dask array out
    (20000,)
    """
    if y is None:
        raise ValueError("y is needed for a fit")
    x, y, *rest = _data(x, y, weights)
    w = rest[0] if rest else None
    k = as_int(k, "k")
    split_every = _check_split_every(split_every)
    lam, lam_bounds = _pspline.check_lam_options(lam, lam_bounds)
    if t is None:
        n_knots = _pspline.default_n_knots(x.shape[0]) if n_knots is None else n_knots
        # The arguments checked now, on stand-in data of the same shape.
        stand_in = _knots(_Range(None, None, 0.0, 1.0), n_knots, k, False)
        _pspline._penalty(penalty, stand_in, k, len(stand_in) - k - 1)
        data_range = _tree(_chunk_range, [x] + ([w] if w is not None else []), split_every,
                           "bsbasis-range")
        knots = dask.delayed(_knots, pure=True)(data_range, n_knots, k, w is not None)
        # The sums read the data again once the knots are known, rather
        # than keep every chunk in memory from the first pass.
        arrays = list(bind(tuple([x, y] + ([w] if w is not None else [])), knots,
                           seed=tokenize(x, y, w, n_knots, k)))
        outside: Extrapolate = "zero"  # only rows of weight 0 lie outside
    elif n_knots is not None:
        raise ValueError("give n_knots or t, not both")
    else:
        knots = as_unmasked_vector(t, "t").copy()
        nj = check_knots(knots, k, None)
        _pspline._penalty(penalty, knots, k, nj)
        arrays = [x, y] + ([w] if w is not None else [])
        outside = False
        stand_in = knots
    reduction = _FitReduction(None, k, None, None, 0, outside, True, w is not None)
    total = _reduce(reduction, arrays, split_every, stand_in, knots=knots)
    if not compute:
        lazy: Delayed = dask.delayed(_fit_task, pure=True)(total, knots, k, penalty, lam,
                                                           lam_bounds)
        return lazy
    total, knots = dask.compute(total, knots)
    # total is computed now: the _FitPart of the whole data.
    fit, note = _fit(total, knots, k, penalty, lam, lam_bounds,  # type: ignore[arg-type]
                     warn=False)
    if note is not None:
        warnings.warn(note, UserWarning, stacklevel=2)
    return fit
