"""Penalised regression splines (P-splines) from normal equations.

The fit needs only the sufficient statistics ``X^T W X``, ``X^T W y`` and
``y^T W y``: the smoothing parameter is chosen by generalised
cross-validation without a further pass over the data.
"""

from __future__ import annotations

import math
import numbers
import sys
import warnings
from typing import TYPE_CHECKING, Any, Literal, Sequence, SupportsIndex, overload

import numpy as np
import scipy.optimize
from scipy.interpolate import BSpline

from . import _banded
from ._checks import as_int, as_real, as_unmasked_vector, check_degree, check_knots
from ._normal import NormalEquations, evaluate_spline, normal_equations
from ._penalties import derivative_penalty, difference_penalty, make_knots

if TYPE_CHECKING:
    from types import ModuleType
    from typing import Tuple, TypeVar

    from numpy.typing import ArrayLike, NDArray

    from ._typing import DaskCollection, Extrapolate, Penalty, Real

    # A dask array or dask Series, and what the spline gives for it.
    _DaskT = TypeVar("_DaskT", bound=DaskCollection)

    # (coef, edf, rss) of a fit.
    _Solved = Tuple[NDArray[np.float64], float, float]

# The search for lam covers this many decades either side of the scale
# trace(G) / trace(P), in steps of _GRID_STEP decades, then refines around
# the best point in _ROUNDS grids of _POINTS points, each spanning the best
# point's neighbours in the one before, and ends on the vertex of the
# parabola through the last grid's best point and its neighbours.
_GRID_DECADES = 8.0
_GRID_STEP = 0.5
_POINTS = 9
_ROUNDS = 3
_XATOL = 1e-4  # decades, for the search one lam at a time
_WORST = 1e300


