"""Splitting rows into tiles and running the tiles on the package's threads,
and filling a design matrix tile by tile straight into the arrays that the
result keeps.

Every path that spreads rows over threads goes through run_tiles: design
matrices (Target.fill, or fill_dense for dense ones), spline values, the
sums of the normal equations and of models (sum_tiles) and scikit-learn's
transform.

Nothing is zero-filled that the library overwrites; the row indices that CSR
does not keep are never written; indptr is written per tile while the tile
is in cache.  Rows are independent, so the result is the same bits for any
tile size and any number of threads.
"""

from __future__ import annotations

import itertools
import os
import threading
from concurrent.futures import ThreadPoolExecutor, wait
from typing import TYPE_CHECKING, Any, Callable, Iterable, Literal, Sequence, SupportsIndex

import numpy as np

from . import _lib, _sparse
from ._abi import NORMAL_TILE
from ._checks import INT32_MAX, check_threads, cores

if TYPE_CHECKING:
    from concurrent.futures import Future
    from typing import TypeVar

    from numpy.typing import DTypeLike, NDArray

    from ._typing import DesignFormat, DesignResult, IndexArray, Kernel

    # A thread's scratch buffers, whatever the caller makes them.
    _B = TypeVar("_B")
    # A part of the sums of sum_rows.
    _P = TypeVar("_P")

# Rows per library call (one tile) at up to four entries a row; fewer for
# longer rows, so that a tile's output (about 64 bytes per row at four
# entries) stays in the core's cache while the host finishes it.  Tests
# lower it.
_ROWS_PER_CALL = 16384
# Entries (rows * entries per row) above which indices are int64.  Tests
# lower it.
_INDEX32_LIMIT = INT32_MAX
# Inputs with at least this many entries use every core by default.
_PARALLEL_MIN_ENTRIES = 1 << 17

FORMAT_NAMES = tuple(_sparse.FORMATS) + ("blocks",)


# ---------------------------------------------------------------- threads
#
# One pool for the process, of at most one thread per core, made on first
# use and never replaced: calls that ask for different thread counts share
# it, and a call uses as many of its threads as it has tiles.  A child made
# by fork() has none of the parent's threads, so it starts a pool of its own.

_pool_lock = threading.Lock()
_pool: ThreadPoolExecutor | None = None


def _executor(workers: int | None = None) -> ThreadPoolExecutor:
    """The shared pool.  `workers` is what the caller means to submit; the
    pool starts a thread per submitted task up to the cores, and no more."""
    global _pool
    pool = _pool
    if pool is None:
        with _pool_lock:
            if _pool is None:
                _pool = ThreadPoolExecutor(max_workers=cores(), thread_name_prefix="bsbasis")
            pool = _pool
    return pool


def _forget_pool_in_child() -> None:
    # The parent's pool and lock describe threads this process does not have.
    global _pool, _pool_lock
    _pool_lock = threading.Lock()
    _pool = None


if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_forget_pool_in_child)


def threads_for(threads: SupportsIndex | None, n: int, entries: int) -> int:
    """Threads for n rows of `entries` entries each: `threads` as
    check_threads reads it, by default every core for large inputs and one
    for small ones; never more than the cores."""
    threads = check_threads(threads)
    if threads is None:
        return cores() if n * entries >= _PARALLEL_MIN_ENTRIES else 1
    return min(threads, cores())


def _wait(futures: Iterable[Future[Any]]) -> None:
    """Waits for every future; raises the first failure met."""
    for f in futures:
        f.result()


def _settle(futures: Iterable[Future[Any]]) -> None:
    """Waits for every future without raising."""
    wait(futures)


def _workers(workers: int, ntiles: int) -> int:
    """The threads that run ntiles tiles: at least one, and no more than
    asked, than the tiles or than the cores."""
    return max(1, min(workers, ntiles, cores()))


