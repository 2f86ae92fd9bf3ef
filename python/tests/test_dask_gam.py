"""bsbasis.dask.fit_gam against GAM.fit in memory: the same model and fit
from sums formed chunk by chunk, whatever the chunks; the same errors, rows
counted from the start of the data; the same bits from the same chunks on
every run and scheduler; predictions and partial effects of dask data."""
import importlib
import os
import re
import sys

import numpy as np
import pytest

# The model's numerics, the same however the package is installed: run once.
pytestmark = pytest.mark.once

dask = pytest.importorskip("dask")
da = pytest.importorskip("dask.array")

import bsbasis.dask as bd  # noqa: E402
from bsbasis.gam import GAM, factor, linear, s, te  # noqa: E402
from dask.delayed import Delayed  # noqa: E402

N = 3000
TERMS = [s(0), te(1, 2), factor(3), linear(4)]


def make_data(n=N, seed=0):
    rng = np.random.default_rng(seed)
    X = rng.uniform(0, 1, (n, 5))
    X[:, 3] = rng.integers(0, 3, n)
    y = (np.sin(6 * X[:, 0]) + np.sin(3 * X[:, 1]) * np.cos(4 * X[:, 2]) + 0.3 * X[:, 3]
         + 0.5 * X[:, 4] + rng.normal(0, 0.2, n))
    w = rng.uniform(0.5, 2.0, n)
    w[rng.random(n) < 0.1] = 0.0
    return X, y, w


def chunked(X, y, w, rows):
    return (da.from_array(X, chunks=(rows, 2)), da.from_array(y, chunks=rows),
            da.from_array(w, chunks=rows))


def relative(a, b):
    return np.max(np.abs(np.asarray(a) - np.asarray(b))) / np.max(np.abs(b))


def assert_same_fit(fit, ref, tol, vp_tol=None, new=None):
    """The same fit to within tol; the covariance to within vp_tol (GCV
    takes one smoothing parameter near 0 in this model, and X'WX + S is
    then ill-conditioned enough that rounding in the sums reaches 2e-10 of
    its inverse)."""
    assert fit.terms_ == ref.terms_
    for name in ("coef_", "lam_", "edf_"):
        assert relative(getattr(fit, name), getattr(ref, name)) < tol, name
    assert relative(fit.Vp_, ref.Vp_) < (vp_tol or tol)
    new = make_data(200, seed=9)[0] if new is None else new
    assert relative(fit.predict(new), ref.predict(new)) < tol
    assert abs(fit.scale_ / ref.scale_ - 1) < tol
    assert abs(fit.score_ / ref.score_ - 1) < tol
    assert fit._problem_.n == ref._problem_.n


@pytest.mark.parametrize("method", ["REML", "GCV"])
@pytest.mark.parametrize("rows, split_every", [(1000, None), (777, None), (300, 2)])
def test_same_fit_as_in_memory(rows, split_every, method):
    X, y, w = make_data()
    ref = GAM(TERMS, method=method).fit(X, y, w)
    fit = bd.fit_gam(TERMS, *chunked(X, y, w, rows), method=method, split_every=split_every)
    assert_same_fit(fit, ref, 1e-10, 1e-9 if method == "GCV" else None)


def test_same_fit_at_fixed_lam_for_small_chunks():
    """At given smoothing parameters nothing is searched: the sums alone decide."""
    X, y, w = make_data()
    lam = [2.0, 0.1, 0.02]
    ref = GAM(TERMS, lam=lam).fit(X, y, w)
    for rows in (256, 1111):
        assert_same_fit(bd.fit_gam(TERMS, *chunked(X, y, w, rows), lam=lam), ref, 1e-10)


def test_the_same_bits_on_every_run_and_scheduler():
    X, y, w = make_data()
    data = chunked(X, y, w, 250)
    runs = [bd.fit_gam(TERMS, *data, split_every=3)]
    for scheduler in ("sync", "threads"):
        with dask.config.set(scheduler=scheduler):
            runs.append(bd.fit_gam(TERMS, *data, split_every=3))
    for other in runs[1:]:
        for name in ("coef_", "lam_", "Vp_"):
            assert np.array_equal(getattr(other, name), getattr(runs[0], name)), name
        assert np.array_equal(other._problem_.gram, runs[0]._problem_.gram)


MADE = []


def _made(block, name, block_id=None):
    """A chunk of X passed through, its making recorded."""
    MADE.append((name, block_id[0]))
    return block


