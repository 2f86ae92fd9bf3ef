"""The sums and row values of models of several terms (bsbasis._model), from
the library, against a dense model matrix built here from the package's
design matrices."""
import ctypes
import shutil
import subprocess

import numpy as np
import pytest

from bsbasis import _abi
from bsbasis import _model as M
from bsbasis._abi import NORMAL_TILE


# --- the dense reference ------------------------------------------------------

def margin_rows(m, x):
    from bsbasis._checks import _MODES
    from bsbasis._core import design_matrix, periodic_design_matrix, uniform_design_matrix
    names = {v: k for k, v in _MODES.items()}
    mode = False if m.extrapolate == _abi.EXTRAPOLATE_ERROR else names[m.extrapolate]
    if m.kind == M.MARGIN_KNOTS:
        A = design_matrix(x, m.t, m.order - 1, nu=m.nu, extrapolate=mode, nj=m.nj)
    elif m.kind == M.MARGIN_UNIFORM:
        A = uniform_design_matrix(x, m.order - 1, m.nj, nu=m.nu, origin=m.origin,
                                  spacing=m.spacing, extrapolate=mode)
    else:
        A = periodic_design_matrix(x, m.t, m.order - 1, nu=m.nu)
    return np.asarray(A.toarray(), dtype=np.float64)


def model_matrix(terms, X):
    """The dense model matrix of the rows of X (n x p)."""
    X = np.asarray(X, dtype=np.float64)
    n = X.shape[0]
    blocks = []
    for term in terms:
        if term.kind == M.TERM_INTERCEPT:
            blocks.append(np.ones((n, 1)))
        elif term.kind == M.TERM_LINEAR:
            blocks.append(X[:, term.column:term.column + 1].copy())
        elif term.kind == M.TERM_FACTOR:
            F = np.zeros((n, term.nlevels))
            F[np.arange(n), X[:, term.column].astype(np.int64)] = 1.0
            blocks.append(F)
        else:
            R = np.ones((n, 1))
            for m in term.margins:
                A = margin_rows(m, X[:, m.column])
                R = (R[:, :, None] * A[:, None, :]).reshape(n, -1)
            blocks.append(R)
    return np.hstack(blocks) if blocks else np.zeros((n, 0))


def dense_sums(terms, X, y=None, weights=None):
    A = model_matrix(terms, X)
    w = np.ones(A.shape[0]) if weights is None else np.asarray(weights, dtype=np.float64)
    WA = A * w[:, None]
    G = A.T @ WA
    if y is None:
        return M.ModelSums(G, None, 0.0, float(w.sum()), A.shape[0])
    y = np.asarray(y, dtype=np.float64)
    return M.ModelSums(G, WA.T @ y, float(y @ (w * y)), float(w.sum()), A.shape[0])


def dense_evaluate(terms, X, coef, cov=None):
    A = model_matrix(terms, X)
    fit = A @ np.asarray(coef, dtype=np.float64)
    return fit, None if cov is None else np.einsum("ij,jk,ik->i", A, cov, A)


# --- the model of the tests ---------------------------------------------------

def clamped(order, inner):
    inner = np.asarray(inner, dtype=np.float64)
    return np.r_[[inner[0]] * (order - 1), inner, [inner[-1]] * (order - 1)]


T2 = clamped(4, [-1.0, -0.5, 0.0, 0.25, 0.5, 1.0])
T2B = clamped(3, [-1.5, -0.5, 0.5, 1.5])
T0 = clamped(2, [-3.0, -1.0, 0.0, 2.0, 3.0])
T0B = clamped(3, [-3.0, 0.0, 3.0])
U4 = np.array([0.0, 0.2, 0.45, 0.6, 0.8, 1.0])
U4B = np.array([0.0, 0.25, 0.5, 0.75, 1.0])


def knots(t, order, column, mode):
    return M.Margin(M.MARGIN_KNOTS, column, order, t, nj=len(t) - order, extrapolate=mode)