def run_tiles(ntiles: int, workers: int, tile: Callable[[int, _B], object],
              # mypy checks a default against the type variable itself, not
              # against the tile it would go with (one that takes None).
              scratch: Callable[[], _B] = lambda: None,  # type: ignore[assignment,return-value]
              ) -> None:
    """tile(s, buffers) for s = 0 .. ntiles-1, where buffers = scratch() is
    made once per thread.

    Up to `workers` threads of the pool take the next tile, in order, as
    they finish one.  Once a tile raises, no tile after it starts; once the
    caller leaves by an exception (KeyboardInterrupt included), no tile
    starts at all.  The call returns or raises only after the tiles under
    way have finished, and of the tiles that failed it raises the first
    one's exception: what one thread, going through the tiles in order,
    would raise.
    """
    workers = _workers(workers, ntiles)
    if workers == 1:
        buffers = scratch()
        for s in range(ntiles):
            tile(s, buffers)
        return
    counter = itertools.count()  # next() is atomic under the GIL
    lock = threading.Lock()
    stop = [ntiles]  # tiles from stop[0] on do not start
    failed: dict[int, BaseException] = {}  # tile: its exception

    def work() -> None:
        buffers = scratch()
        for s in counter:
            if s >= stop[0]:
                return
            try:
                tile(s, buffers)
            except BaseException as exc:
                # Tiles before this one were taken before it and still run.
                with lock:
                    failed[s] = exc
                    stop[0] = min(stop[0], s)
                raise

    pool = _executor(workers)
    futures = [pool.submit(work) for _ in range(workers)]
    try:
        _wait(futures)
        return
    except BaseException as exc:
        caught = exc
        if not any(exc is e for e in failed.values()):
            with lock:  # the caller leaves: no tile starts from now on
                stop[0] = -1
        for f in futures:
            f.cancel()
        _settle(futures)
    if any(caught is e for e in failed.values()):
        caught = failed[min(failed)]
    raise caught


def _span(s: int, rows: int, n: int) -> tuple[int, int]:
    """Where tile s of `rows` rows starts, and its rows (the last tile of n
    rows may be shorter)."""
    a = s * rows
    return a, min(rows, n - a)


