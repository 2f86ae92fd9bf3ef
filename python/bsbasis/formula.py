"""Spline terms for patsy formulas, formed by the library: ``bs`` (B-splines)
and ``ns`` (natural cubic splines).

Both are patsy stateful transforms: when a model is fitted, the knots are
placed from the data and remembered, and predictions on new data use the
same knots::

    import bsbasis.formula
    import statsmodels.formula.api as smf
    fit = smf.ols("y ~ bsbasis.formula.ns(x, df=4)", data).fit()
    fit.predict(new_data)

patsy takes a bare name (``from bsbasis.formula import ns`` and then
``y ~ ns(x, df=4)``) for a stateful transform and places the knots from
all the data, chunk by chunk.  A dotted name is plain Python to patsy; the
term then keeps the knots placed at the factor's first evaluation, in
patsy's state of that factor, and reuses them.  That first evaluation sees
the whole data of a fit from a data frame, but only the first chunk when
patsy reads the data in chunks: use the bare name there.

This is the only module of the package that imports patsy.
"""

from __future__ import annotations

import functools
import inspect
import sys
from typing import TYPE_CHECKING, Any, Callable, SupportsIndex, Union

import numpy as np
from patsy import stateful_transform
from patsy.eval import EvalFactor

from . import _tiles
from ._abi import EXTRAPOLATE_CONTINUE
from ._checks import as_int, as_real, check_knots
from ._core import _KnotKernel
from ._natural import _NaturalKernel, check_flag, check_natural_knots

if TYPE_CHECKING:
    from types import FrameType

    from numpy.typing import ArrayLike, NDArray
    from pandas import DataFrame

    from ._typing import Kernel, Real

    # A term's basis: a DataFrame for pandas input.
    _Basis = Union[NDArray[np.float64], DataFrame]

__all__ = ["bs", "ns", "BS", "NS"]


def _column(x: ArrayLike, name: str | None) -> tuple[NDArray[np.float64], NDArray[np.bool_] | None]:
    """x as a float64 vector (1-D, or a column vector as patsy passes it),
    and the mask of its NaN entries, or None when there are none."""
    a = np.asarray(x)
    if a.dtype.kind not in "iuf":
        raise TypeError("the input to %s must hold real numbers, got dtype %s"
                        % (name, a.dtype))
    a = np.atleast_1d(a)
    if a.ndim == 2 and a.shape[1] == 1:
        a = a[:, 0]
    if a.ndim != 1:
        raise ValueError("the input to %s must be 1-D or a column vector, got shape %s"
                         % (name, a.shape))
    a = np.ascontiguousarray(a, dtype=np.float64)
    finite = np.isfinite(a)
    if finite.all():
        return a, None
    infinite = np.isinf(a)
    if infinite.any():
        p = int(np.argmax(infinite))
        raise ValueError("the input to %s must be finite or NaN (missing): x[%d] = %r"
                         % (name, p, float(a[p])))
    return a, ~finite


def _bound(value: Real | None, x: NDArray[np.float64], name: str,
           pick: Callable[[NDArray[np.float64]], np.float64]) -> float:
    if value is not None:
        value = as_real(value, name)
        if not np.isfinite(value):
            raise ValueError("%s must be finite, got %r" % (name, value))
        return value
    if len(x) == 0:
        raise ValueError("%s is not given and there is no data to take it from" % name)
    return float(pick(x))


