"""The shared thread pool: thread counts as scipy's `workers` reads them, no
more threads than cores, calls that share the pool concurrently, a forked
child, and tiles that stop once the caller is interrupted."""
import multiprocessing
import os
import threading
import time

import numpy as np
import pytest

import bsbasis
from bsbasis import _checks, _tiles

T = np.r_[[0.0] * 4, np.linspace(0.0, 1.0, 40)[1:-1], [1.0] * 4]
X = np.random.default_rng(7).uniform(0.0, 1.0, 70_000)  # above the default's threshold
C = np.random.default_rng(8).normal(size=len(T) - 4)


def pool_threads():
    return [t for t in threading.enumerate() if t.name.startswith("bsbasis")]


def same_matrix(a, b):
    return (a.shape == b.shape and np.array_equal(a.indptr, b.indptr)
            and np.array_equal(a.indices, b.indices) and np.array_equal(a.data, b.data))


# ------------------------------------------------------------ thread counts

@pytest.mark.parametrize("threads, cores, expected", [
    (None, 4, None), (1, 4, 1), (7, 4, 7), (-1, 4, 4), (-2, 4, 3), (-4, 4, 1), (-1, 1, 1),
])
def test_negative_threads_count_back_from_the_cores(monkeypatch, threads, cores, expected):
    monkeypatch.setattr(_checks, "cores", lambda: cores)
    assert _checks.check_threads(threads) == expected


@pytest.mark.parametrize("threads, error, pattern", [
    (0, ValueError, "threads must be at least 1, or negative.*got 0"),
    (-5, ValueError, r"threads=-5 asks for 4 \+ 1 \+ \(-5\) = 0 threads .* at least -4"),
    (-10**6, ValueError, "at least -4"),
    (2.0, TypeError, "threads must be an integer"),
    (True, TypeError, "threads must be an integer, got a bool"),
    ("-1", TypeError, "threads must be an integer"),
])
def test_bad_thread_counts_are_refused(monkeypatch, threads, error, pattern):
    monkeypatch.setattr(_checks, "cores", lambda: 4)
    with pytest.raises(error, match=pattern):
        _checks.check_threads(threads)
    with pytest.raises(error, match=pattern):
        bsbasis.design_matrix(X[:10], T, 3, threads=threads)
    with pytest.raises(error, match=pattern):
        bsbasis.normal_equations(X[:10], T, 3, threads=threads)
    with pytest.raises(error, match=pattern):
        bsbasis.evaluate_spline(X[:10], T, 3, C, threads=threads)


def test_every_count_gives_the_same_bits():
    pts = np.c_[X, X[::-1]]
    ref = bsbasis.design_matrix(X, T, 3, threads=1)
    ne = bsbasis.normal_equations(X, T, 3, y=X, threads=1)
    val = bsbasis.evaluate_spline(X, T, 3, C, threads=1)
    tensor = bsbasis.tensor_design_matrix(pts, [T, T], 1, threads=1)
    for threads in (-1, -2 if _checks.cores() > 1 else -1, 3, 10**6, None):
        assert same_matrix(bsbasis.design_matrix(X, T, 3, threads=threads), ref)
        got = bsbasis.normal_equations(X, T, 3, y=X, threads=threads)
        assert np.array_equal(got.gram, ne.gram) and np.array_equal(got.rhs, ne.rhs)
        assert np.array_equal(bsbasis.evaluate_spline(X, T, 3, C, threads=threads), val)
        assert same_matrix(bsbasis.tensor_design_matrix(pts, [T, T], 1, threads=threads),
                           tensor)


def test_no_more_threads_than_cores_nor_tiles(monkeypatch):
    monkeypatch.setattr(_tiles, "_ROWS_PER_CALL", 64)  # about 1,100 tiles
    bsbasis.design_matrix(X, T, 3, threads=10**6)
    bsbasis.evaluate_spline(np.tile(X, 4), T, 3, C, threads=10**6)
    bsbasis.normal_equations(np.tile(X, 4), T, 3, threads=10**6)
    cores = (len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity")
             else os.cpu_count())
    assert 1 <= len(pool_threads()) <= cores
    assert _tiles.threads_for(10**6, 10, 4) == cores


# --------------------------------------------------------- sharing the pool