# intercept + x0 + factor(x1) + s(x2) (ZERO: empty rows) + s(x3) uniform +
# s(x4) periodic + te(x2, x0) + te(x0, x3, x4) of the three kinds.
TERMS = [
    M.Term(M.TERM_INTERCEPT),
    M.Term(M.TERM_LINEAR, column=0),
    M.Term(M.TERM_FACTOR, column=1, nlevels=3),
    M.Term(M.TERM_SPLINE, (knots(T2, 4, 2, _abi.EXTRAPOLATE_ZERO),)),
    M.Term(M.TERM_SPLINE, (M.Margin(M.MARGIN_UNIFORM, 3, 3, nj=7, origin=-2.0, spacing=0.75,
                                    extrapolate=_abi.EXTRAPOLATE_LINEAR),)),
    M.Term(M.TERM_SPLINE, (M.Margin(M.MARGIN_PERIODIC, 4, 4, U4),)),
    M.Term(M.TERM_SPLINE, (knots(T2B, 3, 2, _abi.EXTRAPOLATE_ERROR),
                           knots(T0, 2, 0, _abi.EXTRAPOLATE_CONTINUE))),
    M.Term(M.TERM_SPLINE, (knots(T0B, 3, 0, _abi.EXTRAPOLATE_CONSTANT),
                           M.Margin(M.MARGIN_UNIFORM, 3, 2, nj=4, origin=-2.0, spacing=1.25,
                                    extrapolate=_abi.EXTRAPOLATE_ZERO),
                           M.Margin(M.MARGIN_PERIODIC, 4, 3, U4B))),
]


def data(n, seed):
    rng = np.random.default_rng(seed)
    X = np.c_[rng.uniform(-3.5, 3.5, n), rng.integers(0, 3, n), rng.uniform(-1.4, 1.4, n),
              rng.uniform(-2.5, 3.5, n), rng.uniform(-1.5, 2.5, n), np.full(n, np.nan)]
    y = rng.uniform(-2.0, 2.0, n)
    w = np.where(np.arange(n) % 7 == 3, 0.0, rng.uniform(0.25, 2.25, n))
    return X, y, w


def same_bits(a, b):
    a, b = np.asarray(a), np.asarray(b)
    return a.shape == b.shape and np.array_equal(a.view(np.int64), b.view(np.int64))


# --- the tests ------------------------------------------------------------------

def test_columns_are_the_widths_of_the_terms():
    X, _, _ = data(5, 1)
    widths = M.model_columns(TERMS)
    assert widths == [1, 1, 3, 8, 7, 5, 25, 64]
    assert M.model_sums(TERMS, X).gram.shape == (sum(widths),) * 2
    assert model_matrix(TERMS, X).shape == (5, sum(widths))


@pytest.mark.parametrize("with_y", [False, True])
@pytest.mark.parametrize("with_w", [False, True])
def test_sums_match_the_dense_model(with_y, with_w):
    X, y, w = data(2000, 2)
    assert np.sum(np.abs(X[:, 2]) > 1.0) > 100  # empty rows of s(x2)
    y, w = (y if with_y else None), (w if with_w else None)
    got, want = M.model_sums(TERMS, X, y, w), dense_sums(TERMS, X, y, w)
    scale = np.abs(want.gram).max()
    np.testing.assert_allclose(got.gram, want.gram, rtol=1e-12, atol=1e-12 * scale)
    assert same_bits(got.gram, got.gram.T)
    if with_y:
        np.testing.assert_allclose(got.rhs, want.rhs, rtol=1e-12, atol=1e-12 * scale)
        assert got.yty == pytest.approx(want.yty, rel=1e-12)
    else:
        assert got.rhs is None and got.yty == 0.0
    assert got.sw == pytest.approx(want.sw, rel=1e-13)
    assert got.count == 2000


