"""bsbasis.sklearn.SplineTransformer against scikit-learn's SplineTransformer."""
import itertools
import math
import os
import re
import subprocess
import sys


import numpy as np
import pytest
import scipy.sparse as sp
from scipy.interpolate import BSpline

pytest.importorskip("sklearn")
from sklearn.datasets import load_diabetes  # noqa: E402
from sklearn.exceptions import NotFittedError  # noqa: E402
from sklearn.linear_model import Ridge  # noqa: E402
from sklearn.model_selection import train_test_split  # noqa: E402
from sklearn.pipeline import make_pipeline  # noqa: E402
from sklearn.preprocessing import SplineTransformer as Reference  # noqa: E402
from sklearn.utils.estimator_checks import check_estimator  # noqa: E402

import bsbasis.sklearn as bsbasis_sklearn  # noqa: E402
from bsbasis import _checks, _tiles  # noqa: E402
from bsbasis.sklearn import SplineTransformer  # noqa: E402

MODES = ("error", "constant", "linear", "continue", "periodic")


def train_data(rng, n=90):
    """A smooth feature, a skewed one, and a discrete one whose quantile
    knots repeat at both ends."""
    return np.c_[rng.normal(size=n), rng.exponential(size=n),
                 rng.choice([0.0] * 4 + [1.0, 2.0] + [3.0] * 5, n)]


def query_data(X, rng, mode):
    """Training rows; except under 'error' also rows beyond both ends and the ends."""
    if mode == "error":
        return X[rng.permutation(len(X))[:40]]
    lo, hi = X.min(0), X.max(0)
    beyond = lo + (hi - lo) * rng.uniform(-0.6, 1.6, size=(60, X.shape[1]))
    return np.r_[X[:30], beyond, lo[None], hi[None]]


def reference(kw, X, Z, w):
    """(Z, scikit-learn's transform of Z), around three faults of 1.2 (see
    SplineTransformer's Notes): 'linear' with degree <= 1 is fit a feature
    at a time; under 'constant' with degree 0, x above the last knot move
    below the first; under 'linear', x beyond an end knot interval of
    length 0 move onto it."""
    ref = Reference(**kw).fit(X, sample_weight=w)
    if kw["extrapolation"] == "error":  # zero weights and knots given narrow the range
        lo = [s.t[s.k] for s in ref.bsplines_]
        hi = [s.t[-s.k - 1] for s in ref.bsplines_]
        with pytest.raises(ValueError) as exc:
            ref.transform(np.r_[Z, [lo]] - 1)
        assert_raises_as(exc.value, SplineTransformer(**kw).fit(X, sample_weight=w).transform,
                         np.r_[Z, [lo]] - 1)
        Z = np.clip(Z, lo, hi)
    t = np.array([[s.t[s.k], s.t[s.k + 1], s.t[-s.k - 2], s.t[-s.k - 1]] for s in ref.bsplines_])
    if kw["extrapolation"] == "constant" and kw["degree"] == 0:
        Z = np.where(Z > t[:, 3], t[:, 0] - 1, Z)
    if kw["extrapolation"] == "linear":
        Z = np.where((Z > t[:, 3]) & (t[:, 2] == t[:, 3]), t[:, 3], Z)
        if kw["degree"] <= 1:
            one = {k: v for k, v in kw.items() if k != "knots"}
            return Z, np.hstack([
                Reference(**one, knots=kw["knots"] if isinstance(kw["knots"], str)
                          else kw["knots"][:, [i]]).fit(X[:, [i]], sample_weight=w)
                .transform(Z[:, [i]]) for i in range(X.shape[1])])
    return Z, ref.transform(Z)


def wrapped(spl, x):
    """x mapped into the base interval, as scikit-learn's periodic transform does."""
    k, n = spl.k, len(spl.t) - spl.k - 1
    return spl.t[k] + (x - spl.t[k]) % (spl.t[n] - spl.t[k])


