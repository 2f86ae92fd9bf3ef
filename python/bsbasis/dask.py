"""Normal equations, P-spline fits and additive models of data held in dask
arrays and DataFrames.

Each chunk of the abscissae (or of the rows of an additive model's data)
is reduced in a task of its own, on one thread, by
`bsbasis.normal_equations` (or the model's sums); the partial results are
then added
in a tree whose shape depends only on the number of chunks and
``split_every``, never on the scheduler.  So the same chunking gives the
same bits on every scheduler and in every run, and another chunking the
same result to within rounding.  The data are never brought into the
client's memory: dask arrays and dask Series (columns of a dask DataFrame)
are read chunk by chunk in the tasks.

This is the one module of bsbasis that imports dask::

    import bsbasis.dask
    ne = bsbasis.dask.normal_equations(x, t, 3, y=y)
    model = bsbasis.dask.fit_gam([s(0), te(1, 2)], X, y)   # terms of bsbasis.gam
"""

from __future__ import annotations

import copy
import math
import re
import sys
import warnings
from typing import (TYPE_CHECKING, Any, Callable, Generic, Literal, Sequence, SupportsIndex,
                    TypeVar, Union, overload)

import dask
import dask.array as da
from dask.base import tokenize
from dask.graph_manipulation import bind
import numpy as np

from . import _normal, _penalties, _pspline
from . import gam as _gam
from ._checks import as_int, as_unmasked_vector, check_knots
from ._model import IrlsSums, ModelSums, model_irls, model_sums

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

__all__ = ["normal_equations", "uniform_normal_equations", "fit_pspline", "fit_gam"]

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
    return _add_tree(list(parts.to_delayed(optimize_graph=True).ravel()), split_every)


def _add_tree(level: list[Any], split_every: int) -> Delayed:
    """A delayed object: the delayed partials added in a fixed tree, groups
    of split_every consecutive ones, level by level."""
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


# ------------------------------------------------------------ additive models
#
# A Gaussian fit_gam reads the data twice.  The first pass gathers, chunk by
# chunk, what GAM.fit looks at before its sums: bad rows of y (for the
# family too), the weights and each used column, each numeric column's range
# and distinct values (up to a cap), each factor's levels.  From their total,
# stand-in columns that hold the same extremes, distinct values and levels
# lay out the terms through GAM's own code, so that the knots, constraints
# and checks are those of the in-memory fit.  The second pass forms the
# model's sums chunk by chunk; the fit is made from their total.  A binomial
# or Poisson fit runs GAM's own IRLS loop instead, each of its passes over
# the rows a graph of one model_irls task per chunk, added in the same tree.

# A row named in a message of bsbasis.gam: "at row 12".
_GAM_ROW = re.compile(r"\bat row (\d+)")
# Distinct values kept per numeric column, at the least: more than the rug
# of GAM.plot shows.
_DISTINCT = 2 * _gam._RUG

# The first bad row of a chunk (or of the data) and the count of bad rows.
_Bad = tuple[int, int]


def _bad(mask: NDArray[np.bool_]) -> _Bad | None:
    if not mask.any():
        return None
    return int(np.argmax(mask)), int(mask.sum())


def _later_bad(a: _Bad | None, b: _Bad | None, offset: int) -> _Bad | None:
    """The bad rows of two consecutive parts, b's first row counted from a's start."""
    if b is None:
        return a
    if a is None:
        return b[0] + offset, b[1]
    return a[0], a[1] + b[1]


def _thin(values: NDArray[Any], cap: int) -> NDArray[Any]:
    """At most cap of the sorted values, evenly spaced, the ends kept."""
    if len(values) <= cap:
        return values
    return values[np.linspace(0, len(values) - 1, cap).astype(np.int64)]


