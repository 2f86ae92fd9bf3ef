"""Additive models with penalised B-spline smooths, fitted from sums.

A model is an intercept plus terms: smooths of one column (`s`), tensor
product smooths of two or three columns (`te`), linear columns (`linear`)
and factors (`factor`).  `GAM.fit` forms the model's sums X'WX, X'Wy and
y'Wy in one pass over the rows and never the model matrix; everything
after that, the smoothing parameters included, works on p x p matrices.

The model is the one of R's mgcv with P-spline bases: ``s(x)`` here is
mgcv's ``s(x, bs = "ps")``, ``te(x, z)`` its ``te(x, z, bs = "ps",
np = FALSE)``, with the same knots, the same scaling of the penalties (so
that ``lam`` here is mgcv's ``sp``), the same sum-to-zero constraint on
each smooth and the same REML and GCV criteria.  Binomial (logit link)
and Poisson (log link) responses are fitted by penalised iteratively
reweighted least squares, one pass over the rows per iteration, with the
smoothing parameters chosen on each iteration's working model: the
"performance iteration" of mgcv's ``bam``.
"""

from __future__ import annotations

import math
import numbers
import warnings
from typing import (TYPE_CHECKING, Any, Callable, Dict, List, Literal, NamedTuple, Optional,
                    Sequence, Tuple, Union)

import numpy as np
import scipy.linalg
import scipy.stats

from . import _gam_fit
from ._abi import EXTRAPOLATE_LINEAR
from ._checks import check_threads
from ._model import (FAMILY_BINOMIAL, FAMILY_POISSON, MARGIN_KNOTS, MARGIN_PERIODIC,
                     MARGIN_UNIFORM, TERM_FACTOR, TERM_INTERCEPT, TERM_LINEAR, TERM_SPLINE,
                     IrlsSums, Margin, Term, model_evaluate, model_irls, model_sums)
from ._penalties import difference_penalty

if TYPE_CHECKING:
    from numpy.typing import ArrayLike, NDArray

    Column = Union[int, str]

__all__ = ["s", "te", "linear", "factor", "GAM", "GAMSummary"]

_FAMILIES = ("gaussian", "binomial", "poisson")
_FAMILY_CODES = {"binomial": FAMILY_BINOMIAL, "poisson": FAMILY_POISSON}
_MAX_IRLS = 100  # iterations of penalised IRLS before giving up
_METHODS = ("REML", "GCV")
# mgcv's default basis sizes: 10 functions for s(), 5 per margin for te().
_S_BASIS = 10
_TE_BASIS = 5
_RUG = 500  # at most this many distinct values kept per column for plot's rug
_RUG_SAMPLE = 100_000  # rows a long column is sampled down to for the rug


class _UserTerm(NamedTuple):
    """A term as the user wrote it."""
    kind: str
    columns: Tuple[Any, ...]
    n_knots: Tuple[Optional[int], ...] = ()
    t: Tuple[Optional[NDArray[np.float64]], ...] = ()
    k: int = 3
    penalty: int = 2
    periodic: bool = False

    def label(self, names: Sequence[str]) -> str:
        cols = ",".join(names)
        return {"s": "s(%s)", "te": "te(%s)"}.get(self.kind, "%s") % cols


def _check_int(value: Any, name: str, low: int, high: int = 1 << 30) -> int:
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError("%s must be an integer, got %r" % (name, value))
    if not low <= int(value) <= high:
        raise ValueError("%s must be in %d .. %d, got %d" % (name, low, high, int(value)))
    return int(value)


def _check_column(col: Any) -> Any:
    if isinstance(col, bool) or not isinstance(col, (numbers.Integral, str)):
        raise TypeError("a column is an int index or a column name, got %r" % (col,))
    return int(col) if isinstance(col, numbers.Integral) else col


def _knot_vector(t: ArrayLike | None) -> NDArray[np.float64] | None:
    if t is None:
        return None
    out = np.asarray(t, dtype=np.float64)
    if out.ndim != 1 or not np.all(np.isfinite(out)) or np.any(np.diff(out) < 0):
        raise ValueError("knots must be a finite, non-decreasing 1-D sequence")
    return out


def s(col: Column, *, n_knots: int | None = None, t: ArrayLike | None = None, k: int = 3,
      penalty: int = 2, periodic: bool = False) -> Any:
    """A smooth of one column: a P-spline, mgcv's ``s(x, bs = "ps")``.

    A B-spline basis of degree `k` on evenly spaced knots, with a
    difference penalty of order `penalty` on its coefficients.  As in
    mgcv, the knots span the data's range widened by 0.1% at each end and
    go on `k` spacings beyond it; the basis has ``n_knots + k - 1``
    functions, so ``s(x, n_knots=n, k=d)`` is mgcv's ``s(x, bs = "ps",
    k = n + d - 1, m = c(d - 1, penalty))``.  With ``periodic=True`` the
    basis is periodic on ``n_knots`` evenly spaced breaks from the data's
    minimum to its maximum, ``n_knots - 1`` functions, with a cyclic
    difference penalty: mgcv's ``s(x, bs = "cp", k = n - 1)``.

    Parameters
    ----------
    col : int or str
        The column of X: its index, or its name when X is a pandas
        DataFrame.
    n_knots : int, optional
        Knots over the data's range, ends included, at least 2 (3 when
        periodic).  Default: mgcv's 10 basis functions, ``11 - k`` knots
        (11 periodic).
    t : array_like, optional
        All knots instead (``n + k + 1`` for n functions; mgcv's
        ``knots`` argument), or the breaks when periodic.  The data must
        lie within ``t[k] .. t[-k-1]`` (within ``t[0] .. t[-1]`` when
        periodic).
    k : int, optional
        Degree of the B-splines, 1 to 8.  Default 3 (cubic).
    penalty : int, optional
        Order of the differences penalised, 1 to 4.  Default 2.
    periodic : bool, optional
        A periodic basis.  Default False.

    Returns
    -------
    term
        The term, for `GAM`.

    Raises
    ------
    TypeError
        For a column that is neither an int nor a str, non-integer sizes.
    ValueError
        For sizes out of range, unusable knots, both `n_knots` and `t`.

    See Also
    --------
    te : A smooth of two or three columns.
    GAM : The model that takes the terms.

    Examples
    --------
    >>> from bsbasis.gam import s
    >>> term = s(0, n_knots=12)
    >>> term.kind, term.columns
    ('s', (0,))
    """
    k = _check_int(k, "k", 1, 8)
    penalty = _check_int(penalty, "penalty", 1, 4)
    if n_knots is not None and t is not None:
        raise ValueError("give n_knots or t, not both")
    if n_knots is not None:
        _check_int(n_knots, "n_knots", 3 if periodic else 2)
    return _UserTerm("s", (_check_column(col),), (n_knots,), (_knot_vector(t),), k, penalty,
                 bool(periodic))


