"""Design matrices and interval search on top of the C kernels.

The kernels validate nothing; everything they would take silently but is
wrong is refused here, before any kernel runs.  The package owns and sizes
every array; a kernel call only ever fills rows it was given.
"""

import math
import operator
import os
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import scipy.sparse as sp

from . import _lib

INT32_MAX = 2**31 - 1

# Entries (rows * order) per kernel call: the C counts are int.  Tests lower it.
_MAX_CALL_ENTRIES = INT32_MAX
# Inputs with at least this many entries use every core by default.
_PARALLEL_MIN_ENTRIES = 1 << 17

_RIGHT = ("closed", "open")
_OUT_OF_RANGE = ("error", "zero")
_FORMATS = ("csr", "csc", "coo", "blocks")


# ---------------------------------------------------------------- checks

def _as_vector(a, name):
    """`a` as a C-contiguous, aligned, native float64 1-D array (no copy if it is one)."""
    if isinstance(a, (str, bytes)):
        raise ValueError("%s must be a 1-D array of numbers, got a string" % name)
    try:
        arr = np.asarray(a)
    except Exception as exc:  # ragged nested sequences and the like
        raise ValueError("%s cannot be converted to a float64 array: %s" % (name, exc)) from None
    kind = arr.dtype.kind
    if kind == "c":
        raise ValueError("%s is complex (dtype %s); it must be real" % (name, arr.dtype))
    if kind == "b":
        raise ValueError("%s is boolean; it must hold numbers" % name)
    if kind not in "iuf":
        if kind != "O":
            raise ValueError("%s has dtype %s, which is not numeric; it must be "
                             "convertible to float64" % (name, arr.dtype))
        try:
            arr = arr.astype(np.float64)
        except (TypeError, ValueError) as exc:
            raise ValueError("%s cannot be converted to float64: %s" % (name, exc)) from None
    if arr.ndim != 1:
        raise ValueError("%s must be 1-D, got an array of shape %s" % (name, arr.shape))
    if len(arr) > INT32_MAX:
        # The kernels count in int; refused before any copy is made.
        raise ValueError("%s has %d elements; at most %d are supported"
                         % (name, len(arr), INT32_MAX))
    return np.require(arr, np.float64, ["C", "A"])


def _as_int(v, name):
    if isinstance(v, (bool, np.bool_)):
        raise ValueError("%s must be an integer, got %r" % (name, v))
    try:
        return operator.index(v)
    except TypeError:
        raise ValueError("%s must be an integer, got %r" % (name, v)) from None


def _check_option(value, name, allowed):
    if not isinstance(value, str) or value not in allowed:
        raise ValueError("%s=%r is not one of %s" % (name, value, ", ".join(map(repr, allowed))))


def _check_knots(t):
    bad = ~np.isfinite(t)
    if bad.any():
        k = int(np.argmax(bad))
        raise ValueError("t must be finite: t[%d] = %r" % (k, float(t[k])))
    dec = np.diff(t) < 0
    if dec.any():
        k = int(np.argmax(dec))
        raise ValueError("t must be non-decreasing: t[%d] = %r > t[%d] = %r"
                         % (k, float(t[k]), k + 1, float(t[k + 1])))


def _check_common(order, deriv, right, out_of_range, fmt, threads):
    order = _as_int(order, "order")
    if order < 1:
        raise ValueError("order must be at least 1, got %d" % order)
    deriv = _as_int(deriv, "deriv")
    if deriv not in (0, 1):
        raise ValueError("deriv must be 0 (values) or 1 (first derivatives), got %d" % deriv)
    _check_option(right, "right", _RIGHT)
    _check_option(out_of_range, "out_of_range", _OUT_OF_RANGE)
    _check_option(fmt, "format", _FORMATS)
    if threads is not None:
        threads = _as_int(threads, "threads")
        if threads < 1:
            raise ValueError("threads must be at least 1, got %d" % threads)
    return order, deriv, threads