class _NumericStats:
    """A numeric column's part: its bad rows, whether it failed to convert
    to numbers, its extremes, its sorted distinct values (`many`: at least
    `cap` of them, of which `values` holds a sample of cap)."""

    __slots__ = ("bad", "text", "lo", "hi", "values", "many", "cap")

    def __init__(self, x: NDArray[Any], cap: int) -> None:
        self.cap = cap
        self.bad: _Bad | None = None
        self.lo = self.hi = math.nan
        self.values: NDArray[np.float64] = np.empty(0)
        self.many = False
        try:
            v = np.asarray(x, dtype=np.float64)
        except (TypeError, ValueError):
            self.text = True
            return
        self.text = False
        finite = np.isfinite(v)
        self.bad = _bad(~finite)
        if self.bad is not None:
            v = v[finite]
        if len(v) == 0:
            return
        self.lo, self.hi = float(v.min()), float(v.max())
        # The head alone often has enough distinct values: no sort of the rest.
        head = np.unique(v[:8 * cap])
        self.values = head if len(head) >= cap else np.unique(v)
        self._cap()

    def _cap(self) -> None:
        if len(self.values) >= self.cap:
            self.many = True
            self.values = _thin(self.values, self.cap)

    def add(self, other: _NumericStats, offset: int) -> _NumericStats:
        out = copy.copy(self)
        out.bad = _later_bad(self.bad, other.bad, offset)
        out.text = self.text or other.text
        out.lo = float(np.fmin(self.lo, other.lo))
        out.hi = float(np.fmax(self.hi, other.hi))
        out.values = np.union1d(self.values, other.values)
        out.many = self.many or other.many
        out._cap()
        return out

    def stand_in(self) -> NDArray[np.float64]:
        """A column with the data's extremes and distinct values (a sample
        of at least `cap` of them when there are more)."""
        ends = [v for v in (self.lo, self.hi) if not math.isnan(v)]
        return np.union1d(self.values, ends)


def _missing(values: NDArray[Any]) -> NDArray[np.bool_]:
    """Where a factor's values are missing, NaN or inf, as bsbasis.gam sees them."""
    if values.dtype.kind in "fc":
        finite: NDArray[np.bool_] = np.isfinite(values)
        return ~finite
    return np.array([v is None or (isinstance(v, float) and not math.isfinite(v))
                     for v in values], dtype=bool)


class _FactorStats:
    """A factor column's part: its bad rows, its levels (None when its
    values cannot be sorted)."""

    __slots__ = ("bad", "levels")

    def __init__(self, values: NDArray[Any]) -> None:
        bad = _missing(values)
        self.bad = _bad(bad)
        try:
            self.levels: NDArray[Any] | None = np.unique(values[~bad])
        except TypeError:
            self.levels = None

    def add(self, other: _FactorStats, offset: int) -> _FactorStats:
        out = copy.copy(self)
        out.bad = _later_bad(self.bad, other.bad, offset)
        out.levels = None
        if self.levels is not None and other.levels is not None:
            try:
                out.levels = np.unique(np.concatenate([self.levels, other.levels]))
            except TypeError:
                pass
        return out


class _GamPlan:
    """What the tasks need to read and check a chunk: X's column names
    (None for an array) and width, the used columns by position and kind,
    with the cap of distinct values of each numeric one, whether there are
    weights, and the family (whose range y must be in)."""

    __slots__ = ("names", "width", "factors", "numeric", "has_w", "family")

    def __init__(self, names: list[str] | None, width: int, factors: list[int],
                 numeric: dict[int, int], has_w: bool, family: str) -> None:
        self.names, self.width = names, width
        self.factors, self.numeric, self.has_w = factors, numeric, has_w
        self.family = family

    def columns(self, part: Any) -> list[Any]:
        """The chunk's columns by position of X; None for those not used."""
        if hasattr(part, "iloc"):  # a DataFrame's partition of the used columns
            used = sorted(set(self.factors) | set(self.numeric))
            cols: list[Any] = [None] * self.width
            for i, p in enumerate(used):
                cols[p] = np.asarray(part.iloc[:, i].to_numpy())
            return cols
        return [part[:, j] for j in range(self.width)]