def assert_canonical(m, shape):
    assert type(m) is sp.csr_matrix and m.shape == shape
    c = sp.csr_matrix((m.data.copy(), m.indices.copy(), m.indptr.copy()), shape=shape)
    c.has_canonical_format = False
    c.sum_duplicates()  # sorts and merges: nothing may change
    np.testing.assert_array_equal(c.indptr, m.indptr)
    np.testing.assert_array_equal(c.indices, m.indices)


def assert_raises_as(exc, call, *args, **kwargs):
    """call raises what scikit-learn raised: exc's type and message."""
    with pytest.raises(ValueError) as got:
        call(*args, **kwargs)
    assert type(got.value) is type(exc) and _unordered(got.value) == _unordered(exc)


def _unordered(exc):
    """The message with any {...} set sorted: its order follows string
    hashing, which differs from process to process."""
    return re.sub(r"\{[^{}]*\}", lambda m: str(sorted(m.group(0)[1:-1].split(", "))),
                  str(exc))


def close(got, want):
    """Within 1e-12 of values O(1); relative where 'continue' makes them large."""
    scale = max(1.0, np.abs(want).max(initial=0.0))
    np.testing.assert_allclose(got, want, rtol=0, atol=1e-12 * scale)


# ---------------------------------------------------------------- against scikit-learn

@pytest.mark.parametrize("degree", range(6))
@pytest.mark.parametrize("knots", ["uniform", "quantile", "array"])
@pytest.mark.parametrize("mode", MODES)
def test_matches_sklearn(mode, knots, degree):
    rng = np.random.default_rng(degree * 31 + MODES.index(mode))
    X = train_data(rng)
    Z = query_data(X, rng, mode)
    n_knots_list = [2, 3, 7] + ([degree + 1] if mode == "periodic" and degree > 0 else [])
    for n_knots, bias, order, weighted in itertools.product(
            n_knots_list, [True, False], "CF", [False, True]):
        w = rng.uniform(0, 2, len(X)) * (rng.uniform(size=len(X)) > 0.2) if weighted else None
        kn = knots if knots != "array" else np.r_[
            [X.min(0)], np.sort(rng.uniform(X.min(0), X.max(0), (n_knots - 2, 3)), 0), [X.max(0)]]
        kw = dict(n_knots=n_knots, degree=degree, knots=kn, extrapolation=mode,
                  include_bias=bias, order=order)
        try:
            ref = Reference(**kw).fit(X, sample_weight=w)
        except ValueError as exc:
            assert_raises_as(exc, SplineTransformer(**kw).fit, X, sample_weight=w)
            continue
        ours = SplineTransformer(**kw).fit(X, sample_weight=w)
        for a, b in zip(ours.bsplines_, ref.bsplines_):
            assert (a.k, a.extrapolate) == (b.k, b.extrapolate)
            assert np.array_equal(a.t, b.t) and np.array_equal(a.c, b.c)
        assert ours.n_features_out_ == ref.n_features_out_
        np.testing.assert_array_equal(ours.get_feature_names_out(),
                                      ref.get_feature_names_out())
        Zm, want = reference(kw, X, Z, w)
        if mode == "constant" and degree == 0:  # zeros above the knots too
            close(ours.transform(Z), want)
        got = ours.transform(Zm)
        assert got.dtype == want.dtype and got.shape == want.shape
        assert got.flags[order + "_CONTIGUOUS"]
        close(got, want)
        got = SplineTransformer(**kw, sparse_output=True).fit(X, sample_weight=w).transform(Zm)
        assert_canonical(got, want.shape)
        close(got.toarray(), want)