def _inside(x, lo, hi, right, out_of_range):
    """Which abscissae lie in the base interval; raises for the others when
    out_of_range is "error"."""
    if right == "closed":
        inside = (x >= lo) & (x <= hi)
    else:
        inside = (x >= lo) & (x < hi)
    if out_of_range == "error" and not inside.all():
        raise _range_error(x, inside, lo, hi, right)
    return inside


def _range_error(x, inside, lo, hi, right):
    bad = ~inside
    nbad = int(np.count_nonzero(bad))
    k = int(np.argmax(bad))
    interval = "[%r, %r%s" % (float(lo), float(hi), "]" if right == "closed" else ")")
    return ValueError(
        "x: %d of %d abscissae are outside the base interval %s or not finite; "
        "the first is x[%d] = %r (use out_of_range='zero' for empty rows)"
        % (nbad, len(x), interval, k, float(x[k])))


# ---------------------------------------------------------------- evaluation

def _ptr(a, offset_elems):
    return a.ctypes.data + offset_elems * a.itemsize


class _KnotEval:
    """Fills blocks from the knot kernel (values, or derivatives via deriv_grid)."""

    def __init__(self, lib, t, order, nj, deriv, scale=None):
        self.lib, self.t, self.order, self.nj, self.deriv = lib, t, order, nj, deriv
        self.scale = scale  # divides derivatives (uniform grids with a spacing)

    def __call__(self, x, a, b, i, j, B):
        o, nx = self.order, b - a
        args = (_ptr(i, a * o), _ptr(j, a * o), _ptr(B, a * o), nx * o)
        t, nt = self.t, len(self.t)
        if self.deriv:
            self.lib.blossom_grid(t.ctypes.data, nt, _ptr(x, a), nx, *args, o - 1, o, self.nj)
            self.lib.deriv_grid(t.ctypes.data, nt, *args, nx, o)
            if self.scale is not None:
                np.divide(B[a * o:b * o], self.scale, out=B[a * o:b * o])
        else:
            self.lib.blossom_grid(t.ctypes.data, nt, _ptr(x, a), nx, *args, o, o, self.nj)


class _UniformEval:
    """Fills blocks from the uniform integer-grid kernel (values only)."""

    def __init__(self, lib, order, nj):
        self.lib, self.order, self.nj = lib, order, nj

    def __call__(self, x, a, b, i, j, B):
        o, nx = self.order, b - a
        self.lib.blossom(_ptr(x, a), nx, _ptr(i, a * o), _ptr(j, a * o), _ptr(B, a * o),
                         nx * o, o, o, self.nj)