class _GamStats:
    """The first pass's total over consecutive rows: their count, the bad
    rows of y (not finite; outside the family's range) and of the weights,
    the rows of positive weight and the sum of their log weights, and each
    used column's stats."""

    __slots__ = ("n", "bad_y", "y_range", "bad_w", "positive", "log_w", "numeric", "factors")

    def __init__(self, plan: _GamPlan, part: Any, y: Any, w: Any, index: int) -> None:
        cols = plan.columns(part)
        n = len(part)
        self.n = n
        yv = np.asarray(y, dtype=np.float64)
        if len(yv) != n:
            raise ValueError("partition %d: y has %d rows where X has %d" % (index, len(yv), n))
        self.bad_y = _bad(~np.isfinite(yv))
        # Raised only when bad_y is None, as in memory: the rows it counts
        # are then all finite.
        outside = _gam._out_of_range(plan.family, yv)
        self.y_range = None if outside is None else _bad(outside)
        self.bad_w: _Bad | None = None
        self.positive, self.log_w = n, 0.0
        if plan.has_w:
            wv = np.asarray(w, dtype=np.float64)
            if len(wv) != n:
                raise ValueError("partition %d: weights has %d rows where X has %d"
                                 % (index, len(wv), n))
            self.bad_w = _bad(~(np.isfinite(wv) & (wv >= 0)))
            positive = wv > 0
            self.positive = int(positive.sum())
            with np.errstate(invalid="ignore"):
                self.log_w = float(np.sum(np.log(wv[positive])))
        self.numeric = {p: _NumericStats(cols[p], cap) for p, cap in plan.numeric.items()}
        self.factors = {p: _FactorStats(cols[p]) for p in plan.factors}

    def __add__(self, other: _GamStats) -> _GamStats:
        out = copy.copy(self)
        out.n = self.n + other.n
        out.bad_y = _later_bad(self.bad_y, other.bad_y, self.n)
        out.y_range = _later_bad(self.y_range, other.y_range, self.n)
        out.bad_w = _later_bad(self.bad_w, other.bad_w, self.n)
        out.positive = self.positive + other.positive
        out.log_w = self.log_w + other.log_w
        out.numeric = {p: s.add(other.numeric[p], self.n) for p, s in self.numeric.items()}
        out.factors = {p: s.add(other.factors[p], self.n) for p, s in self.factors.items()}
        return out


def _rows_error(what: str, bad: _Bad) -> ValueError:
    """bsbasis.gam's message for bad rows."""
    return ValueError("%s at row %d (%d rows in all)" % (what, bad[0], bad[1]))


def _gam_lay_out(model: _gam.GAM, plan: _GamPlan, stats: _GamStats) -> _gam.GAM:
    """The model laid out on the data, from the first pass's total: the
    errors GAM.fit raises for the same data, in its order, then its layout
    on stand-in columns."""
    if stats.bad_y is not None:
        raise _rows_error("y is NaN or inf", stats.bad_y)
    if stats.y_range is not None:
        raise _rows_error(_gam._RANGE_ERRORS[plan.family], stats.y_range)
    if stats.bad_w is not None:
        raise _rows_error("weights must be finite and >= 0: not so", stats.bad_w)
    if plan.has_w and stats.positive == 0:
        raise ValueError("every weight is 0")
    if stats.n == 0:
        raise ValueError("X has no rows")
    names, width = plan.names, plan.width
    cols: list[Any] = [None] * width
    for user in model.terms:
        label = user.label([_gam._column_label(c, names) for c in user.columns])
        for c in user.columns:
            p = _gam._resolve(c, names, width, label)
            if user.kind == "factor":
                fs = stats.factors[p]
                if fs.bad is not None:
                    raise _rows_error("term %s: a missing value, NaN or inf in its column"
                                      % label, fs.bad)
                if fs.levels is None:
                    raise ValueError("term %s: its values cannot be sorted (missing values "
                                     "among them?)" % label)
                cols[p] = fs.levels
            else:
                ns = stats.numeric[p]
                if ns.text:
                    raise ValueError("term %s: the column is not numeric" % label)
                if ns.bad is not None:
                    raise _rows_error("term %s: NaN or inf in its column" % label, ns.bad)
                if p not in stats.factors:  # a factor's levels are all its values
                    cols[p] = ns.stand_in()
    model = copy.copy(model)
    model._lay_out(cols, names)
    return model


def _row_model(model: _gam.GAM) -> _gam.GAM:
    """The laid-out model without what the rows do not need (penalties,
    rugs), to travel with every task of the second pass."""
    light = copy.copy(model)
    light._layouts = [lay._replace(penalties=(), rugs=()) for lay in model._layouts]
    return light


