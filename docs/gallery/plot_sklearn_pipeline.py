"""
Splines in a scikit-learn pipeline
==================================

:class:`bsbasis.sklearn.SplineTransformer` takes the parameters of
scikit-learn's ``SplineTransformer`` and gives the same features, so it
drops into a ``Pipeline`` unchanged. This example fits an additive spline
model with ``RidgeCV`` to scikit-learn's diabetes data, cross-validates it
with either transformer, and draws the fitted curve of one feature.
"""

import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
from sklearn.datasets import load_diabetes
from sklearn.linear_model import RidgeCV
from sklearn.model_selection import KFold, cross_val_score
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import SplineTransformer as SklearnSplineTransformer

from bsbasis.sklearn import SplineTransformer

# %%
# The data and the two pipelines
# ------------------------------
#
# 442 patients, ten standardised features (age, sex, body mass index,
# blood pressure and six blood serum measurements), and a measure of the
# disease's progression a year later. Each feature gets cubic B-splines on
# 5 uniform knots (7 columns a feature, 70 in all); ``RidgeCV`` chooses
# the ridge penalty among 25 values by efficient leave-one-out
# cross-validation.

X, y = load_diabetes(return_X_y=True, as_frame=True)
alphas = np.logspace(-3, 3, 25)


def pipeline(transformer):
    return make_pipeline(transformer(n_knots=5, degree=3), RidgeCV(alphas=alphas))


models = {"bsbasis.sklearn": pipeline(SplineTransformer),
          "sklearn.preprocessing": pipeline(SklearnSplineTransformer)}

# %%
# Cross-validated scores
# ----------------------
#
# Five folds, shuffled with a fixed seed, the same for both pipelines.
# The features agree to rounding, so the scores do too.

cv = KFold(5, shuffle=True, random_state=0)
scores = {name: cross_val_score(model, X, y, cv=cv, scoring="r2")
          for name, model in models.items()}
for name, s in scores.items():
    print("%-22s R^2 per fold %s, mean %.6f" % (name, np.round(s, 4), s.mean()))
a, b = scores.values()
print("largest difference between the two: %.1e" % np.abs(a - b).max())

# %%
# The curve of one feature
# ------------------------
#
# Fitted on all the data, the model is a sum of one spline per feature.
# The curve of the body mass index is the prediction as that feature
# varies with the others held at their means, centred on the data; the
# points are the partial residuals, ``y`` minus the prediction plus the
# curve at each patient's value. The two transformers draw the same curve.

feature = "bmi"


def at_means(values):
    """Rows of the feature means, with `feature` set to `values`."""
    rows = pd.DataFrame(np.tile(X.mean().to_numpy(), (len(values), 1)), columns=X.columns)
    rows[feature] = np.asarray(values)
    return rows


grid = np.linspace(X[feature].min(), X[feature].max(), 200)
curves, partial = {}, {}
for name, model in models.items():
    model.fit(X, y)
    at_data = model.predict(at_means(X[feature]))
    curves[name] = model.predict(at_means(grid)) - at_data.mean()
    partial[name] = y - model.predict(X) + at_data - at_data.mean()
print("RidgeCV's alpha: %g; largest difference between the curves: %.1e"
      % (models["bsbasis.sklearn"][-1].alpha_, np.abs(np.subtract(*curves.values())).max()))

fig, axes = plt.subplots(1, 2, figsize=(11, 4.3), gridspec_kw=dict(width_ratios=[1, 1.3]))

ax = axes[0]
folds = np.arange(1, 6)
ax.bar(folds - 0.18, a, width=0.36, label="bsbasis.sklearn.SplineTransformer")
ax.bar(folds + 0.18, b, width=0.36, label="sklearn's SplineTransformer")
ax.set_xlabel("fold")
ax.set_ylabel("R² on the held-out fold")
ax.set_ylim(0.0, 0.8)
ax.set_title("5-fold CV: mean R² %.4f and %.4f" % (a.mean(), b.mean()))
ax.legend(loc="upper left", fontsize="small")

ax = axes[1]
ax.plot(X[feature], partial["bsbasis.sklearn"], ".", ms=4, color="0.6", label="partial residuals")
ax.plot(grid, curves["bsbasis.sklearn"], color="C0", lw=3, label="bsbasis.sklearn")
ax.plot(grid, curves["sklearn.preprocessing"], color="C1", lw=1.2, ls="--",
        label="sklearn.preprocessing")
ax.set_xlabel("body mass index (standardised)")
ax.set_ylabel("effect on disease progression")
ax.set_title("Fitted spline of one feature")
ax.legend(loc="upper left", fontsize="small")

fig.tight_layout()
plt.show()