def test_concurrent_calls_with_different_counts_all_succeed(monkeypatch):
    # Each call asks for more threads than the one before; they share a pool
    # made afresh for the run, so every count is new to it.
    monkeypatch.setattr(_tiles, "_ROWS_PER_CALL", 256)
    x = X[:40_000]
    ref = bsbasis.design_matrix(x, T, 3, threads=1)
    ne = bsbasis.normal_equations(X, T, 3, threads=1)
    failures = []

    def call(threads):
        try:
            if threads % 3 == 0:
                got = bsbasis.normal_equations(X, T, 3, threads=threads)
                ok = np.array_equal(got.gram, ne.gram)
            else:
                ok = same_matrix(bsbasis.design_matrix(x, T, 3, threads=threads), ref)
            if not ok:
                failures.append("threads=%d: other bits" % threads)
        except Exception as exc:  # noqa: BLE001 - every failure is reported
            failures.append("threads=%d: %r" % (threads, exc))

    for _ in range(4):
        monkeypatch.setattr(_tiles, "_pool", None)
        callers = [threading.Thread(target=call, args=(2 + i,)) for i in range(16)]
        for c in callers:
            c.start()
        for c in callers:
            c.join()
    assert failures == []


# ------------------------------------------------------------------- fork

def _child_work(expected):
    # Runs in the forked child: the default count on >= 32,768 rows, and an
    # explicit one, must finish with the parent's bits.
    m, ne, val = expected
    assert same_matrix(bsbasis.design_matrix(X, T, 3), m)
    got = bsbasis.normal_equations(X, T, 3, threads=-1)
    assert np.array_equal(got.gram, ne.gram)
    assert np.array_equal(bsbasis.evaluate_spline(X, T, 3, C, threads=2), val)


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork()")
def test_a_forked_child_can_use_threads():
    # The parent's pool is in use, with its threads started, when it forks.
    expected = (bsbasis.design_matrix(X, T, 3, threads=2),
                bsbasis.normal_equations(X, T, 3, threads=2),
                bsbasis.evaluate_spline(X, T, 3, C, threads=2))
    assert pool_threads() or _checks.cores() == 1
    child = multiprocessing.get_context("fork").Process(target=_child_work, args=(expected,))
    child.start()
    child.join(60)
    if child.is_alive():
        child.kill()
        child.join()
        pytest.fail("the forked child hung on its first multi-threaded call")
    assert child.exitcode == 0
    # The parent's pool still works.
    assert same_matrix(bsbasis.design_matrix(X, T, 3, threads=2), expected[0])


# ------------------------------------------------------------- stopping

def test_an_interrupted_caller_starts_no_further_tile(monkeypatch):
    # Every tile waits until released; the caller is interrupted once both
    # workers hold a tile, and releases them only after that.
    ntiles, started, release = 50, [], threading.Event()
    both = threading.Event()

    def tile(s, _):
        started.append(s)
        if len(started) == 2:
            both.set()
        release.wait(30)

    def interrupted(futures):
        assert both.wait(30)
        raise KeyboardInterrupt

    settle = _tiles._settle

    def released_then_settle(futures):
        release.set()
        settle(futures)

    monkeypatch.setattr(_checks, "cores", lambda: 2)
    monkeypatch.setattr(_tiles, "_pool", None)
    monkeypatch.setattr(_tiles, "_wait", interrupted)
    monkeypatch.setattr(_tiles, "_settle", released_then_settle)
    with pytest.raises(KeyboardInterrupt):
        _tiles.run_tiles(ntiles, 2, tile)
    # The two tiles under way finished before the call left; none started after.
    time.sleep(0.05)
    assert sorted(started) == [0, 1]


def test_a_failing_tile_stops_the_others_and_reaches_the_caller():
    ran = []

    def tile(s, _):
        ran.append(s)
        if s == 0:
            raise ArithmeticError("tile 0")
        time.sleep(0.01)

    with pytest.raises(ArithmeticError, match="tile 0"):
        _tiles.run_tiles(1000, 2, tile)
    count = len(ran)
    time.sleep(0.05)
    assert len(ran) == count < 100  # the other worker stopped after a tile or two