# The library's sums of a model or of an IRLS step.
_S = TypeVar("_S", ModelSums, IrlsSums)


class _GamSums(Generic[_S]):
    """ModelSums or IrlsSums that add field by field, as the chunks' sums
    add in the tree.  A fit's sums have every field (y is given), so none
    is None."""

    __slots__ = ("sums",)

    def __init__(self, sums: _S) -> None:
        self.sums: _S = sums

    def __add__(self, other: _GamSums[_S]) -> _GamSums[_S]:
        mine: tuple[Any, ...] = self.sums
        theirs: tuple[Any, ...] = other.sums
        return _GamSums(type(self.sums)(*(a + b for a, b in zip(mine, theirs))))


def _gam_chunk_sums(model: _gam.GAM, plan: _GamPlan, part: Any, y: Any,
                    w: Any) -> _GamSums[ModelSums]:
    """The model's sums over one chunk, on one thread."""
    Xu = model._used_matrix(plan.columns(part), plan.names)
    wv = np.asarray(w, dtype=np.float64) if plan.has_w else None
    return _GamSums(model_sums(model._raw_terms, Xu, np.asarray(y, dtype=np.float64), wv,
                               threads=1))


def _gam_fit_task(model: _gam.GAM, total: _GamSums[ModelSums], stats: _GamStats) -> _gam.GAM:
    """The fit from the total sums; a new model, the laid-out one untouched."""
    return copy.copy(model)._fit_sums(total.sums, stats.positive, stats.log_w)


def _gam_chunk_irls(model: _gam.GAM, plan: _GamPlan, coef: NDArray[np.float64] | None,
                    part: Any, y: Any, w: Any) -> _GamSums[IrlsSums]:
    """One chunk's working sums of an IRLS step at coef, on one thread."""
    Xu = model._used_matrix(plan.columns(part), plan.names)
    wv = np.asarray(w, dtype=np.float64) if plan.has_w else None
    return _GamSums(model_irls(model._raw_terms, Xu, np.asarray(y, dtype=np.float64), wv,
                               family=_gam._FAMILY_CODES[model.family], coef=coef, threads=1))


class _ChunkIrls:
    """One IRLS pass over the chunks, for GAM._fit_irls: a graph of one
    task per chunk, the working sums added in the fixed tree, computed.
    Nothing is persisted: every pass reads the data again."""

    def __init__(self, model: _gam.GAM, plan: _GamPlan, collections: Sequence[Any],
                 split_every: int) -> None:
        # The model once in each graph, not once per task.
        self.rows = dask.delayed(_row_model(model))
        self.plan, self.split_every = plan, split_every
        self.parts = _all_parts(collections, plan.has_w)

    def __call__(self, coef: NDArray[np.float64] | None) -> IrlsSums:
        chunk = dask.delayed(_gam_chunk_irls, pure=True)
        level = [chunk(self.rows, self.plan, coef, x, y, w) for x, y, w in zip(*self.parts)]
        total: _GamSums[IrlsSums] = _add_tree(level, self.split_every).compute()
        return total.sums


def _basis_size(user: Any, i: int) -> int:
    """Basis functions of margin i of a smooth term, as bsbasis.gam places them."""
    default = _gam._S_BASIS if user.kind == "s" else _gam._TE_BASIS
    n, t, k = user.n_knots[i], user.t[i], user.k
    if user.periodic:
        return len(t) - 1 if t is not None else int(n or max(default, k - 1) + 1) - 1
    if t is not None:
        return len(t) - int(k) - 1
    nk = n if n is not None else max(default, k + 1) - k + 1
    return int(nk + k - 1)


def _frame_data(X: Any, y: Any, weights: Any) -> tuple[list[Any], list[str]]:
    """A dask DataFrame's partitions with y and weights in the same ones;
    arrays are split by the partitions' lengths (counted in a pass)."""
    collections = [X]
    lengths = None
    for a, name in ((y, "y"), (weights, "weights")):
        if a is None:
            continue
        if dask.is_dask_collection(a) and hasattr(a, "npartitions"):
            if a.npartitions != X.npartitions:
                raise ValueError("%s has %d partitions, X has %d: give a column of X's "
                                 "DataFrame, or an array" % (name, a.npartitions, X.npartitions))
            _check_dtype(a, name)
            collections.append(a)
            continue
        if lengths is None:
            lengths = tuple(int(c) for c in X.map_partitions(len).compute())
        arr = _as_dask(a, name)
        if arr.shape[0] != sum(lengths):
            raise ValueError("%s has %d entries, X has %d rows" % (name, arr.shape[0],
                                                                  sum(lengths)))
        collections.append(da.from_array(arr, chunks=(lengths,)) if not isinstance(arr, da.Array)
                           else arr.rechunk((lengths,)))
    return collections, [str(c) for c in X.columns]


