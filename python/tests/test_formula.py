"""bsbasis.formula's bs and ns as patsy terms: bs against patsy's bs, ns
against R's definition (and R itself where installed), knots remembered
from the fit for predictions, missing values, and ns against patsy's cr."""
import inspect
import os
import subprocess
import sys

import numpy as np
import pytest
from scipy.interpolate import BSpline

patsy = pytest.importorskip("patsy")
import bsbasis  # noqa: E402
import bsbasis.formula  # noqa: E402
from bsbasis.formula import BS, NS, bs, ns  # noqa: E402

from test_natural import (assert_numpydoc, assert_rows_close,  # noqa: E402
                          natural_reference, r_splines_available, run_examples)

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# patsy's own terms under names of their own: the bare names bs and ns in
# the formulas below are this module's imports, bsbasis.formula's.
patsy_bs = patsy.bs
patsy_cr = patsy.cr


def data(seed=0, n=300):
    rng = np.random.default_rng(seed)
    x = np.sort(rng.uniform(-2.0, 3.0, n))
    return x, np.sin(2.0 * x) + 0.1 * rng.normal(size=n)


# ------------------------------------------------------------ bs and patsy

BS_CASES = [
    {"df": 5},
    {"df": 7, "include_intercept": True},
    {"df": 3, "degree": 1},
    {"df": 4, "degree": 0},
    {"df": 6, "degree": 2, "include_intercept": True},
    {"df": 8, "degree": 4},
    {"knots": [-1.0, 0.0, 0.5]},
    {"knots": [0.5, -1.0], "degree": 2, "lower_bound": -3.0, "upper_bound": 4.0},
    {"df": 5, "lower_bound": -2.5, "upper_bound": 3.5},
    {"df": 3},
]


@pytest.mark.parametrize("kw", BS_CASES, ids=lambda kw: ",".join("%s=%s" % i for i in kw.items()))
def test_bs_equals_patsys_bs(kw):
    x, _ = data()
    got, ref = bs(x, **kw), patsy.bs(x, **kw)
    assert isinstance(got, np.ndarray) and got.shape == ref.shape
    assert_rows_close(got, ref)


def test_bs_in_a_formula_equals_patsys_and_places_the_same_knots():
    x, y = data(1)
    frame = {"x": x, "y": y}
    ref = patsy.dmatrix("patsy_bs(x, df=6)", frame)
    for formula in ("bsbasis.formula.bs(x, df=6)", "bs(x, df=6)"):
        got = patsy.dmatrix(formula, frame)
        assert_rows_close(np.asarray(got), np.asarray(ref))
    term = BS()
    term.memorize_chunk(x, df=6)
    term.memorize_finish()
    assert np.allclose(term.knots, np.percentile(x, [25, 50, 75]), rtol=0, atol=1e-15)
    assert (term.lower_bound, term.upper_bound) == (x.min(), x.max())


def test_bs_continues_the_end_pieces_beyond_the_bounds():
    # patsy refuses such x; R's bs, and this one, continue the polynomial
    # pieces at the ends.
    x, _ = data(2)
    beyond = np.array([-4.0, -2.5, 3.5, 6.0])
    term = BS()
    term.memorize_chunk(x, df=6, degree=3)
    term.memorize_finish()
    got = term.transform(beyond)
    t = np.r_[[term.lower_bound] * 4, term.knots, [term.upper_bound] * 4]
    ref = BSpline(t, np.eye(len(t) - 4), 3, extrapolate=True)(beyond)[:, 1:]
    assert_rows_close(got, ref)
    with pytest.raises((NotImplementedError, patsy.PatsyError), match="outside the outermost"):
        patsy.build_design_matrices(
            [patsy.dmatrix("patsy_bs(x, df=6)", {"x": x}).design_info], {"x": beyond})


def test_a_knot_on_the_upper_bound_gives_the_limit_from_the_left_there():
    x = np.linspace(0.0, 1.0, 5)
    got, ref = bs(x, knots=[1.0]), patsy.bs(x, knots=[1.0])
    assert_rows_close(got[:-1], ref[:-1])
    assert np.array_equal(got[-1], [0.0, 0.0, 1.0, 0.0]) and not ref[-1].any()