class _SplineTerm:
    """What bs and ns share: the data seen chunk by chunk, the knots placed
    from it at the end, and the transform into a dense basis with NaN rows
    for NaN abscissae (which patsy's missing-value handling then drops)."""

    name: str | None = None

    def __init__(self) -> None:
        self._chunks: list[NDArray[np.float64]] = []
        # The arguments of the last chunk, as given: checked by memorize_finish.
        self._args: dict[str, Any] | None = None
        self.knots: NDArray[np.float64] | None = None
        self.lower_bound: float | None = None
        self.upper_bound: float | None = None
        self.include_intercept: bool | None = None

    def _remember(self, x: ArrayLike, args: dict[str, Any]) -> None:
        self._args = args
        a, missing = _column(x, self.name)
        self._chunks.append(a if missing is None else a[~missing])

    def _settings(self, args: dict[str, Any]) -> None:
        """Checks and keeps the term's own arguments."""

    def _interior_count(self, df: int) -> int:
        raise NotImplementedError

    def _check_knots(self, knots: NDArray[np.float64], lo: float,
                     hi: float) -> NDArray[np.float64]:
        raise NotImplementedError

    def memorize_finish(self) -> None:
        """Place the knots from the data seen by `memorize_chunk`.

        The bounds default to the range of the data, and the interior knots
        not given are its equally spaced quantiles between the bounds
        (``numpy.percentile``, R's default quantiles).

        Returns
        -------
        None
            The knots and bounds are set on the term.

        Raises
        ------
        ValueError
            For neither df nor knots given, a df too small for the degree,
            a df that disagrees with the knots given, bounds that are not
            finite or not ``lower_bound < upper_bound``, knots outside the
            bounds, or no data to place the knots from; also when
            `memorize_chunk` was never called.

        See Also
        --------
        memorize_chunk : Take in the data.
        transform : The basis on the knots placed here.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.formula import BS
        >>> term = BS()
        >>> term.memorize_chunk(np.arange(10.0), df=5, lower_bound=-1.0)
        >>> term.memorize_finish()
        >>> term.knots, term.lower_bound, term.upper_bound
        (array([3., 6.]), -1.0, 9.0)
        """
        args = self._args
        if args is None:
            raise ValueError("%s: memorize_chunk was never called" % self.name)
        chunks = self._chunks
        x = chunks[0] if len(chunks) == 1 else np.concatenate(chunks or [np.empty(0)])
        self._chunks = []
        self.include_intercept = check_flag(args["include_intercept"], "include_intercept")
        self._settings(args)
        lo = _bound(args["lower_bound"], x, "lower_bound", np.min)
        hi = _bound(args["upper_bound"], x, "upper_bound", np.max)
        if not lo < hi:
            raise ValueError("%s needs lower_bound < upper_bound, got %r and %r%s"
                             % (self.name, lo, hi, "" if args["lower_bound"] is not None
                                or args["upper_bound"] is not None
                                else " (the range of the data)"))
        df, knots = args["df"], args["knots"]
        if df is None and knots is None:
            raise ValueError("%s: give df or knots" % self.name)
        count = None
        if df is not None:
            df = as_int(df, "df")
            count = self._interior_count(df)
            if count < 0:
                raise ValueError("%s: df=%d is too small; it must be at least %d"
                                 % (self.name, df, df - count))
        if knots is None:
            # Equally spaced quantiles of the data within the bounds, as R
            # and patsy place them (np.percentile: R's quantile type 7).
            inside = x[(x >= lo) & (x <= hi)]
            if count and len(inside) == 0:
                raise ValueError("%s: no data between lower_bound=%r and upper_bound=%r "
                                 "to place %d knots" % (self.name, lo, hi, count))
            # df is given when knots are not (checked above): count is set.
            probs = 100.0 * np.linspace(0.0, 1.0, count + 2)[1:-1]  # type: ignore[operator]
            knots = np.percentile(inside, probs) if count else np.empty(0)
        else:
            knots = np.sort(np.asarray(knots, dtype=np.float64).ravel())
            if count is not None and len(knots) != count:
                raise ValueError("%s: df=%d asks for %d interior knots, but %d were given"
                                 % (self.name, df, count, len(knots)))
        self.knots = self._check_knots(knots, lo, hi)
        self.lower_bound, self.upper_bound = lo, hi

    def _kernel(self, x: NDArray[np.float64]) -> tuple[Kernel, int, int]:
        raise NotImplementedError

    def transform(self, x: ArrayLike, *args: object, **kwargs: object) -> _Basis:
        """Evaluate the basis at x on the knots ``memorize_finish`` placed.

        Parameters
        ----------
        x : array_like, shape (n,) or (n, 1)
            Abscissae: finite, or NaN for missing values.
        *args, **kwargs
            The term's other arguments, as patsy passes them again; the
            remembered knots are used instead.

        Returns
        -------
        ndarray or pandas.DataFrame, shape (n, ncols)
            A DataFrame with the index of x when x is a pandas Series or
            DataFrame; a row of NaN for each NaN abscissa.

        Raises
        ------
        TypeError
            For x that is not real numbers.
        ValueError
            For x that is not 1-D or a column vector, infinite x, or a term
            whose knots were never placed.

        See Also
        --------
        memorize_finish : Place the knots.
        bsbasis.design_matrix : The B-spline basis on any knots.
        bsbasis.natural_design_matrix : The natural spline basis.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.formula import BS
        >>> term = BS()
        >>> term.memorize_chunk(np.array([0.0, 2.0]), df=2, degree=1)
        >>> term.memorize_finish()
        >>> term.transform(np.array([[0.5], [np.nan], [3.0]]))
        array([[ 0.5,  0. ],
               [ nan,  nan],
               [-1. ,  2. ]])
        """
        if self.knots is None:
            raise ValueError("%s: the knots are not placed yet (memorize_finish)" % self.name)
        xv, missing = _column(x, self.name)
        kernel, ncols, shift = self._kernel(xv)
        out = _tiles.fill_dense(kernel, len(xv), ncols, None, shift)
        if missing is not None:
            out[missing] = np.nan
        pandas = sys.modules.get("pandas")
        if pandas is not None and isinstance(x, (pandas.Series, pandas.DataFrame)):
            return pandas.DataFrame(out, index=x.index)
        return out