def _response(block, block_id=None):
    """y made from a chunk of X, its making recorded."""
    MADE.append(("y", block_id[0]))
    return np.sin(6 * block[:, 0]) + block[:, 4]


def test_each_chunk_is_made_once_a_pass():
    """Two passes read each chunk of X and y once each, y made from X as in
    examples/gam_cluster.py: nothing is made again for another task of the
    same pass (the first pass once made y three times a chunk, and each
    chunk's stats twice)."""
    X = make_data()[0]
    Xd = da.from_array(X, chunks=(500, -1)).map_blocks(_made, "X", dtype=float)
    yd = Xd.map_blocks(_response, drop_axis=1, dtype=float)
    del MADE[:]
    with dask.config.set(scheduler="sync"):
        bd.fit_gam(TERMS, Xd, yd, lam=[1.0, 1.0, 1.0])
    chunks = range(len(Xd.chunks[0]))
    assert sorted(MADE) == sorted([(name, i) for name in "Xy" for i in chunks] * 2)


def test_data_frame_with_named_columns_and_text_levels():
    dd = pytest.importorskip("dask.dataframe")
    pd = pytest.importorskip("pandas")
    X, y, w = make_data()
    frame = pd.DataFrame(X, columns=["a", "b", "c", "g", "d"])
    frame["g"] = np.array(["low", "mid", "high"])[X[:, 3].astype(int)]
    frame["y"], frame["w"] = y, w
    terms = [s("a"), te("b", "c"), factor("g"), linear("d")]
    ref = GAM(terms).fit(frame, y, w)
    ddf = dd.from_pandas(frame, npartitions=4)
    fit = bd.fit_gam(terms, ddf, ddf["y"], ddf["w"])
    assert_same_fit(fit, ref, 1e-10, new=frame[:200])
    assert list(fit._layouts[2].levels) == ["high", "low", "mid"]
    # y as an array beside a DataFrame: split by the partitions' lengths.
    assert_same_fit(bd.fit_gam(terms, ddf, y, w), ref, 1e-10, new=frame[:200])
    lazy = fit.predict(ddf)
    assert isinstance(lazy, dd.Series)
    assert relative(lazy.compute().to_numpy(), ref.predict(frame)) < 1e-10


def test_predict_and_partial_of_dask_arrays_are_lazy_and_equal():
    X, y, w = make_data()
    fit = bd.fit_gam(TERMS, *chunked(X, y, w, 1000))
    Z = np.random.default_rng(5).uniform(-0.1, 1.1, (700, 5))
    Z[:, 3] = np.arange(700) % 3
    Zd = da.from_array(Z, chunks=(200, 3))
    pred = fit.predict(Zd)
    assert isinstance(pred, da.Array) and pred.chunks == ((200, 200, 200, 100),)
    assert relative(pred.compute(), GAM.predict(fit, Z)) < 1e-14
    f, se = fit.partial(Zd, "te(x1,x2)", se=True)
    ref_f, ref_se = GAM.partial(fit, Z, "te(x1,x2)", se=True)
    assert relative(f.compute(), ref_f) < 1e-14 and relative(se.compute(), ref_se) < 1e-14
    assert relative(fit.predict(Z), GAM.predict(fit, Z)) == 0  # numpy as before


def test_a_bad_row_in_prediction_names_its_global_row():
    X, y, w = make_data()
    fit = bd.fit_gam(TERMS, *chunked(X, y, w, 1000))
    Z = X[:700].copy()
    Z[523, 0] = np.nan
    with pytest.raises(ValueError, match=r"rows 400 to 600: .* at row 523 \(1 rows in all\)"):
        fit.predict(da.from_array(Z, chunks=(200, 5))).compute()


def in_memory_error(X, y, w, terms=TERMS):
    with pytest.raises(ValueError) as e:
        GAM(terms).fit(X, y, w)
    return str(e.value)


@pytest.mark.parametrize("where", ["y", "w", "x0", "x1", "factor"])
def test_a_bad_row_is_named_as_in_memory(where):
    """The message of the in-memory fit, rows counted from the start of the
    data, bad rows in two chunks beyond the first."""
    X, y, w = make_data()
    rows = [1234, 2711]
    if where == "y":
        y[rows] = [np.nan, np.inf]
    elif where == "w":
        w[rows] = [-1.0, np.nan]
    elif where == "factor":
        X[rows, 3] = np.nan
    else:
        X[rows, int(where[1])] = np.inf
    message = in_memory_error(X, y, w)
    assert "at row 1234 (2 rows in all)" in message
    with pytest.raises(ValueError) as e:
        bd.fit_gam(TERMS, *chunked(X, y, w, 500))
    assert str(e.value) == message


