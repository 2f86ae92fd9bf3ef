"""Symmetric banded matrices in the upper form of `scipy.linalg.solveh_banded`.

A symmetric (n, n) matrix A of bandwidth u is held as ``ab`` of shape
(u + 1, n) with ``ab[u + i - j, j] == A[i, j]`` for ``i <= j``; the
upper-left corner ``ab[r, j]`` with ``r + j < u`` holds no element and is
kept at zero here.
"""

from __future__ import annotations

import math
from typing import TYPE_CHECKING, Any, cast

import numpy as np
import scipy.linalg
import scipy.sparse as sp

from ._checks import as_real, as_real_array

if TYPE_CHECKING:
    from numpy.typing import ArrayLike, NDArray

    from ._typing import Real, SparseInput

SINGULAR_MESSAGE = (
    "the penalised normal equations are singular or not positive definite: "
    "too few abscissae for the basis, or lam = 0 with empty intervals; "
    "add a penalty (lam > 0) or data")

# Tolerance, relative to the largest entry, for a dense or sparse penalty to
# count as symmetric.
_SYMMETRY_RTOL = 1e-10


def _corner(u: int, n: int) -> NDArray[np.bool_]:
    """Mask of the entries of a (u + 1, n) band form that hold no element."""
    return np.add.outer(np.arange(u + 1), np.arange(n)) < u


def _clean(ab: NDArray[Any]) -> NDArray[np.float64]:
    """A float64 copy of the band form with its empty corner zeroed, cut to
    u <= n - 1 (rows above that hold no element)."""
    ab = np.array(ab[max(0, ab.shape[0] - ab.shape[1]):], dtype=np.float64, order="C")
    ab[_corner(ab.shape[0] - 1, ab.shape[1])] = 0.0
    return ab


def _check_symmetric(diff: float, scale: float, name: str) -> None:
    if diff > _SYMMETRY_RTOL * scale:
        raise ValueError("%s must be symmetric: max |P - P.T| = %r, max |P| = %r"
                         % (name, diff, scale))


def _asymmetry(a: NDArray[np.float64]) -> tuple[float, float]:
    """max |a - a.T| and max |a| of a square ndarray."""
    return float(np.abs(a - a.T).max(initial=0.0)), float(np.abs(a).max(initial=0.0))


def _from_dense(a: NDArray[np.float64]) -> NDArray[np.float64]:
    """The band form of a full symmetric matrix (its upper triangle)."""
    n = a.shape[0]
    i, j = np.nonzero(np.triu(a))
    u = int((j - i).max(initial=0))
    ab = np.zeros((u + 1, n))
    for d in range(u + 1):
        ab[u - d, d:] = np.diagonal(a, d)
    return ab


def _from_sparse(a: SparseInput, name: str) -> NDArray[np.float64]:
    """The band form of a symmetric sparse matrix."""
    a = sp.coo_array(a, dtype=np.float64)
    a.sum_duplicates()
    scale = float(np.abs(a.data).max(initial=0.0))
    diff = abs(a - a.T)
    _check_symmetric(float(diff.max()) if diff.nnz else 0.0, scale, name)
    upper = a.col >= a.row
    i, j, v = a.row[upper], a.col[upper], a.data[upper]
    u = int((j - i).max(initial=0))
    ab = np.zeros((u + 1, a.shape[1]))
    ab[u + i - j, j] = v
    return ab