def test_evaluate_matches_the_dense_model():
    X, _, _ = data(1500, 3)
    p = sum(M.model_columns(TERMS))
    rng = np.random.default_rng(4)
    coef = rng.uniform(-1.0, 1.0, p)
    A = rng.uniform(-1.0, 1.0, (p, p))
    V = A @ A.T / p
    fit, var = M.model_evaluate(TERMS, X, coef, V)
    want_fit, want_var = dense_evaluate(TERMS, X, coef, V)
    np.testing.assert_allclose(fit, want_fit, rtol=1e-11, atol=1e-12)
    np.testing.assert_allclose(var, want_var, rtol=1e-11, atol=1e-12)
    fit_only, none = M.model_evaluate(TERMS, X, coef)
    assert none is None and same_bits(fit_only, fit)


def test_threads_and_layouts_give_the_same_bits():
    n = 2 * NORMAL_TILE + 321
    X, y, w = data(n, 5)
    one = M.model_sums(TERMS, X, y, w, threads=1)
    two = M.model_sums(TERMS, X, y, w, threads=2)
    fortran = M.model_sums(TERMS, np.asfortranarray(X), y, w, threads=2)
    for s in (two, fortran):
        assert same_bits(s.gram, one.gram) and same_bits(s.rhs, one.rhs)
        assert (s.yty, s.sw, s.count) == (one.yty, one.sw, one.count)
    # Weights of 1 are no weights.
    assert same_bits(M.model_sums(TERMS, X, y, np.ones(n), threads=2).gram,
                     M.model_sums(TERMS, X, y, threads=1).gram)
    p = one.gram.shape[0]
    coef = np.linspace(-1.0, 1.0, p)
    f1, v1 = M.model_evaluate(TERMS, X[:40000], coef, np.eye(p), threads=1)
    f2, v2 = M.model_evaluate(TERMS, np.asfortranarray(X[:40000]), coef, np.eye(p), threads=2)
    assert same_bits(f1, f2) and same_bits(v1, v2)


def test_a_split_at_a_tile_adds_up():
    n = NORMAL_TILE + 500
    X, y, w = data(n, 6)
    whole = M.model_sums(TERMS, X, y, w, threads=1)
    a = M.model_sums(TERMS, X[:NORMAL_TILE], y[:NORMAL_TILE], w[:NORMAL_TILE], threads=1)
    b = M.model_sums(TERMS, X[NORMAL_TILE:], y[NORMAL_TILE:], w[NORMAL_TILE:], threads=1)
    assert same_bits(a.gram + b.gram, whole.gram)
    assert same_bits(a.rhs + b.rhs, whole.rhs)
    assert a.count + b.count == whole.count


def fault(X, y=None, w=None, terms=TERMS):
    with pytest.raises(ValueError) as info:
        M.model_sums(terms, X, y, w)
    message = str(info.value)
    if y is None and w is None:
        with pytest.raises(ValueError) as again:
            M.model_evaluate(terms, X, np.zeros(sum(M.model_columns(terms))))
        assert str(again.value) == message
    return message


def test_bad_data_is_named():
    X, y, w = data(50, 7)
    Xb = X.copy()
    Xb[9, 0] = np.nan
    assert fault(Xb).startswith("X[9, 0] = nan: terms[1] (linear) needs values that are finite")
    Xb = X.copy()
    Xb[8, 1] = 1.5
    assert fault(Xb).startswith("X[8, 1] = 1.5: terms[2] (a factor) needs values that are "
                                "an integer level 0 .. 2")
    Xb = X.copy()
    Xb[7, 4] = np.inf
    assert fault(Xb) == "X[7, 4] = inf: terms[5].margins[0] needs finite values"
    Xb = X.copy()
    Xb[6, 2] = 1.6  # s(x2) under ZERO takes it; te(x2, x0) under ERROR does not
    assert fault(Xb) == ("X[6, 2] = 1.6 is outside the base interval [-1.5, 1.5] of "
                         "terms[6].margins[0], whose extrapolate is error")
    # The first row at fault, whatever the term.
    Xb[4, 3] = np.nan
    assert fault(Xb).startswith("X[4, 3] = nan: terms[4].margins[0]")
    wb = w.copy()
    wb[11] = -1.0
    assert fault(X, y, wb) == "weights[11] = -1.0: weights must be finite and >= 0"
    yb = y.copy()
    yb[10] = np.nan
    assert fault(X, yb, wb) == "y[10] = nan: responses must be finite"


