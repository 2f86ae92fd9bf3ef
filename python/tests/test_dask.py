"""bsbasis.dask: chunked normal equations and fits against the in-memory ones."""
import importlib
import os
import pickle
import re
import subprocess
import sys

import numpy as np
import pytest

da = pytest.importorskip("dask.array")
import dask  # noqa: E402
from dask.delayed import Delayed  # noqa: E402

import bsbasis  # noqa: E402
import bsbasis.dask as bd  # noqa: E402
from bsbasis._abi import NORMAL_TILE as TILE  # noqa: E402
from bsbasis._pspline import fit_pspline  # noqa: E402

K = 3
T = bsbasis.make_knots(np.array([-1.0, 2.0]), 12, K)


def data(m, seed=0):
    rng = np.random.default_rng(seed)
    x = rng.uniform(-1.0, 2.0, m)
    return x, np.sin(3 * x) + 0.1 * rng.standard_normal(m), rng.uniform(0.0, 2.0, m)


def block_x(seed, block_info=None):
    rng = np.random.default_rng([seed, block_info[None]["chunk-location"][0]])
    return rng.uniform(-1.0, 2.0, block_info[None]["chunk-shape"][0])


def block_y(seed, block_info=None):
    m = block_info[None]["chunk-shape"][0]
    rng = np.random.default_rng([seed, block_info[None]["chunk-location"][0]])
    return np.cos(rng.uniform(-1.0, 2.0, m)) + 0.1 * rng.standard_normal(m)


