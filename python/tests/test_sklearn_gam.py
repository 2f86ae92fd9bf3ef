"""bsbasis.sklearn.GAMRegressor: scikit-learn's checks of a regressor, the
fit of bsbasis.gam.GAM it wraps, its default terms, and its use in a
pipeline on a DataFrame."""
import pickle

import numpy as np
import pytest

# The model's numerics, the same however the package is installed: run once.
pytestmark = pytest.mark.once

pytest.importorskip("sklearn")
pd = pytest.importorskip("pandas")
from sklearn.compose import ColumnTransformer  # noqa: E402
from sklearn.exceptions import NotFittedError  # noqa: E402
from sklearn.model_selection import GridSearchCV, cross_val_score  # noqa: E402
from sklearn.pipeline import make_pipeline  # noqa: E402
from sklearn.preprocessing import StandardScaler  # noqa: E402
from sklearn.utils.estimator_checks import check_estimator  # noqa: E402

from bsbasis.gam import GAM, factor, linear, s, te  # noqa: E402
from bsbasis.sklearn import GAMRegressor  # noqa: E402


def frame(n=400, seed=0):
    rng = np.random.default_rng(seed)
    d = pd.DataFrame({"age": rng.uniform(20, 80, n), "dose": rng.uniform(0, 5, n),
                      "time": rng.uniform(0, 1, n),
                      "site": rng.choice(["north", "south", "west"], n)})
    y = (np.sin(d.age / 10) + np.sqrt(d.dose) * np.cos(3 * d.time) + 0.4 * (d.site == "west")
         + rng.normal(0, 0.2, n))
    return d, y.to_numpy()


def test_check_estimator():
    check_estimator(GAMRegressor())


def test_same_fit_as_gam_with_terms_on_a_data_frame():
    d, y = frame()
    w = np.random.default_rng(1).uniform(0.5, 2.0, len(y))
    terms = [s("age"), te("dose", "time"), factor("site")]
    model = GAMRegressor(terms).fit(d, y, sample_weight=w)
    ref = GAM(terms).fit(d, y, w)
    assert model.gam_.terms_ == ref.terms_ == ["s(age)", "te(dose,time)", "site"]
    assert np.array_equal(model.gam_.coef_, ref.coef_)
    assert np.array_equal(model.predict(d), ref.predict(d))
    assert list(model.feature_names_in_) == ["age", "dose", "time", "site"]
    assert model.n_features_in_ == 4


def test_default_terms_and_rows_of_weight_zero():
    """terms=None: a smooth of every column, as GAM fits it; rows of weight
    0 are as if absent, knots included."""
    rng = np.random.default_rng(2)
    X = rng.uniform(0, 1, (300, 3))
    y = np.sin(5 * X[:, 0]) + X[:, 1] ** 2 + rng.normal(0, 0.1, 300)
    ref = GAM([s(0), s(1), s(2)]).fit(X, y)
    Xz = np.r_[X, rng.uniform(2, 3, (50, 3))]  # beyond the range: would move the knots
    yz = np.r_[y, np.full(50, 100.0)]
    w = np.r_[np.ones(300), np.zeros(50)]
    model = GAMRegressor().fit(Xz, yz, sample_weight=w)
    assert model.gam_.terms_ == ["s(x0)", "s(x1)", "s(x2)"]
    assert np.allclose(model.predict(X), ref.predict(X), rtol=0, atol=1e-10)
    assert model.score(X, y) == pytest.approx(1 - np.sum((y - ref.predict(X)) ** 2)
                                              / np.sum((y - y.mean()) ** 2), rel=1e-12)


def test_default_terms_follow_the_distinct_values():
    rng = np.random.default_rng(3)
    X = np.c_[rng.uniform(0, 1, 200), rng.integers(0, 6, 200), rng.integers(0, 3, 200),
              np.full(200, 7.0)]
    y = np.sin(4 * X[:, 0]) + 0.1 * X[:, 1] + rng.normal(0, 0.1, 200)
    model = GAMRegressor(n_knots=12).fit(X, y)
    assert model.gam_.terms_ == ["s(x0)", "s(x1)", "x2"]
    assert model.terms_[0].n_knots == (12,)
    assert model.terms_[1].n_knots == (4,)  # 6 values: 4 knots, 6 cubic functions
    with pytest.raises(ValueError, match="every column of X is constant"):
        GAMRegressor().fit(X[:, 3:], y)