def _array_data(X: Any, y: Any, weights: Any) -> list[Any]:
    """A 2-D dask array of whole rows with y and weights in its row chunks."""
    if not isinstance(X, da.Array):
        if dask.is_dask_collection(X) or hasattr(X, "iloc"):
            raise TypeError("X must be a dask array, a dask DataFrame or a numpy array, got %s"
                            % type(X).__name__)
        X = da.from_array(np.asarray(X), chunks=("auto", -1))
    if X.ndim != 2:
        raise ValueError("X must be 2-D (rows x columns), got %d dimensions" % X.ndim)
    if any(math.isnan(c) for c in X.chunks[0]):
        raise ValueError("X has chunks of unknown size; call its compute_chunk_sizes() first")
    if X.numblocks[1] > 1:
        X = X.rechunk({1: -1})
    named = _columns([(a, name) for a, name in ((y, "y"), (weights, "weights"))
                      if a is not None])
    out = [X]
    for a, name in named:
        arr = _as_dask(a, name)
        if arr.shape[0] != X.shape[0]:
            raise ValueError("%s has %d entries, X has %d rows" % (name, arr.shape[0],
                                                                  X.shape[0]))
        out.append(da.from_array(arr, chunks=(X.chunks[0],)) if not isinstance(arr, da.Array)
                   else arr.rechunk((X.chunks[0],)))
    return out


def _all_parts(collections: Sequence[Any], has_w: bool) -> list[list[Any]]:
    """The delayed chunks of X, y and the weights (None for each chunk
    without weights), chunk by chunk alike."""
    parts = [list(np.asarray(c.to_delayed(optimize_graph=False), dtype=object).ravel())
             for c in collections]
    return parts if has_w else parts + [[None] * len(parts[0])]


@overload
def fit_gam(terms: Sequence[Any], X: Any, y: _Data, weights: _Data | None = ..., *,
            family: Literal["gaussian", "binomial", "poisson"] = ...,
            method: Literal["REML", "GCV"] = ..., lam: Sequence[float] | None = ...,
            tol: float = ..., split_every: SupportsIndex | None = ...,
            compute: Literal[True] = ...) -> _gam.GAM: ...


@overload
def fit_gam(terms: Sequence[Any], X: Any, y: _Data, weights: _Data | None = ..., *,
            family: Literal["gaussian", "binomial", "poisson"] = ...,
            method: Literal["REML", "GCV"] = ..., lam: Sequence[float] | None = ...,
            tol: float = ..., split_every: SupportsIndex | None = ...,
            compute: Literal[False]) -> Delayed: ...


@overload
def fit_gam(terms: Sequence[Any], X: Any, y: _Data, weights: _Data | None = ..., *,
            family: Literal["gaussian", "binomial", "poisson"] = ...,
            method: Literal["REML", "GCV"] = ..., lam: Sequence[float] | None = ...,
            tol: float = ..., split_every: SupportsIndex | None = ...,
            compute: bool) -> _gam.GAM | Delayed: ...