class PSplineFit:
    """A fitted P-spline: a B-spline with penalised least-squares coefficients.

    `fit_pspline`, `fit_normal_equations` and `bsbasis.dask.fit_pspline`
    return it; calling it evaluates the spline.

    Parameters
    ----------
    t : ndarray, shape (n + k + 1,)
        Knots.
    coef : ndarray, shape (n,)
        B-spline coefficients.
    k : int
        Degree.
    lam : float
        Smoothing parameter.
    penalty : ndarray, shape (u + 1, n)
        The penalty P in band form.
    edf : float
        Effective degrees of freedom.
    rss : float
        Weighted residual sum of squares.
    count : int
        Number of observations.
    lam_bounds : tuple of float, optional
        The window GCV searched, when it chose lam.

    Attributes
    ----------
    t : ndarray, shape (n + k + 1,)
        Knots.
    coef : ndarray, shape (n,)
        B-spline coefficients.
    k : int
        Degree.
    lam : float
        Smoothing parameter used.
    penalty : ndarray, shape (u + 1, n)
        The penalty P, in the upper band form of `scipy.linalg.solveh_banded`.
    edf : float
        Effective degrees of freedom, ``trace((G + lam P)^-1 G)`` with
        ``G = X^T W X``.
    rss : float
        Weighted residual sum of squares.
    count : int
        Number of observations GCV counted: in the fits from data, the rows
        of positive weight (every row without weights); in
        `fit_normal_equations`, its ``count`` (default: the rows in range).
    gcv : float
        ``count * rss / (count - edf)**2``; inf when ``count <= edf``.
    sigma : float
        Residual standard deviation, ``sqrt(rss / (count - edf))``; NaN when
        ``count <= edf``.
    lam_bounds : tuple of float or None
        ``(lo, hi)``, the window of lam that GCV searched; None when lam was
        given.  ``lam`` equal to one of them means that GCV was smallest at
        that end, and may fall further beyond it (a warning said so).

    See Also
    --------
    fit_pspline : The fit from data.
    fit_normal_equations : The fit from accumulated normal equations.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis import fit_pspline
    >>> x = np.linspace(0.0, 1.0, 200)
    >>> fit = fit_pspline(x, np.sin(2 * np.pi * x), lam=1e-6)
    >>> fit.k, fit.coef.shape
    (3, (42,))
    """

    def __init__(self, t: NDArray[np.float64], coef: NDArray[np.float64], k: int, lam: float,
                 penalty: NDArray[np.float64], edf: float, rss: float, count: int,
                 lam_bounds: tuple[float, float] | None = None) -> None:
        self.t = t
        self.coef = coef
        self.k = k
        self.lam = lam
        self.penalty = penalty
        self.edf = edf
        self.rss = rss
        self.count = count
        self.lam_bounds = lam_bounds
        self.gcv = _gcv(rss, edf, count)
        dof = count - edf
        self.sigma = math.sqrt(rss / dof) if dof > 0 else math.nan

    @overload
    def __call__(self, x: _DaskT, nu: SupportsIndex = ...) -> _DaskT: ...

    @overload
    def __call__(self, x: ArrayLike, nu: SupportsIndex = ...) -> NDArray[np.float64]: ...

    def __call__(self, x: ArrayLike | DaskCollection,
                 nu: SupportsIndex = 0) -> NDArray[np.float64] | DaskCollection:
        """The spline, or its nu-th derivative, at x.

        Parameters
        ----------
        x : array_like, dask array or dask Series
            Abscissae, any shape; outside the base interval the end
            polynomials continue, as `scipy.interpolate.BSpline`
            extrapolates.  A dask array or Series is evaluated lazily,
            block by block (each on one thread), and never brought into
            memory whole.
        nu : int, optional
            Derivative order.  Default 0.

        Returns
        -------
        ndarray, dask array or dask Series
            The values, of the shape of x: an ndarray for array_like x, a
            dask array of x's chunks for a dask array, a dask Series of
            x's index for a dask Series (to compute when wanted).

        Raises
        ------
        TypeError
            For x that does not hold real numbers or is another kind of
            dask collection (a DataFrame: take a column), and nu that is
            not an integer.
        ValueError
            For nu < 0.

        See Also
        --------
        to_bspline : The same spline as a `scipy.interpolate.BSpline`.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis import fit_pspline
        >>> x = np.linspace(0.0, 1.0, 200)
        >>> fit = fit_pspline(x, x**2, penalty=3, lam=1.0)  # quadratics: no penalty
        >>> np.round(fit([0.5, 1.0]), 6), np.round(fit(0.5, nu=1), 6)
        (array([0.25, 1.  ]), 1.0)
        """
        dask = _dask_of(x)
        if dask is not None:
            check_degree(self.k, nu)
            return _lazy_values(_Values(self.t, self.k, self.coef, nu), x)
        # Not a dask collection (_dask_of): array_like.
        return evaluate_spline(x, self.t, self.k, self.coef, nu=nu,  # type: ignore[arg-type]
                               extrapolate=True)

    def to_bspline(self) -> BSpline:
        """The fit as a `scipy.interpolate.BSpline` (extrapolating).

        Returns
        -------
        scipy.interpolate.BSpline
            ``BSpline(t, coef, k)``.

        See Also
        --------
        __call__ : The values through this library.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis import fit_pspline
        >>> x = np.linspace(0.0, 1.0, 100)
        >>> fit = fit_pspline(x, np.cos(x), lam=1e-6)
        >>> bool(np.allclose(fit.to_bspline()(x), fit(x), rtol=0, atol=1e-12))
        True
        """
        return BSpline(self.t, self.coef, self.k)

    def __repr__(self) -> str:
        return ("PSplineFit(k=%d, n=%d, lam=%.4g, edf=%.4g, gcv=%.4g, sigma=%.4g)"
                % (self.k, len(self.coef), self.lam, self.edf, self.gcv, self.sigma))


# ------------------------------------------------------- lazy prediction

def _dask_of(x: object) -> ModuleType | None:
    """The dask module when x is a dask collection, else None.  dask is
    looked up, never imported: x cannot be one unless dask is loaded."""
    dask = sys.modules.get("dask")
    if dask is None or not dask.is_dask_collection(x):
        return None
    return dask


class _Values:
    """A spline's values on one block of abscissae, on one thread: what a
    dask task runs.  Holds only the spline, so it pickles small."""

    def __init__(self, t: NDArray[np.float64], k: int, coef: NDArray[np.float64],
                 nu: SupportsIndex) -> None:
        self.t, self.k, self.coef, self.nu = t, k, coef, nu

    def __call__(self, block: NDArray[Any]) -> NDArray[np.float64]:
        return evaluate_spline(block, self.t, self.k, self.coef, nu=self.nu,
                               extrapolate=True, threads=1)

    def series(self, part: Any) -> Any:
        import pandas
        return pandas.Series(self(part.to_numpy()), index=part.index, name=part.name)

    def __dask_tokenize__(self) -> tuple[object, ...]:
        return ("bsbasis-spline", self.t.tobytes(), self.k, self.coef.tobytes(), self.nu)


