"""The rows of a model of several terms, and their sums.

A model's row is the concatenation of its terms' rows: an intercept, a
linear column, a factor's indicators, or a spline basis on one column of
the data or the tensor product of two or three such bases.  `model_sums`
forms X'WX, X'Wy, y'Wy, the sum of the weights and the row count;
`model_irls` forms the same sums for one step of iteratively reweighted
least squares of a binomial or Poisson response; `model_evaluate` forms
X @ coef and, with a covariance V, the row variances diag(X V X').  All
call the library, which never writes the model matrix: it forms each
term's rows for a few hundred rows at a time.
"""

from __future__ import annotations

import ctypes
from typing import TYPE_CHECKING, Any, NamedTuple, Optional, Sequence, Tuple

import numpy as np

from . import _abi, _lib, _tiles
from ._abi import (ERROR_DATA, ERROR_RANGE, EXTRAPOLATE_ERROR, EXTRAPOLATE_ZERO,
                   FAMILY_BINOMIAL, FAMILY_GAUSSIAN, FAMILY_POISSON, MARGIN_KNOTS,
                   MARGIN_PERIODIC, MARGIN_UNIFORM, TERM_FACTOR, TERM_INTERCEPT, TERM_LINEAR,
                   TERM_SPLINE)

if TYPE_CHECKING:
    from numpy.typing import ArrayLike, NDArray

__all__ = ["FAMILY_BINOMIAL", "FAMILY_GAUSSIAN", "FAMILY_POISSON", "IrlsSums",
           "MARGIN_KNOTS", "MARGIN_PERIODIC", "MARGIN_UNIFORM", "Margin", "ModelSums",
           "TERM_FACTOR", "TERM_INTERCEPT", "TERM_LINEAR", "TERM_SPLINE", "Term",
           "model_columns", "model_evaluate", "model_irls", "model_sums"]


class Margin(NamedTuple):
    """One basis of a spline term, on column `column` of the data.

    KNOTS: knots `t`, `nj` columns.  UNIFORM: knots origin + m*spacing,
    `nj` columns (`t` unused).  PERIODIC: breaks `t`, len(t) - 1 columns.
    `order` is the degree + 1; `extrapolate` the library's mode code.
    """
    kind: int
    column: int
    order: int
    t: Optional[NDArray[np.float64]] = None
    nj: int = 0
    nu: int = 0
    extrapolate: int = EXTRAPOLATE_ZERO
    origin: float = 0.0
    spacing: float = 1.0

    @property
    def width(self) -> int:
        if self.kind == MARGIN_PERIODIC:
            assert self.t is not None
            return len(self.t) - 1
        return self.nj


class Term(NamedTuple):
    """One term of a model: its kind, margins (SPLINE), column (LINEAR,
    FACTOR) and levels (FACTOR)."""
    kind: int
    margins: Tuple[Margin, ...] = ()
    column: int = -1
    nlevels: int = 0

    @property
    def width(self) -> int:
        if self.kind in (TERM_INTERCEPT, TERM_LINEAR):
            return 1
        if self.kind == TERM_FACTOR:
            return self.nlevels
        w = 1
        for m in self.margins:
            w *= m.width
        return w


class ModelSums(NamedTuple):
    """X'WX (p x p, symmetric, both triangles), X'Wy (None without y),
    y'Wy (0 without y), the sum of the weights, the rows counted, and the
    unweighted column sums of X (None without y)."""
    gram: NDArray[np.float64]
    rhs: Optional[NDArray[np.float64]]
    yty: float
    sw: float
    # The rows counted; the name hides tuple.count, which mypy flags.
    count: int  # type: ignore[assignment]
    colsums: Optional[NDArray[np.float64]] = None


class IrlsSums(NamedTuple):
    """One step of iteratively reweighted least squares at some
    coefficients: X'WX, X'Wz, z'Wz and sum W with the working weights W
    and responses z, the deviance at those coefficients, the rows counted
    and the unweighted column sums of X."""
    gram: NDArray[np.float64]
    rhs: NDArray[np.float64]
    ztz: float
    sw: float
    deviance: float
    count: int  # type: ignore[assignment]
    colsums: NDArray[np.float64]


def model_columns(terms: Sequence[Term]) -> list[int]:
    """The width of each term: the model has sum(model_columns(terms))
    columns, the terms' columns in order."""
    return [term.width for term in terms]