def fit_gam(terms: Sequence[Any], X: Any, y: _Data, weights: _Data | None = None, *,
            family: Literal["gaussian", "binomial", "poisson"] = "gaussian",
            method: Literal["REML", "GCV"] = "REML", lam: Sequence[float] | None = None,
            tol: float = 1e-7, split_every: SupportsIndex | None = None,
            compute: bool = True) -> _gam.GAM | Delayed:
    """Fit an additive model to a dask array or DataFrame.

    The model `bsbasis.gam.GAM` fits in memory, from sums formed chunk by
    chunk: a first pass gathers what the knots and checks need (each used
    column's range and distinct values, each factor's levels, the bad rows
    of every input), a second forms the model's sums X'WX, X'Wy and y'Wy,
    one task per chunk on one thread, added in a fixed tree as
    `normal_equations` adds them; the smoothing parameters are then chosen
    from the total sums alone.  A binomial or Poisson model is fitted by
    the penalised IRLS of `bsbasis.gam.GAM`, each of its iterations one
    such pass that forms the working model's sums.  The data never reach
    the client.

    Parameters
    ----------
    terms : sequence of terms
        Made by `bsbasis.gam.s`, `~bsbasis.gam.te`, `~bsbasis.gam.linear`
        and `~bsbasis.gam.factor`, naming columns of X by index, or by name
        for a DataFrame.
    X : dask.array.Array, dask DataFrame or numpy.ndarray, shape (n, m)
        The data.  A 2-D array is read in chunks of whole rows (rechunked
        so if need be), a DataFrame partition by partition (its used
        columns only), a numpy array wrapped with ``chunks='auto'``.
    y : dask.array.Array, dask Series or array_like, shape (n,)
        The response: with a DataFrame, one of its columns (or a Series of
        the same partitions), else an array split as X is (a dask Series
        with an array X is read as an array, its partitions' lengths
        counted first, as are X's for an array with a DataFrame X).
    weights : dask.array.Array, dask Series or array_like, shape (n,), optional
        Prior weights, >= 0, taken as y is.  Default 1.
    family : {'gaussian', 'binomial', 'poisson'}, optional
        The response's distribution, as for `bsbasis.gam.GAM`: 'binomial'
        takes y in [0, 1] (0/1, or proportions with the numbers of trials
        as `weights`), 'poisson' counts y >= 0.  Default 'gaussian'.
    method : {'REML', 'GCV'}, optional
        The criterion of the smoothing parameters, as for `bsbasis.gam.GAM`.
    lam : sequence of float, optional
        Fixed smoothing parameters, as for `bsbasis.gam.GAM`.
    tol : float, optional
        The binomial and Poisson fits' convergence tolerance on the
        deviance, as for `bsbasis.gam.GAM`.  Default 1e-7.
    split_every : int, optional
        How many partial results one task adds, at least 2.  Default 8.
    compute : bool, optional
        True (default): run the passes and return the fitted model.
        False, for the Gaussian only: return a `dask.delayed.Delayed` whose
        ``compute()`` (or a distributed client's ``compute``) does, with
        both passes in its graph, the second bound to the first so that the
        data are read twice rather than held in memory between them.  A
        binomial or Poisson fit cannot be one graph (each iteration's
        graph needs the last one's coefficients) and refuses False.

    Returns
    -------
    bsbasis.gam.GAM or Delayed
        The fitted model: the knots, constraints and fit of
        ``GAM(terms).fit`` on the same data in memory, to within the
        rounding of sums added in another order (the same bits for the
        same chunks and `split_every` on any scheduler).  Its `predict`
        and `partial` also take a dask array (of whole rows or not) or a
        dask DataFrame, and then return a dask array of its row chunks or a
        dask Series of its index (with ``se=True``, two of them), computed
        chunk by chunk when asked for.

    Raises
    ------
    TypeError
        For X of another type, y or weights that are not real numbers.
    ValueError
        As `bsbasis.gam.GAM` and `bsbasis.gam.GAM.fit` raise it, with the
        same messages and rows counted from the start of the data: for an
        unsupported family, bad terms, columns out of range, before any
        pass; for NaN or inf in y, in the weights or a used column, a y
        outside [0, 1] for the binomial or below 0 for the Poisson, a
        constant column, too few distinct values, when the first pass has
        run (under ``compute=False``, by ``compute()``); for a binomial or
        Poisson fit that diverges.  Also for y or weights of another length
        than X, a Series of other partitions than X's, or
        ``compute=False`` with a binomial or Poisson family.

    Warns
    -----
    RuntimeWarning
        When a binomial or Poisson fit has not converged in 100 iterations,
        as `bsbasis.gam.GAM.fit` warns.

    See Also
    --------
    bsbasis.gam.GAM : The same model in memory.
    fit_pspline : One smooth, by GCV.
    bsbasis.sklearn.GAMRegressor : The model as a scikit-learn regressor.

    Notes
    -----
    Nothing is persisted: every pass reads the data again (from their
    source, or however the graph makes them).  A Gaussian fit makes two
    passes; a binomial or Poisson fit makes ``n_iter_ + 2``: the first
    pass, one at IRLS's starting values and one per iteration, each a
    graph computed on its own.  To read a costly source once, persist
    the data before the fit if the cluster's memory holds them.

    The rug of `GAM.plot` shows the column's distinct values when there are
    fewer than 1000 (or than the smooth's basis functions, if more), else an
    evenly spaced sample of that many of the distinct values the chunks
    gave, the extremes among them (the in-memory fit thins all of them to
    500).

    Examples
    --------
    >>> import numpy as np
    >>> import dask.array as da
    >>> import bsbasis.dask
    >>> from bsbasis.gam import GAM, s, linear
    >>> rng = np.random.default_rng(0)
    >>> X = rng.uniform(0, 1, (4000, 2))
    >>> y = np.sin(6 * X[:, 0]) + X[:, 1] + rng.normal(0, 0.2, 4000)
    >>> Xd, yd = da.from_array(X, chunks=(1000, 2)), da.from_array(y, chunks=1000)
    >>> model = bsbasis.dask.fit_gam([s(0), linear(1)], Xd, yd)
    >>> ref = GAM([s(0), linear(1)]).fit(X, y)
    >>> bool(np.allclose(model.coef_, ref.coef_, rtol=1e-9, atol=1e-12))
    True
    >>> model.predict(Xd).compute().shape
    (4000,)
    """
    template = _DaskGAM(terms, family=family, method=method, lam=lam, tol=tol)
    if not compute and template.family != "gaussian":
        raise ValueError("compute=False is for the Gaussian only: a %s fit computes a "
                         "graph per iteration, each from the last one's coefficients"
                         % template.family)
    split_every = _check_split_every(8 if split_every is None else split_every)
    dd = sys.modules.get("dask.dataframe")
    if dd is not None and isinstance(X, dd.DataFrame):
        collections, names = _frame_data(X, y, weights)
        width = len(names)
    else:
        collections = _array_data(X, y, weights)
        names, width = None, int(collections[0].shape[1])
    # Columns resolved now, before any pass, with GAM's messages.
    factors: set[int] = set()
    numeric: dict[int, int] = {}
    for user in template.terms:
        label = user.label([_gam._column_label(c, names) for c in user.columns])
        for i, c in enumerate(user.columns):
            p = _gam._resolve(c, names, width, label)
            if user.kind == "factor":
                factors.add(p)
            else:
                size = _basis_size(user, i) if user.kind in ("s", "te") else 0
                numeric[p] = max(numeric.get(p, _DISTINCT), size)
    if names is not None:
        used = sorted(factors | set(numeric))
        collections[0] = collections[0][[X.columns[p] for p in used]]
    plan = _GamPlan(names, width, sorted(factors), numeric, weights is not None,
                    template.family)
    parts = _all_parts(collections, weights is not None)
    stat = dask.delayed(_GamStats, pure=True)
    level = [stat(plan, x, yy, ww, i) for i, (x, yy, ww) in enumerate(zip(*parts))]
    stats = _add_tree(level, split_every)
    laid = dask.delayed(_gam_lay_out, pure=True)(template, plan, stats)
    if template.family != "gaussian":
        # The layout, then one graph per pass of IRLS.
        laid_out: _gam.GAM
        laid_out, total_stats = dask.compute(laid, stats)
        laid_out._fit_irls(_ChunkIrls(laid_out, plan, collections, split_every),
                           total_stats.positive)
        return laid_out
    # The second pass reads the data again once the layout is known, rather
    # than keep every chunk in memory from the first.
    bound = bind(tuple(collections), laid, seed=tokenize(stats.key, split_every))
    parts = _all_parts(bound, weights is not None)
    rows = dask.delayed(_row_model, pure=True)(laid)
    chunk = dask.delayed(_gam_chunk_sums, pure=True)
    total = _add_tree([chunk(rows, plan, x, yy, ww) for x, yy, ww in zip(*parts)], split_every)
    fitted: Delayed = dask.delayed(_gam_fit_task, pure=True)(laid, total, stats)
    if not compute:
        return fitted
    model: _gam.GAM = fitted.compute()
    return model