def lazy(m, chunk, seed=7):
    """x and y made chunk by chunk from the seed when a task needs them."""
    chunks = ((chunk,) * (m // chunk) + ((m % chunk,) if m % chunk else ()),)
    return tuple(da.map_blocks(f, seed, chunks=chunks, dtype=float, meta=np.empty(0))
                 for f in (block_x, block_y))


def assert_close(ne, ref, rtol):
    for a, b in ((ne.gram, ref.gram), (ne.rhs, ref.rhs)):
        if b is not None:
            assert np.abs(a - b).max() <= rtol * np.abs(b).max()
    if ref.yty is not None:
        assert ne.yty == pytest.approx(ref.yty, rel=rtol, abs=0)
    assert ne.sum_weights == pytest.approx(ref.sum_weights, rel=rtol, abs=0)
    assert ne.count == ref.count


def assert_same(a, b):
    assert np.array_equal(a.gram, b.gram)
    assert (a.rhs is None and b.rhs is None) or np.array_equal(a.rhs, b.rhs)
    assert (a.yty, a.sum_weights, a.count) == (b.yty, b.sum_weights, b.count)


@pytest.mark.parametrize("case", [
    dict(),
    dict(y=True),
    dict(y=True, weights=True),
    dict(y=True, weights=True, nu=1, extrapolate="zero", scale=1.5),
])
def test_matches_in_memory_and_repeats_its_bits(case):
    x, y, w = data(300_001)
    x = x * case.get("scale", 1.0)  # 1.5: a third outside, empty rows
    kw = dict(y=y if case.get("y") else None, weights=w if case.get("weights") else None,
              nu=case.get("nu", 0), extrapolate=case.get("extrapolate", False))
    ref = bsbasis.normal_equations(x, T, K, **kw)
    dkw = {k: (v if v is None or k not in ("y", "weights") else da.from_array(v, 50_000))
           for k, v in kw.items()}
    lazy_ne = bd.normal_equations(da.from_array(x, 50_000), T, K, compute=False, **dkw)
    runs = [lazy_ne.compute(scheduler=s) for s in ("sync", "threads", "threads")]
    assert_close(runs[0], ref, 1e-12)
    assert_same(runs[0], runs[1])
    assert_same(runs[1], runs[2])


def test_partials_are_added_in_a_fixed_tree():
    x, y, _ = data(20 * 30_000 - 5)
    got = bd.normal_equations(da.from_array(x, 30_000), T, K, y=da.from_array(y, 30_000),
                              split_every=3)
    level = [bsbasis.normal_equations(x[a:a + 30_000], T, K, y=y[a:a + 30_000], threads=1)
             for a in range(0, len(x), 30_000)]
    while len(level) > 1:  # 20 -> 7 -> 3 -> 1, each group left to right
        level = [sum(level[i + 1:i + 3], level[i]) for i in range(0, len(level), 3)]
    assert_same(got, level[0])
    # Whole tiles in one level add as the in-memory sums do: the same bits.
    x, y, _ = data(6 * TILE - 99)
    one = bd.normal_equations(da.from_array(x, TILE), T, K, y=y, split_every=8)
    assert_same(one, bsbasis.normal_equations(x, T, K, y=y))


def test_uniform_grid_matches_in_memory():
    x, y, w = data(200_000)
    x = 4.0 + 2.0 * x  # in the base interval [2, 12] of the 13 functions
    ref = bsbasis.uniform_normal_equations(x, K, 13, origin=-1.0, spacing=1.0, y=y, weights=w)
    ne = bd.uniform_normal_equations(da.from_array(x, 64_000), K, 13, origin=-1.0, y=y,
                                     weights=w, split_every=2)
    assert_close(ne, ref, 1e-12)


def test_tasks_pickle_small():
    reduction = bd._ChunkReduction(T, K, None, None, 0, False, True, True)
    assert len(pickle.dumps(reduction)) < 800
    x, y = lazy(10**6, 2**17)
    graph = dict(bd.normal_equations(x, T, K, y=y, compute=False).__dask_graph__())
    assert len(pickle.dumps(graph)) < 50_000  # no chunk of data in it


def test_core_package_does_not_import_dask():
    code = "import sys, bsbasis; sys.exit('dask' in sys.modules)"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    assert subprocess.run([sys.executable, "-c", code], env=env).returncode == 0


def test_misaligned_chunks_are_rechunked():
    x, y, w = data(100_000)
    dx = da.from_array(x, 40_000)
    aligned = bd.normal_equations(dx, T, K, y=da.from_array(y, 40_000),
                                  weights=da.from_array(w, 40_000))
    for dy, dw in ((y, w), (da.from_array(y, 70_000), da.from_array(w, 33_333))):
        assert_same(bd.normal_equations(dx, T, K, y=dy, weights=dw), aligned)


def test_bad_arguments():
    x, y, w = data(1000)
    dx = da.from_array(x, 400)
    with pytest.raises(ValueError, match="y has 999 entries, x has 1000"):
        bd.normal_equations(dx, T, K, y=da.from_array(y[:-1], 400))
    with pytest.raises(ValueError, match="weights has 1001"):
        bd.fit_pspline(dx, y, weights=np.r_[w, 1.0])
    with pytest.raises(ValueError, match="1-D"):
        bd.normal_equations(dx.reshape(10, 100), T, K)
    with pytest.raises(ValueError, match="1-D"):
        bd.normal_equations(dx, T, K, y=np.ones((1000, 1)))
    with pytest.raises(TypeError):
        bd.normal_equations(dx, T, K, y=dx + 1j)
    with pytest.raises(TypeError):
        bd.normal_equations(dx, T, 3.0, compute=False)  # checked before any task
    with pytest.raises(ValueError):
        bd.normal_equations(dx, T, K, nu=-1, compute=False)
    with pytest.raises(ValueError, match="split_every"):
        bd.normal_equations(dx, T, K, split_every=1)
    with pytest.raises(ValueError, match="not both"):
        bd.fit_pspline(dx, y, n_knots=10, t=T)
    with pytest.raises(ValueError, match="rows 400 to 800: x: 1 of 400"):
        bd.normal_equations(da.from_array(np.where(np.arange(1000) == 450, 9.0, x), 400),
                            T, K)


def test_fit_pspline_matches_in_memory():
    x, y, w = data(5 * TILE + 17)
    dx, dy, dw = (da.from_array(a, TILE) for a in (x, y, w))
    for weights, dweights in ((None, None), (w, dw)):  # GCV on the same bits
        ref = fit_pspline(x, y, n_knots=30, weights=weights)
        fit = bd.fit_pspline(dx, dy, n_knots=30, weights=dweights)
        np.testing.assert_allclose(fit.t, ref.t, rtol=0, atol=0)
        assert fit.lam == pytest.approx(ref.lam, rel=1e-10)
        assert fit.edf == pytest.approx(ref.edf, rel=1e-10)
        np.testing.assert_allclose(fit.coef, ref.coef, rtol=1e-10, atol=1e-10)
    # Other chunks, a fixed lam: equal to within rounding.
    ref = fit_pspline(x, y, t=T, lam=0.5)
    fit = bd.fit_pspline(da.from_array(x, 50_001), y, t=T, lam=0.5, split_every=2)
    np.testing.assert_allclose(fit.coef, ref.coef, rtol=1e-10, atol=1e-10)


# distributed's tornado loop warns of its own start on this version.
cluster_warning = pytest.mark.filterwarnings("ignore:make_current:DeprecationWarning")


@cluster_warning
def test_local_cluster_of_processes():
    distributed = pytest.importorskip("distributed")
    x, y = lazy(10**6, 2**17)
    with dask.config.set(scheduler="threads"):
        threaded = bd.normal_equations(x, T, K, y=y, extrapolate=True)
    xv, yv = dask.compute(x, y, scheduler="sync")
    ref = bsbasis.normal_equations(xv, T, K, y=yv, extrapolate=True)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        libs = client.run(bsbasis.library_path)
        assert set(libs.values()) == {bsbasis.library_path()}
        ne = bd.normal_equations(x, T, K, y=y, extrapolate=True)
    assert_close(ne, ref, 1e-12)
    assert_same(ne, threaded)


@cluster_warning
def test_fit_at_scale_example_runs(tmp_path, capsys):
    pytest.importorskip("distributed")
    pytest.importorskip("matplotlib")
    examples = os.path.join(os.path.dirname(__file__), "..", "..", "examples")
    sys.path.insert(0, os.path.abspath(examples))  # the workers import it from there too
    try:
        example = importlib.import_module("fit_at_scale")
        out = tmp_path / "fit.png"
        assert example.main(["--rows", "2000000", "--chunk", str(2**19), "--no-progress",
                             "--output", str(out)]) == 0
    finally:
        sys.path.remove(os.path.abspath(examples))
    text = capsys.readouterr().out
    assert "fit of 2,000,000 rows" in text
    rms = float(re.search(r"RMS (\S+)", text).group(1))
    assert rms == pytest.approx(example.NOISE, rel=0.01)
    assert float(re.search(r"max \|fit - true curve\| (\S+)", text).group(1)) < 0.01
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


# ------------------------------------------- the same fit as in memory

def weighted(m, seed=3, outside=True):
    """Data with a third of the rows of weight 0, one of them far outside."""
    x, y, w = data(m, seed)
    w[np.random.default_rng(seed + 100).random(m) < 1 / 3] = 0.0
    if outside:
        x[7], w[7] = 40.0, 0.0
    return x, y, w


def same_fit(fit, ref, rtol):
    assert fit.count == ref.count
    assert fit.lam == pytest.approx(ref.lam, rel=rtol)
    assert fit.edf == pytest.approx(ref.edf, rel=rtol)
    np.testing.assert_array_equal(fit.t, ref.t)
    np.testing.assert_allclose(fit.coef, ref.coef, rtol=rtol, atol=rtol)


def test_fit_counts_rows_of_positive_weight_as_in_memory():
    x, y, w = weighted(3 * TILE + 5, outside=False)
    ref = fit_pspline(x, y, weights=w)
    assert ref.count == np.count_nonzero(w)
    dx, dy, dw = (da.from_array(a, TILE) for a in (x, y, w))
    same_fit(bd.fit_pspline(dx, dy, weights=dw), ref, 1e-10)


def test_fit_ignores_rows_of_weight_0_outside_as_in_memory():
    x, y, w = weighted(3 * TILE + 5)
    ref = fit_pspline(x, y, weights=w)
    dx, dy, dw = (da.from_array(a, TILE) for a in (x, y, w))
    same_fit(bd.fit_pspline(dx, dy, weights=dw), ref, 1e-10)
    # Knots given: the same count.
    t = bsbasis.make_knots(x[w > 0], 20, K, boundary="extended")
    keep = (x >= t[K]) & (x <= t[-K - 1])
    ref = fit_pspline(x[keep], y[keep], t=t, weights=w[keep])
    fit = bd.fit_pspline(da.from_array(x[keep], 50_000), y[keep], t=t, weights=w[keep])
    assert fit.count == ref.count and fit.lam == pytest.approx(ref.lam, rel=1e-6)


@pytest.mark.parametrize("row,column,value", [
    (123_456, "x", np.inf), (123_456, "x", np.nan), (70_000, "x", -np.inf),
    (99_999, "weights", -1.0), (150_001, "weights", np.nan)])
def test_bad_data_named_at_its_row_as_in_memory(row, column, value):
    x, y, w = weighted(200_000)
    arrays = dict(x=x, y=y, weights=w)
    arrays[column] = arrays[column].copy()
    arrays[column][row] = value
    with pytest.raises(ValueError) as ref:
        fit_pspline(**arrays)
    assert "[%d]" % row in str(ref.value)
    with pytest.raises(ValueError) as got:
        bd.fit_pspline(**{k: da.from_array(v, 30_000) for k, v in arrays.items()})
    assert str(got.value) == str(ref.value)


def test_data_without_two_values_of_positive_weight_as_in_memory():
    x, y, w = weighted(1000)
    for weights in (np.zeros(1000), np.where(np.arange(1000) == 5, 1.0, 0.0)):
        with pytest.raises(ValueError) as ref:
            fit_pspline(x, y, weights=weights)
        with pytest.raises(ValueError) as got:
            bd.fit_pspline(da.from_array(x, 300), y, weights=weights)
        assert str(got.value) == str(ref.value)


def test_chunk_errors_name_rows_from_the_start():
    x, y, _ = data(1000)
    y[450] = np.nan
    with pytest.raises(ValueError) as ref:
        bsbasis.normal_equations(x, T, K, y=y)
    with pytest.raises(ValueError, match=r"^rows 400 to 800: ") as got:
        bd.normal_equations(da.from_array(x, 400), T, K, y=y)
    assert str(got.value).endswith(str(ref.value))
    assert "y[450]" in str(ref.value)


def not_whole(monkeypatch, *classes):
    """Makes bringing a whole dask collection into memory an error."""
    def refuse(self, *args, **kwargs):
        raise AssertionError("%s brought into memory whole" % type(self).__name__)
    for cls in classes:
        monkeypatch.setattr(cls, "__array__", refuse)


def test_dataframe_columns_are_read_by_partition(monkeypatch):
    dd = pytest.importorskip("dask.dataframe")
    pd = pytest.importorskip("pandas")
    x, y, w = weighted(100_000)
    frame = dd.from_pandas(pd.DataFrame({"x": x, "y": y, "w": w}), npartitions=5)
    ref = fit_pspline(x, y, weights=w)
    ref_ne = bsbasis.normal_equations(x, T, K, y=y, weights=w, extrapolate="zero")
    not_whole(monkeypatch, dd.Series, da.Array)
    fit = bd.fit_pspline(frame.x, frame.y, weights=frame.w)
    # Partitions of other sizes than the library's tiles: sums that agree
    # to within rounding, and so does lam.
    assert fit.count == ref.count and fit.lam == pytest.approx(ref.lam, rel=1e-6)
    ne = bd.normal_equations(frame.x, T, K, y=frame.y, weights=frame.w, extrapolate="zero")
    assert_close(ne, ref_ne, 1e-12)
    with pytest.raises(TypeError, match="dask Series"):
        bd.normal_equations(frame, T, K)


def test_prediction_on_dask_stays_lazy(monkeypatch):
    dd = pytest.importorskip("dask.dataframe")
    pd = pytest.importorskip("pandas")
    x, y, _ = data(50_000)
    fit = fit_pspline(x, y)
    xe = np.linspace(-1.5, 2.5, 40_001)
    dx = da.from_array(xe, 10_000)
    series = dd.from_pandas(pd.Series(xe, index=np.arange(40_001) * 2), npartitions=3)
    not_whole(monkeypatch, dd.Series, da.Array)
    for nu in (0, 1):
        got = fit(dx, nu=nu)
        assert isinstance(got, da.Array) and got.chunks == dx.chunks
        np.testing.assert_array_equal(got.compute(), fit(xe, nu=nu))
        col = fit(series, nu=nu)
        assert isinstance(col, dd.Series)
        computed = col.compute()
        np.testing.assert_array_equal(computed.to_numpy(), fit(xe, nu=nu))
        np.testing.assert_array_equal(computed.index, series.index.compute())
    square = fit(dx[:-1].reshape(200, 200).rechunk(50))
    np.testing.assert_array_equal(square.compute(), fit(xe[:-1].reshape(200, 200)))
    with pytest.raises(ValueError):
        fit(dx, nu=-1)  # checked before any task
    with pytest.raises(TypeError, match="dask Series"):
        fit(series.to_frame())


def test_fit_compute_false_is_the_same_fit_later():
    x, y, w = weighted(150_000)
    dx, dy, dw = (da.from_array(a, 40_000) for a in (x, y, w))
    t = bsbasis.make_knots(x[w > 0], 15, K, boundary="extended")
    keep = (x >= t[K]) & (x <= t[-K - 1])
    dk = [da.from_array(a[keep], 40_000) for a in (x, y, w)]
    for lazy, now in ((bd.fit_pspline(dx, dy, weights=dw, compute=False),
                       bd.fit_pspline(dx, dy, weights=dw)),
                      (bd.fit_pspline(dk[0], dk[1], weights=dk[2], t=t, compute=False),
                       bd.fit_pspline(dk[0], dk[1], weights=dk[2], t=t))):
        assert isinstance(lazy, Delayed)
        for scheduler in ("sync", "threads"):
            fit = lazy.compute(scheduler=scheduler)
            assert (fit.lam, fit.edf, fit.count) == (now.lam, now.edf, now.count)
            np.testing.assert_array_equal(fit.coef, now.coef)
            np.testing.assert_array_equal(fit.t, now.t)
    # Arguments are checked at once; the data when the graph runs.
    with pytest.raises(TypeError):
        bd.fit_pspline(dx, dy, k=3.0, compute=False)
    with pytest.raises(ValueError, match="lam"):
        bd.fit_pspline(dx, dy, lam=-1.0, compute=False)
    with pytest.raises(ValueError, match="n_knots"):
        bd.fit_pspline(dx, dy, n_knots=1, compute=False)
    bad = bd.fit_pspline(da.from_array(np.where(np.arange(len(x)) == 9, np.nan, x), 40_000),
                         dy, compute=False)
    with pytest.raises(ValueError, match=r"x must be finite: x\[9\] = nan"):
        bad.compute()


def test_fit_graph_reads_the_data_again_for_the_sums():
    # With knots from the data, the sums' chunks come from a second read
    # that waits for the knots, so no chunk is held between the passes.
    calls = []

    def chunk(seed, block_info=None):
        calls.append(block_info[None]["chunk-location"][0])
        return block_x(seed, block_info=block_info)

    x = da.map_blocks(chunk, 1, chunks=((50_000,) * 4,), dtype=float, meta=np.empty(0))
    bd.fit_pspline(x, da.sin(x), compute=False).compute(scheduler="sync")
    assert sorted(calls) == [0, 0, 1, 1, 2, 2, 3, 3]


def test_edge_warning_from_dask_fits():
    from sklearn.datasets import load_diabetes
    data = load_diabetes()
    x, y = data.data[:, 2], data.target  # GCV least at the upper end
    with pytest.warns(UserWarning, match="upper end") as ref:
        fit_pspline(x, y)
    with pytest.warns(UserWarning, match="upper end") as got:
        fit = bd.fit_pspline(da.from_array(x, 100), y)
    assert str(got[0].message) == str(ref[0].message)
    assert fit.lam == fit.lam_bounds[1]


def block_w(seed, block_info=None):
    """Weights of 0 (a third) and 1..2, with a NaN abscissa's row in chunk 2."""
    m = block_info[None]["chunk-shape"][0]
    rng = np.random.default_rng([seed, block_info[None]["chunk-location"][0], 1])
    return np.where(rng.random(m) < 1 / 3, 0.0, rng.uniform(1.0, 2.0, m))


@cluster_warning
def test_fit_on_a_local_cluster_matches_in_memory():
    distributed = pytest.importorskip("distributed")
    x, y = lazy(600_000, 2**16)
    w = da.map_blocks(block_w, 7, chunks=x.chunks, dtype=float, meta=np.empty(0))
    xv, yv, wv = dask.compute(x, y, w, scheduler="sync")
    ref = fit_pspline(xv, yv, weights=wv)
    bad = da.where(da.arange(x.shape[0], chunks=x.chunks) == 200_000, np.nan, x)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        fit = client.compute(bd.fit_pspline(x, y, weights=w, split_every=16,
                                            compute=False)).result()
        with pytest.raises(ValueError, match=r"^x must be finite: x\[200000\] = nan$"):
            bd.fit_pspline(bad, y, weights=w)
    # Chunks of whole tiles, added in order (split_every above the number of
    # chunks): the sums of one in-memory call, bit for bit.
    assert (fit.count, fit.lam, fit.edf) == (ref.count, ref.lam, ref.edf)
    np.testing.assert_array_equal(fit.coef, ref.coef)
