"""bsbasis.gam against R's mgcv: the same model (knots, penalty scaling,
constraints), the same smoothing parameters by REML and GCV, the same
standard errors, partial effects and summary; and the errors of bad input.

The comparisons run mgcv through Rscript on data written to a temporary
directory, and skip when Rscript or mgcv is missing."""
import math
import shutil
import subprocess

import numpy as np
import pytest

# The model's numerics, the same however the package is installed: run once.
pytestmark = pytest.mark.once

from bsbasis import gam
from bsbasis.gam import GAM, factor, linear, s, te

pd = pytest.importorskip("pandas")

R_MODEL = """
library(mgcv)
d <- read.csv(file.path(dir, "data.csv"))
d$f <- factor(d$f)
nd <- read.csv(file.path(dir, "new.csv"))
nd$f <- factor(nd$f, levels = levels(d$f))
con <- file(file.path(dir, "out.txt"), "w")
out <- function(name, v) cat(name, sprintf("%.17g", as.numeric(v)), "\n", file = con)
term_edf <- function(b) sapply(b$smooth, function(s) sum(b$edf[s$first.para:s$last.para]))
form <- y ~ s(x0, bs = "ps") + s(x1, bs = "ps", k = 12, m = c(1, 2)) + s(x2, bs = "ps") +
  te(x3, x4, bs = "ps", np = FALSE) + x5 + f
b <- gam(form, data = d, method = "REML")
out("reml_sp", b$sp); out("reml_edf", term_edf(b)); out("reml_score", b$gcv.ubre)
out("reml_sig2", b$sig2); out("reml_total", sum(b$edf))
g <- gam(form, data = d, method = "GCV.Cp")
out("gcv_sp", g$sp); out("gcv_edf", term_edf(g)); out("gcv_score", g$gcv.ubre)
fx <- gam(form, data = d, sp = c(0.5, 3, 20, 0.1, 7))
out("fixed_fitted", fitted(fx)); out("fixed_score", fx$gcv.ubre)
w <- gam(form, data = d, weights = d$w, sp = c(0.5, 3, 20, 0.1, 7))
out("weighted_fitted", fitted(w))
p <- predict(b, newdata = nd, se.fit = TRUE)
out("pred_fit", p$fit); out("pred_se", p$se.fit)
tt <- predict(b, newdata = nd, type = "terms", se.fit = TRUE)
for (j in colnames(tt$fit)) { out(paste0("terms_fit:", j), tt$fit[, j]);
  out(paste0("terms_se:", j), tt$se.fit[, j]) }
sm <- summary(b)
out("s_edf", sm$s.table[, 1]); out("s_refdf", sm$s.table[, 2])
out("s_F", sm$s.table[, 3]); out("s_p", sm$s.table[, 4])
out("p_est", sm$p.table[, 1]); out("p_se", sm$p.table[, 2]); out("p_p", sm$p.table[, 4])
wk <- gam(yw ~ s(x5, bs = "ps") + s(x0, bs = "ps"), data = d, method = "REML")
out("weak_sp", wk$sp); out("weak_p", summary(wk)$s.table[, 4])
out("weak_refdf", summary(wk)$s.table[, 2])
kn <- list(x0 = c(-0.9, -0.6, -0.3, 0, 0.2, 0.3, 0.5, 0.7, 1, 1.3, 1.6, 1.9))
form2 <- y ~ s(x0, bs = "ps", k = 8) + te(x3, x4, x5, bs = "ps", np = FALSE) +
  te(x1, x2, bs = "ps", k = c(6, 4), np = FALSE)
e <- gam(form2, data = d, knots = kn, sp = c(1.5, 1, 2, 3, 0.5, 4))
out("extra_fitted", fitted(e))
er <- gam(form2, data = d, knots = kn, method = "REML")
out("extra_sp", er$sp); out("extra_score", er$gcv.ubre); out("extra_edf", term_edf(er))
fo <- gam(yw ~ s(x0, bs = "cp") + s(x5, bs = "ps", m = c(2, 1)) + s(x2, bs = "ps"),
  data = d, method = "REML")
out("full_sp", fo$sp); out("full_p", summary(fo)$s.table[, 4])
out("full_refdf", summary(fo)$s.table[, 2]); out("full_F", summary(fo)$s.table[, 3])
cy <- gam(y ~ s(x0, bs = "cp") + s(x2, bs = "ps"), data = d, sp = c(2, 5))
out("cyclic_fitted", fitted(cy))
close(con)
"""