def te(*cols: Column, n_knots: int | Sequence[int] | None = None,
       t: Sequence[ArrayLike] | None = None, k: int = 3, penalty: int = 2) -> Any:
    """A tensor product smooth of two or three columns.

    mgcv's ``te(x, z, bs = "ps", np = FALSE)``: the product of one
    P-spline basis per column (as in `s`), with one penalty per column,
    its margin's difference penalty times the identity of the others (as
    mgcv scales them), and one smoothing parameter each.

    Parameters
    ----------
    *cols : int or str
        Two or three columns of X, by index or name.
    n_knots : int or sequence of int, optional
        Knots over each column's range, ends included (see `s`); one for
        all columns or one each.  Default: mgcv's 5 functions per margin,
        ``6 - k`` knots (2 for k > 4).
    t : sequence of array_like, optional
        All knots of each margin instead, one vector per column.
    k : int, optional
        Degree of every margin's B-splines, 1 to 8.  Default 3.
    penalty : int, optional
        Order of every margin's difference penalty, 1 to 4.  Default 2.

    Returns
    -------
    term
        The term, for `GAM`.

    Raises
    ------
    TypeError
        For a column that is neither an int nor a str, non-integer sizes.
    ValueError
        For fewer than 2 or more than 3 columns, sizes out of range, a
        number of knot vectors other than one per column.

    See Also
    --------
    s : A smooth of one column.
    GAM : The model that takes the terms.

    Examples
    --------
    >>> from bsbasis.gam import te
    >>> te(0, 1).columns
    (0, 1)
    """
    if not 2 <= len(cols) <= 3:
        raise ValueError("te takes 2 or 3 columns, got %d" % len(cols))
    k = _check_int(k, "k", 1, 8)
    penalty = _check_int(penalty, "penalty", 1, 4)
    if n_knots is not None and t is not None:
        raise ValueError("give n_knots or t, not both")
    sizes: Tuple[Optional[int], ...] = (None,) * len(cols)
    if n_knots is not None:
        given: List[Any] = ([n_knots] * len(cols) if isinstance(n_knots, numbers.Integral)
                            else list(n_knots))  # type: ignore[arg-type]
        if len(given) != len(cols):
            raise ValueError("n_knots needs one size per column, got %d" % len(given))
        sizes = tuple(_check_int(n, "n_knots", 2) for n in given)
    knots: Tuple[Optional[NDArray[np.float64]], ...] = (None,) * len(cols)
    if t is not None:
        if len(t) != len(cols):
            raise ValueError("t needs one knot vector per column, got %d" % len(t))
        knots = tuple(_knot_vector(v) for v in t)
    return _UserTerm("te", tuple(_check_column(c) for c in cols), sizes, knots, k, penalty)


def linear(col: Column) -> Any:
    """A column entering the model as it is, with one coefficient.

    Parameters
    ----------
    col : int or str
        The column of X, by index or name.

    Returns
    -------
    term
        The term, for `GAM`.

    Raises
    ------
    TypeError
        For a column that is neither an int nor a str.

    See Also
    --------
    factor : A column of categories.
    GAM : The model that takes the terms.

    Examples
    --------
    >>> from bsbasis.gam import linear
    >>> linear("dose").columns
    ('dose',)
    """
    return _UserTerm("linear", (_check_column(col),))


def factor(col: Column) -> Any:
    """A column of categories, in treatment contrasts.

    The levels are the column's distinct values at fit time, sorted; the
    first is the reference level, and each other level has a coefficient:
    its difference from the reference.  A level not seen at fit time is an
    error at prediction.

    Parameters
    ----------
    col : int or str
        The column of X, by index or name.

    Returns
    -------
    term
        The term, for `GAM`.

    Raises
    ------
    TypeError
        For a column that is neither an int nor a str.

    See Also
    --------
    linear : A numeric column with one coefficient.
    GAM : The model that takes the terms.

    Examples
    --------
    >>> from bsbasis.gam import factor
    >>> factor(2).kind
    'factor'
    """
    return _UserTerm("factor", (_check_column(col),))


# -- the terms laid out on the data -----------------------------------------

class _Layout(NamedTuple):
    """A term laid out on the training data: its library term (columns
    counted in the matrix of used columns), the map from its constrained
    coefficients to the library's (None: the sum-to-zero constraint, made
    from the sums), its scaled penalties on the library's coefficients,
    their total rank after the constraint, its factor levels, and for
    plotting each column's range and distinct values."""
    label: str
    term: Term
    transform: Optional[NDArray[np.float64]]
    penalties: Tuple[NDArray[np.float64], ...]
    rank: int
    levels: Optional[NDArray[Any]]
    ranges: Tuple[Tuple[float, float], ...]
    rugs: Tuple[NDArray[np.float64], ...]


def _term_columns(term: Term) -> List[int]:
    """The columns (of the matrix of used columns) a library term reads."""
    if term.kind == TERM_SPLINE:
        return [m.column for m in term.margins]
    return [term.column]


# What is wrong with a response the family does not take (_out_of_range).
_RANGE_ERRORS = {
    "binomial": "y must be in [0, 1] for the binomial (a proportion, with the trials as "
                "weights): not so",
    "poisson": "y must be >= 0 for the Poisson: not so",
}


def _out_of_range(family: str, y: NDArray[np.float64]) -> Optional[NDArray[np.bool_]]:
    """Where the finite responses y do not suit the family (its message in
    _RANGE_ERRORS); None for the Gaussian, which takes any."""
    if family == "binomial":
        bad: NDArray[np.bool_] = (y < 0) | (y > 1)
        return bad
    if family == "poisson":
        return y < 0
    return None


def _row_error(bad: NDArray[np.bool_], what: str) -> ValueError:
    row = int(np.flatnonzero(bad)[0])
    return ValueError("%s at row %d (%d rows in all)" % (what, row, int(bad.sum())))


def _frame_columns(X: Any) -> Tuple[List[NDArray[Any]], Optional[List[str]]]:
    """The columns of X (a DataFrame or a 2-D array) and their names."""
    if hasattr(X, "columns") and hasattr(X, "iloc"):
        names = [str(c) for c in X.columns]
        return [np.asarray(X.iloc[:, j].to_numpy()) for j in range(X.shape[1])], names
    A = np.asarray(X)
    if A.ndim != 2:
        raise ValueError("X must be 2-D (rows x columns), got %d dimensions" % A.ndim)
    return [A[:, j] for j in range(A.shape[1])], None


def _resolve(col: Any, names: Optional[List[str]], width: int, label: str) -> int:
    if isinstance(col, str):
        if names is None or col not in names:
            raise ValueError("term %s: no column named %r in X" % (label, col))
        return names.index(col)
    if not -width <= col < width:
        raise ValueError("term %s: column %d is out of range for X of %d columns"
                         % (label, col, width))
    return int(col) % width


def _numeric(values: NDArray[Any], label: str) -> NDArray[np.float64]:
    try:
        x = np.asarray(values, dtype=np.float64)
    except (TypeError, ValueError):
        raise ValueError("term %s: the column is not numeric" % label) from None
    bad = ~np.isfinite(x)
    if bad.any():
        raise _row_error(bad, "term %s: NaN or inf in its column" % label)
    return x


def _codes(values: NDArray[Any], levels: NDArray[Any], label: str) -> NDArray[np.float64]:
    """The level index of each value; ValueError for a value not a level."""
    index = np.searchsorted(levels, values)
    index = np.minimum(index, len(levels) - 1)
    bad = levels[index] != values
    if np.any(bad):
        raise _row_error(np.asarray(bad), "term %s: a level not seen in fit (%r)"
                         % (label, values[np.flatnonzero(bad)[0]]))
    return index.astype(np.float64)


