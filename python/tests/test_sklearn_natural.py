"""bsbasis.sklearn.NaturalSplineTransformer: scikit-learn's estimator
checks, the knots SplineTransformer places, and rows equal to
natural_design_matrix for each feature."""
import numpy as np
import pytest
import scipy.sparse as sp

pytest.importorskip("sklearn")
from sklearn.linear_model import LinearRegression  # noqa: E402
from sklearn.pipeline import make_pipeline  # noqa: E402
from sklearn.preprocessing import SplineTransformer as Reference  # noqa: E402
from sklearn.utils.estimator_checks import check_estimator  # noqa: E402

import bsbasis  # noqa: E402
import bsbasis.sklearn as bsbasis_sklearn  # noqa: E402
from bsbasis import _tiles  # noqa: E402
from bsbasis.sklearn import NaturalSplineTransformer  # noqa: E402

from test_natural import assert_numpydoc, run_examples  # noqa: E402


def train_data(seed=0, n=120):
    rng = np.random.default_rng(seed)
    return np.c_[rng.normal(size=n), rng.exponential(size=n), rng.uniform(-5, 5, size=n)]


@pytest.mark.parametrize("kw", [{}, {"sparse_output": True}, {"handle_missing": "zeros"},
                                {"include_bias": False, "n_knots": 3},
                                {"order": "F", "nu": 1}])
def test_check_estimator(kw):
    check_estimator(NaturalSplineTransformer(**kw))


@pytest.mark.parametrize("kind", ["uniform", "quantile"])
@pytest.mark.parametrize("include_bias", [True, False])
@pytest.mark.parametrize("nu", [0, 1, 2])
def test_rows_are_natural_design_matrices_on_splinetransformers_knots(kind, include_bias, nu):
    X = train_data(1)
    w = np.random.default_rng(2).uniform(0.0, 2.0, len(X))
    est = NaturalSplineTransformer(n_knots=6, knots=kind, include_bias=include_bias,
                                   nu=nu).fit(X, sample_weight=w)
    ref = Reference(n_knots=6, degree=3, knots=kind).fit(X, sample_weight=w)
    for i, spl in enumerate(ref.bsplines_):
        assert np.array_equal(est.knots_[:, i], spl.t[3:-3])
    Z = np.r_[X[:40], [X.min(0) - 2.0, X.max(0) + 3.0, X.min(0), X.max(0)]]
    got = est.transform(Z)
    ncols = 5 + include_bias
    assert got.shape == (len(Z), 3 * ncols) and est.n_features_out_ == 3 * ncols
    for i in range(3):
        k = est.knots_[:, i]
        expect = bsbasis.natural_design_matrix(Z[:, i], k[1:-1], k[0], k[-1],
                                               intercept=include_bias, nu=nu, format="dense")
        assert np.array_equal(got[:, i * ncols:(i + 1) * ncols], expect)


def test_sparse_and_dense_hold_the_same_and_dtypes_are_kept():
    X = train_data(3)
    dense = NaturalSplineTransformer(n_knots=7).fit(X)
    sparse = NaturalSplineTransformer(n_knots=7, sparse_output=True).fit(X)
    fortran = NaturalSplineTransformer(n_knots=7, order="F").fit(X)
    D, S, F = dense.transform(X), sparse.transform(X), fortran.transform(X)
    assert isinstance(S, sp.csr_matrix) and S.has_canonical_format
    S.check_format(full_check=True)
    assert (S.indices >= 0).all() and np.diff(S.indptr).max() <= 3 * 7
    assert np.array_equal(S.toarray(), D) and np.array_equal(F, D) and F.flags.f_contiguous
    for dtype in (np.float32, np.float64):
        got = dense.transform(X.astype(dtype))
        assert got.dtype == dtype
        assert sparse.transform(X.astype(dtype)).dtype == dtype
        assert np.allclose(got, dense.transform(X.astype(dtype).astype(np.float64)),
                           rtol=0, atol=1e-5)


def test_missing_values_give_zero_features_or_raise():
    X = train_data(4)
    Xm = X.copy()
    Xm[::7, 1] = np.nan
    est = NaturalSplineTransformer(handle_missing="zeros").fit(Xm)
    ref = NaturalSplineTransformer().fit(X[~np.isnan(Xm).any(axis=1)])
    assert np.array_equal(est.knots_[:, 1], ref.knots_[:, 1])
    got = est.transform(Xm)
    assert not got[::7, 5:10].any() and got[1::7, 5:10].any()
    assert np.array_equal(NaturalSplineTransformer(handle_missing="zeros", sparse_output=True)
                          .fit(Xm).transform(Xm).toarray(), got)
    with pytest.raises(ValueError, match="NaN"):
        NaturalSplineTransformer().fit(Xm)
    with pytest.raises(ValueError, match="NaN"):
        NaturalSplineTransformer().fit(X).transform(Xm)


