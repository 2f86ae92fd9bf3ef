"""The numerics of bsbasis.gam: a penalised least-squares fit from the sums
X'WX, X'Wy, y'Wy, its smoothing parameters chosen by REML or GCV (REML or
UBRE when the scale is known), and the
approximate test of a smooth term of Wood (2013).

Every function works in the coordinates of the constrained model (each
smooth's sum-to-zero constraint absorbed), on p x p matrices: nothing here
sees a row of the data.
"""

from __future__ import annotations

import math
from typing import TYPE_CHECKING, Callable, List, NamedTuple, Sequence, Tuple

import numpy as np
import scipy.integrate
import scipy.linalg
import scipy.stats

if TYPE_CHECKING:
    from numpy.typing import NDArray

    Objective = Callable[[NDArray[np.float64]], Tuple[float, NDArray[np.float64]]]

# log(lam) stays within these bounds: beyond them a smooth is already at its
# null space (or unpenalised) to rounding.
LOG_LAM_BOUNDS = (-25.0, 25.0)
_MAX_ITER = 200
_GRAD_TOL = 1e-9
_HESS_STEP = 1e-4
_EPS = float(np.finfo(float).eps)


class Penalty(NamedTuple):
    """One penalty: the matrix S (block x block) on coefficients
    start:stop, and the index of its block."""
    start: int
    stop: int
    S: NDArray[np.float64]
    block: int


class Block(NamedTuple):
    """The coefficients start:stop of one smooth, its penalties' indices,
    and U, an orthonormal basis of the range of the sum of its penalties."""
    start: int
    stop: int
    penalties: Tuple[int, ...]
    U: NDArray[np.float64]


class Problem(NamedTuple):
    """A penalised least-squares problem from its sums."""
    gram: NDArray[np.float64]
    rhs: NDArray[np.float64]
    yty: float
    n: int  # rows of positive weight
    log_weights: float  # sum of log(w) over those rows
    penalties: Tuple[Penalty, ...]
    blocks: Tuple[Block, ...]

    @property
    def null_dim(self) -> int:
        """Mp: the dimension of the total penalty's null space."""
        return self.gram.shape[0] - sum(b.U.shape[1] for b in self.blocks)


class Solution(NamedTuple):
    coef: NDArray[np.float64]
    inverse: NDArray[np.float64]  # (X'WX + S_lam)^-1
    log_det: float  # log |X'WX + S_lam|
    dp: float  # penalised residual sum of squares
    rss: float
    edf: float  # trace of F = inverse @ gram


def make_block(start: int, stop: int, penalties: Tuple[int, ...],
               matrices: Sequence[NDArray[np.float64]], rank: int) -> Block:
    """A block whose range basis is the top `rank` eigenvectors of the sum
    of its penalty matrices."""
    total = np.sum(matrices, axis=0)
    values, vectors = np.linalg.eigh((total + total.T) / 2)
    return Block(start, stop, penalties, vectors[:, ::-1][:, :rank].copy())


def total_penalty(problem: Problem, lam: NDArray[np.float64]) -> NDArray[np.float64]:
    """S_lam = sum of lam_j S_j, p x p."""
    p = problem.gram.shape[0]
    S = np.zeros((p, p))
    for pen, l in zip(problem.penalties, lam):
        S[pen.start:pen.stop, pen.start:pen.stop] += l * pen.S
    return S


def solve(problem: Problem, lam: NDArray[np.float64]) -> Solution:
    """The fit at lam; LinAlgError when X'WX + S_lam is not positive definite."""
    A = problem.gram + total_penalty(problem, lam)
    factor = scipy.linalg.cho_factor(A)
    inverse = scipy.linalg.cho_solve(factor, np.eye(A.shape[0]))
    inverse = (inverse + inverse.T) / 2
    coef = scipy.linalg.cho_solve(factor, problem.rhs)
    log_det = 2.0 * float(np.sum(np.log(np.diag(factor[0]))))
    dp = max(problem.yty - float(coef @ problem.rhs), 0.0)
    rss = max(problem.yty - 2.0 * float(coef @ problem.rhs)
              + float(coef @ problem.gram @ coef), 0.0)
    edf = float(np.sum(inverse * problem.gram))
    return Solution(coef, inverse, log_det, dp, rss, edf)


