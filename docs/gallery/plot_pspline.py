"""
A P-spline fit with the smoothing parameter chosen by GCV
=========================================================

:func:`bsbasis.fit_pspline` fits a penalised cubic B-spline to noisy data
and chooses the smoothing parameter λ by generalised cross-validation
(GCV). This example draws the fit, the GCV score over a range of λ with
the chosen λ marked, and the first derivative of the fit against the true
one.
"""

import matplotlib.pyplot as plt
import numpy as np

import bsbasis

# %%
# Noisy samples of a known curve
# ------------------------------
#
# 500 abscissae drawn at random on [0, 1], the curve
# :math:`f(x) = e^{-x} \sin 2\pi x` and Gaussian noise of standard
# deviation 0.2. The true derivative is known, to compare with the fit's.

rng = np.random.default_rng(7)
x = np.sort(rng.uniform(0.0, 1.0, 500))


def f(x):
    return np.exp(-x) * np.sin(2 * np.pi * x)


def df(x):
    return np.exp(-x) * (2 * np.pi * np.cos(2 * np.pi * x) - np.sin(2 * np.pi * x))


y = f(x) + rng.normal(0.0, 0.2, x.size)

# %%
# The fit
# -------
#
# With no ``lam`` given, :func:`bsbasis.fit_pspline` searches λ by GCV.
# The knots default to 40 equally spaced ones over the data (a P-spline's
# smoothness comes from the penalty, not from the number of knots), and the
# penalty to second differences of the coefficients. The result holds λ,
# the effective degrees of freedom, the GCV score and the residual
# standard deviation.

fit = bsbasis.fit_pspline(x, y)
print(fit)
print("GCV searched lam in [%.3g, %.3g]" % fit.lam_bounds)

# %%
# The GCV curve
# -------------
#
# The fit exposes the GCV score of its own λ only. The curve over λ comes
# from fits with ``lam`` given, on the same knots ``fit.t``: each has the
# GCV score ``count * rss / (count - edf)**2`` of that λ. GCV's choice
# sits at the bottom of the curve.

lams = np.logspace(-4, 5, 46)
curve = [bsbasis.fit_pspline(x, y, t=fit.t, lam=lam) for lam in lams]
gcv = np.array([c.gcv for c in curve])
edf = np.array([c.edf for c in curve])
print("smallest GCV on the grid: lam = %.3g; GCV's choice: lam = %.3g"
      % (lams[np.argmin(gcv)], fit.lam))

# %%
# The fit and its derivative
# --------------------------
#
# Calling the fit evaluates the spline; ``nu=1`` gives its first
# derivative, from the same coefficients. Differentiating amplifies noise:
# the derivative of the fit follows the true one, less closely near the
# ends, where fewer points constrain it.

grid = np.linspace(0.0, 1.0, 400)

fig, axes = plt.subplots(3, 1, figsize=(7, 10))

ax = axes[0]
ax.plot(x, y, ".", ms=3, color="0.6", label="data")
ax.plot(grid, f(grid), "k--", lw=1, label="true curve")
ax.plot(grid, fit(grid), color="C0", lw=2,
        label="P-spline, λ = %.3g (edf %.1f)" % (fit.lam, fit.edf))
ax.set_xlabel("x")
ax.set_ylabel("y")
ax.set_title("Fit by fit_pspline, λ chosen by GCV")
ax.legend(loc="upper right", fontsize="small")

ax = axes[1]
ax.semilogx(lams, gcv, color="C0", label="GCV score")
ax.plot(fit.lam, fit.gcv, "o", color="C3", label="chosen λ = %.3g" % fit.lam)
ax.axvline(fit.lam, color="C3", lw=0.8, ls=":")
ax.set_xlabel("λ")
ax.set_ylabel("GCV score")
ax.set_title("GCV over λ (fits with lam given, on the same knots)")
twin = ax.twinx()
twin.semilogx(lams, edf, color="C2", lw=1, ls="--", label="edf")
twin.set_ylabel("effective degrees of freedom", color="C2")
twin.tick_params(axis="y", colors="C2")
h1, l1 = ax.get_legend_handles_labels()
h2, l2 = twin.get_legend_handles_labels()
ax.legend(h1 + h2, l1 + l2, loc="upper center", fontsize="small")

ax = axes[2]
ax.plot(grid, df(grid), "k--", lw=1, label="true derivative")
ax.plot(grid, fit(grid, nu=1), color="C1", lw=2, label="fit(x, nu=1)")
ax.axhline(0.0, color="0.8", lw=0.5)
ax.set_xlabel("x")
ax.set_ylabel("dy/dx")
ax.set_title("First derivative of the fit")
ax.legend(loc="upper right", fontsize="small")

fig.tight_layout()
plt.show()
