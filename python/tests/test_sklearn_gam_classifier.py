"""bsbasis.sklearn.GAMClassifier: the binomial GAM it wraps, its labels,
one-vs-rest for more classes, and scikit-learn's estimator checks."""
import numpy as np
import pytest

# The model's numerics, the same however the package is installed: run once.
pytestmark = pytest.mark.once

pytest.importorskip("sklearn")
from sklearn.utils.estimator_checks import check_estimator  # noqa: E402

from bsbasis.gam import GAM, linear, s  # noqa: E402
from bsbasis.sklearn import GAMClassifier  # noqa: E402


def noisy(n=400, seed=0):
    rng = np.random.default_rng(seed)
    X = rng.uniform(-1, 1, (n, 2))
    p = 1 / (1 + np.exp(-3 * np.sin(3 * X[:, 0]) - X[:, 1]))
    return X, (rng.uniform(size=n) < p)


def test_two_classes_are_the_binomial_gam_of_the_second():
    X, hit = noisy()
    y = np.where(hit, "yes", "no")
    clf = GAMClassifier().fit(X, y)
    model = GAM([s(0), s(1)], family="binomial").fit(X, hit.astype(float))
    assert list(clf.classes_) == ["no", "yes"]
    assert np.allclose(clf.predict_proba(X)[:, 1], model.predict(X), rtol=1e-12, atol=0)
    assert np.allclose(clf.decision_function(X), model.predict(X, type="link"), rtol=1e-12)
    assert np.array_equal(clf.predict(X), np.where(model.predict(X) > 0.5, "yes", "no"))


def test_few_distinct_values_get_fewer_knots_or_a_linear_term():
    X, hit = noisy()
    X = X.copy()
    X[:, 1] = np.round(X[:, 1] * 2)  # 5 values: 5 functions
    X = np.column_stack([X, (X[:, 0] > 0).astype(float)])  # 2 values: linear
    clf = GAMClassifier().fit(X, hit)
    model = GAM([s(0), s(1, n_knots=3), linear(2)], family="binomial").fit(X, hit * 1.0)
    assert np.allclose(clf.predict_proba(X)[:, 1], model.predict(X), rtol=1e-12)


def test_zero_weights_are_rows_left_out():
    X, hit = noisy()
    w = np.ones(len(X))
    w[::3] = 0
    a = GAMClassifier().fit(X, hit, sample_weight=w)
    b = GAMClassifier().fit(X[w > 0], hit[w > 0])
    assert np.allclose(a.predict_proba(X), b.predict_proba(X), rtol=1e-12)


def test_three_classes_one_vs_rest():
    rng = np.random.default_rng(5)
    X = rng.uniform(0, 3, (600, 1))
    y = np.floor(X[:, 0] + rng.normal(0, 0.3, 600)).clip(0, 2).astype(int)
    clf = GAMClassifier().fit(X, y)
    proba = clf.predict_proba(X)
    assert proba.shape == (600, 3) and np.allclose(proba.sum(axis=1), 1.0)
    assert len(clf.models_) == 3
    assert np.array_equal(clf.predict(X), np.argmax(clf.decision_function(X), axis=1))
    assert clf.score(X, y) > 0.75


def test_one_class_is_an_error():
    X, _ = noisy()
    with pytest.raises(ValueError, match="only one class"):
        GAMClassifier().fit(X, np.ones(len(X)))


def test_check_estimator():
    check_estimator(GAMClassifier())


def test_few_rows_give_fewer_coefficients_than_rows():
    X, hit = noisy(n=400, seed=3)
    X = np.column_stack([X, X[:, ::-1] ** 2, X[:, 0] * X[:, 1]])[:31]  # 31 rows, 5 columns
    clf = GAMClassifier().fit(X, hit[:31])
    # (31 - 1) // 5 = 6 functions a column: 4 knots
    assert clf.models_[0].terms == [s(j, n_knots=4) for j in range(5)]
    assert clf.models_[0].coef_.size == 26
