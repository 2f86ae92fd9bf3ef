"""Filling a design matrix tile by tile, straight into the arrays that the
result keeps.

Nothing is zero-filled that the library overwrites; the row indices that CSR
does not keep are never written; indptr is written per tile while the tile
is in cache.  Rows are independent, so the result is the same bits for any
tile size and any number of threads.
"""

import os
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np

from . import _lib, _sparse
from ._checks import INT32_MAX

# Rows per tile at up to four entries a row; fewer for longer rows, so that
# a tile's output (about 64 bytes per row at four entries) stays in the
# core's cache while the host finishes it.  Tests lower it.
_TILE = 16384
# Entries (rows * entries per row) above which indices are int64.  Tests
# lower it.
_INDEX32_LIMIT = INT32_MAX
# Inputs with at least this many entries use every core by default.
_PARALLEL_MIN_ENTRIES = 1 << 17

FORMAT_NAMES = tuple(_sparse.FORMATS) + ("blocks",)

_MEMORY = -9  # the library's status for a failed allocation


def check_status(status):
    """Raises for a non-zero status from the library (the host checks every
    argument first, so this is a safety net, never the first check)."""
    if status == 0:
        return
    text = _lib.kernels().bsbasis_strerror(status).decode()
    if status == _MEMORY:
        raise MemoryError(text)
    raise ValueError(text)


# ---------------------------------------------------------------- threads

_pool_lock = threading.Lock()
_pool = None
_pool_size = 0


def _executor(workers):
    """A pool with at least `workers` threads, kept for later calls."""
    global _pool, _pool_size
    with _pool_lock:
        if _pool is None or _pool_size < workers:
            old = _pool
            _pool = ThreadPoolExecutor(max_workers=workers, thread_name_prefix="bsbasis")
            _pool_size = workers
            if old is not None:
                old.shutdown(wait=False)
        return _pool


def _cores():
    try:
        return max(len(os.sched_getaffinity(0)), 1)
    except AttributeError:  # not Linux
        return os.cpu_count() or 1


def threads_for(threads, n, entries):
    if threads is not None:
        return threads
    return _cores() if n * entries >= _PARALLEL_MIN_ENTRIES else 1


def tile_rows(entries):
    return max(1, _TILE * 4 // max(entries, 4))


# ------------------------------------------------------------------ target

class _Scratch:
    """One worker's tile buffers, allocated on first use, with their addresses."""

    def __init__(self, size):
        self.size = size  # of a tile's entries
        self._bufs = {}
        self.count = np.zeros(1, np.int64)  # the empty rows of the last tile
        self.count_address = self.count.ctypes.data

    def _entry(self, name, dtype):
        e = self._bufs.get(name)
        if e is None:
            b = np.empty(self.size, dtype)
            e = self._bufs[name] = (b, b.ctypes.data)
        return e

    def get(self, name, dtype):
        return self._entry(name, dtype)[0]

    def address(self, name, dtype):
        return self._entry(name, dtype)[1]


class Target:
    """Where one call's tiles go: columns and values always, the rows for COO
    and blocks, indptr for CSR and CSC.

    A kernel is called as kernel(a, m, ip, jp, Bp, nep) for the rows a ..
    a+m-1: it writes m*entries rows (ip, when not None), columns (jp: int32,
    or int64 when kernel.j64) and values (Bp), numbering rows from 0, and
    the count of empty rows to nep.
    """

    def __init__(self, kernel, n, rows, indptr, index_dtype):
        E = kernel.entries
        size = n * E
        self.kernel, self.n, self.entries, self.idx = kernel, n, E, index_dtype
        # The library checks every knot at each call: a tile of at least as
        # many rows keeps that below one knot per row.
        self.rows_per_tile = max(tile_rows(E), getattr(kernel, "knots", 0))
        wide = index_dtype == np.int64
        self.direct = not wide or getattr(kernel, "j64", False)
        self.j = np.empty(size, index_dtype)
        self.B = np.empty(size, np.float64)
        self.i = np.empty(size, index_dtype) if rows else None
        self.jp, self.Bp = self.j.ctypes.data, self.B.ctypes.data
        self.empty = {}
        self.indptr = None
        if indptr:
            self.indptr = np.empty(n + 1, index_dtype)
            self.indptr[0] = 0
            self.step = np.arange(E, (min(n, self.rows_per_tile) + 1) * E, E,
                                  dtype=index_dtype)

    def scratch(self):
        return _Scratch(min(self.rows_per_tile, self.n) * self.entries)

    def tile(self, a, m, scratch):
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

    def fill(self, threads):
        """The kernel over every tile, in parallel when threads > 1."""
        n, T = self.n, self.rows_per_tile
        ntiles = -(-n // T)
        workers = min(threads, ntiles)

        def work(w):
            scratch = self.scratch()
            for tile in range(w * ntiles // workers, (w + 1) * ntiles // workers):
                a = tile * T
                self.tile(a, min(T, n - a), scratch)

        if workers == 1:
            work(0)
        elif workers > 1:
            list(_executor(workers).map(work, range(workers)))
        return self

    def assemble(self, ncols, fmt):
        """The result in the requested format; rows the library left empty
        (column -1) lose their entries."""
        n, E = self.n, self.entries
        if fmt == "blocks":
            return self.i, self.j, self.B
        layout, cls = _sparse.FORMATS[fmt]
        data, cols, rows, indptr = self.B, self.j, self.i, self.indptr
        if sum(self.empty.values()):
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
            return _sparse.build(cls, shape, {"data": data, "row": rows, "col": cols})
        csr = {"data": data, "indices": cols, "indptr": indptr}
        if layout == "csr":
            return _sparse.build(cls, shape, csr)
        m = _sparse.build(_sparse.FORMATS["csr"][1], shape, csr).tocsc()
        return _sparse.build(cls, shape, {"data": m.data, "indices": m.indices,
                                          "indptr": m.indptr})


def index_dtype(n, entries, ncols):
    return np.int32 if max(n * entries, n, ncols) <= _INDEX32_LIMIT else np.int64


def build(kernel, n, ncols, fmt, threads):
    """Fills and assembles the design matrix of n rows that kernel writes."""
    E = kernel.entries
    rows = fmt in ("coo", "coo_matrix", "blocks")
    target = Target(kernel, n, rows, not rows, index_dtype(n, E, ncols))
    return target.fill(threads_for(threads, n, E)).assemble(ncols, fmt)