def to_banded(P: ArrayLike | SparseInput, n: int, name: str = "penalty") -> NDArray[np.float64]:
    """A symmetric matrix in the upper band form of `scipy.linalg.solveh_banded`.

    Parameters
    ----------
    P : ndarray or sparse matrix
        The matrix, as one of:

        - a band form of shape (u + 1, n), ``P[u + i - j, j] == A[i, j]``
          for ``i <= j``, as `bsbasis.difference_penalty` gives it;
        - a scipy sparse matrix or array of shape (n, n), symmetric;
        - a dense ndarray of shape (n, n), symmetric.

        A square (n, n) ndarray is read as the full matrix when it is
        symmetric or has entries in the corner a band form leaves empty,
        and as a band form (u = n - 1) otherwise; pass a sparse matrix to
        leave no doubt.
    n : int
        Order of the matrix.
    name : str, optional
        Name of P in error messages.

    Returns
    -------
    ndarray, shape (u + 1, n)
        The band form, float64, with zeros in the corner that holds no
        element.  A band form with u >= n is cut to u = n - 1.

    Raises
    ------
    TypeError
        If P does not hold real numbers.
    ValueError
        If P has neither shape, is not symmetric, or is not finite.
    """
    if sp.issparse(P):
        # What issparse found, which mypy cannot tell (scipy ships no types).
        P = cast("SparseInput", P)
        if P.shape != (n, n):
            raise ValueError("%s is a sparse matrix of shape %s; expected (%d, %d)"
                             % (name, P.shape, n, n))
        if P.dtype.kind not in "iuf":
            raise TypeError("%s must hold real numbers, got dtype %s" % (name, P.dtype))
        ab = _from_sparse(P, name)
    else:
        a = as_real_array(P, name)
        if a.ndim != 2 or a.shape[1] != n or a.shape[0] < 1:
            raise ValueError("%s has shape %s; expected a band form (u + 1, %d) or a "
                             "full matrix (%d, %d)" % (name, a.shape, n, n, n))
        a = a.astype(np.float64)
        if not np.isfinite(a).all():
            raise ValueError("%s must be finite" % name)
        if a.shape[0] == n:
            diff, scale = _asymmetry(a)
            full: bool | np.bool_ = diff <= _SYMMETRY_RTOL * scale or a[_corner(n - 1, n)].any()
        else:
            full = False
        if full:
            _check_symmetric(diff, scale, name)
            ab = _from_dense(a)
        else:
            ab = _clean(a)
    if not np.isfinite(ab).all():
        raise ValueError("%s must be finite" % name)
    return ab


def bandwidth(ab: NDArray[Any]) -> int:
    """u of a band form of shape (u + 1, n)."""
    return ab.shape[0] - 1


def widen(ab: NDArray[np.float64], u: int) -> NDArray[np.float64]:
    """The band form ab padded with zero rows on top to bandwidth u."""
    v = bandwidth(ab)
    if u < v:
        raise ValueError("cannot narrow a band form of bandwidth %d to %d" % (v, u))
    out = np.zeros((u + 1, ab.shape[1]))
    out[u - v:] = ab
    return out


def check_lam(lam: Real) -> float:
    """lam as a float: a finite number >= 0."""
    lam = as_real(lam, "lam")
    if not (math.isfinite(lam) and lam >= 0.0):
        raise ValueError("lam must be finite and >= 0, got %r" % lam)
    return lam


def combine(gram: NDArray[Any], penalty: NDArray[Any], lam: Real) -> NDArray[np.float64]:
    """``gram + lam * penalty`` of two band forms.

    Parameters
    ----------
    gram, penalty : ndarray, shapes (u1 + 1, n) and (u2 + 1, n)
        Band forms of the same order n.
    lam : float
        Finite, >= 0.

    Returns
    -------
    ndarray, shape (max(u1, u2) + 1, n)
        The band form of the sum, empty corner zeroed.

    Raises
    ------
    TypeError
        If lam is not a real number.
    ValueError
        If lam is negative or not finite, or the orders differ.
    """
    lam = check_lam(lam)
    if gram.shape[1] != penalty.shape[1]:
        raise ValueError("the Gram matrix has order %d, the penalty %d"
                         % (gram.shape[1], penalty.shape[1]))
    gram, penalty = _clean(gram), _clean(penalty)
    u = max(bandwidth(gram), bandwidth(penalty))
    out = widen(gram, u)
    out[u - bandwidth(penalty):] += lam * penalty
    return out


def cholesky(ab: NDArray[Any]) -> NDArray[np.float64]:
    """Upper Cholesky factor U, ``A = U.T @ U``, of a band form.

    Parameters
    ----------
    ab : ndarray, shape (u + 1, n)
        Band form of a symmetric positive definite A.

    Returns
    -------
    ndarray, shape (u + 1, n)
        U in the same band form.

    Raises
    ------
    numpy.linalg.LinAlgError
        If LAPACK finds A not positive definite, or if A is numerically
        singular: ``lambda_min(U.T @ U) <= (u + 1) * (2u + 1) * eps * max_i A[i, i]``.

    Notes
    -----
    The computed U is the exact factor of ``A + E`` with
    ``|E| <= (u + 1) * eps * |U.T| @ |U|`` (to first order), whose entries are
    at most ``(u + 1) * eps * max_i A[i, i]``, on ``2u + 1`` diagonals.  So an
    exactly singular A gives a ``U.T @ U`` whose smallest eigenvalue is at
    most the bound above: below it the factor cannot tell A from a singular
    matrix, and solutions are noise.  Each pivot ``U[i, i]**2`` is at least
    that eigenvalue, so a pivot under the bound settles the matter at once;
    else the eigenvalue is estimated from above by inverse iteration with
    the factor (a few band solves).  Pivots alone do not suffice: under a
    heavy penalty a singular A can keep every pivot far above rounding.
    """
    ab = _clean(ab)
    n = ab.shape[1]
    u = bandwidth(ab)
    try:
        U: NDArray[np.float64] = scipy.linalg.cholesky_banded(ab, lower=False,
                                                              check_finite=False)
    except np.linalg.LinAlgError:
        raise np.linalg.LinAlgError(SINGULAR_MESSAGE) from None
    if n == 0:
        return U
    bound = (u + 1) * (2 * u + 1) * np.finfo(np.float64).eps * float(ab[u].max())
    if (not np.isfinite(U).all() or not bound > 0.0
            or float((U[u] ** 2).min()) <= bound or _smallest_eigenvalue(U) <= bound):
        raise np.linalg.LinAlgError(SINGULAR_MESSAGE)
    return _clean(U)


