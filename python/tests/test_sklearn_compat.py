"""bsbasis.sklearn under the shapes of scikit-learn that cannot be installed
here: 1.6 on (``validate_data`` a function, ``__sklearn_tags__``), 1.7 on
(``BaseEstimator._validate_data`` gone), and private helpers removed."""
import dataclasses
import os
import re
import subprocess
import sys
import textwrap

import numpy as np
import pytest

pytest.importorskip("sklearn")
from sklearn.base import BaseEstimator, TransformerMixin  # noqa: E402
from sklearn.utils import _param_validation  # noqa: E402

from bsbasis import _sklearn_compat as compat  # noqa: E402
from bsbasis.sklearn import SplineTransformer  # noqa: E402

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


@dataclasses.dataclass
class _InputTags:  # the fields of scikit-learn 1.6's dataclasses that matter here
    allow_nan: bool = False


@dataclasses.dataclass
class _TransformerTags:
    preserves_dtype: list = dataclasses.field(default_factory=lambda: ["float64"])


@dataclasses.dataclass
class _Tags:
    transformer_tags: object = None
    input_tags: _InputTags = dataclasses.field(default_factory=_InputTags)


def test_tags_in_both_shapes(monkeypatch):
    for missing in ("error", "zeros"):
        est = SplineTransformer(handle_missing=missing)
        old = est._get_tags()
        assert old["allow_nan"] == (missing == "zeros")
        assert old["preserves_dtype"] == [np.float64, np.float32]
        # 1.6 on: BaseEstimator makes the tags, TransformerMixin adds its own.
        monkeypatch.setattr(BaseEstimator, "__sklearn_tags__", lambda self: _Tags(),
                            raising=False)

        def transformer_tags(self):
            tags = super(TransformerMixin, self).__sklearn_tags__()
            tags.transformer_tags = _TransformerTags()
            return tags

        monkeypatch.setattr(TransformerMixin, "__sklearn_tags__", transformer_tags,
                            raising=False)
        new = est.__sklearn_tags__()
        assert new.input_tags.allow_nan == (missing == "zeros")
        assert new.transformer_tags.preserves_dtype == ["float64", "float32"]
    # scikit-learn 1.6 reads the old tags, with a warning, from any class that
    # defines _more_tags without __sklearn_tags__.
    for cls in SplineTransformer.__mro__:
        if cls.__module__.startswith("bsbasis") and "_more_tags" in vars(cls):
            assert "__sklearn_tags__" in vars(cls), cls


def _unordered(exc):
    """The message with its {...} set sorted: scikit-learn prints sets in
    hash order."""
    return re.sub(r"\{[^{}]*\}", lambda m: str(sorted(m.group(0)[1:-1].split(", "))),
                  str(exc))


def _as_fallback(constraint):
    if isinstance(constraint, _param_validation.Interval):
        c = constraint
        return compat._Interval(c.type, c.left, c.right, closed=c.closed)
    if isinstance(constraint, _param_validation.StrOptions):
        return compat._StrOptions(constraint.options)
    return constraint


@pytest.mark.parametrize("kw", [
    dict(n_knots=1), dict(n_knots=2.5), dict(degree=-1), dict(knots="middle"),
    dict(knots=3), dict(extrapolation="wrap"), dict(order="K"), dict(handle_missing="mean"),
    dict(nu=-1), dict(nu=0.5), dict(threads=0), dict(threads=1.5), dict(threads="all"),
    dict(n_knots=np.int64(3), threads=-1, knots=np.zeros((2, 1)), degree=True)])
def test_parameter_check_without_param_validation(kw):
    real = SplineTransformer._parameter_constraints
    plain = {name: [_as_fallback(c) for c in cs] for name, cs in real.items()}
    params = SplineTransformer(**kw).get_params()
    try:
        _param_validation.validate_parameter_constraints(real, params, "SplineTransformer")
    except _param_validation.InvalidParameterError as exc:
        with pytest.raises(compat.InvalidParameterError) as got:
            compat._check_constraints(plain, params, "SplineTransformer")
        assert isinstance(got.value, ValueError) and isinstance(got.value, TypeError)
        assert _unordered(got.value) == _unordered(exc)
    else:
        compat._check_constraints(plain, params, "SplineTransformer")


