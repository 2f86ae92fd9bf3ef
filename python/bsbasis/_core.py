"""Design matrices and interval search on top of the C kernels.

The kernels validate nothing: every argument is checked here before any
kernel runs.  The kernels then fill the result in tiles of a few thousand
abscissae, straight into the arrays that the result keeps: nothing is
zero-filled that a kernel overwrites, the row indices that CSR does not keep
go to a small buffer reused from tile to tile, and the per-tile work (row
offsets, indptr) is done while the tile is in cache.
"""

import math
import os
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np

from . import _lib, _sparse
from ._checks import (INT32_MAX, as_int, as_real, as_vector, check_degree,
                      check_extrapolate, check_knots, check_option, check_threads,
                      range_error)

# Abscissae per kernel call: a tile's triplets (about 64 bytes per abscissa
# at order 4) stay in the core's cache while the host finishes it.
_TILE = 16384
# Entries (rows * order) above which indices are int64.  Tests lower it.
_INDEX32_LIMIT = INT32_MAX
# Inputs with at least this many entries use every core by default.
_PARALLEL_MIN_ENTRIES = 1 << 17

_FORMAT_NAMES = tuple(_sparse.FORMATS) + ("blocks",)


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


def _threads_for(threads, n, order):
    if threads is not None:
        return threads
    return _cores() if n * order >= _PARALLEL_MIN_ENTRIES else 1


# ---------------------------------------------------------------- kernels

def _addr(a, offset):
    return a.ctypes.data + offset * a.itemsize


class _Scratch:
    """One worker's tile buffers, allocated on first use, with their addresses."""

    def __init__(self, order):
        self.order = order
        self._bufs = {}

    def _entry(self, name, dtype):
        e = self._bufs.get(name)
        if e is None:
            b = np.empty(_TILE * self.order, dtype)
            e = self._bufs[name] = (b, b.ctypes.data)
        return e

    def get(self, name, dtype):
        return self._entry(name, dtype)[0]

    def address(self, name, dtype):
        return self._entry(name, dtype)[1]


class _KnotKernel:
    """Values (nu=0) or first derivatives (nu=1) on the knots t."""

    def __init__(self, lib, t, order, nj, nu):
        self.lib, self.order, self.nj, self.nu = lib, order, nj, nu
        self.t, self.tp, self.nt = t, t.ctypes.data, len(t)

    def __call__(self, x, xp, a, m, ip, jp, B, Bp, scratch):
        o = self.order
        if self.nu:
            # The level below the top leaves position 0 unwritten; the
            # derivative reads it.
            e0 = a * o
            B[e0:e0 + m * o:o] = 0.0
            self.lib.blossom_grid(self.tp, self.nt, xp, m, ip, jp, Bp, m * o, o - 1, o, self.nj)
            self.lib.deriv_grid(self.tp, self.nt, ip, jp, Bp, m * o, m, o)
        else:
            self.lib.blossom_grid(self.tp, self.nt, xp, m, ip, jp, Bp, m * o, o, o, self.nj)


class _UniformKernel:
    """Values or first derivatives on the knots origin + m*spacing."""

    def __init__(self, lib, order, nj, nu, origin, spacing):
        self.lib, self.order, self.nj, self.nu = lib, order, nj, nu
        self.origin, self.spacing = origin, spacing
        self.plain = origin == 0.0 and spacing == 1.0
        # On integer knots every span of the order-1 functions is the same, so
        # the derivative kernel needs only a few knots and, instead of the
        # true columns, one block of columns 0 .. order-1 repeated: its values
        # are then those of the full knot sequence, at any column.
        self.t = np.arange(2 * order, dtype=np.float64)
        self.tp = self.t.ctypes.data
        self._columns = None

    def columns(self, m):
        """Address of the repeated block of columns 0 .. order-1, for m abscissae."""
        cols = self._columns
        if cols is None or len(cols[0]) < m * self.order:
            a = np.tile(np.arange(self.order, dtype=np.int32), m)
            cols = self._columns = (a, a.ctypes.data)  # threads that race build equal arrays
        return cols[1]

    def __call__(self, x, xp, a, m, ip, jp, B, Bp, scratch):
        o = self.order
        e0 = a * o
        if self.plain:
            up = xp
        else:
            _grid_coordinates(x[a:a + m], scratch.get("u", np.float64)[:m], self.origin,
                              self.spacing, o, self.nj)
            up = scratch.address("u", np.float64)
        if not self.nu:
            self.lib.blossom(up, m, ip, jp, Bp, m * o, o, o, self.nj)
            return
        B[e0:e0 + m * o:o] = 0.0
        self.lib.blossom(up, m, ip, jp, Bp, m * o, o - 1, o, self.nj)
        self.lib.deriv_grid(self.tp, len(self.t), ip, self.columns(m), Bp, m * o, m, o)
        if self.spacing != 1.0:
            seg = B[e0:e0 + m * o]
            np.divide(seg, self.spacing, out=seg)


