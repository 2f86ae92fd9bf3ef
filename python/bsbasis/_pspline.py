"""Penalised regression splines (P-splines) from normal equations.

The fit needs only the sufficient statistics ``X^T W X``, ``X^T W y`` and
``y^T W y``: the smoothing parameter is chosen by generalised
cross-validation without a further pass over the data.
"""

import math
import numbers

import numpy as np
import scipy.optimize
from scipy.interpolate import BSpline

from . import _banded
from ._checks import as_int, as_vector, check_knots
from ._normal import evaluate_spline, normal_equations
from ._penalties import derivative_penalty, difference_penalty, make_knots

# The search for lam covers this many decades either side of the scale
# trace(G) / trace(P), in steps of _GRID_STEP decades, before refining.
_GRID_DECADES = 8.0
_GRID_STEP = 0.5
_XATOL = 1e-4  # decades
_WORST = 1e300


class PSplineFit:
    """A fitted P-spline: a B-spline with penalised least-squares coefficients.

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
        Number of observations (abscissae in range, as
        `NormalEquations.count`).
    gcv : float
        ``count * rss / (count - edf)**2``; inf when ``count <= edf``.
    sigma : float
        Residual standard deviation, ``sqrt(rss / (count - edf))``; NaN when
        ``count <= edf``.
    """

    def __init__(self, t, coef, k, lam, penalty, edf, rss, count):
        self.t = t
        self.coef = coef
        self.k = k
        self.lam = lam
        self.penalty = penalty
        self.edf = edf
        self.rss = rss
        self.count = count
        self.gcv = _gcv(rss, edf, count)
        dof = count - edf
        self.sigma = math.sqrt(rss / dof) if dof > 0 else math.nan

    def __call__(self, x, nu=0):
        """The spline, or its nu-th derivative, at x.

        Parameters
        ----------
        x : array_like, shape (m,)
            Abscissae; outside the base interval the end polynomials
            continue, as `scipy.interpolate.BSpline` extrapolates.
        nu : int, optional
            Derivative order.  Default 0.

        Returns
        -------
        ndarray, shape (m,)
        """
        return evaluate_spline(x, self.t, self.k, self.coef, nu=nu, extrapolate=True)

    def to_bspline(self):
        """The fit as a `scipy.interpolate.BSpline` (extrapolating)."""
        return BSpline(self.t, self.coef, self.k)

    def __repr__(self):
        return ("PSplineFit(k=%d, n=%d, lam=%.4g, edf=%.4g, gcv=%.4g, sigma=%.4g)"
                % (self.k, len(self.coef), self.lam, self.edf, self.gcv, self.sigma))


def _gcv(rss, edf, count):
    dof = count - edf
    return count * rss / dof**2 if dof > 0 else math.inf


def _penalty(penalty, t, k, n):
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


class _Problem:
    """The penalised normal equations for any lam, and what a fit reports."""

    def __init__(self, gram, rhs, yty, count, penalty):
        self.gram, self.rhs, self.yty, self.count = gram, rhs, yty, count
        self.penalty = penalty

    def solve(self, lam):
        """(coef, edf, rss) at lam; LinAlgError when the system is singular."""
        U = _banded.cholesky(_banded.combine(self.gram, self.penalty, lam))
        coef = _banded.cho_solve(U, self.rhs)
        edf = _banded.trace_inverse_product(_banded.selected_inverse(U), self.gram)
        # y'Wy - 2 c'X'Wy + c'X'WXc; rounding may take it below 0.
        rss = self.yty - 2.0 * (coef @ self.rhs) + coef @ _banded.sym_matvec(self.gram, coef)
        return coef, edf, max(float(rss), 0.0)

    def gcv(self, log_lam):
        """GCV at 10**log_lam; _WORST where the system is singular or
        count <= edf, a finite stand-in for inf that Brent's steps can use."""
        try:
            _, edf, rss = self.solve(10.0 ** log_lam)
        except np.linalg.LinAlgError:
            return _WORST
        return min(_gcv(rss, edf, self.count), _WORST)

    def search(self):
        """The lam of least GCV: a grid in log10(lam), then a bounded Brent
        search between the neighbours of the best grid point."""
        tg = float(self.gram[-1].sum())
        tp = float(self.penalty[-1].sum())
        if not tp > 0.0:
            return 0.0  # no penalty: every lam gives the same fit
        centre = math.log10(tg / tp) if tg > 0.0 else 0.0
        grid = centre + np.arange(-_GRID_DECADES, _GRID_DECADES + _GRID_STEP / 2, _GRID_STEP)
        values = np.array([self.gcv(g) for g in grid])
        best = int(np.argmin(values))
        if not values[best] < _WORST:
            raise np.linalg.LinAlgError(_banded.SINGULAR_MESSAGE)
        lo = grid[max(best - 1, 0)]
        hi = grid[min(best + 1, len(grid) - 1)]
        res = scipy.optimize.minimize_scalar(self.gcv, bounds=(lo, hi), method="bounded",
                                             options={"xatol": _XATOL})
        if res.fun < values[best]:
            return 10.0 ** float(res.x)
        return 10.0 ** float(grid[best])


