"""The search for lam: many systems at once, against one at a time; what
it costs; and the warning when GCV is least at an end of its window."""
import warnings

import numpy as np
import pytest
import scipy.linalg
from numpy.testing import assert_allclose

import bsbasis
from bsbasis import _banded, _pspline


def problem(seed, m, k, q, n_knots, derivative=False, weights=True):
    rng = np.random.default_rng(seed)
    x = rng.uniform(0.0, 10.0, m)
    y = np.sin(x * rng.uniform(0.2, 3.0)) + rng.uniform(0.05, 1.0) * rng.standard_normal(m)
    t = bsbasis.make_knots(x, n_knots, k, boundary="extended")
    w = rng.uniform(0.0, 2.0, m) if weights else None
    ne = bsbasis.normal_equations(x, t, k, y=y, weights=w)
    P = (bsbasis.derivative_penalty(t, k, q) if derivative
         else bsbasis.difference_penalty(ne.n, q))
    return _pspline._Problem(ne.gram, ne.rhs, ne.yty, ne.count, P)


CASES = [(0, 100_000, 3, 2, 40, False), (1, 30, 0, 3, 20, False), (2, 1000, 1, 2, 40, False),
         (3, 200, 3, 2, 20, True), (4, 60, 4, 4, 10, False), (5, 200, 5, 1, 100, False),
         (6, 1000, 2, 1, 10, True), (7, 60, 2, 3, 40, False), (8, 30, 5, 2, 5, True)]


@pytest.mark.parametrize("case", CASES)
def test_pencil_matches_one_system_at_a_time(case):
    pr = problem(*case)
    lams = 10.0 ** np.linspace(-4.0, 4.0, 7) * pr.gram[-1].sum() / pr.penalty[-1].sum()
    coef, edf, ok = _banded.Pencil(pr.gram, pr.penalty, pr.rhs).at(lams)
    assert ok.all()
    for c, e, lam in zip(coef, edf, lams):
        c1, e1, _ = pr.solve(lam)
        assert_allclose(c, c1, rtol=1e-9, atol=1e-12 * np.abs(c1).max())
        assert abs(e - e1) < 1e-6  # a difference of log-determinants


def test_pencil_marks_the_systems_that_fail():
    # G indefinite: G + lam P is positive definite only for lam above 1.
    n = 6
    G = _banded.to_banded(np.diag([2.0, 2.0, -1.0, 2.0, 2.0, 2.0]), n)
    P = _banded.to_banded(np.eye(n), n)
    rhs = np.arange(1.0, n + 1)
    lams = np.array([0.5, 3.0, 0.2, 0.9, 5.0, 10.0])
    coef, edf, ok = _banded.Pencil(G, P, rhs).at(lams)
    assert ok.tolist() == [False, True, False, False, True, True]
    for c, e, lam in zip(coef[ok], edf[ok], lams[ok]):
        A = np.diag([2.0, 2.0, -1.0, 2.0, 2.0, 2.0]) + lam * np.eye(n)
        assert_allclose(c, np.linalg.solve(A, rhs), rtol=1e-12)
        # The edf formula needs G = A - lam P; it holds for indefinite G too
        # (to the difference's truncation error: A is near singular here).
        assert e == pytest.approx(np.trace(np.linalg.solve(A, A - lam * np.eye(n))), abs=1e-6)


@pytest.mark.parametrize("case", CASES)
def test_search_finds_the_one_by_one_minimum(case):
    pr = problem(*case)
    grid = pr.window(None)
    fast, slow = pr.search(grid), pr.search_one_by_one(grid)
    g_fast, g_slow = pr.gcv(fast), pr.gcv(slow)
    # The same lam where GCV has a clear minimum, and never a worse one.
    assert abs(fast - slow) < 2e-4 or abs(g_fast - g_slow) <= 1e-9 * g_slow
    assert g_fast <= g_slow * (1 + 1e-9)


def test_search_factors_all_lam_of_a_grid_in_one_call(monkeypatch):
    calls = {"dpbtrf": 0, "selected_inverse": 0}
    dpbtrf, selected_inverse = scipy.linalg.lapack.dpbtrf, _banded.selected_inverse

    def counted_dpbtrf(*a, **kw):
        calls["dpbtrf"] += 1
        return dpbtrf(*a, **kw)

    def counted_selected_inverse(*a):
        calls["selected_inverse"] += 1
        return selected_inverse(*a)

    monkeypatch.setattr(scipy.linalg.lapack, "dpbtrf", counted_dpbtrf)
    monkeypatch.setattr(_banded, "selected_inverse", counted_selected_inverse)
    rng = np.random.default_rng(0)
    x = rng.uniform(0.0, 10.0, 100_000)
    fit = bsbasis.fit_pspline(x, np.sin(x) + 0.3 * rng.standard_normal(len(x)))
    assert 1 < fit.edf < 40
    # One factorisation per grid of the search (the half decades and three
    # finer ones), whatever its points; the selected inverse once, for the
    # fit at the lam found.
    assert calls == {"dpbtrf": 4, "selected_inverse": 1}


def diabetes_bmi():
    from sklearn.datasets import load_diabetes
    data = load_diabetes()
    return data.data[:, 2], data.target


def test_warns_at_the_upper_end():
    x, y = diabetes_bmi()
    with pytest.warns(UserWarning, match=r"upper end .*lam_bounds=\(lo, hi\)") as record:
        fit = bsbasis.fit_pspline(x, y)
    assert len(record) == 1
    assert fit.lam == fit.lam_bounds[1]
    assert fit.edf == pytest.approx(2.0, abs=1e-3)  # a straight line, near enough
    assert "%.6g" % fit.lam in str(record[0].message)
    # Stated with lam, no search and no warning.
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        bsbasis.fit_pspline(x, y, lam=fit.lam)


def test_no_warning_for_an_interior_minimum():
    rng = np.random.default_rng(3)
    x = rng.uniform(0.0, 1.0, 2000)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        fit = bsbasis.fit_pspline(x, np.sin(6 * x) + 0.2 * rng.standard_normal(len(x)))
    assert fit.lam_bounds[0] < fit.lam < fit.lam_bounds[1]


def test_search_falls_back_when_a_chosen_system_is_singular(monkeypatch):
    # Should the fast search pick a lam where the full test finds the
    # system singular, the search runs again one lam at a time.
    pr = problem(0, 500, 3, 2, 20, False)
    grid = pr.window(None)
    bad = pr.search(grid)
    solve = _pspline._Problem.solve

    def refuse_bad(self, lam):
        if lam == 10.0 ** bad:
            raise np.linalg.LinAlgError("singular")
        return solve(self, lam)

    monkeypatch.setattr(_pspline._Problem, "solve", refuse_bad)
    lam, _, _, _ = _pspline._choose(pr, None)
    assert lam == 10.0 ** pr.search_one_by_one(grid)