@pytest.mark.skipif(not r_splines_available(), reason="R with its splines package is absent")
def test_bs_and_ns_match_r_with_rs_own_knots(tmp_path):
    x, _ = data(3, 101)
    new = np.r_[x[::7], -3.0, 4.5]
    np.savetxt(tmp_path / "x.txt", x, fmt="%.17g")
    np.savetxt(tmp_path / "new.txt", new, fmt="%.17g")
    code = ("library(splines); x <- scan('%s', quiet=TRUE); new <- scan('%s', quiet=TRUE); "
            "out <- function(b) write.table(format(unclass(b)[, ], digits=17), quote=FALSE, "
            "row.names=FALSE, col.names=FALSE); "
            "out(suppressWarnings(predict(bs(x, df=6), new))); "
            "out(predict(ns(x, df=5, intercept=TRUE), new))"
            % (tmp_path / "x.txt", tmp_path / "new.txt"))
    run = subprocess.run(["Rscript", "-e", code], capture_output=True, text=True, check=True)
    rows = [[float(v) for v in line.split()] for line in run.stdout.splitlines()]
    r_bs, r_ns = np.array(rows[:len(new)]), np.array(rows[len(new):])
    for term, kw, ref in ((BS(), {"df": 6}, r_bs),
                          (NS(), {"df": 5, "include_intercept": True}, r_ns)):
        term.memorize_chunk(x, **kw)
        term.memorize_finish()
        assert_rows_close(term.transform(new), ref, tol=1e-12)


# --------------------------------------------------------------------- ns

@pytest.mark.parametrize("kw", [{"df": 4}, {"df": 6, "include_intercept": True},
                                {"df": 1}, {"knots": [0.0, 1.0]},
                                {"df": 3, "lower_bound": -2.5, "upper_bound": 3.5}])
def test_ns_is_rs_natural_spline_basis(kw):
    x, _ = data(4)
    term = NS()
    term.memorize_chunk(x, **kw)
    term.memorize_finish()
    new = np.r_[x, -5.0, 7.0]
    got = term.transform(new)
    intercept = kw.get("include_intercept", False)
    ref = natural_reference(new, term.knots, term.lower_bound, term.upper_bound, intercept)
    assert_rows_close(got, ref)
    assert np.array_equal(got, ns(new, knots=term.knots, lower_bound=term.lower_bound,
                                  upper_bound=term.upper_bound, include_intercept=intercept))
    assert np.array_equal(got, bsbasis.natural_design_matrix(
        new, term.knots, term.lower_bound, term.upper_bound, intercept=intercept,
        format="dense"))
    if "df" in kw:
        assert got.shape[1] == kw["df"]


def test_knots_are_quantiles_of_the_data_within_the_bounds():
    x, _ = data(5)
    term = NS()
    term.memorize_chunk(x, df=3, lower_bound=-1.0, upper_bound=2.0)
    term.memorize_finish()
    inside = x[(x >= -1.0) & (x <= 2.0)]
    assert np.array_equal(term.knots, np.percentile(inside, 100 * np.linspace(0, 1, 4)[1:-1]))


def test_chunks_are_remembered_together():
    x, _ = data(6)
    one, two = NS(), NS()
    one.memorize_chunk(x, df=5)
    two.memorize_chunk(x[:100], df=5)
    two.memorize_chunk(x[100:].reshape(-1, 1), df=5)  # patsy may pass a column
    one.memorize_finish()
    two.memorize_finish()
    assert np.array_equal(one.knots, two.knots)
    assert np.array_equal(one.transform(x), two.transform(x))


# --------------------------------------------------------------- in models

@pytest.mark.parametrize("prefix", ["bsbasis.formula.", ""], ids=["dotted", "bare"])
@pytest.mark.parametrize("term", ["bs(x, df=5)", "ns(x, df=4)",
                                  "bs(x, knots=[-1, 0.5, 2], degree=2)"])