def test_the_first_tile_to_fail_is_the_one_raised(monkeypatch):
    # Tile 0 holds its worker until the other has taken tiles 1 to 3; tile 3
    # then waits while the first worker runs on to tile 40, which fails
    # first.  Tile 3, taken before it, still runs and fails after: the
    # caller gets tile 3's error, as from one thread, whichever worker's
    # failure it meets first.
    monkeypatch.setattr(_checks, "cores", lambda: 2)
    monkeypatch.setattr(_tiles, "_pool", None)  # two threads, whatever the machine
    third, late_failed = threading.Event(), threading.Event()

    def tile(s, _):
        if s == 0:
            assert third.wait(30)
        if s == 3:
            third.set()
            assert late_failed.wait(30)
            raise ArithmeticError("tile 3")
        if s == 40:
            late_failed.set()
            raise ArithmeticError("tile 40")

    for _ in range(5):
        third.clear()
        late_failed.clear()
        with pytest.raises(ArithmeticError, match="tile 3"):
            _tiles.run_tiles(100, 2, tile)


def test_normal_equations_over_many_windows_keep_the_bits_of_one_thread(monkeypatch):
    # 9 tiles: several windows of two tiles per thread, a short last tile.
    from bsbasis._abi import NORMAL_TILE
    monkeypatch.setattr(_checks, "cores", lambda: 2)
    rng = np.random.default_rng(21)
    x = rng.uniform(0.0, 1.0, 8 * NORMAL_TILE + 123)
    y, w = np.sin(9 * x), rng.uniform(0.0, 2.0, len(x))
    one = bsbasis.normal_equations(x, T, 3, y=y, weights=w, threads=1)
    start = bsbasis.normal_equations(x[:NORMAL_TILE], T, 3, y=y[:NORMAL_TILE], threads=1)
    chained = bsbasis.normal_equations(x[:NORMAL_TILE], T, 3, y=y[:NORMAL_TILE], threads=1)
    chained = bsbasis.normal_equations(x, T, 3, y=y, weights=w, threads=2, out=chained)
    ref = bsbasis.normal_equations(x, T, 3, y=y, weights=w, threads=1, out=start)
    got = bsbasis.normal_equations(x, T, 3, y=y, weights=w, threads=2)
    for a, b in ((got, one), (chained, ref)):
        assert np.array_equal(a.gram, b.gram) and np.array_equal(a.rhs, b.rhs)
        assert (a.yty, a.sum_weights, a.count) == (b.yty, b.sum_weights, b.count)
    # Bad responses in two tiles of one window: the first is named.
    bad = y.copy()
    bad[[3 * NORMAL_TILE + 7, NORMAL_TILE + 5]] = np.nan
    messages = []
    for threads in (1, 2):
        with pytest.raises(ValueError) as err:
            bsbasis.normal_equations(x, T, 3, y=bad, threads=threads)
        messages.append(str(err.value))
    assert messages[0] == messages[1] and "y[%d]" % (NORMAL_TILE + 5) in messages[0]


def test_sum_tiles_adds_tiles_formed_from_zero_in_tile_order(monkeypatch):
    # 1e16 + 1 rounds back to 1e16: only the tile order 1e16, 1, -1e16, 1
    # leaves a total of 1.
    from bsbasis._abi import NORMAL_TILE
    monkeypatch.setattr(_checks, "cores", lambda: 2)
    monkeypatch.setattr(_tiles, "_pool", None)  # two threads, whatever the machine
    n = 3 * NORMAL_TILE + 5
    value = {0: 1e16, NORMAL_TILE: 1.0, 2 * NORMAL_TILE: -1e16, 3 * NORMAL_TILE: 1.0}
    calls = []

    def part(a, m, acc=None):
        calls.append((a, m, acc is None))
        return np.array([value[a]]), None, np.array([m])

    acc = (np.zeros(1), None, np.zeros(1, np.int64))
    _tiles.sum_tiles(n, 2, part, acc)
    assert sorted(calls) == [(0, NORMAL_TILE, True), (NORMAL_TILE, NORMAL_TILE, True),
                             (2 * NORMAL_TILE, NORMAL_TILE, True), (3 * NORMAL_TILE, 5, True)]
    assert acc[0][0] == 1.0 and acc[1] is None and acc[2][0] == n
    # One thread: a single call over every row, into acc itself.
    calls.clear()
    _tiles.sum_tiles(n, 1, part, acc)
    assert calls == [(0, n, False)]