@pytest.mark.parametrize("dtype", [np.float32, np.float16, np.int64])
@pytest.mark.parametrize("knots", ["uniform", "quantile"])
def test_dtypes_match_sklearn(dtype, knots):
    rng = np.random.default_rng(5)
    X = (rng.normal(size=(200, 2)) * 10).astype(dtype)
    for mode in ("constant", "periodic"):
        ref = Reference(knots=knots, extrapolation=mode).fit(X)
        ours = SplineTransformer(knots=knots, extrapolation=mode).fit(X)
        for a, b in zip(ours.bsplines_, ref.bsplines_):
            assert np.array_equal(a.t, b.t)
        want = ref.transform(X * 2)
        got = ours.transform(X * 2)
        assert got.dtype == want.dtype
        tol = 1e-12 if dtype == np.int64 else 4 * np.finfo(dtype).eps
        np.testing.assert_allclose(got.astype(float), want.astype(float), rtol=0, atol=tol)
        sparse = SplineTransformer(knots=knots, extrapolation=mode, sparse_output=True)
        got = sparse.fit(X).transform(X * 2)
        assert got.dtype == (np.float32 if dtype == np.float16 else want.dtype)
        np.testing.assert_allclose(got.toarray(), want.astype(float), rtol=0, atol=tol)


@pytest.mark.parametrize("mode", ["constant", "linear", "continue", "error"])
@pytest.mark.parametrize("degree", [1, 3])
def test_constant_feature_as_sklearn(mode, degree):
    X = np.c_[np.linspace(0, 1, 20), np.full(20, 2.5)]
    Z = X if mode == "error" else np.r_[X, [[3.0, 2.0], [-1.0, 3.0]]]
    ref = Reference(degree=degree, extrapolation=mode).fit(X)
    ours = SplineTransformer(degree=degree, extrapolation=mode).fit(X)
    assert all(np.array_equal(a.t, b.t) for a, b in zip(ours.bsplines_, ref.bsplines_))
    close(ours.transform(Z), ref.transform(Z))
    assert not ours.transform(Z)[:, -degree - 4:].any()
    with pytest.raises(ValueError, match="constant"):
        SplineTransformer(extrapolation="periodic").fit(X)


def test_pipeline_with_ridge_scores_as_sklearn():
    X, y = load_diabetes(return_X_y=True)
    Xa, Xb, ya, yb = train_test_split(X, y, random_state=0)
    for kw in [{}, dict(knots="quantile", n_knots=7, extrapolation="linear"),
               dict(knots="quantile", extrapolation="periodic", include_bias=False)]:
        want = make_pipeline(Reference(**kw), Ridge(alpha=1e-3)).fit(Xa, ya).score(Xb, yb)
        got = make_pipeline(SplineTransformer(**kw), Ridge(alpha=1e-3)).fit(Xa, ya)
        assert abs(got.score(Xb, yb) - want) <= 1e-10
        got = make_pipeline(SplineTransformer(**kw, sparse_output=True),
                            Ridge(alpha=1e-3, solver="sparse_cg", tol=1e-12)).fit(Xa, ya)
        assert abs(got.score(Xb, yb) - want) <= 1e-10


# ---------------------------------------------------------------- scikit-learn's checks

@pytest.mark.parametrize("kw", [{}, dict(sparse_output=True), dict(handle_missing="zeros"),
                                dict(extrapolation="periodic", sparse_output=True),
                                dict(nu=1, include_bias=False, order="F", threads=2)])
def test_check_estimator(kw):
    # check_sample_weights_pandas_series needs pandas; without it it is skipped.
    check_estimator(SplineTransformer(**kw))


def test_core_package_does_not_import_sklearn():
    code = "import sys, bsbasis; sys.exit('sklearn' in sys.modules)"
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    assert subprocess.run([sys.executable, "-c", code], cwd=here).returncode == 0


def test_feature_names_from_dataframe():
    pd = pytest.importorskip("pandas")
    X = pd.DataFrame({"a": np.arange(10.0), "b": np.arange(10.0) ** 2})
    ours, ref = SplineTransformer().fit(X), Reference().fit(X)
    np.testing.assert_array_equal(ours.feature_names_in_, ref.feature_names_in_)
    np.testing.assert_array_equal(ours.get_feature_names_out(), ref.get_feature_names_out())