def test_boolean_check_without_param_validation():
    # scikit-learn from 1.4 refuses integers for booleans.
    plain = {"include_bias": ["boolean"]}
    compat._check_constraints(plain, {"include_bias": np.bool_(False)}, "S")
    with pytest.raises(compat.InvalidParameterError,
                       match=r"^The 'include_bias' parameter of S must be an instance of "
                             r"'bool' or an instance of 'numpy.bool_'. Got 1 instead.$"):
        compat._check_constraints(plain, {"include_bias": 1}, "S")


# The shape of scikit-learn after 1.7 with its private helpers gone, set up
# before bsbasis.sklearn is imported; scikit-learn's own transformer, run
# before, gives the answers.
FUTURE = textwrap.dedent("""
    import sys
    import numpy as np
    import sklearn.utils.validation as validation
    from sklearn.base import BaseEstimator
    from sklearn.preprocessing import SplineTransformer as Reference

    rng = np.random.default_rng(3)
    X, w = rng.exponential(size=(50, 2)), rng.uniform(0, 2, 50)
    kw = dict(knots="quantile", n_knots=4)
    cases = [lambda e: e.fit(X, sample_weight=w[:-1]),
             lambda e: e.fit(X, sample_weight=np.c_[w, w]),
             lambda e: e.fit(X).get_feature_names_out(["a"]),
             lambda e: e.set_params(n_knots=1).fit(X),
             lambda e: e.fit(X).transform(np.where(X > 1, np.nan, X)),
             lambda e: e.fit(X).transform(X[:, :1])]
    try:
        import pandas as pd
        frame = pd.DataFrame(X, columns=["a", "b"])
        cases.append(lambda e: e.fit(frame).get_feature_names_out(["b", "a"]))
    except ImportError:
        pass

    def error(call, est):
        try:
            call(est)
        except ValueError as exc:
            return str(exc)

    ref = Reference(**kw).fit(X, sample_weight=w)
    want, names = ref.transform(X), ref.get_feature_names_out(["a", "b"])
    errors = [error(call, Reference(**kw)) for call in cases]
    assert None not in errors

    method = BaseEstimator._validate_data
    def validate_data(_estimator, /, X="no_validation", y="no_validation", reset=True,
                      validate_separately=False, skip_check_array=False, **check_params):
        check_params["force_all_finite"] = check_params.pop("ensure_all_finite")
        return method(_estimator, X, y, reset=reset, **check_params)
    del BaseEstimator._validate_data
    validation.validate_data = validate_data
    del validation._check_sample_weight, validation._check_feature_names_in
    sys.modules["sklearn.utils._param_validation"] = None

    from bsbasis import _sklearn_compat as compat
    from bsbasis.sklearn import SplineTransformer
    assert compat.Interval is compat._Interval
    ours = SplineTransformer(**kw).fit(X, sample_weight=w)
    assert all(np.array_equal(a.t, b.t) for a, b in zip(ours.bsplines_, ref.bsplines_))
    assert np.abs(ours.transform(X) - want).max() < 1e-12
    assert list(ours.get_feature_names_out(["a", "b"])) == list(names)
    got = [error(call, SplineTransformer(**kw)) for call in cases]
    assert got == errors, (got, errors)
    Xn = np.where(X > 1, np.nan, X)
    zeros = SplineTransformer(handle_missing="zeros").fit(Xn).transform(Xn)
    assert not zeros[np.isnan(Xn[:, 0]), :7].any() and zeros[:, :7].any()
    print("ok")
""")


def test_future_scikit_learn_without_private_names():
    run = subprocess.run([sys.executable, "-c", FUTURE], cwd=HERE, capture_output=True,
                         text=True)
    assert run.returncode == 0 and run.stdout.strip() == "ok", run.stderr[-3000:]