def _scaled(problem: Problem, lam: NDArray[np.float64]) -> List[NDArray[np.float64]]:
    """lam_j S_j, each as a p x p matrix."""
    p = problem.gram.shape[0]
    out = []
    for pen, l in zip(problem.penalties, lam):
        S = np.zeros((p, p))
        S[pen.start:pen.stop, pen.start:pen.stop] = l * pen.S
        out.append(S)
    return out


def penalty_log_det(problem: Problem, lam: NDArray[np.float64]
                    ) -> Tuple[float, NDArray[np.float64]]:
    """log |S_lam|+ (the product of its positive eigenvalues) and its
    derivatives by log(lam), block by block on each block's range space."""
    value = 0.0
    grad = np.zeros(len(lam))
    for block in problem.blocks:
        if block.U.shape[1] == 0:
            continue
        parts = [block.U.T @ problem.penalties[j].S @ block.U for j in block.penalties]
        M = sum(lam[j] * part for j, part in zip(block.penalties, parts))
        factor = scipy.linalg.cho_factor(M)
        value += 2.0 * float(np.sum(np.log(np.diag(factor[0]))))
        for j, part in zip(block.penalties, parts):
            grad[j] = lam[j] * float(np.trace(scipy.linalg.cho_solve(factor, part)))
    return value, grad


class ExactFit(ValueError):
    """The model's unpenalised part fits the response exactly: the scale
    estimate is 0, every lam gives that same fit, and REML has no optimum."""


def reml(problem: Problem, rho: NDArray[np.float64]) -> Tuple[float, NDArray[np.float64]]:
    """The restricted likelihood criterion of a Gaussian model with its scale
    profiled out, and its gradient in rho = log(lam).

    V = Dp / (2 phi) + (n - Mp) / 2 log(2 pi phi) - sum(log w) / 2
        + log|X'WX + S_lam| / 2 - log|S_lam|+ / 2,   phi = Dp / (n - Mp).
    """
    lam = np.exp(rho)
    sol = solve(problem, lam)
    dof = problem.n - problem.null_dim
    # Zero to rounding: dp is formed as y'Wy - coef'X'Wy.
    if not sol.dp > problem.gram.shape[0] * _EPS * problem.yty:
        raise ExactFit("the response is fitted exactly by the model's unpenalised part: the "
                       "residual variance is 0 and REML has no optimum (every lam gives that "
                       "fit); use method='GCV' or give lam")
    phi = sol.dp / dof
    log_s, grad_s = penalty_log_det(problem, lam)
    value = (sol.dp / (2 * phi) + dof / 2 * math.log(2 * math.pi * phi)
             - problem.log_weights / 2 + sol.log_det / 2 - log_s / 2)
    grad = np.empty(len(lam))
    for j, S in enumerate(_scaled(problem, lam)):
        dp_j = float(sol.coef @ S @ sol.coef)
        grad[j] = dp_j / (2 * phi) + float(np.sum(sol.inverse * S)) / 2 - grad_s[j] / 2
    return value, grad


def reml_known(problem: Problem, rho: NDArray[np.float64]
               ) -> Tuple[float, NDArray[np.float64]]:
    """The restricted likelihood criterion of a model whose scale is known
    to be 1 (the working model of a binomial or Poisson fit), and its
    gradient in rho = log(lam), up to a constant free of lam.

    V = Dp / 2 + log|X'WX + S_lam| / 2 - log|S_lam|+ / 2 - Mp / 2 log(2 pi).
    """
    lam = np.exp(rho)
    sol = solve(problem, lam)
    log_s, grad_s = penalty_log_det(problem, lam)
    value = (sol.dp / 2 + sol.log_det / 2 - log_s / 2
             - problem.null_dim / 2 * math.log(2 * math.pi))
    grad = np.empty(len(lam))
    for j, S in enumerate(_scaled(problem, lam)):
        dp_j = float(sol.coef @ S @ sol.coef)
        grad[j] = dp_j / 2 + float(np.sum(sol.inverse * S)) / 2 - grad_s[j] / 2
    return value, grad