# Our terms for R's formula above: s(x1, k = 12, m = c(1, 1)) is a
# degree-2 basis with 12 functions (11 knots).
TERMS = [s("x0"), s("x1", n_knots=11, k=2, penalty=2), s("x2"), te("x3", "x4"),
         linear("x5"), factor("f")]
FIXED = [0.5, 3.0, 20.0, 0.1, 7.0]


def have_mgcv():
    rscript = shutil.which("Rscript")
    if rscript is None:
        return False
    proc = subprocess.run([rscript, "-e", "library(mgcv)"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    return proc.returncode == 0


def make_data(n, seed):
    rng = np.random.default_rng(seed)
    d = pd.DataFrame(rng.uniform(0, 1, (n, 6)), columns=["x%d" % j for j in range(6)])
    d["f"] = rng.choice(["a", "b", "c"], n)
    d["w"] = rng.uniform(0.5, 2.0, n)
    d["y"] = (np.sin(6 * d.x0) + d.x1 ** 2 + np.cos(4 * d.x2) + 2 * d.x3 * d.x4
              + 0.5 * d.x5 + (d.f == "b") * 0.3 + rng.normal(0, 0.3, n))
    d["yw"] = np.sin(6 * d.x0) + 0.12 * np.sin(4 * d.x5) + rng.normal(0, 0.3, n)
    return d


def read_output(path):
    out = {}
    with open(path) as f:
        for line in f:
            parts = line.split()
            out[parts[0]] = np.array([float(v) for v in parts[1:]])
    return out


@pytest.fixture(scope="module")
def mgcv(tmp_path_factory):
    """(training data, new data, mgcv's results)."""
    if not have_mgcv():
        pytest.skip("Rscript with mgcv is not installed")
    work = tmp_path_factory.mktemp("mgcv")
    data, new = make_data(400, 1), make_data(60, 2)
    new["x0"] = np.linspace(-0.05, 1.05, 60)  # a little beyond the data: linear there
    data.to_csv(work / "data.csv", index=False)
    new.to_csv(work / "new.csv", index=False)
    script = 'dir <- "%s"\n%s' % (work, R_MODEL)
    subprocess.run([shutil.which("Rscript"), "-e", script], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return data, new, read_output(work / "out.txt")


def relative(a, b):
    return np.max(np.abs(np.asarray(a) - np.asarray(b))) / (np.ptp(b) or 1.0)


def test_fixed_lam_gives_mgcvs_fitted_values(mgcv):
    data, _, ref = mgcv
    model = GAM(TERMS, lam=FIXED, method="GCV").fit(data, data.y)
    assert relative(model.predict(data), ref["fixed_fitted"]) < 1e-8
    assert model.score_ == pytest.approx(ref["fixed_score"][0], rel=1e-8)


def test_weights_give_mgcvs_fitted_values(mgcv):
    data, _, ref = mgcv
    model = GAM(TERMS, lam=FIXED).fit(data, data.y, weights=data.w)
    assert relative(model.predict(data), ref["weighted_fitted"]) < 1e-8


def test_periodic_smooth_is_mgcvs_cyclic_p_spline(mgcv):
    data, _, ref = mgcv
    model = GAM([s("x0", periodic=True), s("x2")], lam=[2.0, 5.0]).fit(data, data.y)
    assert relative(model.predict(data), ref["cyclic_fitted"]) < 1e-8


# mgcv's knots above for s(x0), its k = 8 and a te with k = c(6, 4): the
# same as explicit knots and n_knots = k - 3 + 1 per margin here.
EXTRA = [s("x0", t=[-0.9, -0.6, -0.3, 0, 0.2, 0.3, 0.5, 0.7, 1, 1.3, 1.6, 1.9]),
         te("x3", "x4", "x5"), te("x1", "x2", n_knots=[4, 2])]


def test_explicit_knots_and_three_column_te_give_mgcvs_fit(mgcv):
    data, _, ref = mgcv
    model = GAM(EXTRA, lam=[1.5, 1, 2, 3, 0.5, 4]).fit(data, data.y)
    assert relative(model.predict(data), ref["extra_fitted"]) < 1e-8


def test_reml_of_three_penalty_te_matches_mgcv(mgcv):
    data, _, ref = mgcv
    at_mgcv = GAM(EXTRA, lam=ref["extra_sp"]).fit(data, data.y)
    assert at_mgcv.score_ == pytest.approx(ref["extra_score"][0], rel=1e-6)
    model = GAM(EXTRA).fit(data, data.y)
    assert np.all(np.abs(model.edf_ - ref["extra_edf"])
                  <= np.maximum(0.01 * ref["extra_edf"], 0.05))


def test_reml_matches_mgcv(mgcv):
    data, _, ref = mgcv
    model = GAM(TERMS).fit(data, data.y)
    smooth = model.edf_[:4]
    assert np.all(np.abs(smooth - ref["reml_edf"]) <= np.maximum(0.01 * ref["reml_edf"], 0.05))
    assert model.edf_total_ == pytest.approx(ref["reml_total"][0], abs=0.05)
    assert model.scale_ == pytest.approx(ref["reml_sig2"][0], rel=1e-3)
    # The criterion itself, at mgcv's smoothing parameters.
    at_mgcv = GAM(TERMS, lam=ref["reml_sp"]).fit(data, data.y)
    assert at_mgcv.score_ == pytest.approx(ref["reml_score"][0], rel=1e-6)
    assert model.score_ <= at_mgcv.score_ + 1e-6


def test_gcv_matches_mgcv(mgcv):
    data, _, ref = mgcv
    model = GAM(TERMS, method="GCV").fit(data, data.y)
    assert np.all(np.abs(model.edf_[:4] - ref["gcv_edf"])
                  <= np.maximum(0.01 * ref["gcv_edf"], 0.05))
    at_mgcv = GAM(TERMS, method="GCV", lam=ref["gcv_sp"]).fit(data, data.y)
    assert at_mgcv.score_ == pytest.approx(ref["gcv_score"][0], rel=1e-6)
    assert model.score_ <= at_mgcv.score_ * (1 + 1e-8)


@pytest.fixture(scope="module")
def at_mgcv_reml(mgcv):
    """Our model at mgcv's REML smoothing parameters."""
    data, _, ref = mgcv
    return GAM(TERMS, lam=ref["reml_sp"]).fit(data, data.y)


def test_prediction_and_se_match_mgcv(mgcv, at_mgcv_reml):
    _, new, ref = mgcv
    fit, se = at_mgcv_reml.predict(new, se=True)
    assert relative(fit, ref["pred_fit"]) < 1e-6
    assert np.max(np.abs(se / ref["pred_se"] - 1)) < 1e-4


def test_partial_effects_match_mgcvs_terms(mgcv, at_mgcv_reml):
    _, new, ref = mgcv
    names = {"s(x0)": "s(x0)", "s(x1)": "s(x1)", "s(x2)": "s(x2)", "te(x3,x4)": "te(x3,x4)",
             "x5": "x5", "f": "f"}
    for ours, theirs in names.items():
        fit, se = at_mgcv_reml.partial(new, ours, se=True)
        assert relative(fit, ref["terms_fit:" + theirs]) < 1e-6, ours
        assert np.allclose(se, ref["terms_se:" + theirs], rtol=1e-4, atol=1e-12), ours


def test_summary_matches_mgcv(mgcv, at_mgcv_reml):
    _, _, ref = mgcv
    table = at_mgcv_reml.summary()
    smooth = table.smooth
    assert np.allclose([r["edf"] for r in smooth], ref["s_edf"], rtol=1e-5)
    assert np.allclose([r["ref_df"] for r in smooth], ref["s_refdf"], rtol=1e-5)
    assert np.allclose([r["F"] for r in smooth], ref["s_F"], rtol=1e-4)
    # mgcv's Davies algorithm is accurate to about 2e-5 absolute; mgcv prints
    # no p-value below 2e-16 as other than that bound.
    p = np.array([r["p"] for r in smooth])
    assert np.all((np.abs(p - ref["s_p"]) < 5e-5) | ((p < 1e-12) & (ref["s_p"] < 1e-12)))
    par = table.parametric
    assert [r["term"] for r in par] == ["(Intercept)", "x5", "fb", "fc"]
    assert np.allclose([r["se"] for r in par], ref["p_se"], rtol=1e-5)
    assert np.allclose([r["p"] for r in par], ref["p_p"], rtol=1e-4, atol=1e-12)
    assert "Approximate significance" in str(table)


def test_summary_p_value_of_a_weak_term_matches_mgcv(mgcv):
    """A weak term, its p-value well inside (0, 1) and its rank between two
    integers, where the test's mixture of chi-squares matters: equal to
    mgcv's to the accuracy of mgcv's Davies algorithm (about 2e-5)."""
    data, _, ref = mgcv
    model = GAM([s("x5"), s("x0")], lam=ref["weak_sp"]).fit(data, data.yw)
    rows = model.summary().smooth
    assert 0.01 < ref["weak_p"][0] < 0.9 and 2.1 < ref["weak_refdf"][0] < 2.9
    assert rows[0]["ref_df"] == pytest.approx(ref["weak_refdf"][0], rel=1e-5)
    assert rows[0]["p"] == pytest.approx(ref["weak_p"][0], abs=5e-5)


def test_fit_takes_one_pass_of_sums_and_no_rows(monkeypatch, small):
    """fit forms the sums once and evaluates no row of the model."""
    X, y = small
    calls = []
    real_sums = gam.model_sums

    def counting(*args, **kwargs):
        calls.append(1)
        return real_sums(*args, **kwargs)

    def refuse(*args, **kwargs):
        raise AssertionError("fit evaluated the model's rows")

    monkeypatch.setattr(gam, "model_sums", counting)
    monkeypatch.setattr(gam, "model_evaluate", refuse)
    GAM([s(0), te(1, 2)]).fit(X, y)
    assert len(calls) == 1


def test_numpy_columns_and_data_frame_names_agree(small):
    X, y = small
    frame = pd.DataFrame(X, columns=["a", "b", "c"])
    by_index = GAM([s(0), linear(2)]).fit(X, y)
    by_name = GAM([s("a"), linear("c")]).fit(frame, y)
    assert np.allclose(by_index.predict(X), by_name.predict(frame), rtol=1e-12)
    assert by_name.terms_ == ["s(a)", "c"]


def test_summary_of_terms_without_unpenalised_functions_matches_mgcv(mgcv):
    """Periodic and first-order penalised smooths: mgcv's test for terms
    whose penalty has no null space; the second term is weak, its p-value
    well inside (0, 1)."""
    data, _, ref = mgcv
    model = GAM([s("x0", periodic=True), s("x5", penalty=1), s("x2")],
                lam=ref["full_sp"]).fit(data, data.yw)
    assert 1e-3 < ref["full_p"][1] < 0.9
    rows = model.summary().smooth
    assert np.allclose([r["ref_df"] for r in rows], ref["full_refdf"], rtol=1e-6)
    assert np.allclose([r["F"] for r in rows], ref["full_F"], rtol=1e-5)
    p = np.array([r["p"] for r in rows])
    assert np.all((np.abs(p - ref["full_p"]) < 5e-5) | ((p < 1e-12) & (ref["full_p"] < 1e-12)))


# -- bad input ----------------------------------------------------------------

@pytest.fixture
def small():
    rng = np.random.default_rng(7)
    X = rng.uniform(0, 1, (100, 3))
    y = np.sin(4 * X[:, 0]) + rng.normal(0, 0.1, 100)
    return X, y


def test_nan_or_inf_in_y_names_the_row(small):
    X, y = small
    y = y.copy()
    y[17] = np.nan
    with pytest.raises(ValueError, match="row 17"):
        GAM([s(0)]).fit(X, y)
    y[17], y[3] = 0.0, np.inf
    with pytest.raises(ValueError, match="row 3"):
        GAM([s(0)]).fit(X, y)


def test_nan_in_a_used_column_names_row_and_term(small):
    X, y = small
    X = X.copy()
    X[42, 1] = np.inf
    with pytest.raises(ValueError, match=r"s\(x1\).*row 42"):
        GAM([s(0), s(1)]).fit(X, y)
    GAM([s(0), s(2)]).fit(X, y)  # the column no term uses does not matter


def test_negative_weight_names_the_row(small):
    X, y = small
    w = np.ones(100)
    w[9] = -1.0
    with pytest.raises(ValueError, match="row 9"):
        GAM([s(0)]).fit(X, y, weights=w)


def test_constant_column_names_the_term(small):
    X, y = small
    X = X.copy()
    X[:, 2] = 1.5
    with pytest.raises(ValueError, match=r"s\(x2\).*constant"):
        GAM([s(0), s(2)]).fit(X, y)
    with pytest.raises(ValueError, match=r"x2.*constant"):
        GAM([linear(2)]).fit(X, y)


def test_too_few_distinct_values_names_the_term(small):
    X, y = small
    X = X.copy()
    X[:, 1] = np.round(X[:, 1] * 4)  # 5 distinct values, 10 functions
    with pytest.raises(ValueError, match=r"s\(x1\).*distinct"):
        GAM([s(1)]).fit(X, y)
    with pytest.raises(ValueError, match=r"s\(x1\).*distinct"):
        GAM([s(1, n_knots=4)]).fit(X, y)  # 6 functions: too many still
    GAM([s(1, n_knots=3, k=2)]).fit(X, y)  # 4 functions

def test_column_out_of_range_names_the_term(small):
    X, y = small
    with pytest.raises(ValueError, match=r"s\(x5\).*out of range"):
        GAM([s(0), s(5)]).fit(X, y)
    with pytest.raises(ValueError, match=r"te\(a,x3\).*out of range"):
        GAM([te(0, 3)]).fit(pd.DataFrame(X, columns=["a", "b", "c"]), y)
    with pytest.raises(ValueError, match=r"s\(d\).*no column named 'd'"):
        GAM([s("d")]).fit(pd.DataFrame(X, columns=["a", "b", "c"]), y)


def test_unseen_factor_level_at_prediction(small):
    X, y = small
    X = X.copy()
    X[:, 2] = np.arange(100) % 3
    model = GAM([s(0), factor(2)]).fit(X, y)
    X[5, 2] = 7
    with pytest.raises(ValueError, match="row 5"):
        model.predict(X)


def test_unsupported_family_lists_the_supported():
    with pytest.raises(ValueError, match="gaussian.*binomial.*poisson"):
        GAM([s(0)], family="gamma")


def test_lam_needs_one_positive_value_per_penalty(small):
    X, y = small
    with pytest.raises(ValueError, match="3 finite values"):
        GAM([s(0), te(1, 2)], lam=[1.0, 1.0]).fit(X, y)


def test_plot_draws_each_smooth(small):
    pytest.importorskip("matplotlib")
    X, y = small
    figure = GAM([s(0), te(1, 2)]).fit(X, y).plot()
    assert len(figure.axes) >= 2
    assert gam.GAM is GAM and not math.isnan(figure.get_figwidth())


def test_distinct_values_are_counted_past_a_repetitive_start():
    from bsbasis.gam import _distinct
    x = np.r_[np.zeros(5000), np.arange(1.0, 21.0)]
    assert _distinct(x, 10) == 21           # the start alone has one value
    assert _distinct(np.arange(5000.0), 10) >= 10
    assert _distinct(np.r_[np.zeros(5000), 1.0], 10) == 2


# -- binomial and Poisson ------------------------------------------------------

R_FAMILIES = """
library(mgcv)
d <- read.csv(file.path(dir, "data.csv"))
nd <- read.csv(file.path(dir, "new.csv"))
con <- file(file.path(dir, "out.txt"), "w")
out <- function(name, v) cat(name, sprintf("%.17g", as.numeric(v)), "\\n", file = con)
term_edf <- function(b) sapply(b$smooth, function(s) sum(b$edf[s$first.para:s$last.para]))
rhs <- paste("~ s(x0, bs = 'ps') + s(x1, bs = 'ps') + s(x2, bs = 'ps') +",
             "te(x3, x4, bs = 'ps', np = FALSE) + x5")
tight <- gam.control(epsilon = 1e-12, maxit = 200)
sp <- c(0.5, 3, 20, 0.1, 7)
for (fam in c("binomial", "poisson")) {
  form <- as.formula(paste(if (fam == "binomial") "yb" else "yp", rhs))
  family <- get(fam)()
  fx <- gam(form, family = family, data = d, sp = sp, control = tight)
  out(paste0(fam, "_fitted"), fitted(fx))
  p <- predict(fx, newdata = nd, type = "response", se.fit = TRUE)
  out(paste0(fam, "_pred_fit"), p$fit); out(paste0(fam, "_pred_se"), p$se.fit)
  p <- predict(fx, newdata = nd, type = "link", se.fit = TRUE)
  out(paste0(fam, "_link_fit"), p$fit); out(paste0(fam, "_link_se"), p$se.fit)
  sm <- summary(fx)
  out(paste0(fam, "_s_edf"), sm$s.table[, 1]); out(paste0(fam, "_s_refdf"), sm$s.table[, 2])
  out(paste0(fam, "_s_chisq"), sm$s.table[, 3]); out(paste0(fam, "_s_p"), sm$s.table[, 4])
  out(paste0(fam, "_p_se"), sm$p.table[, 2]); out(paste0(fam, "_p_z"), sm$p.table[, 3])
  out(paste0(fam, "_p_p"), sm$p.table[, 4]); out(paste0(fam, "_deviance"), deviance(fx))
  b <- bam(form, family = family, data = d, method = "fREML")
  out(paste0(fam, "_reml_edf"), term_edf(b))
  u <- bam(form, family = family, data = d, method = "GCV.Cp")
  out(paste0(fam, "_ubre_edf"), term_edf(u))
}
tr <- gam(cbind(succ, trials - succ) ~ s(x0, bs = "ps") + s(x2, bs = "ps"), family = binomial(),
          data = d, sp = c(2, 5), control = tight)
out("trials_fitted", fitted(tr))
close(con)
"""

FAMILY_TERMS = [s("x0"), s("x1"), s("x2"), te("x3", "x4"), linear("x5")]
FAMILY_LAM = [0.5, 3.0, 20.0, 0.1, 7.0]


def family_data(n, seed):
    rng = np.random.default_rng(seed)
    d = pd.DataFrame(rng.uniform(0, 1, (n, 6)), columns=["x%d" % j for j in range(6)])
    eta = (np.sin(6 * d.x0) + d.x1 ** 2 + np.cos(4 * d.x2) + 2 * d.x3 * d.x4 + 0.5 * d.x5
           - 1.0)
    d["yb"] = (rng.uniform(0, 1, n) < 1 / (1 + np.exp(-eta))).astype(float)
    d["yp"] = rng.poisson(np.exp(eta)).astype(float)
    d["trials"] = rng.integers(1, 8, n).astype(float)
    d["succ"] = rng.binomial(d.trials.astype(int), 1 / (1 + np.exp(-eta))).astype(float)
    return d


@pytest.fixture(scope="module")
def mgcv_families(tmp_path_factory):
    """(training data, new data, mgcv's results) for binomial and Poisson."""
    if not have_mgcv():
        pytest.skip("Rscript with mgcv is not installed")
    work = tmp_path_factory.mktemp("mgcv_families")
    data, new = family_data(1000, 11), family_data(50, 12)
    data.to_csv(work / "data.csv", index=False)
    new.to_csv(work / "new.csv", index=False)
    script = 'dir <- "%s"\n%s' % (work, R_FAMILIES)
    subprocess.run([shutil.which("Rscript"), "-e", script], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return data, new, read_output(work / "out.txt")


RESPONSE = {"binomial": "yb", "poisson": "yp"}


@pytest.fixture(scope="module")
def fixed_family_fits(mgcv_families):
    data, _, _ = mgcv_families
    return {fam: GAM(FAMILY_TERMS, family=fam, lam=FAMILY_LAM, tol=1e-12).fit(data, data[y])
            for fam, y in RESPONSE.items()}


@pytest.mark.parametrize("family", ["binomial", "poisson"])
def test_family_fixed_lam_gives_mgcvs_fitted_values(mgcv_families, fixed_family_fits, family):
    data, _, ref = mgcv_families
    model = fixed_family_fits[family]
    assert relative(model.predict(data), ref[family + "_fitted"]) < 1e-8
    assert model.deviance_ == pytest.approx(ref[family + "_deviance"][0], rel=1e-9)
    assert model.scale_ == 1.0


@pytest.mark.parametrize("family", ["binomial", "poisson"])
def test_family_predictions_and_se_match_mgcv(mgcv_families, fixed_family_fits, family):
    _, new, ref = mgcv_families
    model = fixed_family_fits[family]
    for kind in ("response", "link"):
        key = family + ("_pred" if kind == "response" else "_link")
        fit, se = model.predict(new, type=kind, se=True)
        assert relative(fit, ref[key + "_fit"]) < 1e-7, kind
        assert np.max(np.abs(se / ref[key + "_se"] - 1)) < 1e-5, kind


@pytest.mark.parametrize("family", ["binomial", "poisson"])
def test_family_summary_matches_mgcvs_known_scale_tests(mgcv_families, fixed_family_fits,
                                                        family):
    _, _, ref = mgcv_families
    table = fixed_family_fits[family].summary()
    smooth, par = table.smooth, table.parametric
    assert np.allclose([r["edf"] for r in smooth], ref[family + "_s_edf"], rtol=1e-6)
    assert np.allclose([r["ref_df"] for r in smooth], ref[family + "_s_refdf"], rtol=1e-5)
    assert np.allclose([r["chi_sq"] for r in smooth], ref[family + "_s_chisq"], rtol=1e-5)
    p = np.array([r["p"] for r in smooth])
    want = ref[family + "_s_p"]
    assert np.all((np.abs(p - want) < 5e-5) | ((p < 1e-12) & (want < 1e-12)))
    assert np.allclose([r["se"] for r in par], ref[family + "_p_se"], rtol=1e-6)
    assert np.allclose([r["z"] for r in par], ref[family + "_p_z"], rtol=1e-6)
    assert np.allclose([r["p"] for r in par], ref[family + "_p_p"], rtol=1e-5, atol=1e-12)
    assert "Chi.sq" in str(table) and "z value" in str(table)


@pytest.mark.parametrize("family", ["binomial", "poisson"])
@pytest.mark.parametrize("method", ["REML", "GCV"])
def test_family_smoothing_parameters_match_bams_performance_iteration(mgcv_families, family,
                                                                      method):
    data, _, ref = mgcv_families
    model = GAM(FAMILY_TERMS, family=family, method=method).fit(data, data[RESPONSE[family]])
    want = ref[family + ("_reml_edf" if method == "REML" else "_ubre_edf")]
    assert np.all(np.abs(model.edf_[:4] - want) <= np.maximum(0.01 * want, 0.05))


def test_binomial_proportions_with_trials_as_weights_match_mgcv(mgcv_families):
    data, _, ref = mgcv_families
    model = GAM([s("x0"), s("x2")], family="binomial", lam=[2.0, 5.0], tol=1e-12)
    model.fit(data, data.succ / data.trials, weights=data.trials)
    assert relative(model.predict(data), ref["trials_fitted"]) < 1e-8


def test_poisson_fit_takes_few_passes_over_the_rows(monkeypatch):
    """Each IRLS iteration is one model_irls call; a Poisson fit of a few
    thousand rows converges in a handful of them, and forms no other sums
    and evaluates no row."""
    data = family_data(3000, 21)
    calls = []
    real = gam.model_irls

    def counting(*args, **kwargs):
        calls.append(kwargs.get("coef") is None)
        return real(*args, **kwargs)

    def refuse(*args, **kwargs):
        raise AssertionError("the fit made another pass over the rows")

    monkeypatch.setattr(gam, "model_irls", counting)
    monkeypatch.setattr(gam, "model_sums", refuse)
    monkeypatch.setattr(gam, "model_evaluate", refuse)
    model = GAM(FAMILY_TERMS, family="poisson").fit(data, data.yp)
    assert 2 <= len(calls) <= 10
    assert calls[0] and not any(calls[1:])  # the start, then the fitted coefficients
    assert len(calls) == model.n_iter_ + 1


def test_family_response_out_of_range_names_the_row(small):
    X, _ = small
    y = (X[:, 0] > 0.5).astype(float)
    y[23] = 1.5
    with pytest.raises(ValueError, match=r"\[0, 1\].*row 23"):
        GAM([s(0)], family="binomial").fit(X, y)
    y[23], y[4] = 1.0, -0.25
    with pytest.raises(ValueError, match=r"row 4"):
        GAM([s(0)], family="binomial").fit(X, y)
    counts = np.round(X[:, 1] * 5)
    counts[61] = -1.0
    with pytest.raises(ValueError, match=r">= 0.*row 61"):
        GAM([s(0)], family="poisson").fit(X, counts)
    counts[61] = np.nan
    with pytest.raises(ValueError, match=r"NaN or inf.*row 61"):
        GAM([s(0)], family="poisson").fit(X, counts)


def test_gaussian_constraint_uses_unweighted_column_sums(small):
    """With weights a smooth still sums to zero over the rows unweighted,
    as mgcv constrains it."""
    X, y = small
    w = np.linspace(0.2, 3.0, 100)
    model = GAM([s(0), s(1)], lam=[1.0, 2.0]).fit(X, y, weights=w)
    assert abs(model.partial(X, 0).sum()) < 1e-9


def test_tol_must_be_in_zero_one():
    for bad in (0.0, -1e-7, 1.0, True, "1e-7"):
        with pytest.raises(ValueError, match="tol"):
            GAM([s(0)], family="poisson", tol=bad)


def test_tighter_tol_takes_more_iterations_and_moves_the_fit_little():
    data = family_data(800, 31)
    loose = GAM(FAMILY_TERMS, family="poisson", lam=FAMILY_LAM, tol=1e-3).fit(data, data.yp)
    tight = GAM(FAMILY_TERMS, family="poisson", lam=FAMILY_LAM, tol=1e-12).fit(data, data.yp)
    assert loose.n_iter_ < tight.n_iter_
    assert 0 < relative(loose.predict(data), tight.predict(data)) < 1e-2


def test_an_exact_fit_by_the_unpenalised_part_is_named():
    rng = np.random.default_rng(40)
    X = rng.uniform(0, 1, (300, 2))
    y = 2 * X[:, 1] + 1  # linear(1) and the intercept fit it exactly
    with pytest.raises(ValueError, match="fitted exactly .* use method='GCV' or give lam"):
        GAM([s(0), linear(1)]).fit(X, y)
    by_gcv = GAM([s(0), linear(1)], method="GCV").fit(X, y)
    fixed = GAM([s(0), linear(1)], lam=[1.0]).fit(X, y)
    assert np.allclose(by_gcv.predict(X), y) and np.allclose(fixed.predict(X), y)
    assert math.isnan(fixed.score_)


def test_an_array_of_doubles_is_read_in_place():
    from bsbasis.gam import _frame_columns
    rng = np.random.default_rng(41)
    X = rng.uniform(0, 1, (3000, 5))
    y = np.sin(6 * X[:, 0]) + X[:, 2] ** 2 + rng.normal(0, 0.2, 3000)
    terms = [s(0), s(2), s(4)]                 # columns evenly spaced: a view
    in_place = GAM(terms).fit(X, y)
    assert np.shares_memory(in_place._used_matrix(*_frame_columns(X), X), X)
    uneven = GAM([s(0), s(1), s(4)]).fit(X, y)  # not evenly spaced: a copy
    assert not np.shares_memory(uneven._used_matrix(*_frame_columns(X), X), X)
    pd = pytest.importorskip("pandas")
    copied = GAM(terms).fit(pd.DataFrame(X), y)  # a frame's columns are copied
    assert np.array_equal(in_place.coef_, copied.coef_)
    Xb = X.copy()
    Xb[7, 2] = np.nan
    with pytest.raises(ValueError, match="row 7"):
        GAM(terms).fit(Xb, y)