_BS_DOC = """B-spline basis as a patsy formula term, such as ``y ~ bs(x, df=5)``.

    The knots are ``lower_bound`` and ``upper_bound`` (each ``degree + 1``
    times) and the interior knots; by default the bounds are the range of
    the data and the interior knots its equally spaced quantiles.  The
    columns are those of patsy's and R's ``bs`` for the same arguments.
    The knots are placed when the model is fitted (a stateful transform)
    and reused for new data.

    Parameters
    ----------
    x : array_like, shape (n,) or (n, 1)
        Abscissae: finite, or NaN for missing values.
    df : int, optional
        Number of columns: ``len(knots) + degree + include_intercept``.
        Gives ``df - degree - include_intercept`` interior knots at the
        quantiles of the data between the bounds.
    knots : array_like, optional
        Interior knots, within the bounds; sorted here.  Give df, knots or
        both (then they must agree).
    degree : int, default 3
        Degree of the B-splines, 0 or more.
    include_intercept : bool, default False
        Keep the first B-spline; without it the columns do not span the
        constant function, which the model's own intercept provides.
    lower_bound, upper_bound : float, optional
        The boundary knots; by default the smallest and the largest x.

    Returns
    -------
    ndarray or pandas.DataFrame, shape (n, ncols)
        The basis; a DataFrame with the index of x for pandas input.  A
        missing (NaN) x gives a row of NaN, which patsy's missing-value
        handling drops.

    Raises
    ------
    TypeError
        For x that is not real numbers, a df or degree that is not an
        integer, a bound that is not a real number, a non-bool
        include_intercept.
    ValueError
        For neither df nor knots, a df too small for the degree or at odds
        with the knots, ``lower_bound >= upper_bound``, knots outside the
        bounds or not finite, a negative degree, infinite x, or x that is
        not 1-D or a column vector.

    See Also
    --------
    ns : Natural cubic splines, linear beyond the bounds.
    bsbasis.design_matrix : The B-spline basis on any knots.

    Notes
    -----
    patsy's ``bs`` refuses abscissae beyond the bounds
    (NotImplementedError); here they continue the end polynomial pieces,
    as R's ``bs`` does.  And where a knot equals ``upper_bound``, the row
    at ``upper_bound`` is the limit from the left, as in R, where patsy
    gives a row of zeros.  Everywhere else the two agree to rounding.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis.formula import bs
    >>> bs(np.linspace(0.0, 1.0, 5), df=3).round(4)
    array([[0.    , 0.    , 0.    ],
           [0.4219, 0.1406, 0.0156],
           [0.375 , 0.375 , 0.125 ],
           [0.1406, 0.4219, 0.4219],
           [0.    , 0.    , 1.    ]])
"""