def _rss_edf_derivatives(problem: Problem, lam: NDArray[np.float64],
                         sol: Solution) -> List[Tuple[float, float]]:
    """The derivatives of the residual sum of squares and of the edf in
    rho_j = log(lam_j), for each j, at the solution sol."""
    residual = total_penalty(problem, lam) @ sol.coef  # X'W(y - X coef)
    AG = sol.inverse @ problem.gram
    out = []
    for S in _scaled(problem, lam):
        d_coef = -sol.inverse @ (S @ sol.coef)
        out.append((-2.0 * float(residual @ d_coef),
                    -float(np.sum((sol.inverse @ S) * AG.T))))
    return out


def ubre(problem: Problem, rho: NDArray[np.float64]) -> Tuple[float, NDArray[np.float64]]:
    """mgcv's UBRE (Mallows' Cp) for a known scale of 1, rss / n - 1 +
    2 edf / n, and its gradient in rho = log(lam)."""
    lam = np.exp(rho)
    sol = solve(problem, lam)
    n = problem.n
    value = sol.rss / n - 1.0 + 2.0 * sol.edf / n
    grad = np.array([d_rss / n + 2.0 * d_edf / n
                     for d_rss, d_edf in _rss_edf_derivatives(problem, lam, sol)])
    return value, grad


def gcv(problem: Problem, rho: NDArray[np.float64]) -> Tuple[float, NDArray[np.float64]]:
    """n * rss / (n - edf)^2 and its gradient in rho = log(lam)."""
    lam = np.exp(rho)
    sol = solve(problem, lam)
    n = problem.n
    dof = n - sol.edf
    value = n * sol.rss / dof ** 2
    grad = np.array([n * d_rss / dof ** 2 + 2 * n * sol.rss * d_edf / dof ** 3
                     for d_rss, d_edf in _rss_edf_derivatives(problem, lam, sol)])
    return value, grad


def _hessian(fun: Objective, rho: NDArray[np.float64]) -> NDArray[np.float64]:
    """Central differences of the analytic gradient, symmetrised."""
    m = len(rho)
    H = np.empty((m, m))
    for j in range(m):
        step = np.zeros(m)
        step[j] = _HESS_STEP
        H[:, j] = (fun(rho + step)[1] - fun(rho - step)[1]) / (2 * _HESS_STEP)
    return (H + H.T) / 2


def _newton_step(H: NDArray[np.float64], grad: NDArray[np.float64]) -> NDArray[np.float64]:
    """-H^-1 grad with H's eigenvalues made positive, at most 5 in length."""
    values, vectors = np.linalg.eigh(H)
    floor = max(float(np.max(np.abs(values))) * 1e-7, 1e-10)
    values = np.maximum(np.abs(values), floor)
    step = -vectors @ ((vectors.T @ grad) / values)
    size = float(np.max(np.abs(step)))
    return step * (5.0 / size) if size > 5.0 else step


def _converged(grad: NDArray[np.float64], rho: NDArray[np.float64], value: float) -> bool:
    """The gradient vanishes, save where rho is at a bound and the
    criterion would go on down beyond it."""
    lo, hi = LOG_LAM_BOUNDS
    free = ~(((rho <= lo) & (grad > 0)) | ((rho >= hi) & (grad < 0)))
    return bool(np.all(np.abs(grad[free]) <= _GRAD_TOL * (abs(value) + 1e-6)))


def newton(fun: Objective, rho: NDArray[np.float64]) -> Tuple[NDArray[np.float64], int]:
    """Minimises fun over rho by Newton's method with step halving; returns
    (rho, iterations)."""
    lo, hi = LOG_LAM_BOUNDS
    rho = np.clip(np.asarray(rho, dtype=np.float64), lo, hi)
    value, grad = fun(rho)
    for iteration in range(1, _MAX_ITER + 1):
        if _converged(grad, rho, value):
            return rho, iteration - 1
        step = _newton_step(_hessian(fun, rho), grad)
        for _ in range(30):
            trial = np.clip(rho + step, lo, hi)
            try:
                trial_value, trial_grad = fun(trial)
            except (np.linalg.LinAlgError, ZeroDivisionError, ValueError):
                trial_value = math.inf
            if trial_value <= value:
                break
            step = step / 2
        else:
            return rho, iteration
        improvement = value - trial_value
        rho, value, grad = trial, trial_value, trial_grad
        if improvement <= 1e-12 * (1.0 + abs(value)) and np.max(np.abs(step)) < 1e-8:
            return rho, iteration
    return rho, _MAX_ITER