def test_default_terms_of_long_columns_count_past_the_first_rows():
    """Columns longer than the rows that settle a count: their first rows
    hold fewer values than the whole column, or as many as a smooth reads."""
    from bsbasis.sklearn import _default_terms
    rng = np.random.default_rng(5)
    n = 3000
    late = np.r_[np.zeros(2000), rng.uniform(1, 2, 1000)]  # one value in the first 2000 rows
    ten = np.arange(n) % 9.0
    ten[-1] = 9.0  # the tenth value in the last row only
    X = np.c_[rng.uniform(0, 1, n), rng.integers(0, 6, n), late, ten,
              rng.integers(0, 3, n), np.full(n, 7.0)]
    assert _default_terms(X, None) == [s(0, n_knots=8), s(1, n_knots=4), s(2, n_knots=8),
                                       s(3, n_knots=8), linear(4)]
    assert _default_terms(X, 12) == [s(0, n_knots=12), s(1, n_knots=4), s(2, n_knots=12),
                                     s(3, n_knots=8), linear(4)]
    # Many columns: the rows, not the values, bound the functions.
    wide = rng.uniform(0, 1, (700, 100))
    assert _default_terms(wide, None) == [s(j, n_knots=4) for j in range(100)]
    assert _default_terms(wide[:, :4].repeat(75, axis=1), None) == \
        [linear(j) for j in range(300)]


def test_an_exact_fit_by_the_unpenalised_terms():
    """y linear in the columns: REML has no scale; the fit is exact."""
    X = np.c_[np.arange(20) % 3, (np.arange(20) * 7) % 5].astype(float)
    y = 2 * X[:, 0] - X[:, 1] + 1
    model = GAMRegressor([linear(0), linear(1)]).fit(X, y)
    assert model.gam_.method == "GCV"
    assert np.allclose(model.predict(X), y, atol=1e-10)


def test_pipeline_with_column_transformer_on_a_data_frame():
    d, y = frame(500, seed=4)
    prep = ColumnTransformer([("num", StandardScaler(), ["age", "dose", "time"]),
                              ("cat", "passthrough", ["site"])])
    prep.set_output(transform="pandas")
    terms = [s("num__age"), te("num__dose", "num__time"), factor("cat__site")]
    pipe = make_pipeline(prep, GAMRegressor(terms)).fit(d[:400], y[:400])
    gam = pipe[-1].gam_
    assert gam.terms_ == ["s(num__age)", "te(num__dose,num__time)", "cat__site"]
    assert list(gam._layouts[2].levels) == ["north", "south", "west"]
    assert pipe.score(d[400:], y[400:]) > 0.8
    scores = cross_val_score(make_pipeline(prep, GAMRegressor(terms)), d, y, cv=3)
    assert scores.min() > 0.8
    search = GridSearchCV(make_pipeline(StandardScaler(), GAMRegressor()),
                          {"gamregressor__n_knots": [3, 8]}, cv=3)
    search.fit(d[["age", "dose", "time"]], y)
    assert search.best_params_["gamregressor__n_knots"] in (3, 8)


def test_unfitted_pickled_and_bad_parameters():
    d, y = frame(200)
    with pytest.raises(NotFittedError):
        GAMRegressor().predict(d[["age"]])
    model = GAMRegressor([s(0), factor(3)]).fit(d.to_numpy(), y)
    again = pickle.loads(pickle.dumps(model))
    assert np.array_equal(again.predict(d.to_numpy()), model.predict(d.to_numpy()))
    with pytest.raises(ValueError, match="method"):
        GAMRegressor(method="ML").fit(d[["age"]], y)
    with pytest.raises(ValueError, match="n_knots"):
        GAMRegressor(n_knots=1).fit(d[["age"]], y)
    with pytest.raises(ValueError, match="a level not seen"):
        model.predict(np.array([[30.0, 1.0, 0.5, "east"]], dtype=object))