class BS(_SplineTerm):
    """The stateful transform behind `bs`, for patsy.

    patsy creates one for each ``bs(...)`` in a formula and calls
    ``memorize_chunk`` on every chunk of the data, ``memorize_finish`` once, and
    then `transform` on the data of the fit and on new data.  The
    arguments of `bs` are those of `memorize_chunk`; call `bs` itself
    rather than this class outside a formula.

    Attributes
    ----------
    knots : ndarray or None
        The interior knots, sorted; None until ``memorize_finish``.
    lower_bound, upper_bound : float or None
        The boundary knots.
    degree : int or None
        Degree of the B-splines.
    include_intercept : bool or None
        Whether the first B-spline is kept.

    See Also
    --------
    bs : The same basis as a function.
    NS : The stateful transform behind `ns`.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis.formula import BS
    >>> term = BS()
    >>> term.memorize_chunk(np.array([0.0, 1.0]), df=4)
    >>> term.memorize_chunk(np.array([2.0, 3.0, 4.0]), df=4)
    >>> term.memorize_finish()
    >>> term.knots, term.lower_bound, term.upper_bound
    (array([2.]), 0.0, 4.0)
    >>> term.transform(np.array([1.0, 3.0])).round(4)
    array([[0.5938, 0.25  , 0.0312, 0.    ],
           [0.0312, 0.25  , 0.5938, 0.125 ]])
    """

    name = "bs"

    def __init__(self) -> None:
        super().__init__()
        self.degree: int | None = None

    def memorize_chunk(self, x: ArrayLike, df: SupportsIndex | None = None,
                       knots: ArrayLike | None = None, degree: SupportsIndex = 3,
                       include_intercept: bool | np.bool_ = False, lower_bound: Real | None = None,
                       upper_bound: Real | None = None) -> None:
        """Take in one chunk of the data the knots are placed from.

        The arguments are kept as given and checked by ``memorize_finish``;
        those of the last chunk count.

        Parameters
        ----------
        x : array_like, shape (n,) or (n, 1)
            Abscissae; NaN is ignored.
        df : int, optional
            Number of columns, as for `bs`.
        knots : array_like, optional
            Interior knots, as for `bs`.
        degree : int, default 3
            Degree of the B-splines.
        include_intercept : bool, default False
            Keep the first B-spline.
        lower_bound, upper_bound : float, optional
            The boundary knots; by default the range of all the chunks.

        Returns
        -------
        None
            The chunk is kept in the term.

        Raises
        ------
        TypeError
            For x that is not real numbers.
        ValueError
            For x that is not 1-D or a column vector, or infinite.

        See Also
        --------
        bs : The basis as a function.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.formula import BS
        >>> term = BS()
        >>> term.memorize_chunk(np.array([0.0, np.nan, 4.0]), df=3)
        >>> term.memorize_finish()
        >>> term.knots, term.upper_bound
        (array([], dtype=float64), 4.0)
        """
        self._remember(x, {"df": df, "knots": knots, "degree": degree,
                           "include_intercept": include_intercept,
                           "lower_bound": lower_bound, "upper_bound": upper_bound})

    def _settings(self, args: dict[str, Any]) -> None:
        degree = as_int(args["degree"], "degree")
        if degree < 0:
            raise ValueError("bs: degree must be >= 0, got %d" % degree)
        self.degree = degree

    def _interior_count(self, df: int) -> int:
        # memorize_finish calls this once _settings has set the degree.
        assert self.degree is not None and self.include_intercept is not None
        return df - self.degree - self.include_intercept

    def _check_knots(self, knots: NDArray[np.float64], lo: float,
                     hi: float) -> NDArray[np.float64]:
        if not np.isfinite(knots).all():
            raise ValueError("bs: knots must be finite, got %r" % (knots,))
        if len(knots) and (knots[0] < lo or knots[-1] > hi):
            raise ValueError("bs: the knots must lie within [%r, %r], got %r"
                             % (lo, hi, knots))
        # As for _interior_count.
        assert self.degree is not None and self.include_intercept is not None
        order = self.degree + 1
        t = np.concatenate([np.full(order, lo), knots, np.full(order, hi)])
        check_knots(t, self.degree, None)
        if len(knots) + self.degree + self.include_intercept == 0:
            raise ValueError("bs: degree 0 without knots or intercept has no columns")
        return knots

    def _kernel(self, x: NDArray[np.float64]) -> tuple[Kernel, int, int]:
        # transform calls this once memorize_finish has placed the knots.
        assert self.degree is not None and self.knots is not None
        order = self.degree + 1
        t = np.concatenate([np.full(order, self.lower_bound), self.knots,
                            np.full(order, self.upper_bound)])
        nj = len(t) - order
        kernel = _KnotKernel(t, order, nj, 0, EXTRAPOLATE_CONTINUE, x)
        drop = 0 if self.include_intercept else 1
        return kernel, nj - drop, drop


