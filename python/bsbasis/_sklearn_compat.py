"""What bsbasis.sklearn needs from scikit-learn beyond its public API, or in
a shape that changed between releases, in one place, each with a fallback.

- Input validation: the method ``BaseEstimator._validate_data`` with
  ``force_all_finite`` up to 1.5; the function
  ``sklearn.utils.validation.validate_data`` with ``ensure_all_finite``
  from 1.6 (the method is gone in 1.7).
- Tags: the dict of ``_more_tags`` up to 1.5; the dataclasses of
  ``__sklearn_tags__`` from 1.6 (``_more_tags`` is ignored from 1.7).
- Parameter validation: scikit-learn's ``_param_validation`` where it
  exists, else a plain check of the same constraints with its messages.
- The checks of sample weights and of input feature names, which
  scikit-learn keeps private: its own where they exist, else the same
  checks here, with its messages.

Each name is looked up when it is used, so that the module follows the
scikit-learn it runs with; only the constraint classes are chosen at import,
since the estimator's class attribute holds them.
"""

from __future__ import annotations

import numbers
import operator
from numbers import Integral
from typing import TYPE_CHECKING, Any, Collection, Mapping, Sequence, cast

import numpy as np
import sklearn.utils.validation as _validation
from sklearn.utils import check_array

if TYPE_CHECKING:
    from numpy.typing import ArrayLike, DTypeLike, NDArray
    from sklearn.base import BaseEstimator

# ---------------------------------------------------------------- input


def validate_data(estimator: BaseEstimator, X: ArrayLike, *, reset: bool, allow_nan: bool,
                  **check_params: Any) -> NDArray[Any]:
    """X checked as scikit-learn checks an estimator's input, setting or
    checking `n_features_in_` and `feature_names_in_`; NaN is allowed
    when `allow_nan`, infinity never."""
    finite = "allow-nan" if allow_nan else True
    function = getattr(_validation, "validate_data", None)
    if function is not None:  # 1.6 on
        return function(estimator, X, reset=reset, ensure_all_finite=finite, **check_params)
    return estimator._validate_data(X, reset=reset, force_all_finite=finite, **check_params)


def check_sample_weight(sample_weight: ArrayLike, X: NDArray[Any],
                        dtype: DTypeLike) -> NDArray[np.floating[Any]]:
    """sample_weight as a C-contiguous float array of shape (len(X),)."""
    function = getattr(_validation, "_check_sample_weight", None)
    if function is not None:
        return function(sample_weight, X, dtype=dtype)
    n = X.shape[0]
    if dtype not in (np.float32, np.float64):
        dtype = np.float64
    if isinstance(sample_weight, numbers.Number):
        return np.full(n, sample_weight, dtype=dtype)
    sample_weight = cast("NDArray[np.floating[Any]]", check_array(
        sample_weight, accept_sparse=False, ensure_2d=False, dtype=dtype, order="C",
        input_name="sample_weight"))
    if sample_weight.ndim != 1:
        raise ValueError("Sample weights must be 1D array or scalar")
    if sample_weight.shape != (n,):
        raise ValueError(
            "sample_weight.shape == {}, expected {}!".format(sample_weight.shape, (n,)))
    return sample_weight


def feature_names_in(estimator: BaseEstimator,
                     input_features: ArrayLike | None) -> NDArray[np.object_]:
    """The input feature names: `input_features` checked against the fitted
    ones, else the fitted ones, else x0, x1, ..."""
    function = getattr(_validation, "_check_feature_names_in", None)
    if function is not None:
        return function(estimator, input_features)
    names = getattr(estimator, "feature_names_in_", None)
    n = getattr(estimator, "n_features_in_", None)
    if input_features is not None:
        input_features = np.asarray(input_features, dtype=object)
        if names is not None and not np.array_equal(names, input_features):
            raise ValueError("input_features is not equal to feature_names_in_")
        if n is not None and len(input_features) != n:
            raise ValueError("input_features should have length equal to number of "
                             f"features ({n}), got {len(input_features)}")
        return input_features
    if names is not None:
        return names
    if n is None:
        raise ValueError("Unable to generate feature names without n_features_in_")
    return np.asarray([f"x{i}" for i in range(n)], dtype=object)


# ---------------------------------------------------------------- tags