def test_predictions_reuse_the_knots_of_the_fit(prefix, term):
    smf = pytest.importorskip("statsmodels.formula.api")
    pd = pytest.importorskip("pandas")
    x, y = data(7)
    frame = pd.DataFrame({"x": x, "y": y})
    fit = smf.ols("y ~ " + prefix + term, frame).fit()
    # A few rows from the middle: knots placed from them would differ.
    new = frame.iloc[100:110]
    assert np.allclose(fit.predict(new), fit.fittedvalues.iloc[100:110], rtol=0, atol=1e-12)
    assert np.allclose(fit.predict(new.iloc[::-1]), fit.fittedvalues.iloc[100:110][::-1],
                       rtol=0, atol=1e-12)
    # The same as the fit with patsy's own bs, where its definition agrees.
    if term.startswith("bs"):
        ref = smf.ols("y ~ patsy_" + term, frame).fit()
        assert np.allclose(fit.predict(new), ref.predict(new), rtol=0, atol=1e-10)
    else:
        direct = ns(new["x"].to_numpy(), df=4)  # knots from these rows alone
        assert not np.allclose(direct, ns(x, df=4)[100:110])


def test_a_dotted_call_keeps_one_term_per_place_in_the_factor():
    x, y = data(12)
    frame = {"x": x, "z": x[::-1] * 3.0}
    design = patsy.dmatrix("np.column_stack([bsbasis.formula.ns(x, df=3), "
                           "bsbasis.formula.ns(z, df=3)]) - 1", frame)
    assert len(design.design_info.factor_infos) == 1 and design.shape[1] == 6
    # One factor, two calls: each keeps the knots of its own variable.
    factor_state = list(design.design_info.factor_infos.values())[0].state
    placed = list(factor_state["bsbasis.formula"].values())
    assert len(placed) == 2
    assert np.array_equal(placed[0].knots, np.percentile(x, 100 * np.r_[1, 2] / 3))
    assert np.array_equal(placed[1].knots, np.percentile(frame["z"], 100 * np.r_[1, 2] / 3))
    new = {"x": x[:5], "z": frame["z"][:5]}
    again = patsy.build_design_matrices([design.design_info], new)[0]
    assert np.array_equal(np.asarray(again), np.asarray(design)[:5])


def test_missing_values_give_nan_rows_that_patsy_drops():
    smf = pytest.importorskip("statsmodels.formula.api")
    pd = pytest.importorskip("pandas")
    x, y = data(8)
    x_missing = x.copy()
    x_missing[::10] = np.nan
    out = bs(x_missing, df=5)
    assert np.isnan(out[::10]).all() and not np.isnan(np.delete(out, np.s_[::10], 0)).any()
    # The knots come from the values that are there.
    assert np.array_equal(np.delete(out, np.s_[::10], 0),
                          bs(np.delete(x_missing, np.s_[::10]), df=5))
    fit = smf.ols("y ~ bsbasis.formula.ns(x, df=4)", pd.DataFrame({"x": x_missing, "y": y})).fit()
    assert fit.nobs == len(x) - len(x[::10])


def test_pandas_input_gives_a_frame_with_its_index():
    pd = pytest.importorskip("pandas")
    x, _ = data(9, 20)
    s = pd.Series(x, index=np.arange(100, 120))
    for fn in (bs, ns):
        got = fn(s, df=4)
        assert isinstance(got, pd.DataFrame) and list(got.index) == list(s.index)
        assert np.array_equal(got.to_numpy(), fn(x, df=4))


# ----------------------------------------------------------- ns and cr

def test_ns_spans_what_patsys_cr_spans_on_the_same_knots():
    x, y = data(10)
    knots, lo, hi = "[-1.0, 0.2, 1.5]", -2.5, 3.5
    new = {"x": np.r_[np.linspace(-4.0, 5.0, 37)]}  # beyond the bounds as well
    bounds = "knots=%s, lower_bound=%r, upper_bound=%r" % (knots, lo, hi)
    frame = {"x": x, "y": y}

    def fit(formula):
        yy, X = patsy.dmatrices(formula, frame)
        coef, *_ = np.linalg.lstsq(np.asarray(X), np.asarray(yy)[:, 0], rcond=None)
        Xnew = patsy.build_design_matrices([X.design_info], new)[0]
        return np.asarray(X) @ coef, np.asarray(Xnew) @ coef, X.shape[1]

    pairs = [("y ~ bsbasis.formula.ns(x, %s)" % bounds,
              "y ~ patsy_cr(x, %s, constraints='center')" % bounds),
             ("y ~ 0 + bsbasis.formula.ns(x, %s, include_intercept=True)" % bounds,
              "y ~ 0 + patsy_cr(x, %s)" % bounds)]
    for ours, theirs in pairs:
        a, b = fit(ours), fit(theirs)
        assert a[2] == b[2]  # the same number of columns
        assert np.allclose(a[0], b[0], rtol=0, atol=1e-10)
        assert np.allclose(a[1], b[1], rtol=0, atol=1e-9)
    # Other knots span other functions: the comparison can fail.
    other = fit("y ~ bsbasis.formula.ns(x, knots=[-1.0, 0.4, 1.5], lower_bound=%r, "
                "upper_bound=%r)" % (lo, hi))
    assert np.abs(other[0] - fit(pairs[0][1])[0]).max() > 1e-6