_NS_DOC = """Natural cubic spline basis as a patsy formula term, such as ``ns(x, df=4)``.

    The basis of R's ``splines::ns``: cubic splines on the bounds and
    the interior knots whose second derivative is 0 at both bounds,
    continued as straight lines beyond
    them; the columns are R's (see `bsbasis.natural_design_matrix`).  By
    default the bounds are the range of the data and the interior knots its
    equally spaced quantiles.  The knots are placed when the model is
    fitted (a stateful transform) and reused for new data.

    Parameters
    ----------
    x : array_like, shape (n,) or (n, 1)
        Abscissae: finite, or NaN for missing values.
    df : int, optional
        Number of columns: ``len(knots) + 1 + include_intercept``.  Gives
        ``df - 1 - include_intercept`` interior knots at the quantiles of
        the data between the bounds.
    knots : array_like, optional
        Interior knots, strictly between the bounds; sorted here.  Give df,
        knots or both (then they must agree).
    include_intercept : bool, default False
        Keep the constant function in the span, as R's ``intercept=TRUE``;
        without it every column is 0 at ``lower_bound``.
    lower_bound, upper_bound : float, optional
        The boundary knots; by default the smallest and the largest x.

    Returns
    -------
    ndarray or pandas.DataFrame, shape (n, ncols)
        The basis; a DataFrame with the index of x for pandas input.  A
        missing (NaN) x gives a row of NaN, which patsy's missing-value
        handling drops.

    Raises
    ------
    TypeError
        For x that is not real numbers, a df that is not an integer, a
        bound that is not a real number, a non-bool include_intercept.
    ValueError
        For neither df nor knots, a df below ``1 + include_intercept`` or
        at odds with the knots, ``lower_bound >= upper_bound``, knots not
        strictly between the bounds (quantiles of data with many ties at
        an end can land on it: give fewer df or the knots), infinite x, or
        x that is not 1-D or a column vector.

    See Also
    --------
    bs : B-splines.
    bsbasis.natural_design_matrix : The same basis as a sparse matrix.
    patsy.cr : Another basis of the same natural cubic splines.

    Notes
    -----
    patsy's ``cr`` (mgcv's cubic regression splines) spans the same
    functions given the same knots: natural cubic splines on the bounds
    and the interior knots, linear beyond the bounds.  With
    ``include_intercept=True`` and no constraints the two have the same
    number of columns and give the same fitted values in a least-squares
    fit; ``ns(x, knots=...)`` with the model's intercept spans what
    ``cr(x, knots=..., constraints='center')`` does with it.  What differs
    is the parameterisation:

    - cr's columns are cardinal: column i is the natural spline that is 1
      at knot i and 0 at the other knots, so a coefficient is the fitted
      curve's value at that knot, and each function is non-zero nearly
      everywhere (a dense design matrix);
    - ns's columns are B-splines combined by R's Householder reflections
      (at most 7 non-zero entries a row, a sparse design matrix), and
      without intercept every column is 0 at ``lower_bound``; its
      coefficients are R's;
    - cr takes its identifiability constraints as an argument
      (``constraints='center'`` or a matrix) and absorbs them with a QR of
      their own, where ns drops the first B-spline;
    - cr places default knots at quantiles of the distinct values of x,
      ns at quantiles of all of them (as R), so with df alone the knots,
      and the fits, can differ.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis.formula import ns
    >>> ns(np.array([0.0, 0.25, 1.0, 2.0]), knots=[0.5], upper_bound=1.0).round(4)
    array([[ 0.    ,  0.    ],
           [ 0.357 , -0.2172],
           [ 0.3441,  0.7706],
           [-0.4944,  3.3296]])
"""