def _max_rows(order):
    return max(_MAX_CALL_ENTRIES // order, 1)


def _chunk_bounds(n, order, threads):
    """Row boundaries: `threads` chunks, more if the int counts require it."""
    if n == 0:
        return [0, 0]
    k = max(threads, -(-n // _max_rows(order)))
    k = min(k, n)
    return [(c * n) // k for c in range(k + 1)]


def _default_threads(n, order):
    if n * order < _PARALLEL_MIN_ENTRIES:
        return 1
    try:
        return max(len(os.sched_getaffinity(0)), 1)
    except AttributeError:  # not Linux
        return os.cpu_count() or 1


def _fill(evaluate, x, order, threads):
    """Runs `evaluate` over row chunks, in parallel when threads > 1.

    Every row depends only on its own abscissa, so the result is the same
    bits for any chunking.  The kernels number rows from 0 in each call: the
    chunk's first row is added afterwards.
    """
    n = len(x)
    i = np.empty(n * order, dtype=np.int32)
    j = np.empty(n * order, dtype=np.int32)
    B = np.zeros(n * order, dtype=np.float64)
    bounds = _chunk_bounds(n, order, threads)

    def work(c):
        a, b = bounds[c], bounds[c + 1]
        if b > a:
            evaluate(x, a, b, i, j, B)
            if a:
                np.add(i[a * order:b * order], a, out=i[a * order:b * order])

    nchunks = len(bounds) - 1
    if threads > 1 and nchunks > 1:
        with ThreadPoolExecutor(max_workers=min(threads, nchunks)) as pool:
            list(pool.map(work, range(nchunks)))
    else:
        for c in range(nchunks):
            work(c)
    return i, j, B


def _fix_right_end(lib, rows, xr, t, order, deriv, scale, i, j, B):
    """Left-limit blocks for the abscissae xr == t[nj] at the given rows.

    Evaluated exactly on the mirrored problem: knots -t reversed, abscissa
    -x.  Column c' there is column len(t) - order - 1 - c' here, a block's
    columns run the other way, and derivatives change sign.
    """
    if len(rows) == 0:
        return
    nt = len(t)
    tm = np.ascontiguousarray(-t[::-1])
    xm = np.ascontiguousarray(-xr)
    ev = _KnotEval(lib, tm, order, nt - order, deriv)
    im, jm, Bm = _fill(ev, xm, order, 1)
    jm = jm.reshape(-1, order)[:, ::-1]
    Bm = Bm.reshape(-1, order)[:, ::-1]
    if deriv:
        Bm = 0.0 - Bm  # not -Bm: keeps zeros positive
        if scale is not None:
            Bm = Bm / scale
    j.reshape(-1, order)[rows] = (nt - order - 1) - jm
    B.reshape(-1, order)[rows] = Bm


# ---------------------------------------------------------------- assembly

def _index_dtype(*maxvals):
    return np.int32 if max(maxvals) <= INT32_MAX else np.int64


def _assemble(i, j, B, n, order, ncols, inside, fmt):
    if fmt == "blocks":
        return i, j, B
    all_in = bool(inside.all())
    if all_in:
        data, cols = B, j
    else:
        data = B.reshape(n, order)[inside].ravel()
        cols = j.reshape(n, order)[inside].ravel()
    nnz = data.size
    idx = _index_dtype(nnz, n, ncols)
    if cols.dtype != idx:
        cols = cols.astype(idx)
    shape = (n, ncols)
    if fmt == "coo":
        rows = i if all_in else i.reshape(n, order)[inside].ravel()
        if rows.dtype != idx:
            rows = rows.astype(idx)
        m = sp.coo_matrix((data, (rows, cols)), shape=shape, copy=False)
        m.has_canonical_format = True  # blocks come sorted by row, then column
        return m
    if all_in:
        indptr = np.arange(0, nnz + 1, order, dtype=idx)
    else:
        counts = inside.astype(idx) * order
        indptr = np.zeros(n + 1, dtype=idx)
        np.cumsum(counts, out=indptr[1:])
    m = sp.csr_matrix((data, cols, indptr), shape=shape, copy=False)
    # Columns J-order+1 .. J: sorted, distinct.
    m.has_sorted_indices = True
    m.has_canonical_format = True
    if fmt == "csc":
        m = m.tocsc()
        m.sort_indices()
    return m


def _threads_for(threads, n, order):
    return threads if threads is not None else _default_threads(n, order)


# ---------------------------------------------------------------- public

def design_matrix(x, t, order, *, nj=None, deriv=0, right="closed",
                  out_of_range="error", format="csr", threads=None):
    """B-spline design matrix on a knot sequence.

    Row p holds the `order` basis functions (or their first derivatives with
    deriv=1) that are non-zero at x[p], in the columns J-order+1 .. J of the
    knot interval t[J] <= x[p] < t[J+1].  The base interval is
    [t[order-1], t[nj]]; nj defaults to len(t) - order.

    right: "closed" gives x == t[nj] the left-limit values there, as most
        spline tools do; "open" keeps the base interval half-open, so such
        an abscissa is out of range.
    out_of_range: "error" raises ValueError for abscissae outside the base
        interval or not finite; "zero" gives them empty rows.
    format: "csr", "csc", "coo" (canonical scipy.sparse, shape (len(x), nj)),
        or "blocks": the raw arrays (i, j, B) of len(x)*order entries each,
        block p at positions p*order .. p*order+order-1; an out-of-range
        block has column 0 and value 0.
    threads: number of chunks evaluated in parallel; the default uses every
        core for large inputs and one thread for small ones.  The result is
        the same bits for any value.
    """
    order, deriv, threads = _check_common(order, deriv, right, out_of_range, format, threads)
    x = _as_vector(x, "x")
    t = _as_vector(t, "t")
    _check_knots(t)
    nt = len(t)
    if nt < order + 1:
        raise ValueError("t has %d knots; order %d needs at least %d" % (nt, order, order + 1))
    if nj is None:
        nj = nt - order
    else:
        nj = _as_int(nj, "nj")
        if not order <= nj <= nt - order:
            raise ValueError("nj=%d is outside %d .. %d: order %d on %d knots supports "
                             "at most len(t) - order basis functions, and at least order"
                             % (nj, order, nt - order, order, nt))
    lo, hi = t[order - 1], t[nj]
    if not lo < hi:
        raise ValueError("t: the base interval [t[%d], t[%d]] = [%r, %r] is empty"
                         % (order - 1, nj, float(lo), float(hi)))
    n = len(x)

    inside = _inside(x, lo, hi, right, out_of_range)

    lib = _lib.kernels()
    i, j, B = _fill(_KnotEval(lib, t, order, nj, deriv), x, order,
                    _threads_for(threads, n, order))
    if right == "closed":
        rows = np.flatnonzero(x == hi)
        _fix_right_end(lib, rows, x[rows], t, order, deriv, None, i, j, B)
    return _assemble(i, j, B, n, order, nj, inside, format)


def _grid_coordinates(x, inside, origin, spacing, order, nj):
    """(x - origin) / spacing, placed in the interval that x has among the
    knots origin + m*spacing as they round in floating point.

    An abscissa on a knot maps to that integer exactly and one between knots
    stays strictly between their integers, so rounding in the division can
    never move it to a neighbouring interval.  NaN marks out-of-range rows.
    """
    u = np.full(len(x), np.nan)
    xi = x[inside]
    ui = (xi - origin) / spacing
    J = np.clip(np.floor(ui), order - 1, nj - 1)
    for _ in range(64):
        down = xi < origin + spacing * J
        J[down] -= 1
        up = xi >= origin + spacing * (J + 1)
        J[up] += 1
        if not (down.any() or up.any()):
            break
    np.clip(J, order - 1, nj - 1, out=J)
    on_knot = xi == origin + spacing * J
    ui = np.where(on_knot, J, np.clip(ui, np.nextafter(J, J + 1), np.nextafter(J + 1, J)))
    u[inside] = ui
    return u


def uniform_design_matrix(x, order, nj, *, deriv=0, right="closed", out_of_range="error",
                          format="csr", threads=None, origin=0.0, spacing=1.0):
    """B-spline design matrix on a uniform grid.

    Knot m lies at origin + m*spacing, m = 0 .. nj+order-1 (the integers by
    default), and the base interval is [origin + (order-1)*spacing,
    origin + nj*spacing].  Values come from the uniform kernel; derivatives
    from the knot kernel on the integer knots, divided by `spacing`.  The
    other keywords are those of design_matrix.
    """
    order, deriv, threads = _check_common(order, deriv, right, out_of_range, format, threads)
    nj = _as_int(nj, "nj")
    if nj < order:
        raise ValueError("nj=%d is below order %d: the base interval [order-1, nj] "
                         "would be empty" % (nj, order))
    if nj + order > INT32_MAX:
        raise ValueError("nj + order = %d exceeds %d" % (nj + order, INT32_MAX))
    try:
        origin = float(origin)
        spacing = float(spacing)
    except (TypeError, ValueError):
        raise ValueError("origin and spacing must be real numbers, got %r and %r"
                         % (origin, spacing)) from None
    if not math.isfinite(origin):
        raise ValueError("origin must be finite, got %r" % origin)
    if not (math.isfinite(spacing) and spacing > 0):
        raise ValueError("spacing must be finite and positive, got %r" % spacing)
    x = _as_vector(x, "x")
    n = len(x)

    plain = origin == 0.0 and spacing == 1.0
    if plain:
        lo, hi = float(order - 1), float(nj)
    else:
        lo, hi = origin + (order - 1) * spacing, origin + nj * spacing
    inside = _inside(x, lo, hi, right, out_of_range)

    ends = np.flatnonzero(x == hi) if right == "closed" else np.empty(0, np.intp)
    if plain:
        u = x
    else:
        u = _grid_coordinates(x, inside, origin, spacing, order, nj)
        u[ends] = nj

    lib = _lib.kernels()
    # The integer knots, for derivatives and the right end.
    tk = np.arange(nj + order, dtype=np.float64) if deriv or len(ends) else None
    scale = None if spacing == 1.0 else spacing
    if deriv:
        ev = _KnotEval(lib, tk, order, nj, 1, scale)
    else:
        ev = _UniformEval(lib, order, nj)
    i, j, B = _fill(ev, u, order, _threads_for(threads, n, order))
    _fix_right_end(lib, ends, u[ends], tk, order, deriv, scale, i, j, B)
    return _assemble(i, j, B, n, order, nj, inside, format)


def interval_index(keys, arr, guess=None):
    """Interval index of every key in the sorted array `arr`, as int32.

    -1 below arr[0], len(arr) above arr[-1], otherwise the largest m with
    arr[m] <= key.  Without `guess` the search of each key starts from the
    answer for the key before it (fast for sorted keys); with `guess` (an
    integer, or one per key) every search starts there.  The answer does not
    depend on the guess.  The result has the shape of `keys`.
    """
    arr = _as_vector(arr, "arr")
    if np.isnan(arr).any():
        raise ValueError("arr must not contain NaN: arr[%d] is NaN" % int(np.argmax(np.isnan(arr))))
    dec = np.diff(arr) < 0
    if dec.any():
        k = int(np.argmax(dec))
        raise ValueError("arr must be sorted (non-decreasing): arr[%d] = %r > arr[%d] = %r"
                         % (k, float(arr[k]), k + 1, float(arr[k + 1])))
    try:
        keys = np.asarray(keys)
    except Exception as exc:
        raise ValueError("keys cannot be converted to a float64 array: %s" % exc) from None
    shape = keys.shape
    k = _as_vector(keys.ravel(), "keys")
    if np.isnan(k).any():
        raise ValueError("keys must not contain NaN: keys[%d] is NaN"
                         % int(np.argmax(np.isnan(k))))
    out = np.empty(len(k), dtype=np.int32)
    lib = _lib.kernels()
    if guess is None:
        for a in range(0, len(k), INT32_MAX):
            b = min(a + INT32_MAX, len(k))
            lib.binary_search(_ptr(k, a), _ptr(out, a), b - a, arr.ctypes.data, len(arr))
    else:
        g = np.asarray(guess)
        if g.dtype.kind not in "iu":
            raise ValueError("guess must be an integer or an array of integers, got %r" % (guess,))
        try:
            g = np.broadcast_to(g, k.shape)
        except ValueError:
            raise ValueError("guess has shape %s; it must be a scalar or have %d elements"
                             % (g.shape, len(k))) from None
        g = np.clip(g, -1, len(arr)).astype(np.int64)  # the kernel clamps too; this keeps it in int
        f = lib.binary_search_with_guess
        ap, na = arr.ctypes.data, len(arr)
        for e in range(len(k)):
            out[e] = f(float(k[e]), ap, na, int(g[e]))
    return out.reshape(shape)