def _smallest_eigenvalue(U: NDArray[np.float64], steps: int = 3) -> float:
    """An upper bound of the smallest eigenvalue of ``U.T @ U``, close to it:
    ``1 / |A^-1 v|`` after inverse iteration from a fixed random v."""
    v = np.random.default_rng(0).standard_normal(U.shape[1])
    v /= np.linalg.norm(v)
    for _ in range(steps):
        w = scipy.linalg.cho_solve_banded((U, False), v, check_finite=False)
        norm = float(np.linalg.norm(w))
        if not math.isfinite(norm):
            return 0.0
        v = w / norm
    return 1.0 / norm


def cho_solve(U: NDArray[np.float64], b: NDArray[np.float64]) -> NDArray[np.float64]:
    """x with ``U.T @ U @ x == b``, U from `cholesky`."""
    x: NDArray[np.float64] = scipy.linalg.cho_solve_banded((U, False), b, check_finite=False)
    if not np.isfinite(x).all():
        raise np.linalg.LinAlgError(SINGULAR_MESSAGE)
    return x


def _rhs(rhs: ArrayLike | None, n: int) -> NDArray[np.float64]:
    if rhs is None:
        raise ValueError("responses are needed to solve for coefficients: form the "
                         "normal equations with y")
    b = as_real_array(rhs, "rhs").astype(np.float64)
    if b.shape != (n,):
        raise ValueError("rhs has shape %s; expected (%d,)" % (b.shape, n))
    if not np.isfinite(b).all():
        raise ValueError("rhs must be finite")
    return b


def solve_penalized(gram: NDArray[Any], rhs: ArrayLike | None,
                    penalty: ArrayLike | SparseInput | None = None,
                    lam: Real = 0.0) -> NDArray[np.float64]:
    """Coefficients of the penalised normal equations ``(G + lam P) c = r``.

    Parameters
    ----------
    gram : ndarray, shape (u + 1, n)
        G in band form, as ``NormalEquations.gram``.
    rhs : ndarray, shape (n,) or None
        r, as ``NormalEquations.rhs``; None (no responses) raises.
    penalty : ndarray or sparse matrix, optional
        P, in any form `to_banded` takes.  None for no penalty.
    lam : float, optional
        Finite, >= 0.  Default 0.

    Returns
    -------
    ndarray, shape (n,)
        c.

    Raises
    ------
    ValueError
        If rhs is None or of the wrong shape, or for a wrong penalty or lam.
    numpy.linalg.LinAlgError
        If ``G + lam P`` is singular (see `cholesky`).
    """
    n = gram.shape[1]
    b = _rhs(rhs, n)
    a = _clean(gram)
    if penalty is not None:
        a = combine(a, to_banded(penalty, n), lam)
    else:
        check_lam(lam)
    return cho_solve(cholesky(a), b)