def run_rows(n: int, rows: int, workers: int, tile: Callable[[int, int, _B], object],
             # As for run_tiles: the default goes with a tile that takes None.
             scratch: Callable[[], _B] = lambda: None,  # type: ignore[assignment,return-value]
             ) -> None:
    """tile(a, m, buffers) for the rows a .. a+m-1 of each tile of `rows`
    rows of n, counted from row 0, on up to `workers` threads as run_tiles
    runs them (buffers = scratch(), once per thread)."""
    if n:
        run_tiles(-(-n // rows), workers,
                  lambda s, buffers: tile(*_span(s, rows, n), buffers), scratch)


def sum_rows(n: int, rows: int, workers: int, part: Callable[[int, int], _P],
             add: Callable[[_P], object]) -> None:
    """add(part(a, m)) for the rows a .. a+m-1 of each tile of `rows` rows
    of n, counted from row 0, in tile order; the parts are formed on up to
    `workers` threads as run_tiles runs them.

    The tiles run in windows of two per thread, each window's parts added
    once it has finished, so that no more than that many parts are held
    whatever n is.  On a failure nothing more is added.
    """
    ntiles = -(-n // rows)
    window = 2 * _workers(workers, ntiles)
    for first in range(0, ntiles, window):
        parts: list[Any] = [None] * min(window, ntiles - first)

        def one(s: int, _: None, first: int = first, parts: list[Any] = parts) -> None:
            parts[s] = part(*_span(first + s, rows, n))

        run_tiles(len(parts), workers, one)
        for p in parts:
            add(p)


def sum_tiles(n: int, workers: int, part: Callable[..., Sequence[Any]],
              acc: Sequence[Any]) -> None:
    """Adds the library's sums over rows 0 .. n-1 to the arrays of acc
    (None where a sum is not formed).

    part(a, m) returns the sums of rows a .. a+m-1 formed from zero, and
    part(a, m, acc) adds them to acc.  The library sums its tiles of
    NORMAL_TILE rows, counted from row 0, each from zero, and adds them in
    order: on one thread, or for one tile, a single call over all rows does
    that.  Otherwise those tiles are formed on up to `workers` threads and
    added to acc in the same order, so the bits do not depend on the
    threads.
    """
    if workers == 1 or n <= NORMAL_TILE:
        part(0, n, acc)
        return

    def add(sums: Sequence[Any]) -> None:
        for total, s in zip(acc, sums):
            if total is not None:
                total += s  # in place: acc holds the arrays

    sum_rows(n, NORMAL_TILE, workers, part, add)


# ------------------------------------------------------------------ memory

def result_array(shape: int | tuple[int, ...], dtype: DTypeLike = np.float64,
                 order: Literal["C", "F"] = "C") -> NDArray[Any]:
    """Memory for a result that the library will write whole: the one place
    where the package takes it.

    np.empty, so that no pass zero-fills what the library overwrites.  On
    Linux numpy advises transparent huge pages for arrays of 4 MiB and more
    (unless NUMPY_MADVISE_HUGEPAGE=0): the first touch of a large result then
    costs one fault per 2 MiB instead of one per 4 KiB, which for a tensor
    design of 10^6 rows halves the call.
    """
    return np.empty(shape, dtype, order=order)


# ------------------------------------------------------------------ target

class _Scratch:
    """One worker's tile buffers, allocated on first use, with their addresses."""

    def __init__(self, size: int) -> None:
        self.size = size  # of a tile's entries
        self._bufs: dict[str, tuple[NDArray[Any], int]] = {}
        self.count = np.zeros(1, np.int64)  # the empty rows of the last tile
        self.count_address = self.count.ctypes.data

    def _entry(self, name: str, dtype: DTypeLike) -> tuple[NDArray[Any], int]:
        e = self._bufs.get(name)
        if e is None:
            b = np.empty(self.size, dtype)
            e = self._bufs[name] = (b, b.ctypes.data)
        return e

    def get(self, name: str, dtype: DTypeLike) -> NDArray[Any]:
        return self._entry(name, dtype)[0]

    def address(self, name: str, dtype: DTypeLike) -> int:
        return self._entry(name, dtype)[1]


class Target:
    """Where one call's tiles go: columns and values always, the rows for COO
    and blocks, indptr for CSR and CSC.

    A kernel is called as kernel(a, m, ip, jp, Bp, nep) for the rows a ..
    a+m-1: it writes m*entries rows (ip, when not None), columns (jp: int32,
    or int64 when kernel.j64) and values (Bp), numbering rows from 0, and
    the count of empty rows to nep.
    """

    def __init__(self, kernel: Kernel, n: int, rows: bool, indptr: bool,
                 index_dtype: type[np.int32] | type[np.int64]) -> None:
        E = kernel.entries
        size = n * E
        self.kernel, self.n, self.entries, self.idx = kernel, n, E, index_dtype
        # The library checks every knot at each call: a tile of at least as
        # many rows keeps that below one knot per row.
        self.rows_per_tile = max(max(1, _ROWS_PER_CALL * 4 // max(E, 4)),
                                 getattr(kernel, "knots", 0))
        wide = index_dtype == np.int64
        self.direct = not wide or getattr(kernel, "j64", False)
        self.j = result_array(size, index_dtype)
        self.B = result_array(size, np.float64)
        self.i: IndexArray | None = result_array(size, index_dtype) if rows else None
        self.jp, self.Bp = self.j.ctypes.data, self.B.ctypes.data
        self.empty: dict[int, int] = {}
        self.indptr: IndexArray | None = None
        if indptr:
            self.indptr = result_array(n + 1, index_dtype)
            self.indptr[0] = 0
            self.step = np.arange(E, (min(n, self.rows_per_tile) + 1) * E, E,
                                  dtype=index_dtype)

    def scratch(self) -> _Scratch:
        return _Scratch(min(self.rows_per_tile, self.n) * self.entries)

    def tile(self, a: int, m: int, scratch: _Scratch) -> None:
        E, wide = self.entries, self.idx == np.int64
        e0, e1 = a * E, (a + m) * E
        ip = None
        if self.i is not None:
            ip = scratch.address("i", np.int32) if wide else self.i.ctypes.data + 4 * e0
        jp = (self.jp + self.j.itemsize * e0 if self.direct
              else scratch.address("j", np.int32))
        self.kernel(a, m, ip, jp, self.Bp + 8 * e0, scratch.count_address)
        self.empty[a] = int(scratch.count[0])
        if not self.direct:
            np.copyto(self.j[e0:e1], scratch.get("j", np.int32)[:m * E])
        if self.i is not None:
            if wide:
                np.add(scratch.get("i", np.int32)[:m * E], a, out=self.i[e0:e1])
            elif a:
                seg = self.i[e0:e1]
                np.add(seg, a, out=seg)
        if self.indptr is not None:
            np.add(self.step[:m], e0, out=self.indptr[a + 1:a + m + 1])

    def fill(self, threads: int) -> Target:
        """The kernel over every tile, in parallel when threads > 1."""
        run_rows(self.n, self.rows_per_tile, threads, self.tile, self.scratch)
        return self

    def assemble(self, ncols: int, fmt: DesignFormat) -> DesignResult:
        """The result in the requested format; rows the library left empty
        (column -1) lose their entries."""
        n, E = self.n, self.entries
        if fmt == "blocks":
            return self.i, self.j, self.B
        layout, cls = _sparse.FORMATS[fmt]
        data, cols, rows, indptr = self.B, self.j, self.i, self.indptr
        if getattr(self.kernel, "padded", False):
            # Rows of fewer entries than E end in column -1: each entry
            # is kept or dropped on its own.
            keep = cols >= 0
            data, cols = data[keep], cols[keep]
            if rows is not None:
                rows = rows[keep]
            else:
                indptr = np.zeros(n + 1, self.idx)
                np.cumsum(np.count_nonzero(keep.reshape(n, E), axis=1), out=indptr[1:])
        elif sum(self.empty.values()):
            keep = cols.reshape(n, E)[:, 0] >= 0
            data = data.reshape(n, E)[keep].ravel()
            cols = cols.reshape(n, E)[keep].ravel()
            if rows is not None:
                rows = rows.reshape(n, E)[keep].ravel()
            else:
                indptr = np.zeros(n + 1, self.idx)
                np.cumsum(keep, out=indptr[1:])
                indptr *= E
        shape = (n, ncols)
        if layout == "coo":
            assert rows is not None  # made for COO (Target's rows)
            return _sparse.build(cls, shape, {"data": data, "row": rows, "col": cols})
        assert indptr is not None  # made for CSR and CSC (Target's indptr)
        csr = {"data": data, "indices": cols, "indptr": indptr}
        if layout == "csr":
            return _sparse.build(cls, shape, csr)
        m = _sparse.build(_sparse.FORMATS["csr"][1], shape, csr).tocsc()
        return _sparse.build(cls, shape, {"data": m.data, "indices": m.indices,
                                          "indptr": m.indptr})


def index_dtype(n: int, entries: int, ncols: int) -> type[np.int32] | type[np.int64]:
    return np.int32 if max(n * entries, n, ncols) <= _INDEX32_LIMIT else np.int64


def fill_dense(kernel: Kernel, n: int, ncols: int, threads: SupportsIndex | None,
               shift: int = 0) -> NDArray[np.float64]:
    """The design matrix of n rows that kernel writes, as a C-ordered
    (n, ncols) array.  Each tile's blocks go to the thread's scratch and
    bsbasis_blocks_to_dense writes every element of the tile's rows from
    them, so nothing is zero-filled first.  Column c of the kernel lands in
    column c - shift; entries that land outside 0 .. ncols-1 (those of an
    empty row among them) are dropped, so an empty row is a row of zeros."""
    E = kernel.entries
    out = result_array((n, ncols))
    if n == 0 or ncols == 0:
        return out
    to_dense = _lib.kernels().bsbasis_blocks_to_dense
    rows = max(max(1, _ROWS_PER_CALL * 4 // max(E, 4)), getattr(kernel, "knots", 0))
    base = out.ctypes.data

    def tile(a: int, m: int, s: _Scratch) -> None:
        jp, Bp = s.address("j", np.int32), s.address("B", np.float64)
        kernel(a, m, None, jp, Bp, s.count_address)
        if shift:
            j = s.get("j", np.int32)[:m * E]
            np.subtract(j, shift, out=j)
        _lib.check_status(to_dense(E, jp, Bp, m, ncols, base + 8 * ncols * a, ncols, 1))

    run_rows(n, rows, threads_for(threads, n, E), tile, lambda: _Scratch(min(rows, n) * E))
    return out


def fill_design(kernel: Kernel, n: int, ncols: int, fmt: DesignFormat,
                threads: SupportsIndex | None) -> DesignResult:
    """Fills and assembles the design matrix of n rows that kernel writes."""
    E = kernel.entries
    rows = fmt in ("coo", "coo_matrix", "blocks")
    target = Target(kernel, n, rows, not rows, index_dtype(n, E, ncols))
    return target.fill(threads_for(threads, n, E)).assemble(ncols, fmt)