def _grid_coordinates(x, u, origin, spacing, order, nj):
    """u = (x - origin) / spacing, placed in the interval that x has among
    the knots origin + m*spacing as they round in floating point.

    An abscissa on a knot maps to that integer exactly and one between knots
    stays strictly between their integers, so rounding in the division never
    moves it to a neighbouring interval.  Abscissae outside the base
    interval map to NaN, which the kernel leaves out of range; the right end
    maps to nj, which it leaves out of range too.
    """
    lo = origin + (order - 1) * spacing
    hi = origin + nj * spacing
    with np.errstate(all="ignore"):
        inside = (x >= lo) & (x < hi)
        r = (x - origin) / spacing
        J = np.floor(r)
        np.clip(J, order - 1, nj - 1, out=J)
        for _ in range(64):
            down = x < origin + spacing * J
            up = x >= origin + spacing * (J + 1)
            moved = (down | up) & inside
            if not moved.any():
                break
            J -= down & inside
            J += up & inside
        np.clip(J, order - 1, nj - 1, out=J)
        on_knot = x == origin + spacing * J
        np.clip(r, np.nextafter(J, J + 1), np.nextafter(J + 1, J), out=r)
        np.copyto(r, J, where=on_knot)
    np.copyto(u, r)
    u[~inside] = np.nan
    u[x == hi] = nj


# ---------------------------------------------------------------- filling

class _Target:
    """Where one call's tiles go: j and B always; the rows i for COO and
    blocks; indptr for CSR when every row is full."""

    def __init__(self, n, order, rows, indptr, index_dtype):
        size = n * order
        self.order = order
        self.idx = index_dtype
        self.direct = index_dtype == np.int32  # the kernels write int32 indices
        self.j = np.empty(size, index_dtype)
        self.B = np.empty(size, np.float64)
        self.i = np.empty(size, index_dtype) if rows else None
        self.jp, self.Bp = self.j.ctypes.data, self.B.ctypes.data
        self.ip = self.i.ctypes.data if rows else None
        self.indptr = None
        if indptr:
            self.indptr = np.empty(n + 1, index_dtype)
            self.indptr[0] = 0
            self.step = np.arange(order, (min(n, _TILE) + 1) * order, order,
                                  dtype=index_dtype)

    def tile(self, kernel, x, xp, a, m, scratch):
        o = self.order
        e0, e1 = a * o, (a + m) * o
        if self.direct:
            jp = self.jp + 4 * e0
            ip = self.ip + 4 * e0 if self.i is not None else scratch.address("i", np.int32)
        else:
            jp = scratch.address("j", np.int32)
            ip = scratch.address("i", np.int32)
        kernel(x, xp + 8 * a, a, m, ip, jp, self.B, self.Bp + 8 * e0, scratch)
        # The kernels number rows from 0 in each call.
        if self.direct:
            if self.i is not None and a:
                seg = self.i[e0:e1]
                np.add(seg, a, out=seg)
        else:
            np.copyto(self.j[e0:e1], scratch.get("j", np.int32)[:m * o])
            if self.i is not None:
                np.add(scratch.get("i", np.int32)[:m * o], a, out=self.i[e0:e1])
        if self.indptr is not None:
            np.add(self.step[:m], e0, out=self.indptr[a + 1:a + m + 1])