def selected_inverse(U: NDArray[np.float64]) -> NDArray[np.float64]:
    """The entries of ``A^-1`` inside the band of A, from ``A = U.T @ U``.

    Parameters
    ----------
    U : ndarray, shape (u + 1, n)
        Upper Cholesky factor in band form, from `cholesky`.

    Returns
    -------
    ndarray, shape (u + 1, n)
        ``Z[u + i - j, j] == inv(A)[i, j]`` for ``0 <= j - i <= u``.

    Notes
    -----
    From ``U @ inv(A) = inv(U).T``, lower triangular with diagonal
    ``1 / U[i, i]``, row i gives for ``j >= i`` (Takahashi's recurrence)::

        Z[i, j] = (delta_ij / U[i, i] - sum_{k=i+1}^{i+u} U[i, k] Z[k, j]) / U[i, i]

    which needs only entries of Z inside the band of rows below i.  The rows
    are taken from the last up, O(n u**2) operations.
    """
    u = bandwidth(U)
    n = U.shape[1]
    # R[i, d - 1] = U[i, i + d] and, after the loop, S[i, d] = Z[i, i + d];
    # both zero past the last column.
    R = np.zeros((n, u))
    for d in range(1, u + 1):
        R[:n - d, d - 1] = U[u - d, d:]
    S = np.zeros((n, u + 1))
    # W: the dense block Z[i+1 .. i+u, i+1 .. i+u], zero past the last row.
    W = np.zeros((u, u))
    for i in range(n - 1, -1, -1):
        uii = U[u, i]
        r = R[i]
        off = (W @ r) / -uii
        zii = (1.0 / uii - r @ off) / uii
        S[i, 0] = zii
        S[i, 1:] = off
        # Slide the block up one row and column.
        W[1:, 1:] = W[:-1, :-1]
        if u:
            W[0, 0] = zii
            W[0, 1:] = W[1:, 0] = off[:-1]
    Z = np.zeros((u + 1, n))
    for d in range(u + 1):
        Z[u - d, d:] = S[:n - d, d]
    return Z


def trace_inverse_product(Z: NDArray[np.float64], G: NDArray[np.float64]) -> float:
    """``trace(inv(A) @ G)`` from the band of ``inv(A)`` and a band form G.

    Parameters
    ----------
    Z : ndarray, shape (u + 1, n)
        ``inv(A)`` inside the band, from `selected_inverse`.
    G : ndarray, shape (v + 1, n)
        Symmetric, in band form, ``v <= u``.

    Returns
    -------
    float
        ``sum_ij inv(A)[i, j] G[j, i]``: each off-diagonal band entry counts
        twice, for itself and its mirror.
    """
    u = bandwidth(Z)
    if G.shape[1] != Z.shape[1]:
        raise ValueError("the band forms have orders %d and %d" % (Z.shape[1], G.shape[1]))
    Gw = widen(G, u)
    prod = Z * Gw
    prod[_corner(u, Z.shape[1])] = 0.0
    return float(prod[u].sum() + 2.0 * prod[:u].sum())


def sym_matvec(ab: NDArray[np.float64], x: NDArray[np.float64]) -> NDArray[np.float64]:
    """``A @ x`` for A symmetric in band form; x of shape (..., n) gives
    one product per vector along the last axis."""
    u = bandwidth(ab)
    n = ab.shape[1]
    y: NDArray[np.float64] = ab[u] * x
    for d in range(1, min(u, n - 1) + 1):
        v = ab[u - d, d:]  # A[j - d, j]
        y[..., :-d] += v * x[..., d:]
        y[..., d:] += v * x[..., :-d]
    return y


# ------------------------------------------------- many lam at once
#
# A search over lam needs G + lam P at many lam.  Row by row work in Python
# costs far more than the arithmetic at these sizes, so the systems are
# handled together: their band forms side by side make one band matrix with
# blocks on its diagonal (the empty corner of each keeps the blocks apart),
# which LAPACK factors and solves in one call each.

# Step in ln(lam) of the five-point central difference that gives the
# effective degrees of freedom.  Its truncation error, about STEP**4 / 30
# times the fifth derivative of log det, and its rounding error, about
# eps * cond / STEP, balance here: the edf come within about 1e-8 of those
# of the selected inverse over the usual range of lam, 1e-6 at worst (near
# the ends of a search's window, or near a singular system).
_LOG_STEP = 0.03
# The stencil: offsets in steps and weights, after the centre (weight 0).
_STENCIL = np.array([-2.0, -1.0, 1.0, 2.0])
_WEIGHTS = np.array([1.0, -8.0, 8.0, -1.0]) / 12.0