def _lazy_values(values: _Values, x: object) -> DaskCollection:
    """values over a dask array (block by block) or a dask Series
    (partition by partition), lazily."""
    import dask.array as da
    if isinstance(x, da.Array):
        if x.dtype.kind not in "iuf":
            raise TypeError("x must hold real numbers, got a dask array of dtype %s" % x.dtype)
        blocks: DaskCollection = x.map_blocks(values, dtype=np.float64,
                                              meta=np.empty((0,) * x.ndim))
        return blocks
    dd = sys.modules.get("dask.dataframe")
    if dd is not None and isinstance(x, dd.Series):
        if x.dtype.kind not in "iuf":
            raise TypeError("x must hold real numbers, got a dask Series of dtype %s" % x.dtype)
        import pandas
        series: DaskCollection = x.map_partitions(
            values.series, meta=pandas.Series([], dtype=np.float64, name=x.name))
        return series
    raise TypeError("x must be array_like, a dask array or a dask Series, got %s"
                    % type(x).__name__)


# ------------------------------------------------------------ the criterion

def _gcv(rss: float, edf: float, count: int) -> float:
    dof = count - edf
    return count * rss / dof**2 if dof > 0 else math.inf


def _penalty(penalty: Penalty, t: NDArray[np.float64], k: int, n: int) -> NDArray[np.float64]:
    """The penalty argument of the fits, in band form."""
    if isinstance(penalty, numbers.Integral) and not isinstance(penalty, (bool, np.bool_)):
        return difference_penalty(n, int(penalty))
    if isinstance(penalty, (bool, np.bool_, str)):
        raise TypeError("penalty must be a difference order, ('derivative', m) or a "
                        "matrix, got %r" % (penalty,))
    if isinstance(penalty, tuple):
        if len(penalty) != 2 or penalty[0] != "derivative":
            raise ValueError("a tuple penalty must be ('derivative', m), got %r" % (penalty,))
        return derivative_penalty(t, k, as_int(penalty[1], "m"), nj=n)
    return _banded.to_banded(penalty, n)


def check_lam_options(lam: Real | Literal["gcv"], lam_bounds: Sequence[Real] | None
                      ) -> tuple[float | Literal["gcv"], tuple[float, float] | None]:
    """lam ('gcv' or a float >= 0) and lam_bounds (None or 0 < lo < hi),
    checked; returns them."""
    if isinstance(lam, str):
        if lam != "gcv":
            raise ValueError("lam must be a number >= 0 or 'gcv', got %r" % lam)
    else:
        lam = _banded.check_lam(lam)
    if lam_bounds is None:
        return lam, None
    if not isinstance(lam, str):
        raise ValueError("lam_bounds bounds the search of lam='gcv'; with lam=%r there is "
                         "none" % lam)
    if isinstance(lam_bounds, (str, bytes)) or not hasattr(lam_bounds, "__len__"):
        raise TypeError("lam_bounds must be a pair (lo, hi), got %r" % (lam_bounds,))
    if len(lam_bounds) != 2:
        raise ValueError("lam_bounds must be a pair (lo, hi), got %d values"
                         % len(lam_bounds))
    lo, hi = (as_real(v, "lam_bounds[%d]" % i) for i, v in enumerate(lam_bounds))
    if not (0.0 < lo < hi < math.inf):
        raise ValueError("lam_bounds must satisfy 0 < lo < hi < inf, got (%r, %r)" % (lo, hi))
    return lam, (lo, hi)