def test_too_few_distinct_values_and_constant_columns_as_in_memory():
    X, y, w = make_data()
    X[:, 0] = np.round(X[:, 0] * 4) / 4  # 5 values for 10 basis functions
    message = in_memory_error(X, y, w)
    assert "5 distinct values" in message
    with pytest.raises(ValueError) as e:
        bd.fit_gam(TERMS, *chunked(X, y, w, 500))
    assert str(e.value) == message
    X[:, 4] = 2.5
    message = in_memory_error(X, y, w, [s(0, n_knots=3), linear(4)])
    with pytest.raises(ValueError) as e:
        bd.fit_gam([s(0, n_knots=3), linear(4)], *chunked(X, y, w, 500))
    assert str(e.value) == message


def test_few_distinct_values_give_the_in_memory_layout_and_rug():
    """Below the cap the stand-in columns hold every distinct value: the
    same knots, levels and rug as in memory."""
    X, y, w = make_data()
    X[:, 0] = np.round(X[:, 0] * 40) / 40
    terms = [s(0), linear(4)]
    ref = GAM(terms).fit(X, y, w)
    fit = bd.fit_gam(terms, *chunked(X, y, w, 700))
    assert fit._layouts[0].term == ref._layouts[0].term
    assert np.array_equal(fit._layouts[0].rugs[0], ref._layouts[0].rugs[0])
    assert_same_fit(fit, ref, 1e-10)


def test_a_basis_larger_than_the_cap_sees_enough_distinct_values(monkeypatch):
    """Columns of more distinct values than are kept: a basis of more
    functions than the cap keeps as many as it needs, and a column with too
    few for its basis is still refused."""
    monkeypatch.setattr(bd, "_DISTINCT", 20)
    X, y, w = make_data()
    terms = [s(0, n_knots=40), linear(4)]
    ref = GAM(terms, lam=[1.0]).fit(X, y, w)
    fit = bd.fit_gam(terms, *chunked(X, y, w, 400), lam=[1.0])
    assert fit._layouts[0].term == ref._layouts[0].term
    assert_same_fit(fit, ref, 1e-10)
    rug = fit._layouts[0].rugs[0]  # a sample, the extremes and 42 values at least
    assert 42 <= len(rug) <= 43 and (rug[0], rug[-1]) == (X[:, 0].min(), X[:, 0].max())
    X[:, 0] = np.round(X[:, 0] * 40) / 40  # 41 values for 42 functions
    message = in_memory_error(X, y, w, terms)
    with pytest.raises(ValueError) as e:
        bd.fit_gam(terms, *chunked(X, y, w, 400))
    assert str(e.value) == message


def test_basis_sizes_are_those_of_the_layout():
    X, y, w = make_data()
    terms = [s(0), s(1, n_knots=7, k=2), s(2, periodic=True), s(0, periodic=True, n_knots=6),
             te(1, 2, n_knots=[4, 5]), s(4, t=np.linspace(-0.6, 1.6, 14))]
    model = GAM(terms)
    model._lay_out([X[:, j] for j in range(5)], None)
    for user, lay in zip(terms, model._layouts):
        sizes = [bd._basis_size(user, i) for i in range(len(user.columns))]
        assert sizes == [m.width for m in lay.term.margins]


def test_arguments_are_checked_before_any_pass():
    X, y, w = make_data()
    Xd, yd, wd = chunked(X, y, w, 500)
    with pytest.raises(ValueError, match="column 7 is out of range"):
        bd.fit_gam([s(7)], Xd, yd)
    with pytest.raises(ValueError, match="y has 2999 entries"):
        bd.fit_gam(TERMS, Xd, yd[1:])
    with pytest.raises(ValueError, match="split_every"):
        bd.fit_gam(TERMS, Xd, yd, split_every=1)
    lazy = bd.fit_gam(TERMS, Xd, yd, wd, compute=False)
    assert isinstance(lazy, Delayed)
    assert relative(lazy.compute().coef_, bd.fit_gam(TERMS, Xd, yd, wd).coef_) == 0