class Pencil:
    """``(G + lam P) c = r`` at many lam at once, for a search over lam.

    Parameters
    ----------
    gram, penalty : ndarray, shapes (u1 + 1, n) and (u2 + 1, n)
        G and P in band form, P positive semi-definite.
    rhs : ndarray, shape (n,)
        r.

    Notes
    -----
    The effective degrees of freedom ``trace((G + lam P)^-1 G)`` equal
    ``n - d log det(G + lam P) / d ln(lam)``, since that derivative is
    ``lam * trace((G + lam P)^-1 P)``.  `at` takes it by a five-point
    central difference of the log-determinants, which the Cholesky factors
    give at once: five factorisations per lam, and no row by row work.  The
    values agree with `trace_inverse_product` of the selected inverse to
    about 1e-8, 1e-6 at worst (towards the ends of a search's window, or
    near a singular system); a fit reports the latter, at the lam the
    search chose.
    """

    def __init__(self, gram: NDArray[Any], penalty: NDArray[Any], rhs: ArrayLike) -> None:
        if gram.shape[1] != penalty.shape[1]:
            raise ValueError("the Gram matrix has order %d, the penalty %d"
                             % (gram.shape[1], penalty.shape[1]))
        gram, penalty = _clean(gram), _clean(penalty)
        u = max(bandwidth(gram), bandwidth(penalty))
        self.gram, self.penalty = widen(gram, u), widen(penalty, u)
        self.rhs = np.asarray(rhs, dtype=np.float64)
        self.n = gram.shape[1]

    def at(self, lams: ArrayLike) -> tuple[NDArray[np.float64], NDArray[np.float64],
                                           NDArray[np.bool_]]:
        """Coefficients, effective degrees of freedom and usability at each lam.

        Parameters
        ----------
        lams : ndarray, shape (L,)
            Finite, > 0.

        Returns
        -------
        coef : ndarray, shape (L, n)
        edf : ndarray, shape (L,)
        ok : ndarray of bool, shape (L,)
            False where a factorisation failed or a pivot fell within
            rounding of zero (the pivot test of `cholesky`); coef and edf
            hold no meaning there.
        """
        n = self.n
        lams = np.asarray(lams, dtype=np.float64).reshape(-1)
        count = len(lams)
        # Blocks: every lam, then every lam * e**(s*h) for each offset s.
        steps = np.exp(np.r_[0.0, _STENCIL * _LOG_STEP])
        all_lams = (steps[:, None] * lams[None, :]).reshape(-1)
        ab = self.gram[:, None, :] + all_lams[None, :, None] * self.penalty[:, None, :]
        U, ok = _stacked_cholesky(ab.reshape(self.gram.shape[0], -1), n)
        coef = _stacked_cho_solve(U[:, :count * n], self.rhs, n)
        diag = U[-1].reshape(len(steps), count, n)
        with np.errstate(divide="ignore", invalid="ignore"):
            log_det = 2.0 * np.log(diag[1:]).sum(axis=2)
        edf = n - (_WEIGHTS @ log_det) / _LOG_STEP
        ok = (ok.reshape(len(steps), count).all(axis=0) & np.isfinite(edf)
              & np.isfinite(coef).all(axis=1))
        return coef, edf, ok


def _stacked_cholesky(ab: NDArray[np.float64],
                      n: int) -> tuple[NDArray[np.float64], NDArray[np.bool_]]:
    """Upper Cholesky factors of the blocks of a stacked band form, and for
    each block whether it passed LAPACK and `cholesky`'s pivot test.  A
    block that failed holds the identity."""
    u = bandwidth(ab)
    blocks = ab.shape[1] // n
    ok = np.ones(blocks, dtype=bool)
    U = np.empty((u + 1, ab.shape[1]), order="F")
    start = 0
    while start < blocks:
        # LAPACK stops at the first column that is not positive: the blocks
        # before its block are factored, the ones after start again.
        c, info = scipy.linalg.lapack.dpbtrf(ab[:, start * n:], lower=0)
        if info == 0:
            U[:, start * n:] = c
            break
        if info < 0:
            raise ValueError("dpbtrf: illegal argument %d" % -info)
        bad = start + (info - 1) // n
        U[:, start * n:bad * n] = c[:, :(bad - start) * n]
        U[:, bad * n:(bad + 1) * n] = 0.0
        U[u, bad * n:(bad + 1) * n] = 1.0
        ok[bad] = False
        start = bad + 1
    bound = (u + 1) * (2 * u + 1) * np.finfo(np.float64).eps * ab[u].reshape(blocks, n).max(axis=1)
    ok &= (bound > 0.0) & ((U[u].reshape(blocks, n) ** 2).min(axis=1) > bound)
    return U, ok


def _stacked_cho_solve(U: NDArray[np.float64], b: NDArray[np.float64],
                       n: int) -> NDArray[np.float64]:
    """The solution of every block's system with the right-hand side b:
    shape (L, n)."""
    blocks = U.shape[1] // n
    rhs = np.tile(b, blocks)[:, None]
    x: NDArray[np.float64]
    x, info = scipy.linalg.lapack.dpbtrs(U, rhs, lower=0)
    if info != 0:
        raise ValueError("dpbtrs: illegal argument %d" % -info)
    return x.reshape(blocks, n)