class _Problem:
    """The penalised normal equations for any lam, and what a fit reports."""

    def __init__(self, gram: NDArray[np.float64], rhs: NDArray[np.float64], yty: float,
                 count: int, penalty: NDArray[np.float64]) -> None:
        self.gram, self.rhs, self.yty, self.count = gram, rhs, yty, count
        self.penalty = penalty

    def solve(self, lam: float) -> _Solved:
        """(coef, edf, rss) at lam; LinAlgError when the system is singular."""
        U = _banded.cholesky(_banded.combine(self.gram, self.penalty, lam))
        coef = _banded.cho_solve(U, self.rhs)
        edf = _banded.trace_inverse_product(_banded.selected_inverse(U), self.gram)
        # y'Wy - 2 c'X'Wy + c'X'WXc; rounding may take it below 0.
        rss = self.yty - 2.0 * (coef @ self.rhs) + coef @ _banded.sym_matvec(self.gram, coef)
        return coef, edf, max(float(rss), 0.0)

    def _criterion(self, rss: NDArray[np.float64] | float,
                   edf: NDArray[np.float64] | float) -> NDArray[np.float64]:
        """GCV from rss and edf arrays, _WORST where count <= edf: a finite
        stand-in for inf that comparisons and Brent's steps can use."""
        dof = self.count - edf
        safe = np.where(dof > 0, dof, 1.0)
        return np.where(dof > 0, np.minimum(self.count * rss / safe**2, _WORST), _WORST)

    def gcv_many(self, log_lams: NDArray[np.float64], pencil: _banded.Pencil
                 ) -> tuple[NDArray[np.float64], NDArray[np.float64], NDArray[np.bool_]]:
        """GCV at 10**log_lams, all at once; _WORST where the system is
        singular or count <= edf."""
        coef, edf, ok = pencil.at(10.0 ** np.asarray(log_lams, dtype=np.float64))
        gc = _banded.sym_matvec(self.gram, coef)
        rss = self.yty - 2.0 * (coef @ self.rhs) + np.einsum("ln,ln->l", coef, gc)
        values = self._criterion(np.maximum(rss, 0.0), edf)
        return np.where(ok, values, _WORST), edf, ok

    def gcv(self, log_lam: float) -> float:
        """GCV at 10**log_lam by `solve`; _WORST where the system is
        singular or count <= edf."""
        try:
            _, edf, rss = self.solve(10.0 ** log_lam)
        except np.linalg.LinAlgError:
            return _WORST
        return float(self._criterion(rss, edf))

    def window(self, lam_bounds: tuple[float, float] | None) -> NDArray[np.float64] | None:
        """The grid of log10(lam) the search starts from, or None when no
        penalty makes lam matter."""
        tg = float(self.gram[-1].sum())
        tp = float(self.penalty[-1].sum())
        if not tp > 0.0:
            return None
        if lam_bounds is None:
            centre = math.log10(tg / tp) if tg > 0.0 else 0.0
            return centre + np.arange(-_GRID_DECADES, _GRID_DECADES + _GRID_STEP / 2, _GRID_STEP)
        lo, hi = math.log10(lam_bounds[0]), math.log10(lam_bounds[1])
        return np.linspace(lo, hi, max(2, math.ceil((hi - lo) / _GRID_STEP)) + 1)

    def search(self, grid: NDArray[np.float64]) -> float:
        """log10 of the lam of least GCV over grid's span: the grid, then
        _ROUNDS finer grids around the best point, then a parabola."""
        pencil = _banded.Pencil(self.gram, self.penalty, self.rhs)
        values, edf, ok = self.gcv_many(grid, pencil)
        self._check_any(values, edf, ok)
        for _ in range(_ROUNDS):
            best = int(np.argmin(values))
            grid = np.linspace(grid[max(best - 1, 0)], grid[min(best + 1, len(grid) - 1)],
                               _POINTS)
            values, _, _ = self.gcv_many(grid, pencil)
        best = int(np.argmin(values))
        if 0 < best < len(grid) - 1:
            return _vertex(grid[best - 1:best + 2], values[best - 1:best + 2])
        return float(grid[best])

    def search_one_by_one(self, grid: NDArray[np.float64]) -> float:
        """`search` one lam at a time by `solve`, with the exact singularity
        test at each: the grid, then a bounded Brent search between the
        neighbours of its best point."""
        values = np.array([self.gcv(g) for g in grid])
        best = int(np.argmin(values))
        if not values[best] < _WORST:
            raise np.linalg.LinAlgError(_banded.SINGULAR_MESSAGE)
        lo = grid[max(best - 1, 0)]
        hi = grid[min(best + 1, len(grid) - 1)]
        res = scipy.optimize.minimize_scalar(self.gcv, bounds=(lo, hi), method="bounded",
                                             options={"xatol": _XATOL})
        return float(res.x) if res.fun < values[best] else float(grid[best])

    def _check_any(self, values: NDArray[np.float64], edf: NDArray[np.float64],
                   ok: NDArray[np.bool_]) -> None:
        """Raises unless GCV is defined somewhere on the grid."""
        if (values < _WORST).any():
            return
        if ok.any():
            raise ValueError(
                "GCV is undefined: the %d observations do not exceed the effective degrees "
                "of freedom (at least %.4g) at any lam searched; give lam, or more data"
                % (self.count, float(edf[ok].min())))
        raise np.linalg.LinAlgError(_banded.SINGULAR_MESSAGE)