class TagsMixin:
    """Declares the tags of `_declared_tags()` (scikit-learn's old names:
    'allow_nan', 'preserves_dtype') in both of scikit-learn's shapes.  Both
    methods sit in this one class: scikit-learn 1.6 falls back to the old
    shape, with a warning, when a class defines `_more_tags` alone."""

    if TYPE_CHECKING:
        # The tags, by scikit-learn's old names: the class that uses the
        # mixin gives them.
        def _declared_tags(self) -> dict[str, Any]: ...

    def _more_tags(self) -> dict[str, Any]:  # up to 1.5
        return self._declared_tags()

    def __sklearn_tags__(self) -> Any:  # from 1.6
        # BaseEstimator has it, later in the order of every class that uses
        # this mixin.
        tags = super().__sklearn_tags__()  # type: ignore[misc]
        declared = self._declared_tags()
        tags.input_tags.allow_nan = declared["allow_nan"]
        if tags.transformer_tags is not None:
            tags.transformer_tags.preserves_dtype = [
                np.dtype(t).name for t in declared["preserves_dtype"]]
        return tags


# ---------------------------------------------------------------- parameters

class InvalidParameterError(ValueError, TypeError):
    """A parameter of the wrong type or value (both a ValueError and a
    TypeError, as scikit-learn's)."""


class _Interval:
    """Numbers of `type` between `left` and `right` (None: unbounded);
    `closed` is 'left', 'right', 'both' or 'neither'."""

    def __init__(self, type: type[Any], left: float | None, right: float | None, *,
                 closed: str) -> None:
        self.type, self.left, self.right, self.closed = type, left, right, closed

    def is_satisfied_by(self, value: object) -> bool:
        if not isinstance(value, self.type) or np.isnan(value):
            return False
        below = operator.lt if self.closed in ("left", "both") else operator.le
        above = operator.gt if self.closed in ("right", "both") else operator.ge
        left = -np.inf if self.left is None else self.left
        right = np.inf if self.right is None else self.right
        return not (below(value, left) or above(value, right))

    def __str__(self) -> str:
        kind = "an int" if self.type is Integral else "a float"
        lb = "[" if self.closed in ("left", "both") else "("
        rb = "]" if self.closed in ("right", "both") else ")"
        left = "-inf" if self.left is None else self.left
        right = "inf" if self.right is None else self.right
        return f"{kind} in the range {lb}{left}, {right}{rb}"


class _StrOptions:
    """One of a set of strings."""

    def __init__(self, options: Collection[str]) -> None:
        self.options = options

    def is_satisfied_by(self, value: object) -> bool:
        return isinstance(value, str) and value in self.options

    def __str__(self) -> str:
        return "a str among {%s}" % ", ".join(repr(o) for o in sorted(self.options))


class _Named:
    """The constraints that scikit-learn names by a string, and None."""

    def __init__(self, name: str | None) -> None:
        self.name = name

    def is_satisfied_by(self, value: object) -> bool:
        if self.name is None:
            return value is None
        if self.name == "boolean":
            return isinstance(value, (bool, np.bool_))
        if self.name == "array-like":
            return ((hasattr(value, "__len__") or hasattr(value, "shape")
                     or hasattr(value, "__array__")) and not np.isscalar(value))
        raise ValueError(f"unknown constraint {self.name!r}")

    def __str__(self) -> str:
        return {None: "None", "array-like": "an array-like",
                "boolean": "an instance of 'bool' or an instance of 'numpy.bool_'"}[self.name]


def _check_constraints(constraints: Mapping[str, Sequence[Any]], params: Mapping[str, object],
                       caller_name: str) -> None:
    """Raises InvalidParameterError for the first parameter that meets
    none of its constraints, in scikit-learn's words."""
    for name, value in params.items():
        if name not in constraints:
            continue
        options = [c if hasattr(c, "is_satisfied_by") else _Named(c) for c in constraints[name]]
        if any(c.is_satisfied_by(value) for c in options):
            continue
        text = str(options[0]) if len(options) == 1 else (
            ", ".join(str(c) for c in options[:-1]) + f" or {options[-1]}")
        raise InvalidParameterError(
            f"The {name!r} parameter of {caller_name} must be {text}. Got {value!r} instead.")


try:
    from sklearn.utils._param_validation import Interval as Interval
    from sklearn.utils._param_validation import StrOptions as StrOptions
    from sklearn.utils._param_validation import (
        validate_parameter_constraints as validate_parameter_constraints)
except ImportError:
    Interval, StrOptions, validate_parameter_constraints = _Interval, _StrOptions, \
        _check_constraints


def validate_params(estimator: BaseEstimator) -> None:
    """Checks the estimator's parameters against its `_parameter_constraints`."""
    validate_parameter_constraints(estimator._parameter_constraints,
                                   estimator.get_params(deep=False),
                                   caller_name=type(estimator).__name__)