# -------------------------------------------------------------- the checks

@pytest.mark.parametrize("fn, x, kw, error, pattern", [
    (bs, None, {}, ValueError, "give df or knots"),
    (ns, None, {}, ValueError, "give df or knots"),
    (bs, None, {"df": 2}, ValueError, "df=2 is too small; it must be at least 3"),
    (ns, None, {"df": 1, "include_intercept": True}, ValueError, "at least 2"),
    (bs, None, {"df": 5, "knots": [0.0]}, ValueError, "asks for 2 interior knots, but 1"),
    (ns, None, {"knots": [0.0], "lower_bound": 1.0, "upper_bound": 1.0}, ValueError,
     "lower_bound < upper_bound"),
    (bs, None, {"knots": [5.0]}, ValueError, "within"),
    (ns, None, {"knots": [-2.0]}, ValueError, "strictly between"),
    (ns, np.r_[[0.0] * 50, np.linspace(0.0, 1.0, 10)], {"df": 4}, ValueError,
     "strictly between"),  # quantiles of ties at the lower end
    (bs, None, {"df": 5.0}, TypeError, "df must be an integer"),
    (bs, None, {"df": 5, "degree": -1}, ValueError, "degree must be >= 0"),
    (bs, None, {"df": 5, "degree": 2.5}, TypeError, "degree must be an integer"),
    (ns, None, {"df": 3, "include_intercept": 1}, TypeError, "include_intercept must be a bool"),
    (ns, None, {"df": 3, "lower_bound": "0"}, TypeError, "lower_bound must be a real number"),
    (bs, np.array([0.0, np.inf, 1.0]), {"df": 4}, ValueError, "finite or NaN"),
    (ns, np.array(["a", "b"]), {"df": 3}, TypeError, "real numbers"),
    (ns, np.ones((3, 2)), {"df": 3}, ValueError, "1-D or a column vector"),
    (ns, np.array([np.nan, np.nan]), {"df": 3}, ValueError, "no data"),
])
def test_bad_terms_are_refused(fn, x, kw, error, pattern):
    if x is None:
        x, _ = data(11, 50)
    with pytest.raises(error, match=pattern):
        fn(x, **kw)


def test_transform_needs_placed_knots():
    with pytest.raises(ValueError, match="not placed"):
        NS().transform([0.5])
    with pytest.raises(ValueError, match="never called"):
        BS().memorize_finish()


def test_the_core_package_does_not_import_patsy():
    code = ("import sys, bsbasis, bsbasis.sklearn; bsbasis.natural_design_matrix([0.5], [], 0, 1)"
            "; sys.exit('patsy' in sys.modules)")
    assert subprocess.run([sys.executable, "-c", code], cwd=HERE).returncode == 0


# ------------------------------------------------------------------- docs

def test_the_examples_run_and_the_docstrings_have_the_sections():
    for obj in (bs, ns):
        assert_numpydoc(obj.__doc__)
    for method in (BS.memorize_chunk, NS.memorize_chunk, BS.memorize_finish, NS.transform):
        for section in ("Returns", "Raises"):
            assert "%s\n        %s" % (section, "-" * len(section)) in method.__doc__
    assert "cr" in ns.__doc__ and "cardinal" in ns.__doc__
    assert list(inspect.signature(bs).parameters) == [
        "x", "df", "knots", "degree", "include_intercept", "lower_bound", "upper_bound"]
    assert list(inspect.signature(ns).parameters) == [
        "x", "df", "knots", "include_intercept", "lower_bound", "upper_bound"]
    assert run_examples(bsbasis.formula, "S") >= 6  # BS and NS