def initial_log_lam(problem: Problem) -> NDArray[np.float64]:
    """Starting values: each lam balances the size of the diagonal of X'WX
    against that of its penalty, over the coefficients the penalty touches."""
    rho = []
    for pen in problem.penalties:
        d = np.diag(pen.S)
        used = d > 0
        g = np.diag(problem.gram)[pen.start:pen.stop][used]
        rho.append(math.log(max(float(np.mean(np.abs(g))), 1e-300) / float(np.mean(d[used]))))
    return np.array(rho, dtype=np.float64)


def second_edf(sol: Solution, gram: NDArray[np.float64]
               ) -> Tuple[NDArray[np.float64], NDArray[np.float64]]:
    """(edf, edf1) per coefficient: diag(F) and diag(2F - FF), F = inverse @ gram."""
    F = sol.inverse @ gram
    edf = np.diag(F).copy()
    return edf, 2 * edf - np.sum(F * F.T, axis=1)


# -- Wood (2013): the test that a smooth term is zero ------------------------

def imhof_upper(weights: NDArray[np.float64], dfs: NDArray[np.float64],
                x: float = 0.0) -> float:
    """P(sum_j weights_j chi2(dfs_j) > x), by Imhof's (1961) integral.

    With x > 0 the integrand oscillates as sin(x u / 2) without end: beyond
    a few of its periods the integral is split into its cosine and sine
    parts, each taken by a Fourier quadrature."""
    def angle(u: float) -> float:
        return 0.5 * float(np.sum(dfs * np.arctan(weights * u)))

    def damping(u: float) -> float:
        log_rho = 0.25 * float(np.sum(dfs * np.log1p((weights * u) ** 2)))
        return 0.0 if log_rho > 700.0 else 1.0 / (u * math.exp(log_rho))

    def integrand(u: float) -> float:
        return math.sin(angle(u) - 0.5 * x * u) * damping(u)

    if x <= 0:
        value, _ = scipy.integrate.quad(integrand, 0.0, np.inf, limit=500, epsabs=1e-10,
                                        epsrel=1e-9)
    else:
        omega = 0.5 * x
        cut = 8 * math.pi / omega
        value, _ = scipy.integrate.quad(integrand, 0.0, cut, limit=500, epsabs=1e-11,
                                        epsrel=1e-10)
        # sin(A - w u) = sin(A) cos(w u) - cos(A) sin(w u)
        cos_part, _ = scipy.integrate.quad(lambda u: math.sin(angle(u)) * damping(u), cut,
                                           np.inf, weight="cos", wvar=omega, limlst=200)
        sin_part, _ = scipy.integrate.quad(lambda u: math.cos(angle(u)) * damping(u), cut,
                                           np.inf, weight="sin", wvar=omega, limlst=200)
        value += cos_part - sin_part
    return min(max(0.5 + float(value) / math.pi, 0.0), 1.0)


def _test_vectors(Vr: NDArray[np.float64], rank: float
                  ) -> Tuple[NDArray[np.float64], NDArray[np.float64], int, float, float]:
    """(vec, vec1, k, nu, rank): the scaled eigenvectors of the test, as
    mgcv's testStat forms them from R V R'."""
    values, vectors = np.linalg.eigh((Vr + Vr.T) / 2)
    values, vectors = values[::-1], vectors[:, ::-1]
    sign = np.sign(vectors[0])
    sign[sign == 0] = 1
    vectors = vectors * sign
    k = max(0, int(math.floor(rank)))
    nu = abs(rank - k)
    k1 = k + 1 if nu > 0 else k
    r_est = int(np.sum(values > values[0] * np.finfo(float).eps ** 0.9))
    if r_est < k1:
        k1 = k = r_est
        nu = 0.0
        rank = float(r_est)
    vec = vectors[:, :k1].copy()
    if nu > 0 and k > 0:
        vec[:, :k - 1] /= np.sqrt(values[:k - 1])
        b12 = math.sqrt(max(0.5 * nu * (1 - nu), 0.0))
        ev = np.diag(values[k - 1:k1] ** -0.5)
        B = ev @ np.array([[1.0, b12], [b12, nu]]) @ ev
        bval, bvec = np.linalg.eigh(B)
        rB = bvec @ np.diag(np.sqrt(bval)) @ bvec.T
        vec1 = vec.copy()
        vec1[:, k - 1:k1] = (rB @ np.diag([-1.0, 1.0]) @ vec[:, k - 1:k1].T).T
        vec[:, k - 1:k1] = (rB @ vec[:, k - 1:k1].T).T
    else:
        vec = vectors[:, :max(k, 1)] / np.sqrt(values[:max(k, 1)])
        vec1 = vec
        if k == 1:
            rank = 1.0
    return vec, vec1, k, nu, rank