def test_bad_terms_and_shapes_are_refused():
    X, y, _ = data(20, 8)
    bad = list(TERMS)
    bad[2] = M.Term(M.TERM_FACTOR, column=9, nlevels=3)
    assert fault(X, terms=bad).startswith("terms[2] (Term(kind=2")
    bad[2] = M.Term(M.TERM_SPLINE, (M.Margin(M.MARGIN_PERIODIC, 4, 6, U4),))
    assert fault(X, terms=bad).endswith("): number of basis functions out of range")  # 5 < 6
    with pytest.raises(ValueError, match=r"y must have shape \(20,\)"):
        M.model_sums(TERMS, X, y[:5])
    with pytest.raises(ValueError, match=r"coef must have shape \(114,\)"):
        M.model_evaluate(TERMS, X, np.zeros(3))
    with pytest.raises(ValueError, match="X must be 2-D"):
        M.model_sums(TERMS, X[:, 0])


def test_the_structs_are_laid_out_as_the_header_says():
    if shutil.which("cc") is None:
        pytest.skip("no cc")
    import os
    import tempfile
    include = os.path.join(os.path.dirname(__file__), "..", "..", "include")
    fields = {"bsbasis_margin": _abi.Margin, "bsbasis_term": _abi.Term}
    lines = []
    for struct, cls in fields.items():
        lines.append('printf("%%zu\\n", sizeof(%s));' % struct)
        for name, _ in cls._fields_:
            lines.append('printf("%%zu\\n", offsetof(%s, %s));' % (struct, name))
    source = ("#include <stddef.h>\n#include <stdio.h>\n#include \"bsbasis.h\"\n"
              "int main(void) {\n%s\nreturn 0;\n}\n" % "\n".join(lines))
    with tempfile.TemporaryDirectory() as tmp:
        c, exe = os.path.join(tmp, "layout.c"), os.path.join(tmp, "layout")
        with open(c, "w") as f:
            f.write(source)
        subprocess.run(["cc", "-std=c99", "-I", include, c, "-o", exe], check=True)
        got = [int(v) for v in subprocess.run([exe], capture_output=True, text=True,
                                              check=True).stdout.split()]
    want = []
    for cls in fields.values():
        want.append(ctypes.sizeof(cls))
        want += [getattr(cls, name).offset for name, _ in cls._fields_]
    assert got == want


def test_a_fault_in_a_later_tile_names_its_row():
    n = NORMAL_TILE + 50
    X, y, w = data(n, 9)
    y[NORMAL_TILE + 7] = np.nan
    with pytest.raises(ValueError, match=r"^y\[%d\] = nan" % (NORMAL_TILE + 7)):
        M.model_sums(TERMS, X, y, w, threads=2)
    X[20001, 0] = np.nan
    with pytest.raises(ValueError, match=r"^X\[20001, 0\] = nan"):
        M.model_evaluate(TERMS, X, np.zeros(sum(M.model_columns(TERMS))), threads=2)


# --- iterations of a family ----------------------------------------------------

def dense_working(family, eta, y, w):
    """Working weights and responses and the rows' deviances, from the
    families' formulas (without the library's guards, which these data do
    not reach)."""
    if family == M.FAMILY_BINOMIAL:
        mu = 1.0 / (1.0 + np.exp(-eta))
        dmu = mu * (1.0 - mu)
        with np.errstate(divide="ignore", invalid="ignore"):
            dev = -2.0 * w * np.where(y > 0.5, np.log(mu), np.log(1.0 - mu))
        return w * dmu, eta + (y - mu) / dmu, dev
    mu = np.exp(eta)
    with np.errstate(divide="ignore", invalid="ignore"):
        dev = 2.0 * w * (np.where(y > 0, y * np.log(y / mu), 0.0) - (y - mu))
    return w * mu, eta + (y - mu) / mu, dev


