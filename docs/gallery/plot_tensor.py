"""
A penalised tensor-product surface
==================================

:func:`bsbasis.tensor_design_matrix` builds the basis of products of
B-splines in two (or more) variables. This example fits a surface to
scattered, noisy points in the unit square, with a hole where no data
lie, by least squares with a difference penalty in each direction, and
draws it as a filled contour beside the true surface.
"""

import matplotlib.pyplot as plt
import numpy as np
import scipy.sparse as sp

import bsbasis

# %%
# Scattered data with a hole
# --------------------------
#
# 1,500 points drawn at random in the unit square, none in a disc of
# radius 0.18 around (0.65, 0.4), and a surface with a ridge and a bump,
# plus noise of standard deviation 0.1.

rng = np.random.default_rng(3)


def surface(x, y):
    bump = np.exp(-((x - 0.3)**2 + (y - 0.75)**2) / 0.02)
    return np.sin(2 * np.pi * x) * np.cos(np.pi * y) + bump


pts = rng.uniform(0.0, 1.0, (3000, 2))
pts = pts[np.hypot(pts[:, 0] - 0.65, pts[:, 1] - 0.4) > 0.18][:1500]
z = surface(pts[:, 0], pts[:, 1]) + rng.normal(0.0, 0.1, len(pts))

# %%
# The basis and the penalty
# -------------------------
#
# Cubic B-splines on 12 equally spaced base knots in each direction
# (:func:`bsbasis.make_knots`), 14 functions each, so 196 columns. Row p
# of the design is the Kronecker product of the two rows of ``pts[p]``,
# with the second variable varying fastest. The penalty sums second
# differences of the coefficients along each direction,
# ``P = P1 ⊗ I + I ⊗ P1`` with ``P1`` the second-difference penalty of one
# direction (:func:`bsbasis.difference_penalty`). The B-splines centred
# in the hole reach only the few points at its rim; the penalty carries
# the surface across it.

k = 3
t = bsbasis.make_knots([0.0, 1.0], 12, k)
X = bsbasis.tensor_design_matrix(pts, [t, t], k)
n = len(t) - k - 1
P1 = bsbasis.difference_penalty(n, 2, format="csr")
eye = sp.identity(n, format="csr")
P = (sp.kron(P1, eye) + sp.kron(eye, P1)).toarray()
G = (X.T @ X).toarray()
b = X.T @ z
print("design %d x %d, %d entries a row" % (X.shape + (X.getrow(0).nnz,)))

# %%
# The fit, λ by GCV
# -----------------
#
# For each λ on a grid: the coefficients solve ``(G + λP) c = Xᵀz`` with
# ``G = XᵀX``; the effective degrees of freedom are
# ``trace((G + λP)⁻¹ G)`` and the GCV score ``m · RSS / (m − edf)²``.
# The λ of the smallest score is kept.


def fit(lam):
    A = G + lam * P
    c = np.linalg.solve(A, b)
    edf = np.trace(np.linalg.solve(A, G))
    rss = np.sum((z - X @ c)**2)
    return c, edf, len(z) * rss / (len(z) - edf)**2


lams = np.logspace(-4, 2, 25)
scores = [fit(lam)[2] for lam in lams]
lam = lams[int(np.argmin(scores))]
c, edf, score = fit(lam)
print("lam = %.3g, edf = %.1f, GCV = %.4f" % (lam, edf, score))

# %%
# The surface
# -----------
#
# The fitted surface on a 120 × 120 grid is the design matrix of the grid
# points times the coefficients. Inside the hole (dashed circle) the true
# surface is smooth, and the penalty, which favours coefficients that vary
# linearly, carries the fit across it from the data around: the error
# there stays small. The largest errors are at the corners, where the
# fewest points hold the fit, and at the top of the narrow bump, which
# the penalty flattens.

g = np.linspace(0.0, 1.0, 120)
gx, gy = np.meshgrid(g, g, indexing="ij")
grid = np.column_stack([gx.ravel(), gy.ravel()])
fitted = (bsbasis.tensor_design_matrix(grid, [t, t], k) @ c).reshape(gx.shape)
truth = surface(gx, gy)
hole = np.hypot(gx - 0.65, gy - 0.4) <= 0.18
err = np.abs(fitted - truth)
print("largest |fit - truth|: %.3f in the hole, %.3f elsewhere; RMS %.3f and %.3f"
      % (err[hole].max(), err[~hole].max(), np.sqrt(np.mean(err[hole]**2)),
         np.sqrt(np.mean(err[~hole]**2))))

levels = np.linspace(-1.3, 1.3, 27)
fig, axes = plt.subplots(1, 3, figsize=(13, 4.4), sharey=True)
panels = [(truth, "true surface"), (fitted, "penalised tensor-product fit"),
          (fitted - truth, "fit minus truth")]
for ax, (values, title) in zip(axes, panels):
    if values is panels[2][0]:
        cs = ax.contourf(gx, gy, values, levels=np.linspace(-0.4, 0.4, 17),
                         cmap="RdBu_r", extend="both")
    else:
        cs = ax.contourf(gx, gy, values, levels=levels, cmap="viridis", extend="both")
    fig.colorbar(cs, ax=ax, shrink=0.85)
    ax.add_patch(plt.Circle((0.65, 0.4), 0.18, fill=False, ls="--", lw=1.2,
                            color="k" if values is panels[2][0] else "w"))
    ax.set_title(title)
    ax.set_xlabel("x")
    ax.set_aspect("equal")
axes[1].plot(pts[:, 0], pts[:, 1], ".", ms=1.5, color="k", alpha=0.4)
axes[0].set_ylabel("y")
fig.suptitle("Cubic × cubic, 14 × 14 B-splines, λ = %.3g by GCV (edf %.1f); "
             "dots: the %d data points" % (lam, edf, len(z)))
fig.tight_layout()
plt.show()