def test_a_constant_feature_gives_zero_features():
    X = np.c_[np.linspace(0.0, 1.0, 20), np.full(20, 3.0)]
    for sparse in (False, True):
        got = NaturalSplineTransformer(n_knots=4, sparse_output=sparse).fit_transform(X)
        got = got.toarray() if sparse else got
        assert not got[:, 4:].any() and got[:, :4].any()


def test_quantile_knots_on_an_end_are_refused():
    X = np.r_[np.zeros(60), np.linspace(0.0, 1.0, 20)][:, None]
    with pytest.raises(ValueError, match="interior knot falls on a boundary knot"):
        NaturalSplineTransformer(n_knots=5, knots="quantile").fit(X)
    NaturalSplineTransformer(n_knots=5).fit(X)  # uniform knots are fine


def test_knots_given_as_an_array():
    X = train_data(5)
    knots = np.c_[np.linspace(-3, 3, 4), np.linspace(0, 6, 4), np.linspace(-5, 5, 4)]
    est = NaturalSplineTransformer(knots=knots).fit(X)
    assert np.array_equal(est.knots_, knots) and est.transform(X).shape == (len(X), 12)
    with pytest.raises(ValueError, match="sorted without duplicates"):
        NaturalSplineTransformer(knots=knots[::-1]).fit(X)
    with pytest.raises(ValueError, match="n_features"):
        NaturalSplineTransformer(knots=knots[:, :2]).fit(X)
    with pytest.raises(ValueError, match=">= 2"):
        NaturalSplineTransformer(knots=knots[:1]).fit(X)


def test_threads_give_the_same_bits(monkeypatch):
    X = np.random.default_rng(6).normal(size=(3000, 2))
    est = NaturalSplineTransformer(n_knots=9, threads=1).fit(X)
    ref = est.transform(X)
    ref_sparse = est.set_params(sparse_output=True).transform(X)
    monkeypatch.setattr(_tiles, "_ROWS_PER_CALL", 64)
    monkeypatch.setattr(bsbasis_sklearn, "_TILE_BYTES", 4096)
    for threads in (2, -1):
        est.set_params(threads=threads, sparse_output=False)
        assert np.array_equal(est.transform(X), ref)
        got = est.set_params(sparse_output=True).transform(X)
        assert np.array_equal(got.indptr, ref_sparse.indptr)
        assert np.array_equal(got.indices, ref_sparse.indices)
        assert np.array_equal(got.data, ref_sparse.data)


def test_feature_names():
    pd = pytest.importorskip("pandas")
    X = pd.DataFrame({"a": np.arange(10.0), "b": np.arange(10.0) ** 2})
    est = NaturalSplineTransformer(n_knots=3, include_bias=False).fit(X)
    assert list(est.get_feature_names_out()) == ["a_ns_0", "a_ns_1", "b_ns_0", "b_ns_1"]


def test_a_pipeline_fits_a_natural_spline():
    # Data on a natural cubic spline of the knots is fitted exactly, also
    # beyond the knots, where the fit continues as a line.
    x = np.linspace(0.0, 10.0, 200)[:, None]
    knots = np.linspace(0.0, 10.0, 6)
    truth = bsbasis.natural_design_matrix(x[:, 0], knots[1:-1], 0.0, 10.0, intercept=True,
                                          format="dense") @ np.array([1.0, -2, 3, 0.5, 2, -1])
    model = make_pipeline(NaturalSplineTransformer(n_knots=6), LinearRegression()).fit(x, truth)
    beyond = np.array([[-3.0], [-1.0], [12.0], [15.0]])
    expect = bsbasis.natural_design_matrix(beyond[:, 0], knots[1:-1], 0.0, 10.0,
                                           intercept=True, format="dense") @ \
        np.array([1.0, -2, 3, 0.5, 2, -1])
    assert np.allclose(model.predict(beyond), expect, rtol=0, atol=1e-9)
    slope = np.diff(model.predict(np.array([[12.0], [13.0], [14.0]])))
    assert np.allclose(slope, slope[0], rtol=0, atol=1e-9)


def test_the_example_runs_and_the_docstring_has_the_sections():
    assert_numpydoc(NaturalSplineTransformer.__doc__,
                    ("Parameters", "Attributes", "See Also", "Examples"))
    assert "option" in NaturalSplineTransformer.__doc__  # says why it is a class of its own
    for method in ("fit", "transform", "get_feature_names_out"):
        assert "Returns\n        -------" in getattr(NaturalSplineTransformer, method).__doc__
    run_examples(bsbasis_sklearn, "NaturalSplineTransformer")