def _vertex(x: NDArray[np.float64], f: NDArray[np.float64]) -> float:
    """The abscissa of the vertex of the parabola through three equally
    spaced points, the middle one the lowest; that point itself when they
    are too flat to tell."""
    den = f[0] - 2.0 * f[1] + f[2]
    if not (den > 0.0 and f[0] < _WORST and f[2] < _WORST):
        return float(x[1])
    return float(x[1] + 0.5 * (x[1] - x[0]) * (f[0] - f[2]) / den)


def _edge_message(side: str, lam: float, lam_bounds: tuple[float, float],
                  edf: float) -> str:
    tail = ("larger lam tends to the fit that the penalty leaves free (for a difference "
            "penalty of order q, a polynomial of degree q - 1)" if side == "upper"
            else "smaller lam tends to the unpenalised least-squares fit")
    return ("GCV is smallest at the %s end of the search window for lam: lam = %.6g "
            "(window [%.6g, %.6g]), edf = %.6g; it may fall further beyond it, as %s.  "
            "Widen the window with lam_bounds=(lo, hi), or give lam."
            % (side, lam, lam_bounds[0], lam_bounds[1], edf, tail))


def _fit_sums(ne: NormalEquations, t: ArrayLike, k: SupportsIndex, penalty: Penalty,
              lam: Real | Literal["gcv"], lam_bounds: Sequence[Real] | None,
              count: SupportsIndex | None) -> tuple[PSplineFit, str | None]:
    """The fit from sums: both fit_normal_equations and the fits from data
    come here.  Returns the fit and the warning to give, or None."""
    k = as_int(k, "k")
    if k < 0:
        raise ValueError("k (the degree) must be >= 0, got %d" % k)
    tv = as_unmasked_vector(t, "t")
    gram = np.asarray(ne.gram, dtype=np.float64)
    if gram.ndim != 2 or gram.shape[0] != k + 1:
        raise ValueError("the Gram matrix has shape %s; degree k=%d needs (%d, n)"
                         % (gram.shape, k, k + 1))
    n = gram.shape[1]
    check_knots(tv, k, None)
    if len(tv) != n + k + 1:
        raise ValueError("t has %d knots; %d coefficients of degree k=%d need %d"
                         % (len(tv), n, k, n + k + 1))
    if ne.rhs is None or ne.yty is None:
        raise ValueError("responses are needed for a fit: form the normal equations with y")
    rhs = np.asarray(ne.rhs, dtype=np.float64)
    lam, lam_bounds = check_lam_options(lam, lam_bounds)
    count = ne.count if count is None else as_int(count, "count")
    if count < 0:
        raise ValueError("count must be >= 0, got %d" % count)
    P = _penalty(penalty, tv, k, n)
    problem = _Problem(gram, rhs, float(ne.yty), count, P)
    note: str | None = None
    if isinstance(lam, str):
        lam, lam_bounds, note, solved = _choose(problem, lam_bounds)
    else:
        lam_bounds, solved = None, problem.solve(lam)
    coef, edf, rss = solved
    if note is not None:
        # An edge only comes with the window searched.
        note = _edge_message(note, lam, lam_bounds, edf)  # type: ignore[arg-type]
    return PSplineFit(tv.copy(), coef, k, lam, P, edf, rss, count, lam_bounds), note