class _Evaluate:
    """GAM.predict or GAM.partial with its arguments, on a chunk."""

    __slots__ = ("method", "args", "kwargs")

    def __init__(self, method: str, args: tuple[Any, ...], kwargs: dict[str, Any]) -> None:
        self.method, self.args, self.kwargs = method, args, kwargs

    def __call__(self, model: _gam.GAM, part: Any) -> NDArray[np.float64]:
        """The values, as a column, or two columns with se."""
        out = getattr(_gam.GAM, self.method)(model, part, *self.args, **self.kwargs)
        return np.column_stack(out) if isinstance(out, tuple) else np.asarray(out)


def _evaluate_block(part: NDArray[Any], evaluate: _Evaluate, model: _gam.GAM,
                    block_info: Any = None) -> NDArray[np.float64]:
    try:
        return evaluate(model, part)
    except ValueError as e:
        start = _start(block_info)
        raise ValueError("rows %d to %d: %s" % (start, start + len(part), _GAM_ROW.sub(
            lambda m: "at row %d" % (int(m.group(1)) + start), str(e)))) from e


def _evaluate_partition(part: Any, evaluate: _Evaluate, model: _gam.GAM,
                        partition_info: Any = None) -> Any:
    import pandas as pd
    try:
        out = evaluate(model, part)
    except ValueError as e:
        number = partition_info["number"] if partition_info else -1
        raise ValueError("partition %d: %s" % (number, e)) from e
    if out.ndim == 2:
        return pd.DataFrame(out, index=part.index, columns=["fit", "se"])
    return pd.Series(out, index=part.index, dtype=np.float64)