# Rows per library call of the row values (any split gives the same bits).
_VALUES_PER_CALL = 1 << 14


class _Call:
    """One model as the library reads it: the terms and margins as C structs
    (and the knot arrays they point to, kept alive here), the data table
    with its strides, and the per-row arrays."""

    def __init__(self, terms: Sequence[Term], X: ArrayLike) -> None:
        self.terms = list(terms)
        X = np.asarray(X, dtype=np.float64)
        if X.ndim != 2:
            raise ValueError("X must be 2-D (rows, columns), got %d dimension(s)" % X.ndim)
        # Row- or column-major (or any non-negative strides of whole doubles)
        # as it is; anything else copied.
        if any(st < 0 or st % 8 for st in X.strides):
            X = np.ascontiguousarray(X)
        self.X = X
        self.n, self.ncols = X.shape
        self.rs, self.cs = (st // 8 for st in X.strides)
        self.keep: list[object] = []
        self.c_terms = (_abi.Term * max(1, len(self.terms)))()
        for k, term in enumerate(self.terms):
            c = self.c_terms[k]
            c.kind, c.column, c.nlevels = int(term.kind), int(term.column), int(term.nlevels)
            if term.kind == TERM_SPLINE:
                margins = (_abi.Margin * max(1, len(term.margins)))()
                for a, m in enumerate(term.margins):
                    g = margins[a]
                    g.kind, g.order, g.nu = int(m.kind), int(m.order), int(m.nu)
                    g.extrapolate, g.nj = int(m.extrapolate), int(m.nj)
                    g.origin, g.spacing, g.column = float(m.origin), float(m.spacing), \
                        int(m.column)
                    if m.t is not None:
                        t = np.ascontiguousarray(m.t, dtype=np.float64)
                        if t.ndim != 1:
                            raise ValueError("terms[%d].margins[%d].t must be 1-D" % (k, a))
                        self.keep.append(t)
                        g.t, g.nt = t.ctypes.data, len(t)
                c.d, c.margins = len(term.margins), ctypes.addressof(margins)
                self.keep.append(margins)
        self.p = self.columns()

    def columns(self) -> int:
        p, bad = np.zeros(1, np.int64), np.full(1, -1, np.int64)
        st = _lib.kernels().bsbasis_model_columns(
            ctypes.addressof(self.c_terms), len(self.terms), self.ncols, p.ctypes.data,
            bad.ctypes.data)
        self.check(st, -1, int(bad[0]))
        return int(p[0])

    def per_row(self, values: ArrayLike | None, name: str) -> NDArray[np.float64] | None:
        if values is None:
            return None
        v = np.ascontiguousarray(values, dtype=np.float64)
        if v.shape != (self.n,):
            raise ValueError("%s must have shape (%d,) (a value per row of X), got %s"
                             % (name, self.n, v.shape))
        return v

    def x_at(self, a: int) -> int:
        return self.X.ctypes.data + 8 * self.rs * a if self.n else 0

    def check(self, status: int, row: int, term: int, y: NDArray[np.float64] | None = None,
              w: NDArray[np.float64] | None = None, family: int | None = None) -> None:
        """Raises for a status other than OK, naming what is at fault."""
        if status == _abi.OK:
            return
        if row >= 0 and term >= 0 and status in (ERROR_DATA, ERROR_RANGE):
            raise ValueError(self._data_fault(status, row, term))
        if row >= 0 and status == ERROR_DATA:
            if w is not None and not (np.isfinite(w[row]) and w[row] >= 0):
                raise ValueError("weights[%d] = %r: weights must be finite and >= 0"
                                 % (row, float(w[row])))
            need = {FAMILY_BINOMIAL: "in [0, 1] for the binomial family",
                    FAMILY_POISSON: "finite and >= 0 for the Poisson family"}
            raise ValueError("y[%d] = %r: responses must be %s"
                             % (row, float(y[row]),  # type: ignore[index]
                                need.get(family if family is not None else -1, "finite")))
        if term >= 0:
            text = _lib.kernels().bsbasis_strerror(status).decode()
            raise ValueError("terms[%d] (%r): %s" % (term, self.terms[term], text))
        _lib.check_status(status)

    def _data_fault(self, status: int, row: int, k: int) -> str:
        term = self.terms[k]
        if term.kind in (TERM_LINEAR, TERM_FACTOR):
            v = float(self.X[row, term.column])
            what = ("an integer level 0 .. %d" % (term.nlevels - 1) if term.kind == TERM_FACTOR
                    else "finite")
            return ("X[%d, %d] = %r: terms[%d] (%s) needs values that are %s"
                    % (row, term.column, v, k,
                       "a factor" if term.kind == TERM_FACTOR else "linear", what))
        for a, m in enumerate(term.margins):
            v = float(self.X[row, m.column])
            if not np.isfinite(v):
                return ("X[%d, %d] = %r: terms[%d].margins[%d] needs finite values"
                        % (row, m.column, v, k, a))
        for a, m in enumerate(term.margins):
            if m.kind != MARGIN_PERIODIC and m.extrapolate == EXTRAPOLATE_ERROR:
                lo, hi = _base_interval(m)
                v = float(self.X[row, m.column])
                if not lo <= v <= hi:
                    return ("X[%d, %d] = %r is outside the base interval [%r, %r] of "
                            "terms[%d].margins[%d], whose extrapolate is error"
                            % (row, m.column, v, lo, hi, k, a))
        # Unreachable unless the library and this module disagree.
        return ("row %d of X: terms[%d]: %s"
                % (row, k, _lib.kernels().bsbasis_strerror(status).decode()))


def _base_interval(m: Margin) -> tuple[float, float]:
    if m.kind == MARGIN_UNIFORM:
        return (m.origin + (m.order - 1) * m.spacing, m.origin + m.nj * m.spacing)
    assert m.t is not None
    return float(m.t[m.order - 1]), float(m.t[m.nj])


# A tile's running sums: G (p x p, upper triangle), rhs (or None), the
# scalar sums (3), the column sums (or None) and the count.
_Acc = Tuple[Any, ...]


def _run_sums(call: _Call, yv: NDArray[np.float64] | None, wv: NDArray[np.float64] | None,
              threads: int | None, family: int | None,
              coef: NDArray[np.float64] | None) -> _Acc:
    """The sums of the rows of the call: bsbasis_model_irls for a family
    (the Gaussian's with coef None are the plain sums, with the column sums
    besides), bsbasis_model_normal_equations without responses.  Tiles of
    NORMAL_TILE rows run on up to `threads` threads and are added in order,
    so the bits do not depend on the threads."""
    p, n = call.p, call.n
    lib = _lib.kernels()

    def zeros() -> _Acc:
        return (np.zeros((p, p)), np.zeros(p) if yv is not None else None, np.zeros(3),
                np.zeros(p) if family is not None else None, np.zeros(1, np.int64))

    def part(a: int, m: int, acc: _Acc | None = None) -> _Acc:
        acc = zeros() if acc is None else acc
        G, rhs, sums, colsums, count = acc
        bad = np.full(2, -1, np.int64)
        x = call.x_at(a)
        y = None if yv is None else yv.ctypes.data + 8 * a
        w = None if wv is None else wv.ctypes.data + 8 * a
        if family is None:
            st = lib.bsbasis_model_normal_equations(
                ctypes.addressof(call.c_terms), len(call.terms), x, m, call.ncols, call.rs,
                call.cs, y, w, G.ctypes.data, None if rhs is None else rhs.ctypes.data,
                sums.ctypes.data, count.ctypes.data, bad.ctypes.data, bad.ctypes.data + 8)
        else:
            st = lib.bsbasis_model_irls(
                ctypes.addressof(call.c_terms), len(call.terms), x, m, call.ncols, call.rs,
                call.cs, family, None if coef is None else coef.ctypes.data, y, w,
                G.ctypes.data, rhs.ctypes.data, sums.ctypes.data, colsums.ctypes.data,
                count.ctypes.data, bad.ctypes.data, bad.ctypes.data + 8)
        row = int(bad[0])
        call.check(st, a + row if row >= 0 else -1, int(bad[1]), yv, wv, family)
        return acc

    acc = zeros()
    _tiles.sum_tiles(n, _tiles.threads_for(threads, n, max(1, len(call.terms))), part, acc)
    return acc


def _symmetric(G: NDArray[np.float64]) -> NDArray[np.float64]:
    """The symmetric matrix whose upper triangle G holds."""
    return np.asarray(np.triu(G) + np.triu(G, 1).T)


def model_sums(terms: Sequence[Term], X: ArrayLike, y: ArrayLike | None = None,
               weights: ArrayLike | None = None,
               threads: int | None = None) -> ModelSums:
    """The weighted sums of the model's rows over the rows of X.

    The library forms them without the model matrix, in tiles of
    NORMAL_TILE rows counted from row 0, each from zero, added in order;
    here tiles run on up to `threads` threads and are added in that same
    order, so the result is the same bits for any thread count.  With y,
    the unweighted column sums come too.  Raises ValueError for a term the
    library refuses, and for the first row of bad data (a value of X a term
    reads that is not finite or not a level, one outside the base interval
    of a margin whose extrapolate is error, a weight that is negative or
    not finite, a response that is not finite), naming it.
    """
    call = _Call(terms, X)
    yv, wv = call.per_row(y, "y"), call.per_row(weights, "weights")
    G, rhs, sums, colsums, count = _run_sums(call, yv, wv, threads,
                                             None if yv is None else FAMILY_GAUSSIAN, None)
    return ModelSums(_symmetric(G), rhs, float(sums[0]), float(sums[1]), int(count[0]),
                     colsums)


def model_irls(terms: Sequence[Term], X: ArrayLike, y: ArrayLike,
               weights: ArrayLike | None = None, *, family: int,
               coef: ArrayLike | None = None, threads: int | None = None) -> IrlsSums:
    """One step of iteratively reweighted least squares, in one pass.

    At eta = X @ coef (`coef` on the model's columns; None: the family's
    start, eta = g((w y + 0.5)/(w + 1)) for the binomial, g(y + 0.1) for
    the Poisson), the sums with the working weights and responses, the
    deviance at eta and the column sums, as bsbasis_model_irls forms them
    (tiles as in `model_sums`: the same bits for any thread count).  The
    responses must suit the family: in [0, 1] for the binomial, >= 0 for
    the Poisson; else ValueError naming the row.
    """
    call = _Call(terms, X)
    yv, wv = call.per_row(y, "y"), call.per_row(weights, "weights")
    assert yv is not None
    c = None
    if coef is not None:
        c = np.ascontiguousarray(coef, dtype=np.float64)
        if c.shape != (call.p,):
            raise ValueError("coef must have shape (%d,) (the model's columns), got %s"
                             % (call.p, c.shape))
        if not np.all(np.isfinite(c)):
            raise ValueError("coef must be finite")
    G, rhs, sums, colsums, count = _run_sums(call, yv, wv, threads, int(family), c)
    return IrlsSums(_symmetric(G), rhs, float(sums[0]), float(sums[1]), float(sums[2]),
                    int(count[0]), colsums)


def model_evaluate(terms: Sequence[Term], X: ArrayLike, coef: ArrayLike,
                   cov: ArrayLike | None = None, threads: int | None = None
                   ) -> tuple[NDArray[np.float64], NDArray[np.float64] | None]:
    """X @ coef and, with cov, diag(X cov X') for the rows of X, formed by
    the library row by row in a fixed order (bsbasis.h), the same bits for
    any thread count."""
    call = _Call(terms, X)
    p, n = call.p, call.n
    c = np.ascontiguousarray(coef, dtype=np.float64)
    if c.shape != (p,):
        raise ValueError("coef must have shape (%d,) (the model's columns), got %s"
                         % (p, c.shape))
    V = None
    if cov is not None:
        V = np.ascontiguousarray(cov, dtype=np.float64)
        if V.shape != (p, p):
            raise ValueError("cov must have shape (%d, %d), got %s" % (p, p, V.shape))
    fit = np.empty(n)
    var = np.empty(n) if V is not None else None
    fn = _lib.kernels().bsbasis_model_evaluate

    def tile(a: int, m: int, _: None) -> None:
        bad = np.full(2, -1, np.int64)
        st = fn(ctypes.addressof(call.c_terms), len(call.terms), call.x_at(a), m, call.ncols,
                call.rs, call.cs, c.ctypes.data, None if V is None else V.ctypes.data,
                fit.ctypes.data + 8 * a, None if var is None else var.ctypes.data + 8 * a,
                bad.ctypes.data, bad.ctypes.data + 8)
        row = int(bad[0])
        call.check(st, a + row if row >= 0 else -1, int(bad[1]))

    workers = _tiles.threads_for(threads, n, max(1, len(call.terms)))
    if n == 0:
        tile(0, 0, None)  # the terms and the arguments are checked all the same
    else:
        _tiles.run_rows(n, _VALUES_PER_CALL, workers, tile)
    return fit, var