BAD_PARAMS = [dict(n_knots=1), dict(n_knots=2.5), dict(degree=-1), dict(knots="middle"),
              dict(extrapolation="wrap"), dict(include_bias="no"), dict(order="K"),
              dict(knots=np.array([[1.0, 2.0]])), dict(knots=np.array([[0.0], [1.0]])),
              dict(knots=np.array([[0.0, 0], [2, 1], [1, 2]])),
              dict(extrapolation="periodic", n_knots=3, degree=3)]


@pytest.mark.parametrize("kw", BAD_PARAMS)
def test_bad_params_raise_as_sklearn(kw):
    X = np.arange(20.0).reshape(10, 2)
    with pytest.raises(ValueError) as want:
        Reference(**kw).fit(X)
    assert_raises_as(want.value, SplineTransformer(**kw).fit, X)


@pytest.mark.parametrize("kw", [dict(sparse_output="yes"), dict(handle_missing="mean"),
                                dict(nu=-1), dict(nu=0.5), dict(threads=0)])
def test_bad_new_params(kw):
    with pytest.raises(ValueError, match=list(kw)[0]):
        SplineTransformer(**kw).fit(np.arange(20.0).reshape(10, 2))


def test_bad_input_raises_as_sklearn():
    X = np.arange(20.0).reshape(10, 2)
    for est in (Reference(), SplineTransformer()):
        with pytest.raises(NotFittedError):
            est.transform(X)
    ours, ref = SplineTransformer().fit(X), Reference().fit(X)
    cases = [np.arange(9.0).reshape(3, 3), np.where(X > 3, np.nan, X), np.full((2, 2), np.inf)]
    for Z in cases:
        with pytest.raises(ValueError) as want:
            ref.transform(Z)
        assert_raises_as(want.value, ours.transform, Z)
    with pytest.raises(ValueError) as want:
        Reference(extrapolation="error").fit(X).transform(X + 0.5)
    assert_raises_as(want.value, SplineTransformer(extrapolation="error").fit(X).transform,
                     X + 0.5)
    with pytest.raises(ValueError, match="Input X contains infinity"):
        SplineTransformer(handle_missing="zeros").fit(X).transform(np.full((2, 2), np.inf))
    with pytest.raises(NotFittedError):
        SplineTransformer().penalty_matrix()


# ---------------------------------------------------------------- additions

@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("sparse", [False, True])
def test_missing_values_give_zero_features(mode, sparse):
    rng = np.random.default_rng(7)
    X = rng.uniform(0, 1, (80, 2))
    Xn = X.copy()
    Xn[::4, 0] = np.nan
    Xn[::3, 1] = np.nan
    ours = SplineTransformer(extrapolation=mode, handle_missing="zeros", sparse_output=sparse)
    got = ours.fit(Xn).transform(Xn)
    got = got.toarray() if sparse else got
    n = got.shape[1] // 2
    for i in range(2):
        nan = np.isnan(Xn[:, i])
        alone = Reference(extrapolation=mode).fit(Xn[~nan][:, [i]])
        assert np.array_equal(ours.bsplines_[i].t, alone.bsplines_[0].t)
        assert not got[nan, i * n:(i + 1) * n].any()
        close(got[~nan, i * n:(i + 1) * n], alone.transform(Xn[~nan][:, [i]]))
    if sparse:
        assert ours.transform(Xn)[np.isnan(Xn[:, 0])][:, :n].nnz == 0
    with pytest.raises(ValueError, match="only missing"):
        SplineTransformer(handle_missing="zeros").fit(np.c_[X[:, 0], np.full(80, np.nan)])
    if mode == "error":  # scipy's message for sparse output, as in scikit-learn
        with pytest.raises(ValueError, match="Out of bounds" if sparse else "beyond the limits"):
            ours.transform(Xn + 2)


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("degree", range(6))
def test_derivatives(mode, degree):
    rng = np.random.default_rng(degree)
    X = rng.uniform(-1, 2, (100, 2))
    for nu, n_knots in itertools.product(range(1, degree + 3), [max(2, degree + 1), 6]):
        kw = dict(degree=degree, n_knots=n_knots, extrapolation=mode, nu=nu)
        ours = SplineTransformer(**kw).fit(X)
        sparse = SplineTransformer(**kw, sparse_output=True).fit(X).transform(X).toarray()
        want = np.zeros_like(sparse)
        if nu <= degree:  # scipy reads out of bounds beyond the degree
            want = np.hstack([s(wrapped(s, x) if mode == "periodic" else x, nu=nu)
                              for s, x in zip(ours.bsplines_, X.T)])
        close(ours.transform(X), want)
        close(sparse, want)
    if mode in ("constant", "linear") and degree >= 1:
        ours = SplineTransformer(degree=degree, extrapolation=mode, nu=1).fit(X)
        lo = X.min(0)
        got = ours.transform(np.array([lo - 1, lo - 3]))
        slope = np.hstack([s(v, nu=1) for s, v in zip(ours.bsplines_, lo)])
        close(got, np.vstack([slope, slope]) * (mode == "linear"))
        assert (mode == "constant") or np.abs(slope).max() > 0


