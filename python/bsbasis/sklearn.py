"""scikit-learn's SplineTransformer with the bases formed by the library,
NaturalSplineTransformer, its sibling for natural cubic splines, and
GAMRegressor and GAMClassifier, the additive models of bsbasis.gam as a
regressor and a classifier.

This is the only module of the package that imports scikit-learn.  Knots,
fitted attributes, feature names, checks and error messages are those of
scikit-learn 1.2's ``sklearn.preprocessing.SplineTransformer``; the rows
are formed by the library, tile by tile, straight into the output.
"""

from __future__ import annotations

import math
from numbers import Integral
from typing import TYPE_CHECKING, Any, Callable, Literal, Sequence, Tuple, Union, cast

import numpy as np
import scipy.sparse as sp
from scipy.interpolate import BSpline
from sklearn.base import BaseEstimator, ClassifierMixin, RegressorMixin, TransformerMixin
from sklearn.utils import check_array, column_or_1d
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_is_fitted

from . import _gam_fit, _lib, _sparse, _tiles
from . import _sklearn_compat as compat
from ._abi import (ERROR_RANGE, EXTRAPOLATE_CONSTANT, EXTRAPOLATE_CONTINUE, EXTRAPOLATE_ERROR,
                   EXTRAPOLATE_LINEAR, EXTRAPOLATE_PERIODIC, EXTRAPOLATE_ZERO, NATURAL_WIDTH)
from ._checks import as_int
from ._penalties import difference_penalty, make_knots
from ._sklearn_compat import Interval, StrOptions

if TYPE_CHECKING:
    from numpy.typing import ArrayLike, DTypeLike, NDArray

    # A run of rows to amend, (lo, hi, column, keep): see _Feature._ends.
    _End = Tuple[float, float, Union[int, None], int]
    # A feature's library call.
    _AnyFeature = Union["_Feature", "_NaturalFeature"]
    # What transform returns: dense, or sparse under sparse_output.
    _Output = Union[NDArray[Any], sp.csr_matrix]

# scikit-learn's extrapolation names but 'periodic', each the library's mode
# of that name ('periodic' takes the periodic basis where it can).
_MODE = {"error": EXTRAPOLATE_ERROR, "constant": EXTRAPOLATE_CONSTANT,
         "linear": EXTRAPOLATE_LINEAR, "continue": EXTRAPOLATE_CONTINUE}
_BEYOND = "X contains values beyond the limits of the knots."
_FLOAT_DTYPES = (np.float64, np.float32, np.float16)  # kept by the output
_TILE_BYTES = 1 << 21  # output of a tile


class _OutOfRange(Exception):
    """Some abscissa lies beyond the knots under 'error'; transform says
    which, in scikit-learn's words."""


def _extend(base: NDArray[np.float64], degree: int, periodic: bool) -> NDArray[np.float64]:
    """scikit-learn's full knot vectors (one per column) from base knots."""
    if periodic:
        period = base[-1] - base[0]
        return np.r_[base[-(degree + 1):-1] - period, base, base[1:degree + 1] + period]
    dist_min = base[1] - base[0]
    dist_max = base[-1] - base[-2]
    return np.r_[
        np.linspace(base[0] - degree * dist_min, base[0] - dist_min, num=degree),
        base,
        np.linspace(base[-1] + dist_max, base[-1] + degree * dist_max, num=degree),
    ]


def _cyclic_difference_penalty(n: int, order: int) -> sp.csr_matrix:
    """D.T @ D for the differences of the given order that wrap around n
    coefficients: row r of D is the difference starting at r, modulo n."""
    coef = [(-1) ** (order - q) * float(math.comb(order, q)) for q in range(order + 1)]
    r = np.arange(n)
    rows = np.tile(r, order + 1)
    cols = np.concatenate([(r + q) % n for q in range(order + 1)])
    d = sp.csr_matrix((np.repeat(coef, n), (rows, cols)), shape=(n, n))  # sums duplicates
    p = (d.T @ d).tocsr()
    p.eliminate_zeros()
    p.sort_indices()
    return p


class _Feature:
    """The library call that forms the rows of one feature.

    `fold`: n_splines when columns from n_splines on wrap onto the first
    ones, else 0.  `constant`: the value of a feature whose knots all
    coincide, or None.  `ends`: the rows to amend where an end knot
    interval has length 0 (see `_ends`).
    """

    fn: Callable[..., int]
    args: tuple[float, ...]

    def __init__(self, spl: BSpline, periodic: bool, mode: int, nu: int, ncols: int,
                 offset: int) -> None:
        k = int(spl.k)
        t = np.ascontiguousarray(spl.t, dtype=np.float64)
        n = len(t) - k - 1
        self.order, self.ncols, self.offset = k + 1, ncols, offset
        self.nsplines = spl.c.shape[1]
        self.mode, self.fold = mode, 0
        self.constant: float | None = float(t[k]) if t[k] == t[n] else None
        self.ends = [] if periodic or self.constant is not None else self._ends(t, k, n, mode)
        nu = min(nu, k + 1)  # every order from k + 1 on gives zeros
        lib = _lib.kernels()
        breaks = t[k:n + 1]
        if periodic and self.nsplines >= k + 1 and (breaks[1:] > breaks[:-1]).all():
            self.arr = np.ascontiguousarray(breaks)
            self.fn = lib.bsbasis_periodic_design
            self.args = (self.arr.ctypes.data, len(self.arr), k + 1, nu)
        else:
            if periodic:  # wrapped by the library, columns folded here
                self.mode, self.fold = EXTRAPOLATE_PERIODIC, self.nsplines
            self.arr = t
            self.fn = lib.bsbasis_design
            self.args = (t.ctypes.data, len(t), k + 1, n, nu, self.mode)

    @staticmethod
    def _ends(t: NDArray[np.float64], k: int, n: int, mode: int) -> list[_End]:
        """What scikit-learn gives where quantile knots repeat at an end.

        scipy evaluates x >= t[n], and x < t[k] under 'continue', on the end
        knot interval; when it has length 0 that row is 0, or for degree 0 a
        1 in the end column.  Below t[k], 'constant' and 'linear' keep only
        the first `degree` columns (degree + 1 for 'linear' with degree <=
        1) of the row at t[k], which then lies further in.  Returns
        (lo, hi, column, keep) for the rows lo <= x < hi: the row is a 1 in
        `column`, or when column is None its entries in columns >= keep are
        dropped.
        """
        out: list[_End] = []
        if t[n - 1] == t[n]:
            hi = np.nextafter(t[n], np.inf) if k == 0 and mode == EXTRAPOLATE_ZERO else np.inf
            out.append((t[n], hi, n - 1 if k == 0 else None, 0))
        if t[k] == t[k + 1] and mode in (EXTRAPOLATE_CONTINUE, EXTRAPOLATE_CONSTANT,
                                         EXTRAPOLATE_LINEAR):
            if mode == EXTRAPOLATE_CONTINUE:
                out.append((-np.inf, t[k], 0 if k == 0 else None, 0))
            else:
                keep = k if mode == EXTRAPOLATE_CONSTANT or k > 1 else k + 1
                out.append((-np.inf, t[k], None, keep))
        return out

    def zero_outside(self) -> None:
        """Gives the library's zero rows outside the base interval, as
        scikit-learn's 'error' mode does once the range is checked."""
        self.mode = EXTRAPOLATE_ZERO
        self.args = self.args[:-1] + (EXTRAPOLATE_ZERO,)

    def call(self, s: _TransformBuffers, m: int) -> bool:
        """The blocks of the m abscissae in s.x, into s.j and s.B; True when
        some entries are empty (column -1)."""
        status = self.fn(*self.args, s.xp, m, None, s.jp, s.Bp, s.nep)
        if status == ERROR_RANGE and self.mode == EXTRAPOLATE_ERROR:
            raise _OutOfRange
        _lib.check_status(status)
        j = s.j[:m * self.order]
        if self.fold:
            j[j >= self.fold] -= self.fold
        empty = bool(s.nempty[0])
        for lo, hi, column, keep in self.ends:
            x = s.x[:m]
            rows = (x >= lo) & (x < hi)
            if not rows.any():
                continue
            jr = j.reshape(m, self.order)
            if column is None:
                jr[rows] = np.where(jr[rows] >= keep, -1, jr[rows])
            else:  # degree 0: one entry a row
                jr[rows] = column
                s.B[:m][rows] = 1.0
            empty = empty or column is None
        return empty