def smooth_test(coef: NDArray[np.float64], gram: NDArray[np.float64],
                cov: NDArray[np.float64], rank: float, res_df: float
                ) -> Tuple[float, float, float]:
    """(statistic, p-value, reference df) of Wood's (2013) test that a
    smooth term is zero, as mgcv's summary.gam computes it for a model
    with an estimated scale: gram and cov are the term's blocks of X'WX
    and of the Bayesian covariance, rank its edf1 (capped at its width).
    With res_df <= 0 the scale is known (binomial, Poisson): the reference
    distribution is then a mixture of chi-squares alone, as mgcv's."""
    R = np.linalg.cholesky(gram).T
    vec, vec1, k, nu, rank = _test_vectors(R @ cov @ R.T, rank)
    Rp = R @ coef
    d = float(np.sum((vec.T @ Rp) ** 2))
    d1 = float(np.sum((vec1.T @ Rp) ** 2))
    pval = 2.0
    rank1 = rank
    if nu > 0:
        if k + 1 == 1:
            rank1 = 1.0
            val = np.ones(1)
        else:
            val = np.ones(k + 1)
            rp = nu + 1
            val[k - 1] = (rp + math.sqrt(rp * (2 - rp))) / 2
            val[k] = rp - val[k - 1]
        if res_df <= 0:
            ones = np.ones(len(val))
            pval = (imhof_upper(val, ones, d) + imhof_upper(val, ones, d1)) / 2
        else:
            k0 = max(1, int(round(res_df)))
            dfs = np.r_[np.ones(len(val)), k0]
            pval = (imhof_upper(np.r_[val, -d / k0], dfs)
                    + imhof_upper(np.r_[val, -d1 / k0], dfs)) / 2
    if pval > 1:
        if res_df <= 0:
            pval = float(scipy.stats.chi2.sf(d, rank1) + scipy.stats.chi2.sf(d1, rank1)) / 2
        else:
            pval = float(scipy.stats.f.sf(d / rank1, rank1, res_df)
                         + scipy.stats.f.sf(d1 / rank1, rank1, res_df)) / 2
    return d, min(1.0, pval), rank


def random_effect_test(coef: NDArray[np.float64], Vp: NDArray[np.float64],
                       Ve: NDArray[np.float64], res_df: float
                       ) -> Tuple[float, float, float]:
    """(statistic, p-value, reference df) of the test that a smooth with no
    unpenalised functions is zero, as mgcv's summary.gam computes it for
    such a term (its reTest, with an estimated scale and no random terms).

    The statistic is coef' Vp^-1 coef; under the hypothesis it is a sum of
    chi-squares weighted by the eigenvalues of Ve Vp^-1 (Ve the frequentist
    covariance), compared with the scale's chi-square on res_df degrees of
    freedom.  The reference df is the number of those eigenvalues that are
    not zero.  With res_df <= 0 the scale is known and the statistic is
    compared with the weighted chi-squares alone."""
    L = np.linalg.cholesky(Vp)
    stat = float(np.sum(scipy.linalg.solve_triangular(L, coef, lower=True) ** 2))
    half = scipy.linalg.solve_triangular(L, Ve, lower=True)
    M = scipy.linalg.solve_triangular(L, half.T, lower=True)
    ev = np.maximum(np.linalg.eigvalsh((M + M.T) / 2), 0.0)
    rank = float(np.sum(ev > ev.max() * np.finfo(float).eps ** 0.8))
    if res_df <= 0:
        return stat, imhof_upper(ev, np.ones(len(ev)), stat), rank
    k = max(1, int(round(res_df)))
    pval = imhof_upper(np.r_[ev, -stat / k], np.r_[np.ones(len(ev)), k])
    return stat, pval, rank