def _choose(problem: _Problem, lam_bounds: tuple[float, float] | None
            ) -> tuple[float, tuple[float, float] | None, Literal["lower", "upper"] | None,
                       _Solved]:
    """lam by GCV and the fit there: (lam, window, edge, (coef, edf, rss)),
    edge 'lower' or 'upper' when the best lam is an end of the window."""
    grid = problem.window(lam_bounds)
    if grid is None:
        return 0.0, None, None, problem.solve(0.0)  # no penalty: lam changes nothing
    ends = lam_bounds or (10.0 ** grid[0], 10.0 ** grid[-1])
    best = problem.search(grid)
    try:
        solved = problem.solve(_lam_at(best, grid, ends))
    except np.linalg.LinAlgError:
        # The search met a system singular to rounding that its pivot test
        # let through: search again with the full test at every lam.
        best = problem.search_one_by_one(grid)
        solved = problem.solve(_lam_at(best, grid, ends))
    edge: Literal["lower", "upper"] | None = (
        "lower" if best == grid[0] else "upper" if best == grid[-1] else None)
    return _lam_at(best, grid, ends), ends, edge, solved


def _lam_at(log_lam: float, grid: NDArray[np.float64], ends: tuple[float, float]) -> float:
    """10**log_lam, and the window's ends exactly at its ends."""
    if log_lam == grid[0]:
        return ends[0]
    if log_lam == grid[-1]:
        return ends[1]
    return 10.0 ** log_lam  # type: ignore[no-any-return]  # typeshed: float ** float is Any


def fit_normal_equations(ne: NormalEquations, t: ArrayLike, k: SupportsIndex, *,
                         penalty: Penalty = 2, lam: Real | Literal["gcv"] = "gcv",
                         lam_bounds: Sequence[Real] | None = None,
                         count: SupportsIndex | None = None) -> PSplineFit:
    """P-spline fit from the normal equations of a B-spline basis.

    Minimises ``(y - X c)^T W (y - X c) + lam c^T P c`` over the
    coefficients c, from ``G = X^T W X``, ``X^T W y`` and ``y^T W y`` only:
    for sums accumulated over data in parts (``normal_equations(...,
    out=ne)``, ``ne1 + ne2``, `bsbasis.dask.normal_equations`).

    Parameters
    ----------
    ne : NormalEquations
        The sufficient statistics, from `normal_equations` with y given.
    t : array_like, shape (n + k + 1,)
        The knots the normal equations were formed on.
    k : int
        Degree.
    penalty : int, ('derivative', m), ndarray or sparse matrix, optional
        P.  An int 1 .. 4: the difference penalty of that order
        (`difference_penalty`); ``('derivative', m)``: the integral of the
        squared m-th derivative over the base interval
        (`derivative_penalty`); a symmetric matrix, as a band form of
        shape (u + 1, n) (the upper form of `scipy.linalg.solveh_banded`),
        a dense (n, n) array or a scipy sparse matrix.  Default 2.
    lam : float or 'gcv', optional
        The smoothing parameter, finite and >= 0, or 'gcv' to choose it by
        minimising ``GCV(lam) = count * RSS / (count - edf)**2``.  Default
        'gcv'.
    lam_bounds : (float, float), optional
        ``(lo, hi)``, ``0 < lo < hi``: the window of lam that 'gcv'
        searches.  Default: 8 decades either side of
        ``trace(G) / trace(P)``.
    count : int, optional
        The number of observations GCV counts.  Default ``ne.count``, the
        rows in range, which includes rows of weight 0: when some rows had
        weight 0, give the number of rows of positive weight, as
        `fit_pspline` does.

    Returns
    -------
    PSplineFit
        With ``count`` as GCV counted it and, under 'gcv', ``lam_bounds``
        the window searched.

    Raises
    ------
    TypeError
        For arguments of the wrong type.
    ValueError
        For wrong values, or normal equations formed without responses;
        under 'gcv', when count does not exceed the effective degrees of
        freedom at any lam in the window.
    numpy.linalg.LinAlgError
        If ``G + lam P`` is singular; with 'gcv', if it is for every lam
        tried.

    Warns
    -----
    UserWarning
        When GCV is smallest at an end of the window: the criterion may
        fall further beyond it.  The message names the end and lam there;
        widen the window with `lam_bounds`, or give lam.

    See Also
    --------
    fit_pspline : The fit from data in memory.
    normal_equations : The sums, added to earlier ones with ``out=``.
    bsbasis.dask.fit_pspline : The fit from dask arrays.

    Notes
    -----
    The weights are those the normal equations were formed with; they
    multiply the squared residuals (see `fit_pspline` for scipy's
    conventions).  ``RSS = y^T W y - 2 c^T X^T W y + c^T G c`` is formed
    from the statistics, so when the residuals are tiny beside the
    responses it carries a rounding error of about ``eps * y^T W y``; it is
    clipped at 0.

    The search for lam runs over log10(lam): a grid of half decades over
    the window, then three grids of 9 points, each spanning the best
    point's neighbours in the one before, and the vertex of the parabola
    through the last grid's best point and its neighbours: lam to about
    1e-4 decades where GCV has a clear minimum.  It evaluates all the
    points of a grid at once, by banded Cholesky factors side by side, the
    effective degrees of freedom there as ``n - d log det(G + lam P) /
    d ln(lam)`` (a central difference of the factors' log-determinants).
    The fit is then solved at the lam found, its edf from the selected
    inverse of the banded Cholesky factor (never a dense inverse).  Should
    the system at that lam prove singular to rounding, the search runs
    again one lam at a time, with the full singularity test at each.

    When GCV is smallest at an end of the window, lam is that end and a
    warning says so rather than the search going further: towards the
    upper end the fit tends to the part of the basis the penalty leaves
    free (a line for second differences), where GCV levels off without
    turning, so no window would contain a minimum; whether that end's fit
    is what the data call for, or a wider window finds a turn, is for the
    caller to judge.

    Examples
    --------
    Sums of data that arrive in parts, then one fit:

    >>> import numpy as np
    >>> from bsbasis import fit_normal_equations, make_knots, normal_equations
    >>> rng = np.random.default_rng(0)
    >>> t = make_knots([0.0, 1.0], 20, 3, boundary="extended")
    >>> ne = None
    >>> for part in range(4):
    ...     x = rng.uniform(0.0, 1.0, 500)
    ...     y = np.sin(2 * np.pi * x) + 0.1 * rng.standard_normal(500)
    ...     ne = normal_equations(x, t, 3, y=y, out=ne)
    >>> fit = fit_normal_equations(ne, t, 3)
    >>> fit.count, bool(abs(fit(0.25) - 1.0) < 0.05), bool(4 < fit.edf < 20)
    (2000, True, True)
    """
    fit, note = _fit_sums(ne, t, k, penalty, lam, lam_bounds, count)
    if note is not None:
        warnings.warn(note, UserWarning, stacklevel=2)
    return fit