@pytest.mark.filterwarnings("ignore:make_current:DeprecationWarning")
def test_cluster_example_fits_the_truth(tmp_path, capsys):
    """examples/gam_cluster.py on a cluster of two processes, a few chunks:
    the data made on the workers from the seed give back the noise and the
    curves, the same model as in memory on the same rows."""
    pytest.importorskip("distributed")
    pytest.importorskip("matplotlib")
    examples = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "examples"))
    sys.path.insert(0, examples)  # the workers import it from there too
    try:
        example = importlib.import_module("gam_cluster")
        out = tmp_path / "gam.png"
        assert example.main(["--rows", "300000", "--chunk", str(2**15), "--no-progress",
                             "--output", str(out)]) == 0
        X, y = example.lazy_data(300000, 2**15, 2024)
        Xv, yv = dask.compute(X, y, scheduler="sync")
    finally:
        sys.path.remove(examples)
    text = capsys.readouterr().out
    assert "fit of 300,000 rows" in text
    scale = float(re.search(r"scale (\S+)", text).group(1))
    assert scale == pytest.approx(example.NOISE ** 2, rel=0.01)
    gaps = [float(g) for g in re.findall(r"max \|fit - truth\| (\S+)", text)]
    assert len(gaps) == 4 and max(gaps) < 0.1
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    ref = GAM([s(0), s(1), te(2, 3), factor(4)]).fit(Xv, yv)
    assert ("lam %s" % np.array2string(ref.lam_, precision=4)) in text


# -- binomial and Poisson ---------------------------------------------------------


def family_data(family, n=N, seed=0):
    """X of make_data with a 0/1 outcome or counts from a smooth linear predictor."""
    X, _, w = make_data(n, seed)
    rng = np.random.default_rng(seed + 100)
    eta = (np.sin(6 * X[:, 0]) + np.sin(3 * X[:, 1]) * np.cos(4 * X[:, 2]) + 0.3 * X[:, 3]
           + 0.5 * X[:, 4] - 0.5)
    if family == "binomial":
        y = (rng.uniform(0, 1, n) < 1 / (1 + np.exp(-eta))).astype(float)
    else:
        y = rng.poisson(np.exp(eta)).astype(float)
    return X, y, w


def assert_same_family_fit(fit, ref, tol, new=None):
    assert fit.terms_ == ref.terms_ and fit.n_iter_ == ref.n_iter_
    for name in ("coef_", "lam_", "edf_", "Vp_"):
        assert relative(getattr(fit, name), getattr(ref, name)) < tol, name
    new = make_data(200, seed=9)[0] if new is None else new
    assert relative(fit.predict(new, type="response"), ref.predict(new, type="response")) < tol
    assert abs(fit.deviance_ / ref.deviance_ - 1) < tol
    assert fit.scale_ == 1.0 and fit._problem_.n == ref._problem_.n


@pytest.mark.parametrize("family", ["binomial", "poisson"])
@pytest.mark.parametrize("rows, split_every", [(1000, None), (333, 2)])
def test_family_fit_as_in_memory(family, rows, split_every):
    X, y, w = family_data(family)
    ref = GAM(TERMS, family=family).fit(X, y, w)
    fit = bd.fit_gam(TERMS, *chunked(X, y, w, rows), family=family, split_every=split_every)
    assert isinstance(fit, bd._DaskGAM) and fit.family == family
    assert_same_family_fit(fit, ref, 1e-9)


def test_a_looser_tol_stops_sooner_as_in_memory():
    """tol reaches the IRLS loop: a loose one stops the Poisson fit in
    fewer iterations, at the in-memory fit of the same tol."""
    X, y, w = family_data("poisson")
    data = chunked(X, y, w, 1000)
    tight = bd.fit_gam(TERMS, *data, family="poisson")
    loose = bd.fit_gam(TERMS, *data, family="poisson", tol=1e-2)
    assert loose.n_iter_ < tight.n_iter_
    assert_same_family_fit(loose, GAM(TERMS, family="poisson", tol=1e-2).fit(X, y, w), 1e-9)


@pytest.mark.parametrize("family", ["binomial", "poisson"])
def test_family_fit_by_ubre_as_in_memory(family):
    """UBRE of a working model is flat about its minimum: rounding in the
    sums moves where Newton's method stops by up to some 1e-7 (REML's
    agrees to 1e-12)."""
    X, y, _ = family_data(family, seed=2)
    ref = GAM(TERMS, family=family, method="GCV").fit(X, y)
    Xd, yd, _ = chunked(X, y, y, 333)
    assert_same_family_fit(bd.fit_gam(TERMS, Xd, yd, family=family, method="GCV"), ref, 1e-5)