def _data_knots(X: NDArray[Any], sample_weight: NDArray[Any] | None, n_knots: int, degree: int,
                kind: Literal["uniform", "quantile"], missing: bool,
                periodic: bool) -> NDArray[np.float64]:
    """scikit-learn's knot vectors from the data, one column per feature:
    n_knots base knots placed as `kind` says, extended by `degree` knots
    beyond each end.  `missing`: NaN is a missing value, ignored here."""
    columns = []
    for i in range(X.shape[1]):
        x, w = X[:, i], sample_weight
        if missing:
            keep = ~np.isnan(x)
            if not keep.any():
                raise ValueError(
                    f"Feature {i} has only missing values: no knots can be placed."
                )
            if not keep.all():
                x = x[keep]
                w = None if w is None else w[keep]
        used = x if w is None else x[w > 0]
        if len(used) == 0:  # make_knots says why
            make_knots(x, n_knots, 0, kind=kind, weights=w)
        lo, hi = used.min(), used.max()
        if periodic and lo == hi:
            raise ValueError(
                f"Feature {i} is constant: periodic splines need a period > 0."
            )
        columns.append((x, w, lo, hi))
    if kind == "uniform" and (X.dtype != np.float64 or any(c[2] == c[3] for c in columns)):
        # scikit-learn spaces these in the precision of X, and np.linspace
        # rounds differently for all features when one is constant.
        lows = np.array([c[2] for c in columns], dtype=X.dtype)
        highs = np.array([c[3] for c in columns], dtype=X.dtype)
        base = np.linspace(lows, highs, num=n_knots, endpoint=True, dtype=np.float64)
        return _extend(base, degree, periodic)
    k = 0 if periodic else degree
    knots = np.stack([np.full(n_knots + 2 * k, lo) if lo == hi else
                      make_knots(x, n_knots, k, kind=kind, weights=w, boundary="extended")
                      for x, w, lo, hi in columns], axis=1)
    if periodic:
        return _extend(knots, degree, True)
    ends = knots[[k, k + 1, -k - 2, -k - 1]]
    if k and ((ends[0] == ends[1]) | (ends[2] == ends[3])).any():
        # An end interval of length 0 makes np.linspace round the knots
        # beyond the ends differently for every feature.
        knots = _extend(knots[k:k + n_knots], degree, False)
    return knots


def _given_knots(knots: ArrayLike, n_features: int) -> NDArray[np.float64]:
    """Knots given as an array, one column per feature, checked with
    scikit-learn's messages."""
    knots = cast("NDArray[np.float64]", check_array(knots, dtype=np.float64))
    if knots.shape[0] < 2:
        raise ValueError("Number of knots, knots.shape[0], must be >= 2.")
    elif knots.shape[1] != n_features:
        raise ValueError("knots.shape[1] == n_features is violated.")
    elif not np.all(np.diff(knots, axis=0) > 0):
        raise ValueError("knots must be sorted without duplicates.")
    return knots


class _TransformBuffers:
    """One worker's buffers for a tile of the transform: its abscissae of
    one feature, the blocks the library writes for them, and the tile's
    output where it cannot go straight into the result."""

    def __init__(self, rows: int, order: int, tile_out: int) -> None:
        self.x = np.empty(rows)
        self.j = np.empty(rows * order, np.int32)
        self.B = np.empty(rows * order)
        self.nempty = np.zeros(1, np.int64)
        self.out = None if tile_out == 0 else np.empty(rows * tile_out)
        self.xp, self.jp, self.Bp = self.x.ctypes.data, self.j.ctypes.data, self.B.ctypes.data
        self.nep = self.nempty.ctypes.data


def _run_tiles(n: int, rows: int, workers: int, order: int, tile_out: int,
               tile: Callable[[int, int, _TransformBuffers], None]) -> None:
    """tile(a, m, buffers) over the tiles of `rows` rows on up to `workers`
    threads through the package's tile runner, each thread with its own
    _TransformBuffers."""
    _tiles.run_rows(n, rows, workers, tile,
                    lambda: _TransformBuffers(min(rows, n), order, tile_out))