@pytest.mark.parametrize("kw", [dict(), dict(include_bias=False, extrapolation="linear"),
                                dict(extrapolation="periodic", degree=2, n_knots=3),
                                dict(knots="quantile", extrapolation="continue", degree=0)])
def test_tiles_and_threads_give_the_same_bits(kw, monkeypatch):
    rng = np.random.default_rng(11)
    X = train_data(rng, 500)
    X[::7, 0] = np.nan
    est = SplineTransformer(handle_missing="zeros", **kw).fit(X)
    outs = []
    for tile, threads, limit in [(16384, 1, 2**31 - 1), (7, 3, 2**31 - 1), (50, 2, 10)]:
        monkeypatch.setattr(_tiles, "_ROWS_PER_CALL", tile)
        monkeypatch.setattr(_tiles, "_INDEX32_LIMIT", limit)
        est.set_params(threads=threads)
        outs.append([est.set_params(sparse_output=False, order=o).transform(X.astype(t))
                     for o in "CF" for t in (np.float64, np.float32)])
        outs[-1].append(est.set_params(sparse_output=True).transform(X))
        assert outs[-1][-1].indices.dtype == (np.int64 if limit == 10 else np.int32)
    for got in outs[1:]:
        for a, b in zip(got[:-1], outs[0][:-1]):
            assert a.dtype == b.dtype and a.flags.c_contiguous == b.flags.c_contiguous
            np.testing.assert_array_equal(a, b)
        assert_canonical(got[-1], got[0].shape)
        np.testing.assert_array_equal(got[-1].toarray(), outs[0][-1].toarray())
        np.testing.assert_array_equal(got[-1].toarray(), got[0])


@pytest.mark.parametrize("mode", ["constant", "periodic"])
@pytest.mark.parametrize("bias", [True, False])
@pytest.mark.parametrize("order", [1, 2, 3])
def test_penalty_matrix(mode, bias, order):
    X = np.linspace(0, 1, 30)[:, None] * [1, 2]
    est = SplineTransformer(n_knots=6, extrapolation=mode, include_bias=bias).fit(X)
    n = est.bsplines_[0].c.shape[1]
    eye = np.eye(n)
    if mode == "periodic":  # differences that wrap around
        D = sum((-1) ** (order - q) * math.comb(order, q) * np.roll(eye, q, axis=1)
                for q in range(order + 1))
    else:
        D = np.diff(eye, order, axis=0)
    block = (D.T @ D)[:n - 1 + bias, :n - 1 + bias]
    P = est.penalty_matrix(order)
    assert type(P) is sp.csr_matrix and P.shape == (est.n_features_out_,) * 2
    assert_canonical(P, P.shape)
    np.testing.assert_array_equal(P.toarray(), np.kron(np.eye(2), block))
    if bias:  # constants are not penalised
        assert not (P @ np.ones(P.shape[0])).any()
    with pytest.raises(ValueError, match="order"):
        est.penalty_matrix(5)