class NS(_SplineTerm):
    """The stateful transform behind `ns`, for patsy.

    patsy creates one for each ``ns(...)`` in a formula and calls
    ``memorize_chunk`` on every chunk of the data, ``memorize_finish`` once, and
    then `transform` on the data of the fit and on new data.  The
    arguments of `ns` are those of `memorize_chunk`; call `ns` itself
    rather than this class outside a formula.

    Attributes
    ----------
    knots : ndarray or None
        The interior knots, sorted; None until ``memorize_finish``.
    lower_bound, upper_bound : float or None
        The boundary knots.
    include_intercept : bool or None
        Whether the constant function is in the span.

    See Also
    --------
    ns : The same basis as a function.
    BS : The stateful transform behind `bs`.

    Examples
    --------
    >>> import numpy as np
    >>> from bsbasis.formula import NS
    >>> term = NS()
    >>> term.memorize_chunk(np.array([0.0, 1.0, 2.0, 3.0, 4.0]), df=2)
    >>> term.memorize_finish()
    >>> term.knots
    array([2.])
    >>> term.transform(np.array([0.0, 4.0, 5.0])).round(4)
    array([[0.    , 0.    ],
           [0.3441, 0.7706],
           [0.1345, 1.4104]])
    """

    name = "ns"

    def memorize_chunk(self, x: ArrayLike, df: SupportsIndex | None = None,
                       knots: ArrayLike | None = None, include_intercept: bool | np.bool_ = False,
                       lower_bound: Real | None = None, upper_bound: Real | None = None) -> None:
        """Take in one chunk of the data the knots are placed from.

        The arguments are kept as given and checked by ``memorize_finish``;
        those of the last chunk count.

        Parameters
        ----------
        x : array_like, shape (n,) or (n, 1)
            Abscissae; NaN is ignored.
        df : int, optional
            Number of columns, as for `ns`.
        knots : array_like, optional
            Interior knots, as for `ns`.
        include_intercept : bool, default False
            Keep the constant function in the span.
        lower_bound, upper_bound : float, optional
            The boundary knots; by default the range of all the chunks.

        Returns
        -------
        None
            The chunk is kept in the term.

        Raises
        ------
        TypeError
            For x that is not real numbers.
        ValueError
            For x that is not 1-D or a column vector, or infinite.

        See Also
        --------
        ns : The basis as a function.

        Examples
        --------
        >>> import numpy as np
        >>> from bsbasis.formula import NS
        >>> term = NS()
        >>> term.memorize_chunk(np.array([0.0, 1.0]), df=2)
        >>> term.memorize_chunk(np.array([3.0, 4.0]), df=2)
        >>> term.memorize_finish()
        >>> term.knots
        array([2.])
        """
        self._remember(x, {"df": df, "knots": knots, "include_intercept": include_intercept,
                           "lower_bound": lower_bound, "upper_bound": upper_bound})

    def _interior_count(self, df: int) -> int:
        # memorize_finish calls this once it has set the flag.
        assert self.include_intercept is not None
        return df - 1 - self.include_intercept

    def _check_knots(self, knots: NDArray[np.float64], lo: float,
                     hi: float) -> NDArray[np.float64]:
        return check_natural_knots(knots, lo, hi)

    def _kernel(self, x: NDArray[np.float64]) -> tuple[Kernel, int, int]:
        # transform calls this once memorize_finish has placed the knots,
        # the bounds and the flag.
        assert (self.lower_bound is not None and self.upper_bound is not None
                and self.knots is not None and self.include_intercept is not None)
        kernel = _NaturalKernel(self.lower_bound, self.upper_bound, self.knots,
                                self.include_intercept, 0, x)
        return kernel, len(self.knots) + 1 + self.include_intercept, 0