@pytest.mark.parametrize("family", ["binomial", "poisson"])
def test_family_fit_gives_the_same_bits_on_every_scheduler(family):
    X, y, w = family_data(family)
    data = chunked(X, y, w, 250)
    runs = [bd.fit_gam(TERMS, *data, family=family, split_every=3)]
    for scheduler in ("sync", "threads"):
        with dask.config.set(scheduler=scheduler):
            runs.append(bd.fit_gam(TERMS, *data, family=family, split_every=3))
    for other in runs[1:]:
        for name in ("coef_", "lam_", "Vp_", "deviance_"):
            assert np.array_equal(getattr(other, name), getattr(runs[0], name)), name


def test_binomial_proportions_with_trials_as_weights_of_a_data_frame():
    dd = pytest.importorskip("dask.dataframe")
    pd = pytest.importorskip("pandas")
    X, y, _ = family_data("binomial")
    rng = np.random.default_rng(3)
    trials = rng.integers(1, 8, N).astype(float)
    trials[rng.random(N) < 0.05] = 0.0  # rows of no trials count for nothing
    p = 1 / (1 + np.exp(-np.sin(6 * X[:, 0]) - X[:, 4]))
    frame = pd.DataFrame(X, columns=["a", "b", "c", "g", "d"])
    frame["p"] = rng.binomial(trials.astype(int), p) / np.maximum(trials, 1)
    frame["trials"] = trials
    terms = [s("a"), te("b", "c"), factor("g"), linear("d")]
    ref = GAM(terms, family="binomial").fit(frame, frame.p, frame.trials)
    ddf = dd.from_pandas(frame, npartitions=3)
    fit = bd.fit_gam(terms, ddf, ddf["p"], ddf["trials"], family="binomial")
    assert_same_family_fit(fit, ref, 1e-9, new=frame[:200])
    assert fit._problem_.n == int(np.sum(trials > 0))


def _counts(block, block_id=None):
    """Counts made from a chunk of X, their making recorded."""
    MADE.append(("y", block_id[0]))
    return np.floor(3 * block[:, 0] + 2 * block[:, 4])


def test_each_iteration_reads_each_chunk_once():
    """The first pass, the start of IRLS and each iteration read every
    chunk of X and y once: n_iter_ + 2 passes, nothing kept between them."""
    X = make_data()[0]
    Xd = da.from_array(X, chunks=(500, -1)).map_blocks(_made, "X", dtype=float)
    yd = Xd.map_blocks(_counts, drop_axis=1, dtype=float)
    del MADE[:]
    with dask.config.set(scheduler="sync"):
        fit = bd.fit_gam(TERMS, Xd, yd, family="poisson", lam=[1.0, 1.0, 1.0])
    chunks = range(len(Xd.chunks[0]))
    assert fit.n_iter_ >= 2
    assert sorted(MADE) == sorted([(name, i) for name in "Xy" for i in chunks]
                                  * (fit.n_iter_ + 2))


@pytest.mark.parametrize("family, values, range_", [("binomial", [1.5, -0.25], "[0, 1]"),
                                                    ("poisson", [-1.0, -3.0], ">= 0")])
def test_a_response_outside_the_family_is_named_as_in_memory(family, values, range_):
    X, y, w = family_data(family)
    y[[1234, 2711]] = values
    with pytest.raises(ValueError) as e:
        GAM(TERMS, family=family).fit(X, y, w)
    message = str(e.value)
    assert range_ in message and "at row 1234 (2 rows in all)" in message
    with pytest.raises(ValueError) as e:
        bd.fit_gam(TERMS, *chunked(X, y, w, 500), family=family)
    assert str(e.value) == message
    # A y that is not finite is named first, though a later chunk holds it.
    y[2711] = np.nan
    with pytest.raises(ValueError, match=r"^y is NaN or inf at row 2711 \(1 rows in all\)$"):
        bd.fit_gam(TERMS, *chunked(X, y, w, 500), family=family)


def test_a_lazy_family_fit_is_refused_before_any_pass():
    X, y, w = family_data("poisson")
    Xd, yd, wd = chunked(X, y, w, 500)
    for family in ("binomial", "poisson"):
        with pytest.raises(ValueError, match="compute=False is for the Gaussian only"):
            bd.fit_gam(TERMS, Xd, yd, wd, family=family, compute=False)
    with pytest.raises(ValueError, match="family='gamma' is not supported"):
        bd.fit_gam(TERMS, Xd, yd, family="gamma")