def _levels(values: NDArray[Any], label: str) -> NDArray[Any]:
    """A factor's levels: its distinct values, sorted; NaN is no level."""
    if values.dtype.kind in "fc":
        bad = ~np.isfinite(values)
    else:
        bad = np.array([v is None or (isinstance(v, float) and not math.isfinite(v))
                        for v in values], dtype=bool)
    if bad.any():
        raise _row_error(bad, "term %s: a missing value, NaN or inf in its column" % label)
    try:
        levels: NDArray[Any] = np.unique(values)
        return levels
    except TypeError:
        raise ValueError("term %s: its values cannot be sorted (missing values among "
                         "them?)" % label) from None


def _cyclic_penalty(n: int, order: int) -> NDArray[np.float64]:
    """D'D for the cyclic differences of n coefficients."""
    De = np.eye(n + order)
    for _ in range(order):
        De = np.diff(De, axis=0)
    D = De[:, order:].copy()
    D[:, n - order:] += De[:, :order]
    return D.T @ D


def _margin(x: NDArray[np.float64], column: int, n_knots: Optional[int],
            t: Optional[NDArray[np.float64]], k: int, penalty: int, periodic: bool,
            default_basis: int, label: str) -> Tuple[Margin, NDArray[np.float64]]:
    """The basis of one column, as mgcv's "ps" (or "cp") places it, and its
    raw difference penalty."""
    lo, hi = float(x.min()), float(x.max())
    if hi <= lo:
        raise ValueError("term %s: its column is constant (%g)" % (label, lo))
    if periodic:
        breaks = t if t is not None else np.linspace(
            lo, hi, (n_knots or max(default_basis, k - 1) + 1))
        if t is not None and (lo < t[0] or hi > t[-1]):
            raise ValueError("term %s: the breaks do not cover the data" % label)
        nb = len(breaks) - 1
        m = Margin(MARGIN_PERIODIC, column, k + 1, t=breaks)
        S = _cyclic_penalty(nb, penalty)
    elif t is None:
        nk = n_knots if n_knots is not None else max(default_basis, k + 1) - k + 1
        nb = nk + k - 1
        pad = (hi - lo) * 0.001
        dx = (hi - lo + 2 * pad) / (nk - 1)
        m = Margin(MARGIN_UNIFORM, column, k + 1, nj=nb, extrapolate=EXTRAPOLATE_LINEAR,
                   origin=lo - pad - k * dx, spacing=dx)
        S = difference_penalty(nb, penalty, format="csr").toarray()
    else:
        nb = len(t) - k - 1
        if nb < k + 1 or lo < t[k] or hi > t[nb]:
            raise ValueError("term %s: the knots must give at least k + 1 functions and "
                             "t[k] .. t[-k-1] must cover the data" % label)
        m = Margin(MARGIN_KNOTS, column, k + 1, t=t, nj=nb, extrapolate=EXTRAPOLATE_LINEAR)
        S = difference_penalty(nb, penalty, format="csr").toarray()
    distinct = _distinct(x, nb)
    if distinct < nb:
        raise ValueError("term %s: its column has %d distinct values, too few for %d basis "
                         "functions" % (label, distinct, nb))
    if nb <= penalty:
        raise ValueError("term %s: %d basis functions, too few for a penalty of order %d"
                         % (label, nb, penalty))
    return m, S


def _distinct(x: NDArray[np.float64], need: int) -> int:
    """The number of distinct values of x, or any number >= need when there
    are at least that many: a sort of the first rows settles the common
    case without sorting the whole column."""
    head = np.unique(x[:64 * need])
    if len(head) >= need or len(x) <= 64 * need:
        return len(head)
    return len(np.unique(x))


def _one_norm(S: NDArray[np.float64]) -> float:
    return float(np.max(np.sum(np.abs(S), axis=0)))


def _spline_layout(user: _UserTerm, xs: List[NDArray[np.float64]], columns: List[int],
                   label: str) -> Tuple[Term, Tuple[NDArray[np.float64], ...], int]:
    """The library term, its penalties scaled as mgcv scales them (each
    divided by its one-norm over the squared infinity norm of the basis,
    which is 1 for B-splines on data within their base interval) and their
    total rank after the constraint."""
    default = _S_BASIS if user.kind == "s" else _TE_BASIS
    margins, raw = [], []
    for x, c, n, t in zip(xs, columns, user.n_knots, user.t):
        m, S = _margin(x, c, n, t, user.k, user.penalty, user.periodic, default, label)
        margins.append(m)
        raw.append(S)
    widths = [S.shape[0] for S in raw]
    if len(raw) == 1:
        penalties = [raw[0]]
        null = 1 if user.periodic else user.penalty
    else:
        # mgcv also divides each margin's penalty by its largest eigenvalue
        # first: the one-norm scaling below cancels that.
        penalties = []
        for i, S in enumerate(raw):
            full = np.ones((1, 1))
            for j, w in enumerate(widths):
                full = np.kron(full, S if i == j else np.eye(w))
            penalties.append(full)
        null = user.penalty ** len(raw)
    scaled = tuple(S / _one_norm(S) for S in penalties)
    width = int(np.prod(widths))
    return Term(TERM_SPLINE, margins=tuple(margins)), scaled, width - null