def _fill(kernel, x, target, threads):
    """Runs the kernel over x in tiles, in parallel when threads > 1.  Every
    row depends only on its own abscissa: the result is the same bits for
    any thread count."""
    n = len(x)
    ntiles = -(-n // _TILE)
    workers = min(threads, ntiles)
    xp = x.ctypes.data

    def work(w):
        scratch = _Scratch(target.order)
        for tile in range(w * ntiles // workers, (w + 1) * ntiles // workers):
            a = tile * _TILE
            target.tile(kernel, x, xp, a, min(_TILE, n - a), scratch)

    if workers == 1:
        work(0)
    elif workers > 1:
        list(_executor(workers).map(work, range(workers)))


# ---------------------------------------------------------------- assembly

def _index_dtype(n, order, ncols):
    return np.int32 if max(n * order, n, ncols) <= _INDEX32_LIMIT else np.int64


def _put_right_end(target, rows, cols, vals):
    o = target.order
    target.j.reshape(-1, o)[rows] = cols
    target.B.reshape(-1, o)[rows] = vals


def _assemble(target, n, ncols, keep, fmt):
    """The result in the requested format.  keep: None when every row is
    full, else which rows are (the others become empty)."""
    o = target.order
    if fmt == "blocks":
        return target.i, target.j, target.B
    layout, cls = _sparse.FORMATS[fmt]
    data, cols, rows, indptr = target.B, target.j, target.i, target.indptr
    if keep is not None:
        data = data.reshape(n, o)[keep].ravel()
        cols = cols.reshape(n, o)[keep].ravel()
        if rows is not None:
            rows = rows.reshape(n, o)[keep].ravel()
        else:
            indptr = np.zeros(n + 1, target.idx)
            np.cumsum(keep, out=indptr[1:])
            indptr *= o
    shape = (n, ncols)
    if layout == "coo":
        return _sparse.build(cls, shape, {"data": data, "row": rows, "col": cols})
    csr = {"data": data, "indices": cols, "indptr": indptr}
    if layout == "csr":
        return _sparse.build(cls, shape, csr)
    m = _sparse.build(_sparse.FORMATS["csr"][1], shape, csr).tocsc()
    return _sparse.build(cls, shape, {"data": m.data, "indices": m.indices,
                                      "indptr": m.indptr})


# ---------------------------------------------------------------- the calls

class _Call:
    """What design_matrix and uniform_design_matrix share: the abscissae,
    the range check, the tiles and the assembly."""

    def __init__(self, x, k, extrapolate, fmt, threads, ncols, lo, hi, ends):
        self.order = k + 1
        self.zero_outside = check_extrapolate(extrapolate)
        check_option(fmt, "format", _FORMAT_NAMES)
        self.fmt = fmt
        self.threads = check_threads(threads)
        x, mask = as_vector(x, "x")
        self.ncols, self.lo, self.hi, self.ends = ncols, lo, hi, ends
        self.x, self.keep = self._check_range(x, mask)

    def _check_range(self, x, mask):
        """x for the kernels, and None when every row is in range or else which
        rows are.  Masked abscissae become NaN: empty rows, never an error."""
        lo, hi = self.lo, self.hi
        if mask is not None:
            x = np.where(mask, np.nan, x)
        self.at_end = False
        if len(x) == 0:
            return x, None
        mn, mx = x.min(), x.max()
        if lo <= mn and mx <= hi:  # False for NaN
            self.at_end = mx == hi
            return x, None
        inside = (x >= lo) & (x <= hi)
        self.at_end = True  # looked for when the rows are placed
        if not self.zero_outside:
            allowed = inside if mask is None else inside | mask
            if not allowed.all():
                raise range_error(x, allowed, lo, hi, self.ends)
        return x, inside

    def run(self, kernel, right_end):
        n, o, fmt = len(self.x), self.order, self.fmt
        rows = fmt in ("coo", "coo_matrix", "blocks")
        indptr = not rows and self.keep is None
        target = _Target(n, o, rows, indptr, _index_dtype(n, o, self.ncols))
        _fill(kernel, self.x, target, _threads_for(self.threads, n, o))
        if self.at_end:
            ends = np.flatnonzero(self.x == self.hi)
            if len(ends):
                _put_right_end(target, ends, *right_end())
        return _assemble(target, n, self.ncols, self.keep, fmt)


def _knot_right_end(lib, t, order, nu, hi):
    """Columns and values of the basis (or derivatives) at the right end hi
    of the base interval, as limits from the left.  The kernels' intervals
    are half-open, so this is evaluated on the mirrored problem, knots -t
    reversed at -hi, where column c' is column len(t) - order - 1 - c', the
    block runs the other way and derivatives change sign."""
    nt = len(t)
    f = np.zeros(nt + 1 + order)  # the mirrored knots, the abscissa, the block
    np.negative(t[::-1], out=f[:nt])
    f[nt] = -hi
    ij = np.empty(2 * order, np.int32)
    fp, ip = f.ctypes.data, ij.ctypes.data
    tp, xp, Bp, jp = fp, fp + 8 * nt, fp + 8 * (nt + 1), ip + 4 * order
    lib.blossom_grid(tp, nt, xp, 1, ip, jp, Bp, order, order - nu, order, nt - order)
    if nu:
        lib.deriv_grid(tp, nt, ip, jp, Bp, order, 1, order)
    vals = f[:nt:-1]
    if nu:
        vals = 0.0 - vals  # not -vals: keeps zeros positive
    return (nt - order - 1) - ij[:order - 1:-1], vals


def design_matrix(x, t, k, *, nu=0, extrapolate=False, nj=None, format="csr", threads=None):
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
    nu : {0, 1}
        0 for values, 1 for first derivatives.
    extrapolate : {False, 'zero'}
        False raises ValueError for abscissae outside the base interval
        ``[t[k], t[nj]]`` or not finite, as scipy does; 'zero' gives them
        empty rows.
    nj : int, optional
        Number of basis functions (columns), ``k + 1 <= nj <= nt - k - 1``;
        default ``nt - k - 1``.  The base interval is ``[t[k], t[nj]]``.
    format : {'csr', 'csc', 'coo', 'csr_matrix', 'csc_matrix', 'coo_matrix', 'blocks'}
        A scipy sparse array (or matrix, for the ``*_matrix`` names) of
        shape (n, nj), canonical; or 'blocks': the raw triplets ``(i, j, B)``
        of n*(k+1) entries each, block p at entries p*(k+1) .. p*(k+1)+k,
        where a row outside the base interval has column 0 and value 0.
    threads : int, optional
        Threads to use; by default every core for large inputs and one for
        small ones.  The result is the same bits for any value.

    Returns
    -------
    scipy.sparse array, matrix or tuple of three ndarrays
        Row p holds the k+1 B-splines (or derivatives) that are non-zero at
        x[p], in the columns J-k .. J of the interval t[J] <= x[p] < t[J+1].
        The base interval is closed: at ``x == t[nj]`` the row holds the
        limits from the left, as in scipy.

    Raises
    ------
    TypeError
        For arguments of the wrong type: a float k, a bool nu, an x or t
        that is complex, boolean, string or object.
    ValueError
        For wrong values: knots that are not finite, decrease, overflow
        (``t[-1] - t[0]`` not finite) or are too few, an empty base
        interval, nj out of range, and abscissae outside the base interval
        when extrapolate is False.
    """
    k, nu = check_degree(k, nu)
    tv, tmask = as_vector(t, "t")
    if tmask is not None:
        raise ValueError("t must not be masked")
    nj = check_knots(tv, k, nj)
    lo, hi = float(tv[k]), float(tv[nj])
    call = _Call(x, k, extrapolate, format, threads, nj, lo, hi,
                 ("t[%d]" % k, "t[%d]" % nj))
    lib = _lib.kernels()
    return call.run(_KnotKernel(lib, tv, k + 1, nj, nu),
                    lambda: _knot_right_end(lib, tv, k + 1, nu, hi))


def _check_grid(origin, spacing, k, n):
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


def uniform_design_matrix(x, k, n, *, nu=0, origin=0.0, spacing=1.0, extrapolate=False,
                          format="csr", threads=None):
    """B-spline design matrix on a uniform grid.

    Knot m lies at ``origin + m*spacing`` for m = 0 .. n+k, so there are n
    basis functions of degree k and the base interval is
    ``[origin + k*spacing, origin + n*spacing]``, closed.  The other
    parameters are those of `design_matrix`.

    An abscissa is placed among the knots as they round in floating point:
    one equal to a knot is on it.  The ends of the base interval are such
    knots too, and an abscissa that misses them by rounding (for example
    0.3 against ``3*0.1``) is outside, as in scipy; the error says by how
    much.
    """
    k, nu = check_degree(k, nu)
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
    call = _Call(x, k, extrapolate, format, threads, n, lo, hi,
                 ("origin + k*spacing", "origin + n*spacing"))
    lib = _lib.kernels()
    kernel = _UniformKernel(lib, order, n, nu, origin, spacing)
    return call.run(kernel, lambda: _uniform_right_end(kernel))


def _uniform_right_end(kernel):
    """Mirrored about the middle of the grid, the integer grid maps onto
    itself: the right end n goes to the left end k and column c to n-1-c."""
    o, n = kernel.order, kernel.nj
    u = np.array([o - 1.0])
    i = np.empty(o, np.int32)
    j = np.empty(o, np.int32)
    B = np.zeros(o)
    plain = _UniformKernel(kernel.lib, o, n, kernel.nu, 0.0, 1.0)
    plain(u, u.ctypes.data, 0, 1, i.ctypes.data, j.ctypes.data, B, B.ctypes.data, None)
    vals = B[::-1]
    if kernel.nu:
        vals = 0.0 - vals
        if kernel.spacing != 1.0:
            vals = vals / kernel.spacing
    return (n - 1) - j[::-1], vals


def interval_index(keys, arr, guess=None):
    """Interval index of every key in the sorted array `arr`, as int32.

    -1 below arr[0], len(arr) above arr[-1], otherwise the largest m with
    arr[m] <= key.  The result has the shape of `keys`.

    Each search starts from the answer for the key before it, which is fast
    for sorted keys.  `guess` (an integer, or one per key) is checked but
    only a hint: the answer never depends on it, and values beyond the
    array are clamped to it.
    """
    a, amask = as_vector(arr, "arr")
    if amask is not None:
        raise ValueError("arr must not be masked")
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
    kv, kmask = as_vector(np.ravel(keys) if np.ndim(keys) > 1 else keys, "keys")
    if kmask is not None:
        raise ValueError("keys must not be masked")
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


def _check_guess(guess, nkeys):
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