def default_n_knots(m: int) -> int:
    """Base knots for m abscissae: ``min(40, max(4, m // 4))``.

    About four abscissae per interval for small samples; past 40 knots the
    penalty, not the knots, sets the smoothness of a P-spline, and more
    knots only cost time.
    """
    return min(40, max(4, m // 4))


def observations(weights: NDArray[np.float64]) -> int:
    """The rows of positive weight: the observations GCV counts, since a row
    of weight 0 adds nothing to the fit."""
    return int(np.count_nonzero(weights > 0))


def fit_pspline(x: ArrayLike, y: ArrayLike, *, k: SupportsIndex = 3,
                n_knots: SupportsIndex | None = None, t: ArrayLike | None = None,
                penalty: Penalty = 2, lam: Real | Literal["gcv"] = "gcv",
                lam_bounds: Sequence[Real] | None = None, weights: ArrayLike | None = None,
                threads: SupportsIndex | None = None) -> PSplineFit:
    """Smoothing by a P-spline: penalised least squares on a B-spline basis.

    Minimises ``sum(weights * (y - f(x))**2) + lam * c^T P c`` over the
    splines f of degree k on the knots, with coefficients c; lam given or
    chosen by generalised cross-validation (GCV).

    Parameters
    ----------
    x : array_like, shape (m,)
        Finite abscissae.
    y : array_like, shape (m,)
        Responses.
    k : int, optional
        Degree.  Default 3.
    n_knots : int, optional
        Number of equally spaced base knots from the smallest to the
        largest x of positive weight; default ``min(40, max(4, m // 4))``.
        Not with t.
    t : array_like, optional
        Knots to use instead; every x must lie in ``[t[k], t[-k-1]]``.
    penalty : int, ('derivative', m), ndarray or sparse matrix, optional
        P, as in `fit_normal_equations`.  Default 2, second differences.
    lam : float or 'gcv', optional
        The smoothing parameter, finite and >= 0, or 'gcv' (the default)
        to choose it by minimising ``count * RSS / (count - edf)**2``.
    lam_bounds : (float, float), optional
        The window of lam that 'gcv' searches, as in
        `fit_normal_equations`.
    weights : array_like, shape (m,), optional
        Finite, non-negative weights that multiply the squared residuals,
        as ``w`` does in `scipy.interpolate.make_smoothing_spline`.
        `scipy.interpolate.make_lsq_spline` and
        `scipy.interpolate.UnivariateSpline` instead multiply the residuals
        by their ``w`` (they minimise ``sum((w * (y - f(x)))**2)``): for
        their fit pass ``weights=w**2``; ``weights=w`` gives another fit,
        without an error.  Rows of weight 0 take no part: neither in the
        knots, nor in the count of observations of GCV.  Default: all 1.
    threads : int, optional
        Threads for the normal equations.

    Returns
    -------
    PSplineFit
        Coefficients, knots, lam, edf, GCV, sigma; call it to evaluate.

    Raises
    ------
    TypeError
        For arguments of the wrong type.
    ValueError
        For wrong values: lengths of x, y, weights that differ, both
        n_knots and t, x or weights not finite (naming the first such
        row), and those `fit_normal_equations` raises.
    numpy.linalg.LinAlgError
        If the penalised normal equations are singular.

    Warns
    -----
    UserWarning
        When GCV is smallest at an end of its search window (see
        `fit_normal_equations`).

    See Also
    --------
    fit_normal_equations : The same fit from accumulated normal equations.
    bsbasis.dask.fit_pspline : The same fit from dask arrays.
    scipy.interpolate.make_smoothing_spline : A cubic smoothing spline,
        lam by GCV.

    Notes
    -----
    The knots are ``make_knots(x, n_knots, k, boundary='extended',
    weights=weights)``: equally spaced, and continued beyond the ends, so
    that every B-spline has the same shape and differences of coefficients
    measure roughness alike everywhere, as P-splines assume.  The normal
    equations are formed without a design matrix, then the fit proceeds as
    in `fit_normal_equations`, with the count of rows of positive weight.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis import fit_pspline
    >>> x = np.linspace(0.0, 1.0, 200)
    >>> y = np.sin(2 * np.pi * x)
    >>> fit = fit_pspline(x, y, lam=1e-6)
    >>> bool(abs(fit(0.25) - 1.0) < 1e-3)
    True

    scipy's ``make_lsq_spline(x, y, t, k, w)`` weighs residuals by ``w``;
    the same fit here takes ``weights=w**2``:

    >>> from scipy.interpolate import make_lsq_spline
    >>> t = np.r_[[0.0] * 4, 0.25, 0.5, 0.75, [1.0] * 4]
    >>> w = np.linspace(0.5, 2.0, 200)
    >>> ref = make_lsq_spline(x, y, t, k=3, w=w)
    >>> ours = fit_pspline(x, y, t=t, lam=0.0, weights=w**2)
    >>> bool(np.allclose(ours.coef, ref.c, rtol=0, atol=1e-10))
    True
    """
    if y is None:
        raise ValueError("y is needed for a fit")
    xv, yv = as_unmasked_vector(x, "x"), as_unmasked_vector(y, "y")
    if len(yv) != len(xv):
        raise ValueError("y has %d entries, x has %d" % (len(yv), len(xv)))
    wv = None if weights is None else as_unmasked_vector(weights, "weights")
    if wv is not None and len(wv) != len(xv):
        raise ValueError("weights has %d entries, x has %d" % (len(wv), len(xv)))
    k = as_int(k, "k")
    outside: Extrapolate = False
    if t is None:
        n_knots = default_n_knots(len(xv)) if n_knots is None else n_knots
        # Knots equally spaced beyond the ends too ('extended'): every
        # B-spline then has the same shape, so that differences of
        # coefficients measure roughness alike across the whole interval,
        # as P-splines assume; clamped end knots would distort the end ones.
        t = make_knots(xv, n_knots, k, kind="uniform", boundary="extended", weights=wv)
        # The base interval spans the abscissae of positive weight: only
        # rows of weight 0 can fall outside, and they are left out.
        outside = "zero"
    elif n_knots is not None:
        raise ValueError("give n_knots or t, not both")
    ne = normal_equations(xv, t, k, y=yv, weights=wv, extrapolate=outside, threads=threads)
    count = ne.count if wv is None else observations(wv)
    fit, note = _fit_sums(ne, t, k, penalty, lam, lam_bounds, count)
    if note is not None:
        warnings.warn(note, UserWarning, stacklevel=2)
    return fit