class _TiledOutput:
    """What the transformers share: their checks of X (NaN allowed under
    handle_missing='zeros') and tags, and their output from features that
    are library calls (see _Feature): the rows tile by tile on the
    package's threads, each feature's blocks written into its columns,
    dense (in the estimator's `order`) or sparse as its `sparse_output`
    asks."""

    # The estimator's parameters, which the transformers set.
    handle_missing: Literal["error", "zeros"]
    order: Literal["C", "F"]
    sparse_output: bool
    threads: int | None

    def _declared_tags(self) -> dict[str, Any]:
        return {
            "allow_nan": self.handle_missing == "zeros",
            "preserves_dtype": [np.float64, np.float32],
        }

    def _check_data(self, X: ArrayLike, reset: bool, **kwargs: Any) -> NDArray[Any]:
        return compat.validate_data(self, X, reset=reset, accept_sparse=False, ensure_2d=True,
                                    allow_nan=self.handle_missing == "zeros", **kwargs)

    def _output(self, X: NDArray[Any], features: Sequence[_AnyFeature], ncols: int) -> _Output:
        """The features' rows, dense or sparse as `sparse_output` asks, in
        the dtype of X where it is a float type."""
        n, n_features = X.shape
        n_out = n_features * ncols
        dtype = X.dtype if X.dtype in _FLOAT_DTYPES else np.dtype(np.float64)
        order = features[0].order
        threads = _tiles.threads_for(self.threads, n, n_features * order)
        # Each feature writes its columns of every row of a tile: a tile's
        # output stays in the core's cache until all features have written.
        per_row = 12 * n_features * order if self.sparse_output else 8 * n_out
        rows = min(_tiles._ROWS_PER_CALL, max(64, _TILE_BYTES // max(per_row, 1)))
        if self.sparse_output:
            if dtype == np.float16:
                dtype = np.dtype(np.float32)  # scipy.sparse has no float16
            return self._sparse(X, features, n_out, order, dtype, rows, threads)
        return self._dense(X, features, n_out, order, dtype, rows, threads)

    def _dense(self, X: NDArray[Any], features: Sequence[_AnyFeature], n_out: int, order: int,
               dtype: DTypeLike, rows: int, threads: int) -> NDArray[Any]:
        n = X.shape[0]
        out = _tiles.result_array((n, n_out), dtype, self.order)
        direct = dtype == np.float64 or n_out == 0
        fortran = self.order == "F"
        to_dense = _lib.kernels().bsbasis_blocks_to_dense

        def tile(a: int, m: int, s: _TransformBuffers) -> None:
            # Unless direct, the buffers hold the tile's output (s.out).
            if direct:
                dest = out[a:a + m]
            elif fortran:
                dest = s.out[:m * n_out].reshape(n_out, m).T  # type: ignore[index]
            else:
                dest = s.out[:m * n_out].reshape(m, n_out)  # type: ignore[index]
            base, rs, cs = dest.ctypes.data, dest.strides[0] // 8, dest.strides[1] // 8
            for i, f in enumerate(features):
                if f.constant is not None:
                    dest[:, f.offset:f.offset + f.ncols] = 0.0
                    continue
                np.copyto(s.x[:m], X[a:a + m, i], casting="unsafe")
                f.call(s, m)  # also under 'error' when there are no columns
                if f.ncols:
                    _lib.check_status(to_dense(order, s.jp, s.Bp, m, f.ncols,
                                               base + 8 * cs * f.offset, rs, cs))
            if not direct:
                out[a:a + m] = dest

        _run_tiles(n, rows, threads, order, 0 if direct else n_out, tile)
        return out

    def _sparse(self, X: NDArray[Any], features: Sequence[_AnyFeature], n_out: int, order: int,
                dtype: DTypeLike, rows: int, threads: int) -> sp.csr_matrix:
        n, n_features = X.shape
        per_row = n_features * order
        nnz = n * per_row
        idx = np.int32 if max(nnz, n_out) <= _tiles._INDEX32_LIMIT else np.int64
        data = _tiles.result_array(nnz, dtype)
        indices = _tiles.result_array(nnz, idx)
        data3 = data.reshape(n, n_features, order)
        indices3 = indices.reshape(n, n_features, order)
        # A block as one element, so that numpy copies it in one piece.
        fast_data = dtype == np.float64
        fast_indices = idx == np.int32
        block8 = np.dtype((np.void, 8 * order))
        block4 = np.dtype((np.void, 4 * order))
        data_blocks = data.view(block8).reshape(n, n_features) if fast_data else None
        index_blocks = indices.view(block4).reshape(n, n_features) if fast_indices else None
        dropped: list[int] = []  # set by the tiles whose rows lose entries

        def tile(a: int, m: int, s: _TransformBuffers) -> None:
            for i, f in enumerate(features):
                if f.constant is not None:
                    indices3[a:a + m, i] = -1
                    dropped.append(a)
                    continue
                np.copyto(s.x[:m], X[a:a + m, i], casting="unsafe")
                empty = f.call(s, m)
                j, B = s.j[:m * order], s.B[:m * order]
                bad = None
                if empty or f.ncols < f.nsplines:
                    # -1 (an empty row) is above every column as unsigned.
                    bad = j.view(np.uint32) >= f.ncols
                    if bad.any():
                        dropped.append(a)
                    else:
                        bad = None
                if fast_indices:  # index_blocks is made for this case
                    np.add(j, f.offset, out=j)
                    if bad is not None:
                        j[bad] = -1
                    index_blocks[a:a + m, i] = j.view(block4)  # type: ignore[index]
                else:
                    slot = indices3[a:a + m, i]
                    np.add(j.reshape(m, order), f.offset, out=slot, casting="unsafe")
                    if bad is not None:
                        slot[bad.reshape(m, order)] = -1
                if fast_data:  # data_blocks is made for this case
                    data_blocks[a:a + m, i] = B.view(block8)  # type: ignore[index]
                else:
                    np.copyto(data3[a:a + m, i], B.reshape(m, order), casting="unsafe")

        if n:
            _run_tiles(n, rows, threads, order, 0, tile)
        if dropped:
            keep = indices >= 0
            indptr = np.zeros(n + 1, idx)
            np.cumsum(np.count_nonzero(keep.reshape(n, per_row), axis=1), out=indptr[1:])
            data, indices = data[keep], indices[keep]
        else:
            indptr = np.arange(0, nnz + 1, per_row, dtype=idx)
        out = _sparse.build(sp.csr_matrix, (n, n_out),
                            {"data": data, "indices": indices, "indptr": indptr})
        if any(f.fold for f in features):
            # Folded columns are out of order and may coincide: sort and add.
            out.has_sorted_indices = out.has_canonical_format = False
            out.sum_duplicates()
        return out


class SplineTransformer(compat.TagsMixin, _TiledOutput, TransformerMixin, BaseEstimator):
    """Generate univariate B-spline bases for features.

    A drop-in for scikit-learn's ``SplineTransformer``: the same
    parameters, fitted attributes and output, with the bases formed by the
    bsbasis library.  It adds sparse output, missing values, derivative
    features and threads.

    Generate a new feature matrix consisting of `n_splines=n_knots + degree
    - 1` (`n_knots - 1` for `extrapolation="periodic"`) spline basis
    functions (B-splines) of polynomial order=`degree` for each feature.

    Parameters
    ----------
    n_knots : int, default=5
        Number of knots of the splines if `knots` equals one of
        {'uniform', 'quantile'}. Must be larger or equal 2. Ignored if
        `knots` is array-like.

    degree : int, default=3
        The polynomial degree of the spline basis. Must be a non-negative
        integer.

    knots : {'uniform', 'quantile'} or array-like of shape \
        (n_knots, n_features), default='uniform'
        Set knot positions such that first knot <= features <= last knot.

        - If 'uniform', `n_knots` number of knots are distributed uniformly
          from min to max values of the features.
        - If 'quantile', they are distributed uniformly along the quantiles
          of the features.
        - If an array-like is given, it directly specifies the sorted knot
          positions including the boundary knots. Internally, `degree`
          number of knots are added before the first knot, the same after
          the last knot.

    extrapolation : {'error', 'constant', 'linear', 'continue', 'periodic'}, \
        default='constant'
        If 'error', values outside the min and max values of the training
        features raise a `ValueError`. If 'constant', the value of the
        splines at minimum and maximum value of the features is used as
        constant extrapolation (zeros for `degree=0`, as in scikit-learn).
        If 'linear', a linear extrapolation is used. If 'continue', the
        splines are extrapolated as is, i.e. option `extrapolate=True` in
        :class:`scipy.interpolate.BSpline`. If 'periodic', periodic splines
        with a periodicity equal to the distance between the first and last
        knot are used.

    include_bias : bool, default=True
        If False, the last spline element of each feature is dropped. As
        B-splines sum to one over the spline basis functions for each data
        point, they implicitly include a bias term.

    order : {'C', 'F'}, default='C'
        Order of the dense output array. Ignored when `sparse_output=True`.

    sparse_output : bool, default=False
        If True, `transform` returns a :class:`scipy.sparse.csr_matrix`
        holding the `degree + 1` entries of each feature's basis row
        (fewer where `include_bias=False` drops one, none where a missing
        value gives a zero row), columns sorted.

    handle_missing : {'error', 'zeros'}, default='error'
        If 'error', NaN in `X` raises a `ValueError`. If 'zeros', NaN is
        accepted: `fit` places the knots of a feature from its other values,
        and `transform` gives all-zero spline features for each NaN entry.

    nu : int, default=0
        Derivative order of the features: 0 for the values of the
        B-splines, 1, 2, ... for their derivatives. Outside the range of the
        knots, 'constant' gives derivative 0, 'linear' the constant slope
        for `nu=1` and 0 for higher orders, 'continue' and 'periodic' the
        derivatives of the continued splines. Orders above `degree` give
        zeros.

    threads : int, default=None
        Threads that form the rows; by default every core for large inputs
        and one for small ones. A negative value counts from the number of
        cores, as `workers` does in scipy: -1 is every core, -2 every core
        but one. 0 is not allowed. The output is the same for any value.

    Attributes
    ----------
    bsplines_ : list of shape (n_features,)
        List of :class:`scipy.interpolate.BSpline` objects, one for each
        feature, as scikit-learn builds them.

    n_features_in_ : int
        The total number of input features.

    feature_names_in_ : ndarray of shape (`n_features_in_`,)
        Names of features seen during fit. Defined only when `X`
        has feature names that are all strings.

    n_features_out_ : int
        The total number of output features, `n_features * n_splines`, or
        `n_features * (n_splines - 1)` if `include_bias=False`.

    See Also
    --------
    sklearn.preprocessing.SplineTransformer : The transformer this one
        replaces.
    NaturalSplineTransformer : Natural cubic splines.
    bsbasis.design_matrix : The basis of one knot vector.

    Notes
    -----
    The knots are scikit-learn's to the bit and the features equal its
    output up to rounding, also where quantile knots repeat at an end of
    the range (as for a discrete feature).  Where scikit-learn 1.2 fails,
    this transformer does as follows:

    - 'constant' with `degree=0` gives zeros above the last knot, as below
      the first (scikit-learn raises);
    - 'linear' with `degree <= 1` extrapolates every feature as the first
      (scikit-learn raises the degree of the later ones);
    - 'linear' beyond an end knot interval of length 0 gives zeros
      (scikit-learn reads the slope there from uninitialised memory);
    - `knots='quantile'` with `sample_weight` accepts float32 `X`
      (scikit-learn raises);
    - a feature whose knots all coincide (a constant one) gives zero
      features, and under 'periodic' `fit` raises a `ValueError`
      (scikit-learn gives ones in an end column for `degree=0`, and NaN
      under 'periodic').

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis.sklearn import SplineTransformer
    >>> X = np.arange(6).reshape(6, 1)
    >>> spline = SplineTransformer(degree=2, n_knots=3)
    >>> spline.fit_transform(X)
    array([[0.5 , 0.5 , 0.  , 0.  ],
           [0.18, 0.74, 0.08, 0.  ],
           [0.02, 0.66, 0.32, 0.  ],
           [0.  , 0.32, 0.66, 0.02],
           [0.  , 0.08, 0.74, 0.18],
           [0.  , 0.  , 0.5 , 0.5 ]])
    """

    _parameter_constraints: dict[str, list[Any]] = {
        "n_knots": [Interval(Integral, 2, None, closed="left")],
        "degree": [Interval(Integral, 0, None, closed="left")],
        "knots": [StrOptions({"uniform", "quantile"}), "array-like"],
        "extrapolation": [
            StrOptions({"error", "constant", "linear", "continue", "periodic"})
        ],
        "include_bias": ["boolean"],
        "order": [StrOptions({"C", "F"})],
        "sparse_output": ["boolean"],
        "handle_missing": [StrOptions({"error", "zeros"})],
        "nu": [Interval(Integral, 0, None, closed="left")],
        "threads": [Interval(Integral, 1, None, closed="left"),
                    Interval(Integral, None, -1, closed="right"), None],
    }

    def __init__(
        self,
        n_knots: int = 5,
        degree: int = 3,
        *,
        knots: Literal["uniform", "quantile"] | ArrayLike = "uniform",
        extrapolation: Literal["error", "constant", "linear", "continue",
                               "periodic"] = "constant",
        include_bias: bool = True,
        order: Literal["C", "F"] = "C",
        sparse_output: bool = False,
        handle_missing: Literal["error", "zeros"] = "error",
        nu: int = 0,
        threads: int | None = None,
    ) -> None:
        self.n_knots = n_knots
        self.degree = degree
        self.knots = knots
        self.extrapolation = extrapolation
        self.include_bias = include_bias
        self.order = order
        self.sparse_output = sparse_output
        self.handle_missing = handle_missing
        self.nu = nu
        self.threads = threads

    def get_feature_names_out(self, input_features: ArrayLike | None = None
                              ) -> NDArray[np.object_]:
        """Get output feature names for transformation.

        Parameters
        ----------
        input_features : array-like of str or None, default=None
            Input features.

            - If `input_features` is `None`, then `feature_names_in_` is
              used as feature names in. If `feature_names_in_` is not
              defined, then the following input feature names are
              generated: `["x0", "x1", ..., "x(n_features_in_ - 1)"]`.
            - If `input_features` is an array-like, then `input_features`
              must match `feature_names_in_` if `feature_names_in_` is
              defined.

        Returns
        -------
        feature_names_out : ndarray of str objects
            Transformed feature names.

        See Also
        --------
        transform : The features these names are of.
        sklearn.preprocessing.SplineTransformer.get_feature_names_out : The same names.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.sklearn import SplineTransformer
        >>> X = np.array([[0.0], [1.0], [2.0]])
        >>> spline = SplineTransformer(n_knots=3, degree=1).fit(X)
        >>> spline.get_feature_names_out()
        array(['x0_sp_0', 'x0_sp_1', 'x0_sp_2'], dtype=object)
        """
        check_is_fitted(self)
        n_splines = self.bsplines_[0].c.shape[1]
        input_features = compat.feature_names_in(self, input_features)
        return np.asarray(
            [
                f"{input_features[i]}_sp_{j}"
                for i in range(self.n_features_in_)
                for j in range(n_splines - 1 + self.include_bias)
            ],
            dtype=object,
        )

    def fit(self, X: ArrayLike, y: object = None,
            sample_weight: ArrayLike | None = None) -> SplineTransformer:
        """Compute knot positions of splines.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            The data.

        y : None
            Ignored.

        sample_weight : array-like of shape (n_samples,), default = None
            Individual weights for each sample. Used to calculate quantiles
            if `knots="quantile"`. For `knots="uniform"`, zero weighted
            observations are ignored for finding the min and max of `X`.

        Returns
        -------
        self : object
            Fitted transformer.

        See Also
        --------
        transform : The features on the knots placed here.
        bsbasis.make_knots : The same knots as a function.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.sklearn import SplineTransformer
        >>> X = np.array([[0.0], [1.0], [2.0]])
        >>> spline = SplineTransformer(n_knots=3, degree=1).fit(X)
        >>> spline.bsplines_[0].t
        array([-1.,  0.,  1.,  2.,  3.])
        >>> spline.n_features_out_
        3
        """
        compat.validate_params(self)
        X = self._check_data(X, reset=True, ensure_min_samples=2)
        if sample_weight is not None:
            sample_weight = compat.check_sample_weight(sample_weight, X, X.dtype)
        n_features = X.shape[1]
        periodic = self.extrapolation == "periodic"
        degree = self.degree

        if isinstance(self.knots, str):
            base_knots = None
            n_knots = self.n_knots
        else:
            base_knots = _given_knots(self.knots, n_features)
            n_knots = base_knots.shape[0]

        if periodic and n_knots <= degree:
            raise ValueError(
                "Periodic splines require degree < n_knots. Got n_knots="
                f"{n_knots} and degree={degree}."
            )
        if base_knots is None:
            # validate_params has found the name one of 'uniform', 'quantile'.
            knots = _data_knots(X, sample_weight, n_knots, degree,
                                self.knots,  # type: ignore[arg-type]
                                self.handle_missing == "zeros", periodic)
        else:
            knots = _extend(base_knots, degree, periodic)

        n_splines = n_knots - 1 if periodic else n_knots + degree - 1
        coef = np.eye(n_splines, dtype=np.float64)
        if periodic:
            coef = np.concatenate((coef, coef[:degree, :]))
        extrapolate = self.extrapolation in ["periodic", "continue"]
        self.bsplines_ = [
            BSpline.construct_fast(knots[:, i], coef, degree, extrapolate=extrapolate)
            for i in range(n_features)
        ]
        self.n_features_out_ = n_features * (n_splines - 1 + self.include_bias)
        return self

    def _features(self, X: NDArray[Any]) -> tuple[list[_Feature], int]:
        """The library call of each feature; checks the range under 'error'
        where the library cannot (NaN allowed, constant features)."""
        periodic = self.extrapolation == "periodic"
        missing = self.handle_missing == "zeros"
        n_splines = self.bsplines_[0].c.shape[1]
        ncols = n_splines - 1 + self.include_bias
        features = []
        for i, spl in enumerate(self.bsplines_):
            mode = _MODE.get(self.extrapolation, EXTRAPOLATE_PERIODIC)
            if mode == EXTRAPOLATE_CONSTANT and spl.k == 0:
                mode = EXTRAPOLATE_ZERO  # scikit-learn gives zeros outside for degree 0
            f = _Feature(spl, periodic, mode, self.nu, ncols, i * ncols)
            if mode == EXTRAPOLATE_ERROR and (missing or f.constant is not None):
                n = len(spl.t) - spl.k - 1
                lo, hi = spl.t[spl.k], spl.t[n]
                col = X[:, i]
                if np.fmin.reduce(col) < lo or np.fmax.reduce(col) > hi:
                    raise _OutOfRange
                f.zero_outside()  # NaN gives a zero row
            features.append(f)
        return features, ncols

    def transform(self, X: ArrayLike) -> _Output:
        """Transform each feature data to B-splines.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            The data to transform.

        Returns
        -------
        XBS : ndarray or scipy.sparse.csr_matrix of shape \
            (n_samples, ``n_features_out_``)
            The matrix of features: float32 for float32 `X` (float16 for
            float16 dense), float64 otherwise.

        Raises
        ------
        ValueError
            Under `extrapolation="error"`, for values beyond the knots, with
            scikit-learn's message: "X contains values beyond the limits of
            the knots." for dense output, and for sparse output scipy's
            "Out of bounds w/ x = [...]." naming the values of the first
            such feature.

        See Also
        --------
        fit : Place the knots.
        bsbasis.design_matrix : The basis of one feature as a sparse matrix.
        sklearn.preprocessing.SplineTransformer.transform : The same features.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.sklearn import SplineTransformer
        >>> X = np.array([[0.0], [1.0], [2.0]])
        >>> spline = SplineTransformer(n_knots=3, degree=1).fit(X)
        >>> spline.transform(np.array([[0.5], [1.5], [3.0]]))
        array([[0.5, 0.5, 0. ],
               [0. , 0.5, 0.5],
               [0. , 0. , 1. ]])
        """
        check_is_fitted(self)
        X = self._check_data(X, reset=False)
        try:
            return self._transform(X)
        except _OutOfRange:
            raise self._range_error(X) from None

    def _range_error(self, X: NDArray[Any]) -> ValueError:
        """What scikit-learn raises for X beyond the knots under 'error':
        its own message for dense output, and for sparse output scipy's
        from ``BSpline.design_matrix`` on the first feature beyond its
        knots (NaN there replaced by the feature's smallest value, as
        scikit-learn does before that call)."""
        if not self.sparse_output:
            return ValueError(_BEYOND)
        for i, spl in enumerate(self.bsplines_):
            x = np.array(X[:, i], dtype=np.float64)
            nan = np.isnan(x)
            if nan.all():
                continue  # zero features, never out of range
            x[nan] = np.nanmin(x)
            n = len(spl.t) - spl.k - 1
            if x.min() < spl.t[spl.k] or x.max() > spl.t[n]:
                return ValueError(f"Out of bounds w/ x = {x}.")
        return ValueError(_BEYOND)

    def _transform(self, X: NDArray[Any]) -> _Output:
        features, ncols = self._features(X)
        return self._output(X, features, ncols)

    def penalty_matrix(self, order: int = 2) -> sp.csr_matrix:
        """Difference penalty on the coefficients of the output features.

        The P-spline penalty of Eilers and Marx: for each feature, ``D.T @
        D`` with ``D`` the differences of the given order of its spline
        coefficients; block diagonal over the features. Under
        `extrapolation="periodic"` the differences wrap around, as the
        basis does. With `include_bias=False` the block is that of all
        `n_splines` coefficients restricted to the kept ones: differences
        do not change when a constant is added to the coefficients, which
        the intercept of a model takes, so the dropped coefficient is 0.

        Parameters
        ----------
        order : int, default=2
            Order of the differences, 1 to 4.

        Returns
        -------
        penalty : scipy.sparse.csr_matrix of shape \
            (``n_features_out_``, ``n_features_out_``)
            Symmetric, positive semi-definite, canonical.

        See Also
        --------
        bsbasis.difference_penalty : The penalty of one basis, in band form.
        bsbasis.fit_pspline : A P-spline fit with the smoothing chosen by GCV.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.sklearn import SplineTransformer
        >>> X = np.array([[0.0], [1.0], [2.0]])
        >>> spline = SplineTransformer(n_knots=3, degree=1).fit(X)
        >>> spline.penalty_matrix(order=1).toarray()
        array([[ 1., -1.,  0.],
               [-1.,  2., -1.],
               [ 0., -1.,  1.]])
        """
        check_is_fitted(self)
        order = as_int(order, "order")
        if not 1 <= order <= 4:
            raise ValueError("order must be 1, 2, 3 or 4, got %d" % order)
        n_splines = self.bsplines_[0].c.shape[1]
        ncols = n_splines - 1 + self.include_bias
        if self.extrapolation == "periodic":
            block = _cyclic_difference_penalty(n_splines, order)
        else:
            block = difference_penalty(n_splines, order, format="csr_matrix")
        if ncols == 0:
            return sp.csr_matrix((0, 0))
        out = sp.block_diag([block[:ncols, :ncols]] * self.n_features_in_, format="csr")
        out.sum_duplicates()
        return out


class _NaturalFeature:
    """The library call that forms the natural spline rows of one feature:
    NATURAL_WIDTH entries a row, the unused ones of column -1."""

    fold = 0

    def __init__(self, knots: NDArray[np.float64], include_bias: bool, nu: int, ncols: int,
                 offset: int) -> None:
        lo, hi = float(knots[0]), float(knots[-1])
        self.order, self.ncols, self.nsplines, self.offset = NATURAL_WIDTH, ncols, ncols, offset
        self.constant = lo if lo == hi else None
        self.interior = np.ascontiguousarray(knots[1:-1], dtype=np.float64)
        self.fn = _lib.kernels().bsbasis_natural_design
        self.args = (lo, hi, self.interior.ctypes.data, len(self.interior), int(include_bias),
                     min(nu, 4))  # every order from 4 on gives zeros

    def call(self, s: _TransformBuffers, m: int) -> bool:
        """The blocks of the m abscissae in s.x, into s.j and s.B; True: a
        row may end in entries of column -1."""
        _lib.check_status(self.fn(*self.args, s.xp, m, None, s.jp, s.Bp, s.nep))
        return True


class NaturalSplineTransformer(compat.TagsMixin, _TiledOutput, TransformerMixin,
                               BaseEstimator):
    """Generate natural cubic spline bases for features.

    For each feature, the natural cubic splines on its knots: cubic
    splines whose second derivative is 0 at the first and the last knot,
    continued as straight lines beyond them, in the basis of R's
    ``splines::ns`` (see `bsbasis.natural_design_matrix`).  The knots are
    placed as `SplineTransformer` places its base knots.  Each feature
    gives `n_knots` columns, or `n_knots - 1` with `include_bias=False`.

    A class of its own rather than an option of `SplineTransformer`:
    that class is a drop-in for scikit-learn's, whose `degree`,
    `extrapolation`, `include_bias` (the last B-spline dropped),
    `bsplines_` and `penalty_matrix` do not carry over to natural splines,
    which are cubic, linear beyond the knots, drop the first B-spline
    before the projection, and have no B-spline coefficients.  As an
    option these parameters would be ignored or refused case by case and
    the fitted attributes would depend on it; here every parameter means
    one thing.

    Parameters
    ----------
    n_knots : int, default=5
        Number of knots, the two boundary knots included, if `knots` is
        'uniform' or 'quantile'. At least 2. Ignored if `knots` is
        array-like.

    knots : {'uniform', 'quantile'} or array-like of shape \
        (n_knots, n_features), default='uniform'
        The knots, placed as `SplineTransformer` places its base knots:

        - 'uniform': `n_knots` knots equally spaced from the minimum to the
          maximum of the feature;
        - 'quantile': at equally spaced quantiles of the feature;
        - array-like: the sorted knots, the boundary knots included,
          strictly increasing.

        The interior knots must lie strictly between the boundary knots:
        'quantile' on a feature with many ties at an end can place one on
        it, and `fit` then raises.

    include_bias : bool, default=True
        If True, the columns span the constant function. If False, the
        first B-spline is dropped before the projection, as R's ``ns``
        with ``intercept=FALSE``: every column is then 0 at the first knot.

    order : {'C', 'F'}, default='C'
        Order of the dense output array. Ignored when `sparse_output=True`.

    sparse_output : bool, default=False
        If True, `transform` returns a :class:`scipy.sparse.csr_matrix`
        holding the non-zero entries of each feature's row (at most 7),
        columns sorted.

    handle_missing : {'error', 'zeros'}, default='error'
        If 'error', NaN in `X` raises a `ValueError`. If 'zeros', NaN is
        accepted: `fit` places the knots of a feature from its other values,
        and `transform` gives all-zero spline features for each NaN entry.

    nu : int, default=0
        Derivative order of the features: 0 for the values, 1, 2, ... for
        derivatives. Beyond the knots the first derivative is the slope of
        the line and the higher ones are 0; from 4 on all are 0.

    threads : int, default=None
        Threads that form the rows; by default every core for large inputs
        and one for small ones. A negative value counts from the number of
        cores, as `workers` does in scipy: -1 is every core. 0 is not
        allowed. The output is the same for any value.

    Attributes
    ----------
    knots_ : ndarray of shape (n_knots, n_features)
        The knots of each feature, the boundary knots first and last.

    n_features_in_ : int
        The total number of input features.

    feature_names_in_ : ndarray of shape (`n_features_in_`,)
        Names of features seen during fit. Defined only when `X`
        has feature names that are all strings.

    n_features_out_ : int
        The total number of output features, `n_features * n_knots`, or
        `n_features * (n_knots - 1)` if `include_bias=False`.

    See Also
    --------
    SplineTransformer : B-splines of any degree.
    bsbasis.natural_design_matrix : The basis of one feature.

    Notes
    -----
    A feature whose knots all coincide (a constant one) gives zero
    features, as in `SplineTransformer`.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis.sklearn import NaturalSplineTransformer
    >>> X = np.arange(5.0).reshape(5, 1)
    >>> NaturalSplineTransformer(n_knots=3).fit_transform(X).round(4)
    array([[-0.4553,  0.5916, -0.3944],
           [ 0.1533,  0.4547, -0.2823],
           [ 0.474 ,  0.3685, -0.079 ],
           [ 0.3149,  0.3665,  0.2765],
           [-0.132 ,  0.4152,  0.7232]])
    """

    _parameter_constraints: dict[str, list[Any]] = {
        "n_knots": [Interval(Integral, 2, None, closed="left")],
        "knots": [StrOptions({"uniform", "quantile"}), "array-like"],
        "include_bias": ["boolean"],
        "order": [StrOptions({"C", "F"})],
        "sparse_output": ["boolean"],
        "handle_missing": [StrOptions({"error", "zeros"})],
        "nu": [Interval(Integral, 0, None, closed="left")],
        "threads": [Interval(Integral, 1, None, closed="left"),
                    Interval(Integral, None, -1, closed="right"), None],
    }

    def __init__(
        self,
        n_knots: int = 5,
        *,
        knots: Literal["uniform", "quantile"] | ArrayLike = "uniform",
        include_bias: bool = True,
        order: Literal["C", "F"] = "C",
        sparse_output: bool = False,
        handle_missing: Literal["error", "zeros"] = "error",
        nu: int = 0,
        threads: int | None = None,
    ) -> None:
        self.n_knots = n_knots
        self.knots = knots
        self.include_bias = include_bias
        self.order = order
        self.sparse_output = sparse_output
        self.handle_missing = handle_missing
        self.nu = nu
        self.threads = threads

    def _ncols(self) -> int:
        return self.knots_.shape[0] - 1 + self.include_bias

    def get_feature_names_out(self, input_features: ArrayLike | None = None
                              ) -> NDArray[np.object_]:
        """Get output feature names for transformation.

        Parameters
        ----------
        input_features : array-like of str or None, default=None
            Input features: as for `SplineTransformer`.

        Returns
        -------
        feature_names_out : ndarray of str objects
            Transformed feature names, ``<input>_ns_<j>``.

        See Also
        --------
        transform : The features these names are of.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.sklearn import NaturalSplineTransformer
        >>> X = np.arange(5.0).reshape(5, 1)
        >>> spline = NaturalSplineTransformer(n_knots=3).fit(X)
        >>> spline.get_feature_names_out()
        array(['x0_ns_0', 'x0_ns_1', 'x0_ns_2'], dtype=object)
        """
        check_is_fitted(self)
        input_features = compat.feature_names_in(self, input_features)
        return np.asarray([f"{input_features[i]}_ns_{j}" for i in range(self.n_features_in_)
                           for j in range(self._ncols())], dtype=object)

    def fit(self, X: ArrayLike, y: object = None,
            sample_weight: ArrayLike | None = None) -> NaturalSplineTransformer:
        """Compute knot positions of the splines.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            The data.

        y : None
            Ignored.

        sample_weight : array-like of shape (n_samples,), default = None
            Individual weights for each sample, as for `SplineTransformer`:
            used for the quantiles of `knots="quantile"`; for
            `knots="uniform"`, zero weighted samples are ignored for the
            minimum and maximum.

        Returns
        -------
        self : object
            Fitted transformer.

        Raises
        ------
        ValueError
            For knots given that are not sorted without duplicates or not
            of shape (n_knots, n_features), and for quantile knots that
            fall on a boundary knot.

        See Also
        --------
        transform : The features on the knots placed here.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.sklearn import NaturalSplineTransformer
        >>> X = np.arange(5.0).reshape(5, 1)
        >>> spline = NaturalSplineTransformer(n_knots=3).fit(X)
        >>> spline.knots_
        array([[0.],
               [2.],
               [4.]])
        """
        compat.validate_params(self)
        X = self._check_data(X, reset=True, ensure_min_samples=2)
        if sample_weight is not None:
            sample_weight = compat.check_sample_weight(sample_weight, X, X.dtype)
        if isinstance(self.knots, str):
            # validate_params has found the name one of 'uniform', 'quantile'.
            knots = _data_knots(X, sample_weight, self.n_knots, 0,
                                self.knots,  # type: ignore[arg-type]
                                self.handle_missing == "zeros", False)
        else:
            knots = _given_knots(self.knots, X.shape[1])
        for i in range(knots.shape[1]):
            lo, hi = knots[0, i], knots[-1, i]
            inner = knots[1:-1, i]
            if lo < hi and ((inner <= lo) | (inner >= hi)).any():
                raise ValueError(
                    f"Feature {i}: an interior knot falls on a boundary knot "
                    f"({lo!r} or {hi!r}), as quantiles of values with many ties at an "
                    "end do; use fewer knots or knots='uniform'."
                )
        self.knots_ = np.ascontiguousarray(knots)
        self.n_features_out_ = X.shape[1] * self._ncols()
        return self

    def transform(self, X: ArrayLike) -> _Output:
        """Transform each feature to its natural cubic spline basis.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            The data to transform.

        Returns
        -------
        XNS : ndarray or scipy.sparse.csr_matrix of shape \
            (n_samples, ``n_features_out_``)
            The matrix of features: float32 for float32 `X` (float16 for
            float16 dense), float64 otherwise.

        Raises
        ------
        ValueError
            For X with another number of features than at `fit`, or NaN
            under `handle_missing='error'`.

        See Also
        --------
        fit : Place the knots.
        bsbasis.natural_design_matrix : The basis of one feature as a sparse matrix.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.sklearn import NaturalSplineTransformer
        >>> X = np.arange(5.0).reshape(5, 1)
        >>> spline = NaturalSplineTransformer(n_knots=3).fit(X)
        >>> spline.transform(np.array([[0.0], [2.0], [6.0]])).round(4)
        array([[-0.4553,  0.5916, -0.3944],
               [ 0.474 ,  0.3685, -0.079 ],
               [-1.1217,  0.5295,  1.647 ]])
        """
        check_is_fitted(self)
        X = self._check_data(X, reset=False)
        ncols = self._ncols()
        features = [_NaturalFeature(self.knots_[:, i], self.include_bias, self.nu, ncols,
                                    i * ncols) for i in range(X.shape[1])]
        return self._output(X, features, ncols)


# ---------------------------------------------------------------- GAMRegressor
#
# An additive model of bsbasis.gam as a scikit-learn regressor.  Its helpers
# below serve it alone.

def _is_frame(X: object) -> bool:
    """X is a pandas DataFrame (or quacks like one)."""
    return hasattr(X, "columns") and hasattr(X, "iloc")


def _default_terms(X: NDArray[Any], n_knots: int | None) -> list[Any]:
    """A term per column, for GAMRegressor and GAMClassifier: a cubic smooth
    where the column has at least 4 distinct values, its knots reduced to
    leave no more basis functions than distinct values and fewer
    coefficients in all than rows (as mgcv requires); a linear term where
    that leaves fewer than 4 functions; no term for a constant column (the
    intercept has it)."""
    from .gam import _distinct, linear, s
    default = 8  # mgcv's 10 cubic basis functions
    # The terms read a count only up to n_knots + 2 (and 4): a column with
    # at least that many values gets the same term whatever the exact count.
    need = max(4, (n_knots or default) + 2)
    distinct = [_distinct(X[:, j], need) for j in range(X.shape[1])]
    budget = (len(X) - 1) // max(1, sum(d >= 2 for d in distinct))
    terms = []
    for j, d in enumerate(distinct):
        functions = min(d, budget)
        if functions >= 4:
            # a cubic basis has n_knots + 2 functions, at most one per value
            terms.append(s(j, n_knots=min(n_knots or default, functions - 2)))
        elif d >= 2:
            terms.append(linear(j))
    if not terms:
        raise ValueError("every column of X is constant: there is nothing to fit")
    return terms


def _positive_rows(X: Any, keep: NDArray[np.bool_]) -> Any:
    """The rows of X (an array or a DataFrame) where keep holds."""
    if keep.all():
        return X
    return X.iloc[np.flatnonzero(keep)] if _is_frame(X) else X[keep]


class GAMRegressor(RegressorMixin, BaseEstimator):
    """A Gaussian additive model as a scikit-learn regressor.

    Fits `bsbasis.gam.GAM`: an intercept plus smooth, tensor product,
    linear and factor terms, each smooth constrained to sum to zero and
    penalised, the smoothing parameters chosen by REML or GCV as mgcv
    chooses them.  It takes part in pipelines, grid searches and
    cross-validation like any regressor; `score` is R^2.

    Parameters
    ----------
    terms : list of terms, default=None
        The model's terms, made by `bsbasis.gam.s`, `~bsbasis.gam.te`,
        `~bsbasis.gam.linear` and `~bsbasis.gam.factor`; they name columns
        by index, or by name when X is a pandas DataFrame (then a factor's
        column may hold strings).  None: a cubic P-spline ``s(j)`` of every
        column j with at least 4 distinct values (of the rows of positive
        weight), a linear term for a column of 2 or 3 values, nothing for a
        constant column.
    method : {'REML', 'GCV'}, default='REML'
        The criterion the smoothing parameters minimise.
    lam : array-like of float, default=None
        Fixed smoothing parameters, one per penalty (see
        `bsbasis.gam.GAM`); no search then.
    n_knots : int, default=None
        Knots of each smooth of ``terms=None`` over its column's range,
        ends included, at least 2; default 8 (mgcv's 10 basis functions).
        Fewer where a column has fewer than ``n_knots + 2`` distinct
        values.  Ignored when `terms` is given.
    threads : int, default=None
        Threads for the sums and predictions, as for `bsbasis.gam.GAM`; a
        negative value counts from the number of cores.

    Attributes
    ----------
    gam_ : bsbasis.gam.GAM
        The fitted model: its `summary`, `partial` and `plot`.
    terms_ : list of terms
        The terms fitted: `terms`, or those chosen for ``terms=None``.
    n_features_in_ : int
        The number of columns of X seen in `fit`.
    feature_names_in_ : ndarray of shape (`n_features_in_`,)
        The column names of X seen in `fit`, when X is a DataFrame whose
        column names are all strings.

    See Also
    --------
    bsbasis.gam.GAM : The model, on arrays and DataFrames.
    bsbasis.dask.fit_gam : The same model fitted on dask arrays.
    SplineTransformer : Spline features for a linear model.

    Notes
    -----
    Rows of weight 0 are dropped before the fit: they neither place the
    knots nor count among the observations, so that the fit is the one
    without them.  When the unpenalised part of the model (the intercept,
    linear and factor terms, each smooth's linear trend) fits y exactly,
    REML is undefined (its scale estimate is 0) while every smoothing
    parameter gives the same exact fit: `gam_` is then that fit, made with
    ``method='GCV'``.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis.sklearn import GAMRegressor
    >>> rng = np.random.default_rng(0)
    >>> X = rng.uniform(0, 1, (300, 2))
    >>> y = np.sin(6 * X[:, 0]) + X[:, 1] + rng.normal(0, 0.1, 300)
    >>> model = GAMRegressor().fit(X, y)
    >>> model.gam_.terms_
    ['s(x0)', 's(x1)']
    >>> bool(model.score(X, y) > 0.9)
    True
    """

    _parameter_constraints: dict[str, list[Any]] = {
        "terms": ["array-like", None],
        "method": [StrOptions({"REML", "GCV"})],
        "lam": ["array-like", None],
        "n_knots": [Interval(Integral, 2, None, closed="left"), None],
        "threads": [Interval(Integral, 1, None, closed="left"),
                    Interval(Integral, None, -1, closed="right"), None],
    }

    def __init__(self, terms: Sequence[Any] | None = None, *,
                 method: Literal["REML", "GCV"] = "REML", lam: Sequence[float] | None = None,
                 n_knots: int | None = None, threads: int | None = None) -> None:
        self.terms = terms
        self.method = method
        self.lam = lam
        self.n_knots = n_knots
        self.threads = threads

    def _check_X(self, X: ArrayLike, reset: bool, **kwargs: Any) -> NDArray[Any]:
        """X checked as scikit-learn checks it: numbers for ``terms=None``,
        any values for given terms (a factor may hold strings)."""
        return compat.validate_data(self, X, reset=reset, allow_nan=False, accept_sparse=False,
                                    dtype="numeric" if self.terms is None else None, **kwargs)

    def fit(self, X: ArrayLike, y: ArrayLike,
            sample_weight: ArrayLike | None = None) -> GAMRegressor:
        """Fit the additive model.

        Parameters
        ----------
        X : array-like or pandas.DataFrame of shape (n_samples, n_features)
            The data; the terms name its columns.
        y : array-like of shape (n_samples,)
            The response.
        sample_weight : array-like of shape (n_samples,), default=None
            Prior weights, >= 0; rows of weight 0 are dropped.

        Returns
        -------
        self : GAMRegressor
            Fitted.

        Raises
        ------
        ValueError
            For X or y that scikit-learn's checks refuse (NaN, infinity,
            fewer than 2 rows), negative weights, X whose columns are all
            constant, and as `bsbasis.gam.GAM.fit` raises it.

        See Also
        --------
        predict : Predictions of the fitted model.
        bsbasis.gam.GAM.fit : The fit itself.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.gam import s, linear
        >>> from bsbasis.sklearn import GAMRegressor
        >>> rng = np.random.default_rng(1)
        >>> X = rng.uniform(0, 1, (200, 2))
        >>> y = np.cos(4 * X[:, 0]) + 2 * X[:, 1] + rng.normal(0, 0.1, 200)
        >>> model = GAMRegressor([s(0), linear(1)]).fit(X, y)
        >>> round(float(model.gam_.coef_[-1]), 1)
        2.0
        """
        from .gam import GAM
        compat.validate_params(self)
        Xv, yv = self._check_X(X, reset=True, y=y, y_numeric=True, ensure_min_samples=2)
        data = X if self.terms is not None and _is_frame(X) else Xv
        w = None
        if sample_weight is not None:
            w = np.asarray(compat.check_sample_weight(sample_weight, Xv, np.float64))
            keep = w > 0
            if np.any(w < 0) or not keep.any():
                raise ValueError("sample_weight must be >= 0, and > 0 somewhere")
            data, yv, w, Xv = (_positive_rows(data, keep), yv[keep], w[keep],
                               _positive_rows(Xv, keep))
        terms = (_default_terms(Xv, self.n_knots) if self.terms is None
                 else list(self.terms))
        try:
            self.gam_ = GAM(terms, method=self.method, lam=self.lam,
                            threads=self.threads).fit(data, yv, w)
        except _gam_fit.ExactFit:
            # The unpenalised terms fit y exactly: REML's scale estimate is
            # 0, and every lam gives this same exact fit; GCV is defined.
            self.gam_ = GAM(terms, method="GCV", lam=self.lam,
                            threads=self.threads).fit(data, yv, w)
        self.terms_ = terms
        return self

    def predict(self, X: ArrayLike) -> NDArray[np.float64]:
        """The fitted mean at the rows of X.

        Parameters
        ----------
        X : array-like or pandas.DataFrame of shape (n_samples, n_features)
            Columns as in `fit`.

        Returns
        -------
        y_pred : ndarray of shape (n_samples,)
            The predictions.

        Raises
        ------
        sklearn.exceptions.NotFittedError
            Before `fit`.
        ValueError
            For X with another number of columns than in `fit`, NaN or
            infinity, a factor level not seen in `fit`.

        See Also
        --------
        bsbasis.gam.GAM.predict : With standard errors.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.sklearn import GAMRegressor
        >>> X = np.linspace(0, 1, 50).reshape(-1, 1)
        >>> model = GAMRegressor(lam=[1.0]).fit(X, 3 * X[:, 0])
        >>> model.predict([[0.5]]).round(6)
        array([1.5])
        """
        check_is_fitted(self)
        Xv = self._check_X(X, reset=False)
        data = X if self.terms is not None and _is_frame(X) else Xv
        return np.asarray(self.gam_.predict(data), dtype=np.float64)


class GAMClassifier(compat.TagsMixin, ClassifierMixin, BaseEstimator):
    """A classifier by a logistic additive model.

    The model is `bsbasis.gam.GAM` with ``family="binomial"``.
    Two classes: one binomial GAM of the second class (in sorted order)
    against the first.  More than two: one-vs-rest, one binomial GAM per
    class, their probabilities normalised to sum to 1.

    Parameters
    ----------
    terms : list of terms, optional
        The model's terms, made by `bsbasis.gam.s`, `te`, `linear` and
        `factor`, on the columns of X by index (or by name for a
        DataFrame).  Default: ``s(j)`` on every column j, with at most
        as many basis functions as the column has distinct values (among
        the rows of positive weight) and fewer in all than rows, as mgcv
        requires; ``linear(j)`` on a column where that leaves fewer than 4
        functions; nothing on a constant column.
    method : {'REML', 'GCV'}, default='REML'
        How the smoothing parameters are chosen (see `bsbasis.gam.GAM`;
        'GCV' is mgcv's UBRE here).
    lam : array-like of float, optional
        Fixed smoothing parameters, one per penalty (see `bsbasis.gam.GAM`).
    n_knots : int, optional
        Knots of each default ``s(j)``, at least 2; lowered for a column
        with few distinct values.  Default mgcv's 10 basis functions.
    threads : int, optional
        Threads for the model's sums and predictions.

    Attributes
    ----------
    classes_ : ndarray of shape (n_classes,)
        The class labels, sorted.
    models_ : list of bsbasis.gam.GAM
        The fitted models: one for two classes (of ``classes_[1]``), one
        per class otherwise.
    n_features_in_ : int
        Columns of X seen in fit.
    feature_names_in_ : ndarray of str
        Their names, when X has string column names.

    Raises
    ------
    ValueError
        In fit, for a single class, labels that are not classes (for
        example continuous values), NaN or inf, fewer than 2 rows, no
        column that varies when terms is None.

    See Also
    --------
    bsbasis.gam.GAM : The model fitted.
    SplineTransformer : The bases alone, for a linear model of scikit-learn.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis.sklearn import GAMClassifier
    >>> rng = np.random.default_rng(0)
    >>> X = rng.uniform(-1, 1, (400, 2))
    >>> p = 1 / (1 + np.exp(-4 * np.sin(3 * X[:, 0]) - X[:, 1]))
    >>> y = np.where(rng.uniform(size=400) < p, "yes", "no")
    >>> clf = GAMClassifier().fit(X, y)
    >>> clf.classes_
    array(['no', 'yes'], dtype='<U3')
    >>> clf.predict_proba(X[:2]).shape
    (2, 2)
    >>> bool(clf.score(X, y) > 0.7)
    True
    """

    _parameter_constraints: dict[str, list[Any]] = {
        "method": [StrOptions({"REML", "GCV"})],
        "lam": ["array-like", None],
        "n_knots": [Interval(Integral, 2, None, closed="left"), None],
        "threads": [Interval(Integral, 1, None, closed="left"),
                    Interval(Integral, None, -1, closed="right"), None],
    }

    def __init__(self, terms: Sequence[Any] | None = None, *,
                 method: Literal["REML", "GCV"] = "REML", lam: ArrayLike | None = None,
                 n_knots: int | None = None, threads: int | None = None) -> None:
        self.terms = terms
        self.method = method
        self.lam = lam
        self.n_knots = n_knots
        self.threads = threads

    def _declared_tags(self) -> dict[str, Any]:
        return {"allow_nan": False, "preserves_dtype": [np.float64]}

    def fit(self, X: ArrayLike, y: ArrayLike,
            sample_weight: ArrayLike | None = None) -> GAMClassifier:
        """Fit the model (one per class beyond two) to the rows of X.

        Rows of zero weight are left out altogether: they place no knots.
        The rows are sorted first, so that their order does not matter.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            The data.
        y : array-like of shape (n_samples,)
            The class labels, any two or more values.
        sample_weight : array-like of shape (n_samples,), default=None
            Weights of the rows, >= 0 (the binomial's prior weights).

        Returns
        -------
        self : object
            The fitted classifier.

        Raises
        ------
        ValueError
            For one class only, continuous labels, NaN or inf, fewer
            than 2 rows, a model that cannot be fitted (see
            `bsbasis.gam.GAM.fit`).

        See Also
        --------
        predict_proba : The fitted probabilities.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.sklearn import GAMClassifier
        >>> rng = np.random.default_rng(1)
        >>> X = rng.uniform(0, 1, (200, 1))
        >>> y = (rng.uniform(size=200) < X[:, 0]).astype(int)
        >>> GAMClassifier().fit(X, y).models_[0].edf_.shape
        (1,)
        """
        from .gam import GAM
        compat.validate_params(self)
        Xv = np.asarray(compat.validate_data(self, X, reset=True, allow_nan=False,
                                             ensure_min_samples=2, dtype=np.float64),
                        dtype=np.float64)
        yv = check_array(column_or_1d(y, warn=True), ensure_2d=False, dtype=None,
                         input_name="y")
        if len(yv) != len(Xv):
            raise ValueError("y has %d values for %d rows of X" % (len(yv), len(Xv)))
        check_classification_targets(yv)
        weights = None
        if sample_weight is not None:
            weights = np.asarray(compat.check_sample_weight(sample_weight, Xv, np.float64),
                                 dtype=np.float64)
            keep = weights > 0
            Xv, yv, weights = Xv[keep], yv[keep], weights[keep]
        self.classes_, codes = np.unique(yv, return_inverse=True)
        # The rows in one canonical order, so that the fit does not depend
        # on theirs even to rounding (which a nearly separated fit, its
        # deviance going on down, would magnify).
        keys = [codes] + ([weights] if weights is not None else []) + \
            [Xv[:, j] for j in range(Xv.shape[1] - 1, -1, -1)]
        order = np.lexsort(keys)
        Xv, codes = Xv[order], codes[order]
        weights = None if weights is None else weights[order]
        if len(self.classes_) < 2:
            raise ValueError("Classifier can't train when only one class is present: "
                             "GAMClassifier needs 2 classes or more, got %d"
                             % len(self.classes_))
        terms = list(self.terms) if self.terms is not None else _default_terms(Xv, self.n_knots)
        targets = [1] if len(self.classes_) == 2 else range(len(self.classes_))
        self.models_ = [
            GAM(terms, family="binomial", method=self.method, lam=cast(Any, self.lam),
                threads=self.threads).fit(Xv, (codes == c).astype(np.float64), weights)
            for c in targets]
        return self

    def decision_function(self, X: ArrayLike) -> NDArray[np.float64]:
        """The fitted log-odds.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            The data.

        Returns
        -------
        ndarray of shape (n_samples,) or (n_samples, n_classes)
            For two classes, the log-odds of ``classes_[1]``; for more, the
            log-odds of each class against the rest.

        Raises
        ------
        sklearn.exceptions.NotFittedError
            Before fit.
        ValueError
            For NaN or inf, a different number of columns than in fit.

        See Also
        --------
        predict_proba : The same on the probability scale.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.sklearn import GAMClassifier
        >>> rng = np.random.default_rng(2)
        >>> X = rng.uniform(-1, 1, (200, 1))
        >>> y = (rng.uniform(size=200) < 1 / (1 + np.exp(-3 * X[:, 0]))).astype(int)
        >>> clf = GAMClassifier().fit(X, y)
        >>> bool(clf.decision_function([[0.9]])[0] > 0)
        True
        """
        check_is_fitted(self)
        Xv = np.asarray(compat.validate_data(self, X, reset=False, allow_nan=False,
                                             dtype=np.float64), dtype=np.float64)
        links = np.column_stack([m.predict(Xv, type="link") for m in self.models_])
        return np.asarray(links[:, 0] if len(self.models_) == 1 else links,
                          dtype=np.float64)

    def predict_proba(self, X: ArrayLike) -> NDArray[np.float64]:
        """The fitted probability of each class.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            The data.

        Returns
        -------
        ndarray of shape (n_samples, n_classes)
            Columns in the order of ``classes_``, rows summing to 1.

        Raises
        ------
        sklearn.exceptions.NotFittedError
            Before fit.
        ValueError
            For NaN or inf, a different number of columns than in fit.

        See Also
        --------
        predict : The most probable class.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.sklearn import GAMClassifier
        >>> rng = np.random.default_rng(3)
        >>> X = rng.uniform(0, 1, (200, 1))
        >>> y = (rng.uniform(size=200) < X[:, 0]).astype(int)
        >>> proba = GAMClassifier().fit(X, y).predict_proba([[0.1], [0.9]])
        >>> bool(proba[0, 0] > proba[1, 0])
        True
        """
        d = self.decision_function(X)
        p = 1.0 / (1.0 + np.exp(-np.clip(d, -700.0, 700.0)))
        if p.ndim == 1:
            return np.column_stack([1.0 - p, p])
        return np.asarray(p / p.sum(axis=1, keepdims=True), dtype=np.float64)

    def predict(self, X: ArrayLike) -> NDArray[Any]:
        """The most probable class.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            The data.

        Returns
        -------
        ndarray of shape (n_samples,)
            Labels from ``classes_``.

        Raises
        ------
        sklearn.exceptions.NotFittedError
            Before fit.
        ValueError
            For NaN or inf, a different number of columns than in fit.

        See Also
        --------
        predict_proba : The probabilities behind it.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.sklearn import GAMClassifier
        >>> rng = np.random.default_rng(4)
        >>> X = rng.uniform(0, 1, (300, 1))
        >>> high = rng.uniform(size=300) < 1 / (1 + np.exp(-8 * (X[:, 0] - 0.5)))
        >>> y = np.where(high, "high", "low")
        >>> GAMClassifier().fit(X, y).predict([[0.05], [0.95]]).tolist()
        ['low', 'high']
        """
        d = self.decision_function(X)
        index = (d > 0).astype(np.int64) if d.ndim == 1 else np.argmax(d, axis=1)
        return np.asarray(self.classes_[index])