def _rug(x: NDArray[np.float64]) -> NDArray[np.float64]:
    """Up to _RUG of the distinct values of x, evenly spread in their order;
    on a long column, of a regular sample of it and its ends, so that no
    sort of the whole column is paid for the plot."""
    if len(x) > _RUG_SAMPLE:
        x = np.concatenate([x[::len(x) // _RUG_SAMPLE], [x.min(), x.max()]])
    u = np.unique(x)
    return np.asarray(u if len(u) <= _RUG else u[np.linspace(0, len(u) - 1, _RUG).astype(int)],
                      dtype=np.float64)


def _column_label(col: Any, names: Optional[List[str]]) -> str:
    """A column's name in labels: its name, else x and its index."""
    if isinstance(col, str):
        return str(col)
    if names is not None and -len(names) <= col < len(names):
        return names[int(col)]
    return "x%d" % col


def _layout(user: _UserTerm, cols: List[NDArray[Any]], names: Optional[List[str]],
            used: Dict[int, int]) -> _Layout:
    """Lays out one term on the training columns; `used` maps the columns
    of X to those of the matrix of used columns, and grows."""
    label = user.label([_column_label(c, names) for c in user.columns])
    positions = [_resolve(c, names, len(cols), label) for c in user.columns]
    if len(set(positions)) != len(positions):
        raise ValueError("term %s: a column given twice" % label)
    mapped = [used.setdefault(p, len(used)) for p in positions]
    if user.kind == "factor":
        levels = _levels(cols[positions[0]], label)
        if len(levels) < 2:
            raise ValueError("term %s: its column is constant (one level)" % label)
        return _Layout(label, Term(TERM_FACTOR, column=mapped[0], nlevels=len(levels)),
                       np.eye(len(levels))[:, 1:], (), 0, levels, (), ())
    xs = [_numeric(cols[p], label) for p in positions]
    ranges = tuple((float(x.min()), float(x.max())) for x in xs)
    if user.kind == "linear":
        if ranges[0][0] == ranges[0][1]:
            raise ValueError("term %s: its column is constant (%g)" % (label, ranges[0][0]))
        return _Layout(label, Term(TERM_LINEAR, column=mapped[0]), np.eye(1), (), 0, None,
                       ranges, ())
    term, penalties, rank = _spline_layout(user, xs, mapped, label)
    return _Layout(label, term, None, penalties, rank, None, ranges,
                   tuple(_rug(x) for x in xs))


# -- the model ---------------------------------------------------------------

class GAMSummary(NamedTuple):
    """The tables of `GAM.summary`, as lists of dicts and as text.

    ``str()`` of it is the text.

    Parameters
    ----------
    parametric : list of dict
        One row per coefficient of the intercept, linear and factor terms,
        with the keys 'term', 'estimate', 'se', 't' and 'p' ('z' in place
        of 't' for the binomial and Poisson).
    smooth : list of dict
        One row per smooth, with the keys 'term', 'edf', 'ref_df', 'F' and
        'p' ('chi_sq', the statistic, in place of 'F' for the binomial and
        Poisson).
    text : str
        Both tables as text, in the layout of mgcv's ``summary.gam``.

    See Also
    --------
    GAM.summary : What makes it.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis.gam import GAM, s
    >>> rng = np.random.default_rng(1)
    >>> X = rng.uniform(0, 1, (200, 1))
    >>> y = np.sin(6 * X[:, 0]) + rng.normal(0, 0.3, 200)
    >>> table = GAM([s(0)]).fit(X, y).summary()
    >>> [row["term"] for row in table.smooth]
    ['s(x0)']
    """
    parametric: List[Dict[str, Any]]
    smooth: List[Dict[str, Any]]
    text: str

    def __str__(self) -> str:
        return self.text


class GAM:
    """A generalised additive model with P-spline smooths.

    The model is an intercept plus the terms; each smooth is constrained
    to sum to zero over the training rows and penalised, with one
    smoothing parameter per penalty chosen by REML or GCV as R's
    ``mgcv::gam`` chooses them (Newton's method on log(lam)).  A Gaussian
    fit needs only the sums X'WX, X'Wy and y'Wy, formed in one pass over
    the rows.

    A binomial (logit link) or Poisson (log link) model is fitted by
    penalised iteratively reweighted least squares: each iteration forms
    the working model's sums in one pass over the rows, chooses the
    smoothing parameters on that working model (with the scale known to
    be 1) and solves it, until the deviance changes by less than ``tol *
    (|deviance| + 0.1)``; this is the "performance iteration" of mgcv's
    ``bam(..., method = "fREML")``.

    Parameters
    ----------
    terms : sequence of terms
        Made by `s`, `te`, `linear` and `factor`.
    family : {'gaussian', 'binomial', 'poisson'}, optional
        The response's distribution.  'binomial': y in [0, 1], a 0/1
        outcome or a proportion of successes with the number of trials
        as its weight (as R's ``binomial()``), logit link.  'poisson':
        counts y >= 0, log link.  Default 'gaussian'.
    method : {'REML', 'GCV'}, optional
        The criterion the smoothing parameters minimise: mgcv's REML with
        the scale estimated (known to be 1 for the binomial and Poisson),
        or its GCV (``method = "GCV.Cp"``), which for the binomial and
        Poisson is mgcv's UBRE.  Default 'REML'.
    lam : sequence of float, optional
        Fixed smoothing parameters, one per penalty (one per `s`, one per
        column of a `te`, in the order of the terms), each > 0; mgcv's
        ``sp``.  No search then.
    threads : int, optional
        Threads for the sums and predictions (see `bsbasis.design_matrix`).
    tol : float, optional
        The binomial and Poisson fits stop when the deviance changes by
        less than ``tol * (|deviance| + 0.1)`` from one iteration to the
        next; mgcv's ``epsilon``.  Default 1e-7.

    Attributes
    ----------
    coef_ : ndarray
        The coefficients: the intercept, then each term's (a smooth's in
        the coordinates of its constraint).
    lam_ : ndarray
        The smoothing parameters, one per penalty.
    edf_ : ndarray
        Effective degrees of freedom of each term.
    edf_total_ : float
        Of the whole model, the intercept included.
    scale_ : float
        The residual variance, ``rss / (n - edf_total_)`` (mgcv's sig2);
        1 for the binomial and Poisson.
    Vp_ : ndarray
        The Bayesian covariance of `coef_`, ``(X'WX + S)^-1 * scale_``,
        W the working weights at convergence for the binomial and Poisson.
    score_ : float
        The REML or GCV criterion at `lam_` (mgcv's ``gcv.ubre``); for the
        binomial and Poisson, that of the last working model (REML up to
        a constant free of `lam_`, or UBRE).
    n_iter_ : int
        Gaussian: Newton iterations of the search (0 with fixed `lam`).
        Binomial and Poisson: iterations of penalised IRLS, each one pass
        over the rows.
    deviance_ : float
        The deviance at `coef_` (binomial and Poisson; the weighted
        residual sum of squares for a Gaussian model).
    terms_ : list of str
        The terms' labels.

    Raises
    ------
    ValueError
        For an unsupported family or method, no terms, a `tol` outside (0, 1)
        (see also `fit`).

    See Also
    --------
    s, te, linear, factor : The terms.
    bsbasis.fit_pspline : A single smooth, by GCV.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis.gam import GAM, s, linear
    >>> rng = np.random.default_rng(0)
    >>> X = rng.uniform(0, 1, (300, 2))
    >>> y = np.sin(2 * np.pi * X[:, 0]) + 0.5 * X[:, 1] + rng.normal(0, 0.2, 300)
    >>> model = GAM([s(0), linear(1)]).fit(X, y)
    >>> model.edf_.shape, model.lam_.shape
    ((2,), (1,))

    A logistic additive model:

    >>> p = 1 / (1 + np.exp(-3 * np.sin(2 * np.pi * X[:, 0])))
    >>> outcome = (rng.uniform(0, 1, 300) < p).astype(float)
    >>> logistic = GAM([s(0), linear(1)], family="binomial").fit(X, outcome)
    >>> probability = logistic.predict(X[:3])
    >>> bool(np.all((probability > 0) & (probability < 1)))
    True
    """

    def __init__(self, terms: Sequence[Any], *, family: str = "gaussian",
                 method: Literal["REML", "GCV"] = "REML",
                 lam: Sequence[float] | None = None, threads: int | None = None,
                 tol: float = 1e-7) -> None:
        if family not in _FAMILIES:
            raise ValueError("family=%r is not supported; supported: %s"
                             % (family, ", ".join(map(repr, _FAMILIES))))
        if method not in _METHODS:
            raise ValueError("method=%r is not one of %s" % (method, ", ".join(_METHODS)))
        self.terms = list(terms)
        if not self.terms or not all(isinstance(t, _UserTerm) for t in self.terms):
            raise ValueError("terms must be a non-empty list of s(), te(), linear() and "
                             "factor() terms")
        self.family = family
        self.method = method
        self.lam = None if lam is None else np.asarray(lam, dtype=np.float64).ravel()
        self.threads = check_threads(threads)
        if isinstance(tol, bool) or not isinstance(tol, numbers.Real) \
                or not 0 < float(tol) < 1:
            raise ValueError("tol must be a number in (0, 1), got %r" % (tol,))
        self.tol: float = float(tol)

    # -- fit ------------------------------------------------------------------

    def fit(self, X: Any, y: ArrayLike, weights: ArrayLike | None = None) -> GAM:
        """Fit the model to the rows of X and y.

        Parameters
        ----------
        X : array_like or pandas.DataFrame, shape (n, m)
            The data; the terms name its columns.  A factor's column may
            hold any sortable values, the others numbers.
        y : array_like, shape (n,)
            The response: in [0, 1] for the binomial (0/1, or proportions
            with the numbers of trials as `weights`), >= 0 for the Poisson.
        weights : array_like, shape (n,), optional
            Prior weights, >= 0.  Default 1.

        Returns
        -------
        GAM
            This model, fitted.

        Raises
        ------
        ValueError
            For NaN or inf in y, in weights or in a column a term uses, a
            y outside [0, 1] for the binomial or below 0 for the Poisson
            (the message names the row), negative weights, a term on a constant
            column or a column with too few distinct values for its basis,
            a column index out of range (the message names the term), a
            `lam` of the wrong length or not > 0, a binomial or Poisson fit
            whose deviance is not finite.

        Warns
        -----
        RuntimeWarning
            When a binomial or Poisson fit has not converged in 100
            iterations (as mgcv, the fit is kept).

        See Also
        --------
        GAM.predict : Predictions from the fit.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.gam import GAM, s
        >>> rng = np.random.default_rng(2)
        >>> X = rng.uniform(0, 1, (200, 1))
        >>> y = X[:, 0] ** 2 + rng.normal(0, 0.1, 200)
        >>> GAM([s(0)], lam=[1.0]).fit(X, y).lam_
        array([1.])
        """
        cols, names = _frame_columns(X)
        n = len(cols[0]) if cols else 0
        yv = self._response(y, n)
        w = self._weights(weights, n)
        self._lay_out(cols, names)
        Xu = self._used_matrix(cols, names, X)
        positive = w > 0 if w is not None else np.ones(n, dtype=bool)
        if self.family != "gaussian":
            family = _FAMILY_CODES[self.family]

            def irls(coef: Optional[NDArray[np.float64]]) -> IrlsSums:
                return model_irls(self._raw_terms, Xu, yv, w, family=family, coef=coef,
                                  threads=self.threads)

            self._fit_irls(irls, int(positive.sum()))
            return self
        sums = model_sums(self._raw_terms, Xu, yv, w, threads=self.threads)
        return self._fit_sums(sums, int(positive.sum()),
                              0.0 if w is None else float(np.sum(np.log(w[positive]))))

    def _lay_out(self, cols: List[NDArray[Any]], names: Optional[List[str]]) -> None:
        """Lays out the terms on the training columns: each term's basis,
        penalties and levels, the used columns and the library terms.  The
        columns may be stand-ins that have the data's extremes, distinct
        values and levels (as bsbasis.dask makes them)."""
        used: Dict[int, int] = {}
        self._layouts = [_layout(user, cols, names, used) for user in self.terms]
        self._used = used
        self._raw_terms = [Term(TERM_INTERCEPT)] + [lay.term for lay in self._layouts]

    def _fit_sums(self, sums: Any, n: int, log_weights: float) -> GAM:
        """The Gaussian fit from the sums of the laid-out model over the
        training rows (`model_sums`, or chunks' sums added): n is the count
        of rows of positive weight, log_weights the sum of their log
        weights."""
        self._transform = self._constraints(sums.colsums)
        problem = self._problem(sums.gram, sums.rhs, sums.yty, n, log_weights)
        self._check_identifiable(problem)
        lam, score, n_iter = self._lam(problem)
        sol = _gam_fit.solve(problem, lam)
        self._finish(problem, sol, lam, score, n_iter, sol.rss / (problem.n - sol.edf))
        self.deviance_ = sol.rss
        return self

    def _fit_irls(self, irls: Callable[[Optional[NDArray[np.float64]]], IrlsSums],
                  n: int) -> None:
        """Penalised IRLS with the smoothing parameters chosen on each
        working model, n the count of rows of positive weight.  irls(coef)
        makes one pass over the rows: the working sums at coef on the
        library's columns (model_irls), at the family's starting values for
        None; it is called once for the start and once per iteration, so
        that the rows may be in memory or in chunks elsewhere."""
        sums = irls(None)
        self._transform = self._constraints(sums.colsums)
        rho: Optional[NDArray[np.float64]] = None
        previous: Optional[float] = None
        last: Optional[Tuple[Any, ...]] = None
        for iteration in range(1, _MAX_IRLS + 1):
            problem = self._problem(sums.gram, sums.rhs, sums.ztz, n, 0.0)
            if iteration == 1:
                self._check_identifiable(problem)
            try:
                lam, score, _ = self._lam(problem, rho)
                sol = _gam_fit.solve(problem, lam)
            except np.linalg.LinAlgError:
                if last is None:
                    raise
                # The working weights have all but vanished (classes
                # separated, counts zero over a region) and the working
                # model is singular to rounding: the previous iteration's
                # fit is as far as the data can take it.
                self._finish(*last)
                self.deviance_ = sums.deviance
                return
            rho = np.log(lam)
            sums = irls(self._transform @ sol.coef)
            deviance = sums.deviance
            if not math.isfinite(deviance):
                raise ValueError("the %s fit diverged: the deviance is not finite at "
                                 "iteration %d" % (self.family, iteration))
            if previous is not None and \
                    abs(deviance - previous) < self.tol * (abs(deviance) + 0.1):
                self._finish(problem, sol, lam, score, iteration, 1.0)
                self.deviance_ = deviance
                return
            previous = deviance
            last = (problem, sol, lam, score, iteration, 1.0)
        # As mgcv: the last fit, with a warning (the deviance wanders by
        # more than tol as the smoothing parameters of a model with next to
        # no information in its data move within their flat optimum).
        warnings.warn("the %s fit did not converge in %d iterations: the deviance still "
                      "changes by more than tol" % (self.family, _MAX_IRLS), RuntimeWarning,
                      stacklevel=3)
        self._finish(problem, sol, lam, score, _MAX_IRLS, 1.0)
        self.deviance_ = sums.deviance

    def _response(self, y: ArrayLike, n: int) -> NDArray[np.float64]:
        yv = np.asarray(y, dtype=np.float64)
        if yv.ndim != 1 or len(yv) != n:
            raise ValueError("y must be 1-D with one value per row of X (%d), got shape %s"
                             % (n, yv.shape))
        bad = ~np.isfinite(yv)
        if bad.any():
            raise _row_error(bad, "y is NaN or inf")
        outside = _out_of_range(self.family, yv)
        if outside is not None and outside.any():
            raise _row_error(outside, _RANGE_ERRORS[self.family])
        return yv

    @staticmethod
    def _weights(weights: ArrayLike | None, n: int) -> NDArray[np.float64] | None:
        if weights is None:
            return None
        w = np.asarray(weights, dtype=np.float64)
        if w.shape != (n,):
            raise ValueError("weights must be 1-D with one value per row (%d), got shape %s"
                             % (n, w.shape))
        bad = ~np.isfinite(w) | (w < 0)
        if bad.any():
            raise _row_error(bad, "weights must be finite and >= 0: not so")
        if not np.any(w > 0):
            raise ValueError("every weight is 0")
        return w

    def _used_matrix(self, cols: List[NDArray[Any]], names: Optional[List[str]],
                     X: Any = None) -> NDArray[np.float64]:
        """The used columns of X as numbers (a factor's as level indices).
        When X is an array of doubles whose used columns, in the order the
        terms use them, are evenly spaced and no term is a factor, a view of
        them: the library reads any strides, and a copy of a large X would
        cost as much memory again."""
        n = len(cols[0]) if cols else 0
        order = sorted(self._used, key=self._used.__getitem__)
        steps = {b - a for a, b in zip(order, order[1:])}
        if (isinstance(X, np.ndarray) and X.dtype == np.float64 and X.ndim == 2 and order
                and len(steps) <= 1 and min(steps, default=1) > 0
                and all(lay.levels is None for lay in self._layouts)):
            for user, lay in zip(self.terms, self._layouts):
                for c in user.columns:
                    _numeric(cols[_resolve(c, names, len(cols), lay.label)], lay.label)
            step = min(steps, default=1)
            return np.asarray(X[:, order[0]:order[-1] + 1:step])
        Xu = np.empty((n, len(self._used)))
        for user, lay in zip(self.terms, self._layouts):
            for c, j in zip(user.columns, _term_columns(lay.term)):
                p = _resolve(c, names, len(cols), lay.label)
                if lay.levels is not None:
                    Xu[:, j] = _codes(cols[p], lay.levels, lay.label)
                else:
                    Xu[:, j] = _numeric(cols[p], lay.label)
        return Xu

    def _constraints(self, colsums: NDArray[np.float64]) -> NDArray[np.float64]:
        """The map from the constrained coefficients to the library's: a
        smooth's columns times Z, Z the last columns of the Householder Q of
        its unweighted column sums, as mgcv absorbs its sum-to-zero
        constraint.  Records where each term's coefficients
        start, among the library's (_raw_starts) and the constrained ones
        (_starts)."""
        blocks: List[NDArray[np.float64]] = [np.eye(1)]
        self._raw_starts, self._starts = [1], [1]
        for lay in self._layouts:
            start, width = self._raw_starts[-1], lay.term.width
            if lay.transform is not None:
                blocks.append(lay.transform)
            else:
                c = np.asarray(colsums[start:start + width], dtype=np.float64).reshape(-1, 1)
                Q, _ = np.linalg.qr(c, mode="complete")
                blocks.append(Q[:, 1:])
            self._raw_starts.append(start + width)
            self._starts.append(self._starts[-1] + blocks[-1].shape[1])
        return np.asarray(scipy.linalg.block_diag(*blocks))

    def _block(self, i: int) -> NDArray[np.float64]:
        """Term i's block of the constraint map (library x constrained)."""
        return self._transform[self._raw_starts[i]:self._raw_starts[i + 1],
                               self._starts[i]:self._starts[i + 1]]

    def _problem(self, raw_gram: NDArray[np.float64], rhs: Optional[NDArray[np.float64]],
                 yty: float, n: int, log_weights: float) -> _gam_fit.Problem:
        """The penalised problem in the constrained coefficients, from the
        sums X'WX, X'Wy and y'Wy in the library's columns."""
        assert rhs is not None
        T = self._transform
        gram = T.T @ raw_gram @ T
        penalties: List[_gam_fit.Penalty] = []
        blocks: List[_gam_fit.Block] = []
        for i, lay in enumerate(self._layouts):
            if not lay.penalties:
                continue
            T_b, start, stop = self._block(i), self._starts[i], self._starts[i + 1]
            indices = tuple(range(len(penalties), len(penalties) + len(lay.penalties)))
            matrices = [T_b.T @ S @ T_b for S in lay.penalties]
            penalties += [_gam_fit.Penalty(start, stop, S, len(blocks)) for S in matrices]
            blocks.append(_gam_fit.make_block(start, stop, indices, matrices, lay.rank))
        return _gam_fit.Problem((gram + gram.T) / 2, T.T @ rhs, float(yty), n,
                                log_weights, tuple(penalties), tuple(blocks))

    def _lam(self, problem: _gam_fit.Problem, start: Optional[NDArray[np.float64]] = None
             ) -> Tuple[NDArray[np.float64], float, int]:
        """The smoothing parameters, the criterion there and the iterations;
        the search starts at log(lam) = start when given."""
        if self.family == "gaussian":
            fun = _gam_fit.reml if self.method == "REML" else _gam_fit.gcv
        else:
            fun = _gam_fit.reml_known if self.method == "REML" else _gam_fit.ubre
        m = len(problem.penalties)
        if self.lam is not None:
            if len(self.lam) != m or not np.all(np.isfinite(self.lam)) or np.any(self.lam <= 0):
                raise ValueError("lam must hold %d finite values > 0 (one per penalty), got %s"
                                 % (m, self.lam))
            try:
                score = fun(problem, np.log(self.lam))[0]
            except _gam_fit.ExactFit:
                score = math.nan  # the fit is defined, its REML score is not
            return self.lam.copy(), score, 0
        if m == 0:
            return np.zeros(0), fun(problem, np.zeros(0))[0], 0
        initial = _gam_fit.initial_log_lam(problem)
        starts = [initial if start is None else start]
        if fun is _gam_fit.ubre:
            # UBRE of a working model has flat saddles and several minima
            # that Newton's method from one start can stop in: two more
            # starts, the best of the three kept.
            starts += [initial - 2.0, initial + 2.0]
        best: Optional[Tuple[float, NDArray[np.float64], int]] = None
        for rho0 in starts:
            rho, n_iter = _gam_fit.newton(lambda r: fun(problem, r), rho0)
            value = fun(problem, rho)[0]
            if best is None or value < best[0]:
                best = (value, rho, n_iter)
        assert best is not None
        return np.exp(best[1]), best[0], best[2]

    @staticmethod
    def _check_identifiable(problem: _gam_fit.Problem) -> None:
        try:
            _gam_fit.solve(problem, np.ones(len(problem.penalties)))
        except np.linalg.LinAlgError:
            raise ValueError("the model is not identifiable: X'WX + S is singular, some "
                             "term repeats what others give (a linear or factor term on a "
                             "smooth's column, a column that is a sum of others)") from None

    def _finish(self, problem: _gam_fit.Problem, sol: _gam_fit.Solution,
                lam: NDArray[np.float64], score: float, n_iter: int, scale: float) -> None:
        edf, edf1 = _gam_fit.second_edf(sol, problem.gram)
        self._problem_ = problem
        self.lam_, self.score_, self.n_iter_ = lam, float(score), n_iter
        self.coef_ = sol.coef
        self.edf_total_ = float(edf.sum())
        self.scale_ = float(scale)
        self.Vp_ = sol.inverse * self.scale_
        self._Ve = sol.inverse @ problem.gram @ sol.inverse * self.scale_
        bounds = list(zip(self._starts[:-1], self._starts[1:]))
        self.edf_ = np.array([edf[a:b].sum() for a, b in bounds])
        self._edf1 = np.array([edf1[a:b].sum() for a, b in bounds])
        self.terms_ = [lay.label for lay in self._layouts]

    # -- predictions -----------------------------------------------------------

    def _check_fitted(self) -> None:
        if not hasattr(self, "coef_"):
            raise ValueError("this GAM is not fitted yet: call fit first")

    def _rows(self, X: Any) -> NDArray[np.float64]:
        self._check_fitted()
        cols, names = _frame_columns(X)
        return self._used_matrix(cols, names)

    def _evaluate(self, terms: List[Term], Xu: NDArray[np.float64], T: NDArray[np.float64],
                  coef: NDArray[np.float64], V: NDArray[np.float64], se: bool
                  ) -> Any:
        fit, var = model_evaluate(terms, Xu, T @ coef, cov=T @ V @ T.T if se else None,
                                  threads=self.threads)
        if not se:
            return fit
        assert var is not None
        return fit, np.sqrt(np.maximum(var, 0.0))

    def predict(self, X: Any, *, type: Literal["response", "link"] = "response",
                se: bool = False) -> Any:
        """The fitted mean at the rows of X.

        Parameters
        ----------
        X : array_like or pandas.DataFrame, shape (n, m)
            Columns as in `fit`.  A smooth beyond its knots continues
            linearly, as mgcv's P-splines do.
        type : {'response', 'link'}, optional
            The scale of the prediction: the mean (a probability for the
            binomial, a rate for the Poisson) or the linear predictor (its
            logit or log).  The same for a Gaussian model.  Default
            'response'.
        se : bool, optional
            Also return standard errors: ``sqrt(diag(X Vp X'))`` on the
            link scale, times ``|d mean / d link|`` on the response scale
            (the delta method, as mgcv's ``predict.gam``).

        Returns
        -------
        ndarray or tuple of ndarray
            The predictions, shape (n,); with se, (predictions, se).

        Raises
        ------
        ValueError
            Before fit, for NaN or inf in a used column, a factor level not
            seen in fit, an unknown type.

        See Also
        --------
        GAM.partial : One term's contribution.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.gam import GAM, s
        >>> rng = np.random.default_rng(3)
        >>> X = rng.uniform(0, 1, (200, 1))
        >>> y = np.cos(3 * X[:, 0]) + rng.normal(0, 0.1, 200)
        >>> fit, se = GAM([s(0)]).fit(X, y).predict([[0.5]], se=True)
        >>> bool(abs(fit[0] - np.cos(1.5)) < 4 * se[0] + 0.05)
        True
        """
        if type not in ("response", "link"):
            raise ValueError("type must be 'response' or 'link', got %r" % (type,))
        Xu = self._rows(X)
        out = self._evaluate(self._raw_terms, Xu, self._transform, self.coef_, self.Vp_, se)
        if type == "link" or self.family == "gaussian":
            return out
        eta = out[0] if se else out
        mu, dmu = _inverse_link(self.family, eta)
        return (mu, out[1] * dmu) if se else mu

    def _term_index(self, term: Any) -> int:
        self._check_fitted()
        if isinstance(term, str) and term in self.terms_:
            return self.terms_.index(term)
        if isinstance(term, numbers.Integral) and not isinstance(term, bool) \
                and 0 <= int(term) < len(self.terms_):
            return int(term)
        raise ValueError("term must be an index 0 .. %d or one of %s, got %r"
                         % (len(self.terms_) - 1, self.terms_, term))

    def partial(self, X: Any, term: int | str, *, se: bool = False) -> Any:
        """One term's contribution at the rows of X.

        The term's columns times its coefficients, as mgcv's ``predict(type
        = "terms")`` gives it: a smooth is centred by its constraint (it
        sums to zero over the training rows); a linear or factor term is
        not centred.

        Parameters
        ----------
        X : array_like or pandas.DataFrame, shape (n, m)
            Columns as in `fit`.
        term : int or str
            The term: its index in the model's terms or its label (see
            `terms_`).
        se : bool, optional
            Also return standard errors from the term's block of `Vp_`.

        Returns
        -------
        ndarray or tuple of ndarray
            The contribution, shape (n,); with se, (contribution, se).

        Raises
        ------
        ValueError
            Before fit, for an unknown term, for bad rows (as in `predict`).

        See Also
        --------
        GAM.plot : Every smooth's partial effect.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.gam import GAM, s
        >>> rng = np.random.default_rng(4)
        >>> X = rng.uniform(0, 1, (200, 2))
        >>> y = np.sin(4 * X[:, 0]) + X[:, 1] + rng.normal(0, 0.1, 200)
        >>> model = GAM([s(0), s(1)]).fit(X, y)
        >>> f = model.partial(X, 0)
        >>> bool(abs(f.mean()) < 1e-8)
        True
        """
        i = self._term_index(term)
        return self._partial_used(self._rows(X), i, se)

    def _partial_used(self, Xu: NDArray[np.float64], i: int, se: bool) -> Any:
        a, b = self._starts[i], self._starts[i + 1]
        return self._evaluate([self._layouts[i].term], Xu, self._block(i), self.coef_[a:b],
                              self.Vp_[a:b, a:b], se)

    # -- summary and plot ------------------------------------------------------

    def summary(self) -> GAMSummary:
        """Tabulate the parametric coefficients and the smooth terms.

        For each coefficient of the intercept, linear and factor terms: its
        estimate, standard error, t statistic and two-sided p-value on
        ``n - edf_total_`` degrees of freedom (for the binomial and
        Poisson, whose scale is known, a z statistic and a normal p-value,
        key 'z' in place of 't').  For each smooth: its edf,
        and the test of Wood (2013) that the term is zero, as mgcv's
        ``summary.gam`` computes it for an estimated scale: the statistic
        from the term's coefficients and covariance projected on a rank
        that is the term's edf1 (``2 F - F F`` summed over its diagonal),
        the p-value of a weighted sum of chi-squares against the scale's
        chi-square (Imhof's integral in place of mgcv's Davies algorithm;
        both are numerically exact, to about 1e-5), 'ref_df' that rank and
        'F' the statistic over it.  A smooth with no unpenalised functions
        left by its constraint (periodic, or a first-order penalty) gets
        mgcv's test for such terms instead: the statistic ``b' Vp^-1 b``
        against chi-squares weighted by the eigenvalues of ``Ve Vp^-1``
        (``Ve`` the frequentist covariance), 'ref_df' the number of those
        that are not zero.  For the binomial and Poisson the references
        are chi-squares alone, as mgcv's for a known scale, and the
        statistic itself is given, key 'chi_sq' in place of 'F'.

        Returns
        -------
        GAMSummary
            The two tables, as lists of dicts, and as text.

        Raises
        ------
        ValueError
            Before fit.

        See Also
        --------
        GAMSummary : The tables' keys.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.gam import GAM, s, linear
        >>> rng = np.random.default_rng(5)
        >>> X = rng.uniform(0, 1, (300, 2))
        >>> y = np.sin(6 * X[:, 0]) + rng.normal(0, 0.3, 300)
        >>> table = GAM([s(0), linear(1)]).fit(X, y).summary()
        >>> [row["term"] for row in table.parametric]
        ['(Intercept)', 'x1']
        >>> table.smooth[0]["p"] < 1e-10
        True
        """
        self._check_fitted()
        # A known scale: mgcv's tests take res_df = -1 to mean that.
        res_df = self._problem_.n - self.edf_total_ if self.family == "gaussian" else -1.0
        parametric = [self._coefficient_row("(Intercept)", 0, res_df)]
        smooth = []
        for i, lay in enumerate(self._layouts):
            a = self._starts[i]
            if lay.term.kind == TERM_SPLINE:
                smooth.append(self._smooth_row(i, res_df))
            elif lay.levels is not None:
                parametric += [self._coefficient_row("%s%s" % (lay.label, lev), a + j, res_df)
                               for j, lev in enumerate(lay.levels[1:])]
            else:
                parametric.append(self._coefficient_row(lay.label, a, res_df))
        return GAMSummary(parametric, smooth, _summary_text(parametric, smooth, self))

    def _coefficient_row(self, label: str, j: int, res_df: float) -> Dict[str, Any]:
        se = math.sqrt(self.Vp_[j, j])
        t = self.coef_[j] / se
        if res_df <= 0:
            return {"term": label, "estimate": float(self.coef_[j]), "se": se, "z": float(t),
                    "p": float(2 * scipy.stats.norm.sf(abs(t)))}
        return {"term": label, "estimate": float(self.coef_[j]), "se": se, "t": float(t),
                "p": float(2 * scipy.stats.t.sf(abs(t), res_df))}

    def _smooth_row(self, i: int, res_df: float) -> Dict[str, Any]:
        a, b = self._starts[i], self._starts[i + 1]
        if self._layouts[i].rank == b - a:  # no unpenalised function
            stat, p, ref_df = _gam_fit.random_effect_test(
                self.coef_[a:b], self.Vp_[a:b, a:b], self._Ve[a:b, a:b], res_df)
        else:
            rank = min(b - a, float(self._edf1[i]))
            stat, p, ref_df = _gam_fit.smooth_test(
                self.coef_[a:b], self._problem_.gram[a:b, a:b], self.Vp_[a:b, a:b], rank,
                res_df)
        if res_df <= 0:
            return {"term": self._layouts[i].label, "edf": float(self.edf_[i]),
                    "ref_df": ref_df, "chi_sq": stat, "p": p}
        return {"term": self._layouts[i].label, "edf": float(self.edf_[i]), "ref_df": ref_df,
                "F": stat / ref_df, "p": p}

    def plot(self) -> Any:
        """A figure of every smooth's partial effect.

        Effects are on the scale of the linear predictor (the logit for
        the binomial, the log for the Poisson).  A smooth of one column:
        its effect (as `partial` gives it) on a
        grid over the training range, a band of two standard errors either
        side, and a rug of the training values.  A te of two columns:
        contours of its effect.  A te of three columns is not drawn.

        Returns
        -------
        matplotlib.figure.Figure
            One panel per smooth drawn.

        Raises
        ------
        ValueError
            Before fit.
        ImportError
            Without matplotlib.

        See Also
        --------
        GAM.partial : The values drawn.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.gam import GAM, s, te
        >>> rng = np.random.default_rng(6)
        >>> X = rng.uniform(0, 1, (300, 3))
        >>> y = np.sin(5 * X[:, 0]) + X[:, 1] * X[:, 2] + rng.normal(0, 0.1, 300)
        >>> figure = GAM([s(0), te(1, 2)]).fit(X, y).plot()
        >>> len(figure.axes) >= 2
        True
        """
        self._check_fitted()
        from matplotlib.figure import Figure
        drawn = [i for i, lay in enumerate(self._layouts)
                 if lay.term.kind == TERM_SPLINE and len(lay.term.margins) <= 2]
        figure = Figure(figsize=(4.0 * max(len(drawn), 1), 3.5))
        axes = figure.subplots(1, max(len(drawn), 1), squeeze=False)[0]
        for ax, i in zip(axes, drawn):
            if len(self._layouts[i].term.margins) == 1:
                self._plot_line(ax, i)
            else:
                self._plot_contour(ax, i)
        figure.tight_layout()
        return figure

    def _grid(self, i: int, values: Sequence[NDArray[np.float64]]) -> NDArray[np.float64]:
        lay = self._layouts[i]
        Xu = np.zeros((len(values[0]), len(self._used)))
        for m, v in zip(lay.term.margins, values):
            Xu[:, m.column] = v
        return Xu

    def _plot_line(self, ax: Any, i: int) -> None:
        lay = self._layouts[i]
        x = np.linspace(lay.ranges[0][0], lay.ranges[0][1], 200)
        f, se = self._partial_used(self._grid(i, [x]), i, True)
        ax.fill_between(x, f - 2 * se, f + 2 * se, alpha=0.3)
        ax.plot(x, f)
        ax.plot(lay.rugs[0], np.full(len(lay.rugs[0]), float(np.min(f - 2 * se))), "|",
                color="k", markersize=8)
        ax.set_title(lay.label)

    def _plot_contour(self, ax: Any, i: int) -> None:
        lay = self._layouts[i]
        u = np.linspace(lay.ranges[0][0], lay.ranges[0][1], 50)
        v = np.linspace(lay.ranges[1][0], lay.ranges[1][1], 50)
        U, V = np.meshgrid(u, v)
        f = self._partial_used(self._grid(i, [U.ravel(), V.ravel()]), i, False)
        ax.contour(U, V, f.reshape(U.shape))
        ax.set_title(lay.label)


def _inverse_link(family: str, eta: NDArray[np.float64]
                  ) -> Tuple[NDArray[np.float64], NDArray[np.float64]]:
    """The mean and d mean / d eta at eta, with the guards of R's
    binomial() and poisson()."""
    eps = float(np.finfo(float).eps)
    if family == "binomial":
        e = np.exp(np.clip(eta, -30.0, 30.0))
        mu = np.where(eta < -30, eps / (1 + eps), np.where(eta > 30, 1 / (1 + eps), e / (1 + e)))
        dmu = np.where(np.abs(eta) > 30, eps, e / (1 + e) ** 2)
        return mu, dmu
    mu = np.maximum(np.exp(eta), eps)
    return mu, mu


def _summary_text(parametric: List[Dict[str, Any]], smooth: List[Dict[str, Any]],
                  model: GAM) -> str:
    known = model.family != "gaussian"
    stat, test, p_head = ("z", "chi_sq", "Pr(>|z|)") if known else ("t", "F", "Pr(>|t|)")
    lines = ["Family: %s" % model.family, "", "Parametric coefficients:",
             "%-20s %12s %12s %9s %10s" % ("", "Estimate", "Std. Error", stat + " value",
                                           p_head)]
    for r in parametric:
        lines.append("%-20s %12.5g %12.5g %9.3f %10.3g"
                     % (r["term"], r["estimate"], r["se"], r[stat], r["p"]))
    if smooth:
        lines += ["", "Approximate significance of smooth terms:",
                  "%-20s %8s %8s %9s %10s" % ("", "edf", "Ref.df",
                                              "Chi.sq" if known else "F", "p-value")]
        for r in smooth:
            lines.append("%-20s %8.3f %8.3f %9.3f %10.3g"
                         % (r["term"], r["edf"], r["ref_df"], r[test], r["p"]))
    what = "deviance = %.6g" % model.deviance_ if known else "scale est. = %.5g" % model.scale_
    lines += ["", "%s score = %.6g  %s  n = %d  edf = %.3f"
              % ("UBRE" if known and model.method == "GCV" else model.method, model.score_,
                 what, model._problem_.n, model.edf_total_)]
    return "\n".join(lines)
