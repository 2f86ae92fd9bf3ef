"""
Extrapolation modes
===================

What a spline is outside its base interval depends on the ``extrapolate``
argument of :func:`bsbasis.design_matrix` (and of
:func:`bsbasis.uniform_design_matrix`, :func:`bsbasis.tensor_design_matrix`
and :func:`bsbasis.normal_equations`). This example builds one cubic
spline, the design matrix times a vector of coefficients, and draws it in
each of the six modes, inside and outside the base interval.
"""

import textwrap

import matplotlib.pyplot as plt
import numpy as np

import bsbasis

# %%
# One spline on clamped knots
# ---------------------------
#
# Cubic B-splines on knots clamped at 0 and 1 (the base interval is
# ``[t[k], t[nj]] = [0, 1]``), eight coefficients. The abscissae run from
# -0.5 to 1.5, half of the base interval's length beyond each end.

k = 3
t = np.r_[[0.0] * 4, 0.2, 0.4, 0.6, 0.8, [1.0] * 4]
c = np.array([0.2, 1.2, -0.3, 0.8, 0.2, 1.0, -0.4, 0.5])
x = np.linspace(-0.5, 1.5, 801)
inside = (x >= t[k]) & (x <= t[-k - 1])

# %%
# The six modes
# -------------
#
# - ``False`` (the default): an abscissa outside the base interval is an
#   error, as in scipy's ``BSpline.design_matrix``;
# - ``'zero'``: an empty row, so the spline is 0 outside;
# - ``True`` or ``'continue'``: the end polynomial pieces continue, as
#   scipy's ``extrapolate=True``;
# - ``'constant'``: the row at the nearest end, as scikit-learn's
#   ``SplineTransformer(extrapolation='constant')``;
# - ``'linear'``: the value and slope at the nearest end, continued
#   linearly, as scikit-learn's ``extrapolation='linear'``;
# - ``'periodic'``: x wrapped into the base interval, as scipy's
#   ``extrapolate='periodic'``. The spline here is not periodic, so it
#   jumps where it wraps.
#
# Under ``False`` the call on the whole range raises a ``ValueError`` that
# names the first abscissa out of range; the panel draws the spline on the
# base interval and prints the message.

modes = [False, "zero", True, "constant", "linear", "periodic"]
fig, axes = plt.subplots(3, 2, figsize=(9, 9), sharex=True, sharey=True)
for ax, mode in zip(axes.flat, modes):
    ax.axvspan(t[k], t[-k - 1], color="0.93", zorder=0)
    ax.axhline(0.0, color="0.75", lw=0.5)
    try:
        s = bsbasis.design_matrix(x, t, k, extrapolate=mode) @ c
    except ValueError as err:
        s = bsbasis.design_matrix(x[inside], t, k, extrapolate=mode) @ c
        ax.plot(x[inside], s, color="C0", lw=2)
        ax.text(0.5, 0.03, "outside: ValueError\n" + textwrap.fill(str(err), 48),
                transform=ax.transAxes, ha="center", va="bottom", fontsize=6.5,
                color="C3")
        print("extrapolate=False: ValueError:", err)
    else:
        ax.plot(x[~inside & (x < 0.5)], s[~inside & (x < 0.5)], color="C1", lw=2)
        ax.plot(x[~inside & (x > 0.5)], s[~inside & (x > 0.5)], color="C1", lw=2)
        ax.plot(x[inside], s[inside], color="C0", lw=2)
    ax.set_title("extrapolate=%r" % (mode,))
    ax.set_ylim(-2.0, 2.5)
for ax in axes[-1]:
    ax.set_xlabel("x (base interval shaded)")
for ax in axes[:, 0]:
    ax.set_ylabel("design_matrix(x, t, 3) @ c")
fig.suptitle("One cubic spline in the six extrapolation modes\n"
             "(blue: inside the base interval [0, 1]; orange: outside)")
fig.tight_layout()
plt.show()

# %%
# Derivatives follow the same rule: with ``nu=1``, ``'constant'`` gives 0
# outside, ``'linear'`` the end slope and higher derivatives 0, and
# ``'continue'`` and ``'periodic'`` the derivatives of the continued or
# wrapped spline. At x = 1.25 and x = -0.25:

for mode in ["zero", "continue", "constant", "linear", "periodic"]:
    d = bsbasis.design_matrix([-0.25, 1.25], t, k, nu=1, extrapolate=mode) @ c
    print("%-10s slope at -0.25: %8.3f   at 1.25: %8.3f" % (mode, d[0], d[1]))