def _lazy(model: _gam.GAM, X: Any, evaluate: _Evaluate, se: bool) -> Any:
    """evaluate over the chunks of X (a dask array or DataFrame), lazily."""
    held = dask.delayed(model)
    dd = sys.modules.get("dask.dataframe")
    if dd is not None and isinstance(X, dd.DataFrame):
        import pandas as pd
        meta = (pd.DataFrame({"fit": [], "se": []}, dtype=np.float64) if se
                else pd.Series([], dtype=np.float64))
        out = X.map_partitions(_evaluate_partition, evaluate, held, meta=meta)
        return (out["fit"], out["se"]) if se else out
    if not isinstance(X, da.Array):
        raise TypeError("X must be a dask array or a dask DataFrame, got %s" % type(X).__name__)
    if X.ndim != 2:
        raise ValueError("X must be 2-D (rows x columns), got %d dimensions" % X.ndim)
    if X.numblocks[1] > 1:
        X = X.rechunk({1: -1})
    if se:
        both = da.map_blocks(_evaluate_block, X, evaluate=evaluate, model=held, dtype=np.float64,
                             chunks=(X.chunks[0], (2,)), meta=np.empty((0, 2)))
        return both[:, 0], both[:, 1]
    return da.map_blocks(_evaluate_block, X, evaluate=evaluate, model=held, dtype=np.float64,
                         chunks=(X.chunks[0],), drop_axis=1, meta=np.empty(0))


class _DaskGAM(_gam.GAM):
    """A GAM whose predict and partial also take dask collections, lazily:
    what `fit_gam` returns."""

    def predict(self, X: Any, **kwargs: Any) -> Any:
        """The fitted mean at the rows of X; lazily, chunk by chunk, for a
        dask array or DataFrame.  See `bsbasis.gam.GAM.predict`."""
        if dask.is_dask_collection(X):
            self._check_fitted()
            return _lazy(self, X, _Evaluate("predict", (), kwargs), bool(kwargs.get("se")))
        return super().predict(X, **kwargs)

    def partial(self, X: Any, term: int | str, **kwargs: Any) -> Any:
        """One term's contribution at the rows of X; lazily, chunk by chunk,
        for a dask array or DataFrame.  See `bsbasis.gam.GAM.partial`."""
        if dask.is_dask_collection(X):
            self._term_index(term)
            return _lazy(self, X, _Evaluate("partial", (term,), kwargs), bool(kwargs.get("se")))
        return super().partial(X, term, **kwargs)