def _sparse_error_in_sklearn(est, Z):
    """What scikit-learn from 1.3 raises for sparse output under 'error':
    scipy's error from BSpline.design_matrix on the first feature beyond its
    knots, NaN there replaced by the feature's smallest value."""
    for spl, x in zip(est.bsplines_, Z.T.astype(np.float64)):
        x = np.where(np.isnan(x), np.nanmin(x), x)
        try:
            BSpline.design_matrix(x, spl.t, spl.k, extrapolate=False)
        except ValueError as exc:
            return exc
    raise AssertionError("Z is within the knots")


@pytest.mark.parametrize("case", ["tiles", "float32", "missing", "constant"])
def test_out_of_range_raises_as_sklearn(case, monkeypatch):
    rng = np.random.default_rng(13)
    X = train_data(rng, 3000)
    if case == "constant":
        X[:, 2] = 1.5
    if case == "missing":
        X[::5, 1] = np.nan
    Z = X.copy()
    Z[2500, 1] = -1.0  # the first feature beyond its knots, in a late tile
    Z[10, 2] = 9.0  # a later feature beyond, in the first tile
    if case == "float32":
        X, Z = X.astype(np.float32), Z.astype(np.float32)
    monkeypatch.setattr(_tiles, "_ROWS_PER_CALL", 256)
    missing = "zeros" if case == "missing" else "error"
    for threads in (1, 2):
        kw = dict(extrapolation="error", handle_missing=missing, threads=threads)
        with pytest.raises(ValueError) as got:
            SplineTransformer(**kw).fit(X).transform(Z)
        assert str(got.value) == "X contains values beyond the limits of the knots."
        est = SplineTransformer(**kw, sparse_output=True).fit(X)
        with pytest.raises(ValueError) as got:
            est.transform(Z)
        assert str(got.value) == str(_sparse_error_in_sklearn(est, Z))


def test_threads_minus_one_is_every_core(monkeypatch):
    rng = np.random.default_rng(17)
    X = train_data(rng, 2000)
    X[::9, 1] = np.nan
    seen = []
    run = bsbasis_sklearn._run_tiles

    def spy(n, rows, workers, *args):
        seen.append(workers)
        return run(n, rows, workers, *args)

    monkeypatch.setattr(bsbasis_sklearn, "_run_tiles", spy)
    monkeypatch.setattr(_tiles, "_ROWS_PER_CALL", 128)
    kw = dict(handle_missing="zeros", extrapolation="linear")
    est = SplineTransformer(**kw, threads=1).fit(X)
    want = [est.set_params(sparse_output=s).transform(X) for s in (False, True)]
    cores = _checks.cores()
    for threads, workers in [(-1, cores), (-cores, 1)]:
        est = SplineTransformer(**kw, threads=threads).fit(X)
        dense, sparse = [est.set_params(sparse_output=s).transform(X) for s in (False, True)]
        assert seen[-2:] == [workers, workers]
        np.testing.assert_array_equal(dense, want[0])
        for name in ("data", "indices", "indptr"):
            np.testing.assert_array_equal(getattr(sparse, name), getattr(want[1], name))


def test_an_interrupted_transform_starts_no_further_tile(monkeypatch):
    # The transform runs its tiles through the package's tile runner: an
    # interrupt reaches the caller, and only the tiles under way ran.
    X = np.random.default_rng(5).uniform(size=(200_000, 2))
    st = SplineTransformer(n_knots=8, threads=2).fit(X)
    started, shape = [], []
    run = bsbasis_sklearn._run_tiles

    def counted(n, rows, workers, order, tile_out, fn):
        shape.append(-(-n // rows))

        def each(a, m, scratch):
            started.append(a)
            fn(a, m, scratch)
        return run(n, rows, workers, order, tile_out, each)

    def interrupted(futures):
        raise KeyboardInterrupt

    monkeypatch.setattr(_checks, "cores", lambda: 2)
    monkeypatch.setattr(bsbasis_sklearn, "_run_tiles", counted)
    monkeypatch.setattr(_tiles, "_wait", interrupted)
    with pytest.raises(KeyboardInterrupt):
        st.transform(X)
    assert shape[0] >= 10
    assert len(started) <= 4