IRLS_TERMS = [M.Term(M.TERM_INTERCEPT), M.Term(M.TERM_FACTOR, column=1, nlevels=3),
              M.Term(M.TERM_SPLINE, (knots(T2, 4, 2, _abi.EXTRAPOLATE_ZERO),))]


@pytest.mark.parametrize("family", [M.FAMILY_BINOMIAL, M.FAMILY_POISSON])
def test_an_iteration_matches_its_dense_working_model(family):
    X, _, w = data(3000, 7)
    rng = np.random.default_rng(8)
    y = (rng.uniform(size=3000) < 0.4).astype(float) if family == M.FAMILY_BINOMIAL \
        else rng.poisson(2.0, 3000).astype(float)
    p = sum(M.model_columns(IRLS_TERMS))
    coef = rng.uniform(-0.5, 0.5, p)
    got = M.model_irls(IRLS_TERMS, X, y, w, family=family, coef=coef)
    A = model_matrix(IRLS_TERMS, X)
    W, z, dev = dense_working(family, A @ coef, y, w)
    scale = np.abs(A.T @ (W[:, None] * A)).max()
    np.testing.assert_allclose(got.gram, A.T @ (W[:, None] * A), rtol=1e-11, atol=1e-12 * scale)
    np.testing.assert_allclose(got.rhs, A.T @ (W * z), rtol=1e-10, atol=1e-10 * scale)
    assert got.deviance == pytest.approx(dev.sum(), rel=1e-11)
    assert got.sw == pytest.approx(W.sum(), rel=1e-12)
    np.testing.assert_allclose(got.colsums, A.sum(axis=0), rtol=1e-12, atol=1e-9)
    assert got.count == 3000


def test_gaussian_sums_bring_the_column_sums_and_the_same_bits():
    X, y, w = data(NORMAL_TILE + 77, 9)
    with_y = M.model_sums(TERMS, X, y, w, threads=2)
    plain = M._run_sums(M._Call(TERMS, X), y, w, 1, None, None)  # without the family
    assert same_bits(with_y.gram, M._symmetric(plain[0])) and same_bits(with_y.rhs, plain[1])
    np.testing.assert_allclose(with_y.colsums, model_matrix(TERMS, X).sum(axis=0),
                               rtol=1e-12, atol=1e-9)
    assert M.model_sums(TERMS, X).colsums is None


def test_iterations_are_the_same_bits_on_any_threads():
    n = 2 * NORMAL_TILE + 5
    X, _, w = data(n, 10)
    y = np.random.default_rng(11).poisson(1.5, n).astype(float)
    p = sum(M.model_columns(IRLS_TERMS))
    coef = np.linspace(-0.3, 0.3, p)
    one = M.model_irls(IRLS_TERMS, X, y, w, family=M.FAMILY_POISSON, coef=coef, threads=1)
    two = M.model_irls(IRLS_TERMS, np.asfortranarray(X), y, w, family=M.FAMILY_POISSON,
                       coef=coef, threads=2)
    for a, b in zip(one, two):
        assert same_bits(a, b)


def test_responses_outside_the_family_are_named():
    X, _, _ = data(NORMAL_TILE + 20, 12)
    y = np.full(len(X), 0.5)
    y[NORMAL_TILE + 3] = 2.0
    with pytest.raises(ValueError, match=r"y\[%d\] = 2.0: responses must be in \[0, 1\]"
                       % (NORMAL_TILE + 3)):
        M.model_irls(IRLS_TERMS, X, y, family=M.FAMILY_BINOMIAL, threads=2)
    y[NORMAL_TILE + 3] = -1.0
    with pytest.raises(ValueError, match=r"y\[%d\] = -1.0: .* >= 0 for the Poisson"
                       % (NORMAL_TILE + 3)):
        M.model_irls(IRLS_TERMS, X, y, family=M.FAMILY_POISSON)
    with pytest.raises(ValueError, match="coef must be finite"):
        M.model_irls(IRLS_TERMS, X, np.zeros(len(X)), family=M.FAMILY_POISSON,
                     coef=np.full(sum(M.model_columns(IRLS_TERMS)), np.nan))
