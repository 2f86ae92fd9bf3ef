"""What a call costs in memory, and how many kernel calls it makes: numpy
reports its allocations to tracemalloc, so peaks are exact, not timed."""
import tracemalloc

import numpy as np

import bsbasis
from bsbasis import _lib


def peak_bytes(call):
    tracemalloc.start()
    try:
        tracemalloc.reset_peak()
        base = tracemalloc.get_traced_memory()[0]
        result = call()
        return tracemalloc.get_traced_memory()[1] - base, result
    finally:
        tracemalloc.stop()


def nbytes(m):
    return m.data.nbytes + m.indices.nbytes + m.indptr.nbytes


def test_csr_call_needs_little_beyond_its_result():
    t = np.r_[[0.0] * 3, np.linspace(0, 1, 101), [1.0] * 3]
    x = np.random.default_rng(0).uniform(0, 1, 300_000)
    for nu in (0, 1, 2):
        peak, m = peak_bytes(lambda: bsbasis.design_matrix(x, t, 3, nu=nu, threads=2))
        assert peak <= 1.1 * nbytes(m), (peak, nbytes(m))
    wide = x * 1.2 - 0.1  # a tenth beyond each end
    for mode in ("linear", "periodic"):
        peak, m = peak_bytes(lambda: bsbasis.design_matrix(wide, t, 3, extrapolate=mode,
                                                           threads=2))
        assert peak <= 1.1 * nbytes(m), (mode, peak, nbytes(m))
    points = np.c_[x, x[::-1]]
    peak, m = peak_bytes(lambda: bsbasis.tensor_design_matrix(points, (t, t), 3, threads=2))
    assert peak <= 1.1 * nbytes(m), (peak, nbytes(m))
    breaks = np.linspace(0, 1, 30)
    peak, m = peak_bytes(lambda: bsbasis.periodic_design_matrix(wide, breaks, 3))
    assert peak <= 1.1 * nbytes(m), (peak, nbytes(m))


def test_uniform_derivatives_cost_what_their_abscissae_cost():
    # One abscissa on a grid of 5e7 functions: no knot array of that size.
    peak, m = peak_bytes(lambda: bsbasis.uniform_design_matrix([5.5], 3, 50_000_000, nu=1))
    assert peak < 1 << 20, peak
    np.testing.assert_allclose(m.data, [-1 / 8, -5 / 8, 5 / 8, 1 / 8], atol=1e-15)
    assert m.shape == (1, 50_000_000) and m.indices.tolist() == [2, 3, 4, 5]


def test_interval_index_with_guess_makes_no_call_per_key(monkeypatch):
    lib = _lib.kernels()
    calls = []
    for name in ("binary_search", "binary_search_with_guess"):
        fn = getattr(lib, name)
        monkeypatch.setattr(lib, name, lambda *a, fn=fn, name=name: calls.append(name) or fn(*a))
    arr = np.linspace(0, 1, 50)
    keys = np.random.default_rng(1).uniform(-0.1, 1.1, 20_000)
    want = np.searchsorted(arr, keys, side="right") - 1
    want[keys > 1] = 50
    got = bsbasis.interval_index(keys, arr, guess=np.zeros(len(keys), np.int64))
    np.testing.assert_array_equal(got, want)
    assert len(calls) == 1


def test_knots_are_checked_once_per_tile_of_at_least_as_many_rows(monkeypatch):
    # The library reads every knot at each call: with 2e5 knots, 3e5
    # abscissae must take two calls, not one per default tile of 16384.
    lib = _lib.kernels()
    calls = []
    fn = lib.bsbasis_design
    monkeypatch.setattr(lib, "bsbasis_design", lambda *a: calls.append(1) or fn(*a))
    t = np.r_[[0.0] * 3, np.linspace(0, 1, 200_000), [1.0] * 3]
    x = np.sort(np.random.default_rng(2).uniform(0, 1, 300_000))
    m = bsbasis.design_matrix(x, t, 3, nu=2, threads=1)
    assert len(calls) == 2
    ref = bsbasis.design_matrix(x[-1000:], t, 3, nu=2)  # rows of the second call
    np.testing.assert_array_equal(m.data[-4000:], ref.data)
    np.testing.assert_array_equal(m.indices[-4000:], ref.indices)