def fit_normal_equations(ne, t, k, *, penalty=2, lam="gcv"):
    """P-spline fit from the normal equations of a B-spline basis.

    Minimises ``(y - X c)^T W (y - X c) + lam c^T P c`` over the
    coefficients c, from ``G = X^T W X``, ``X^T W y`` and ``y^T W y`` only.

    Parameters
    ----------
    ne : NormalEquations
        The sufficient statistics, from `bsbasis.normal_equations` with y
        given.
    t : array_like, shape (n + k + 1,)
        The knots the normal equations were formed on.
    k : int
        Degree.
    penalty : int, ('derivative', m), ndarray or sparse matrix, optional
        P.  An int 1 .. 4: the difference penalty of that order
        (`bsbasis.difference_penalty`); ``('derivative', m)``: the integral
        of the squared m-th derivative (`bsbasis.derivative_penalty`); a
        matrix in any form `to_banded` takes.  Default 2.
    lam : float or 'gcv', optional
        The smoothing parameter, finite and >= 0, or 'gcv' to choose it by
        minimising ``GCV(lam) = count * RSS / (count - edf)**2``.  Default
        'gcv'.

    Returns
    -------
    PSplineFit

    Raises
    ------
    TypeError
        For arguments of the wrong type.
    ValueError
        For wrong values, or normal equations formed without responses.
    numpy.linalg.LinAlgError
        If ``G + lam P`` is singular; with 'gcv', if it is for every lam
        tried.

    Notes
    -----
    ``RSS = y^T W y - 2 c^T X^T W y + c^T G c`` is formed from the
    statistics, so when the residuals are tiny beside the responses it
    carries a rounding error of about ``eps * y^T W y``; it is clipped at 0.
    The search for lam runs over log10(lam) on a grid of half decades,
    8 decades either side of ``trace(G) / trace(P)``, then refines between
    the neighbours of the best grid point with `scipy.optimize.minimize_scalar`.
    """
    k = as_int(k, "k")
    if k < 0:
        raise ValueError("k (the degree) must be >= 0, got %d" % k)
    tv = _plain(t, "t")
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
    if isinstance(lam, str):
        if lam != "gcv":
            raise ValueError("lam must be a number >= 0 or 'gcv', got %r" % lam)
    else:
        lam = _banded.check_lam(lam)
    P = _penalty(penalty, tv, k, n)
    problem = _Problem(gram, rhs, float(ne.yty), int(ne.count), P)
    if isinstance(lam, str):
        lam = problem.search()
    coef, edf, rss = problem.solve(lam)
    return PSplineFit(tv.copy(), coef, k, lam, P, edf, rss, int(ne.count))


def _plain(a, name):
    v, mask = as_vector(a, name)
    if mask is not None:
        raise ValueError("%s must not be masked" % name)
    return v


def default_n_knots(m):
    """Base knots for m abscissae: ``min(40, max(4, m // 4))``.

    About four abscissae per interval for small samples; past 40 knots the
    penalty, not the knots, sets the smoothness of a P-spline, and more
    knots only cost time.
    """
    return min(40, max(4, m // 4))


def fit_pspline(x, y, *, k=3, n_knots=None, t=None, penalty=2, lam="gcv", weights=None,
                threads=None):
    """Smoothing by a P-spline: penalised least squares on a B-spline basis.

    Parameters
    ----------
    x : array_like, shape (m,)
        Finite abscissae.
    y : array_like, shape (m,)
        Responses.
    k : int, optional
        Degree.  Default 3.
    n_knots : int, optional
        Number of equally spaced base knots from ``min(x)`` to ``max(x)``;
        default ``min(40, max(4, m // 4))``.  Not with t.
    t : array_like, optional
        Knots to use instead; every x must lie in ``[t[k], t[-k-1]]``.
    penalty : int, ('derivative', m), ndarray or sparse matrix, optional
        As in `fit_normal_equations`.  Default 2, second differences.
    lam : float or 'gcv', optional
        As in `fit_normal_equations`.  Default 'gcv'.
    weights : array_like, shape (m,), optional
        Finite, non-negative weights of the squared residuals.  Rows of
        weight 0 take no part: neither in the knots, nor in the count of
        observations of GCV.
    threads : int, optional
        Threads for the normal equations.

    Returns
    -------
    PSplineFit

    Raises
    ------
    TypeError
        For arguments of the wrong type.
    ValueError
        For wrong values: lengths of x, y, weights that differ, both
        n_knots and t, and those `fit_normal_equations` raises.
    numpy.linalg.LinAlgError
        If the penalised normal equations are singular.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis._pspline import fit_pspline
    >>> x = np.linspace(0.0, 1.0, 200)
    >>> y = np.sin(2 * np.pi * x)
    >>> fit = fit_pspline(x, y, lam=1e-6)
    >>> bool(abs(fit(0.25) - 1.0) < 1e-3)
    True
    """
    if y is None:
        raise ValueError("y is needed for a fit")
    xv, yv = _plain(x, "x"), _plain(y, "y")
    if len(yv) != len(xv):
        raise ValueError("y has %d entries, x has %d" % (len(yv), len(xv)))
    wv = None if weights is None else _plain(weights, "weights")
    if wv is not None and len(wv) != len(xv):
        raise ValueError("weights has %d entries, x has %d" % (len(wv), len(xv)))
    k = as_int(k, "k")
    outside = False
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
    if wv is not None:
        # GCV counts observations, and a row of weight 0 is none.
        ne.count = int(np.count_nonzero(wv > 0))
    return fit_normal_equations(ne, t, k, penalty=penalty, lam=lam)