def _factor_state(caller: FrameType) -> dict[str, Any] | None:
    """The state patsy keeps for the factor whose code made this call, or
    None when the call does not come from patsy evaluating a factor.  The
    factor's evaluation (EvalFactor._eval) holds it as the dict with the
    factor's "eval_code"; it lives as long as the design it belongs to."""
    frame: FrameType | None = caller
    for _ in range(16):  # the factor's evaluation is a few calls up
        # Not None: caller at first, then the check below.
        frame = frame.f_back  # type: ignore[union-attr]
        if frame is None:
            return None
        scope = frame.f_locals
        if isinstance(scope.get("self"), EvalFactor):
            for value in scope.values():
                if isinstance(value, dict) and "eval_code" in value:
                    return value
            return None
    return None


def _formula_term(cls: type[BS] | type[NS], name: str, doc: str) -> Callable[..., _Basis]:
    """The term `name` on the stateful transform cls, documented by doc.

    patsy recognises a stateful transform only by a bare name (``bs(x)``):
    it then places the knots from all the data before it evaluates the
    factor, and never calls this function.  A call by a dotted name
    (``bsbasis.formula.bs(x)``) is plain Python to patsy; evaluated again
    on new data, it would place new knots.  So when this function is called
    while patsy evaluates a factor, the term placed at the factor's first
    evaluation (the fit) is kept in patsy's state of that factor, one per
    call site of the factor's code, and reused at every later evaluation
    (the predictions).  Anywhere else it places the knots from the x given.
    """
    plain = stateful_transform(cls)

    # The arguments are those of cls.memorize_chunk (bs and ns say which).
    def term(*args: Any, **kwargs: Any) -> _Basis:
        caller = sys._getframe(1)
        state = _factor_state(caller)
        if state is None:
            return plain(*args, **kwargs)
        placed = state.setdefault("bsbasis.formula", {})
        # The factor's code is compiled anew for each evaluation, to the
        # same instructions: the offset of the call tells its place.
        site = (name, caller.f_lasti)
        transform = placed.get(site)
        if transform is None:
            transform = cls()
            transform.memorize_chunk(*args, **kwargs)
            transform.memorize_finish()
            placed[site] = transform
        return transform.transform(*args, **kwargs)

    functools.update_wrapper(term, cls, updated=())
    term.__name__ = term.__qualname__ = name
    term.__doc__ = doc
    # The call's parameters are those of memorize_chunk, without self.
    # Function attributes that inspect and patsy read, unknown to mypy.
    term.__signature__ = inspect.signature(  # type: ignore[attr-defined]
        cls.memorize_chunk).replace(
        parameters=list(inspect.signature(cls.memorize_chunk).parameters.values())[1:])
    term.__patsy_stateful_transform__ = cls  # type: ignore[attr-defined]
    return term


if TYPE_CHECKING:
    # What _formula_term makes of BS and NS: the parameters of their
    # memorize_chunk.
    def bs(x: ArrayLike, df: SupportsIndex | None = None, knots: ArrayLike | None = None,
           degree: SupportsIndex = 3, include_intercept: bool | np.bool_ = False,
           lower_bound: Real | None = None, upper_bound: Real | None = None) -> _Basis: ...

    def ns(x: ArrayLike, df: SupportsIndex | None = None, knots: ArrayLike | None = None,
           include_intercept: bool | np.bool_ = False, lower_bound: Real | None = None,
           upper_bound: Real | None = None) -> _Basis: ...
else:
    bs = _formula_term(BS, "bs", _BS_DOC)
    ns = _formula_term(NS, "ns", _NS_DOC)
