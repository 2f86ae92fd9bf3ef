"""
A seasonal cycle with a periodic basis
======================================

The weekly CO2 record of Mauna Loa (1958-2001, from the data sets that
statsmodels ships) rises year after year and swings with the seasons. This
example fits it as a smooth trend in time plus a periodic spline of the
time of year, built by :func:`bsbasis.periodic_design_matrix`, and draws
the seasonal component over one year.
"""

import matplotlib.pyplot as plt
import numpy as np
import scipy.sparse as sp
from statsmodels.datasets import co2

import bsbasis

# %%
# The data
# --------
#
# The series has 2,284 weeks, 59 of them missing; the missing weeks are
# dropped. Time is counted in decimal years, and the time of year as the
# fraction of the year gone, in [0, 1).

data = co2.load_pandas().data.dropna()
dates = data.index
days = np.where(dates.is_leap_year, 366.0, 365.0)
phase = (dates.dayofyear.to_numpy() - 1) / days
year = dates.year.to_numpy() + phase
y = data["co2"].to_numpy()
print("%d weeks from %.2f to %.2f, CO2 %.1f to %.1f ppm"
      % (len(y), year.min(), year.max(), y.min(), y.max()))

# %%
# Two bases side by side
# ----------------------
#
# The trend is a cubic spline in time on 16 equally spaced knots
# (:func:`bsbasis.make_knots`, clamped at the ends of the data), a knot
# about every three years: smooth enough to leave the seasons out.
#
# The season is a cubic periodic spline of the time of year: 13 breaks
# from 0 to 1 give 12 basis functions, one a month; any combination of
# them joins up with its first two derivatives at the turn of the year.
# Every finite abscissa is in range: ``periodic_design_matrix`` wraps it
# into the period.

k = 3
t_trend = bsbasis.make_knots(year, 16, k)
breaks = np.linspace(0.0, 1.0, 13)
X_trend = bsbasis.design_matrix(year, t_trend, k)
X_season = bsbasis.periodic_design_matrix(phase, breaks, k)
X = sp.hstack([X_trend, X_season]).tocsr()
print("design: %d x %d (trend %d, season %d columns)"
      % (X.shape + (X_trend.shape[1], X_season.shape[1])))

# %%
# The fit
# -------
#
# Both bases sum to one on every row, so a constant can move from one to
# the other: the design has one column too many. Least squares with the
# smallest coefficients picks one solution; the seasonal component is
# then centred to mean zero over the year, and its mean moved into the
# trend.

coef, *_ = np.linalg.lstsq(X.toarray(), y, rcond=None)
c_trend, c_season = coef[:X_trend.shape[1]], coef[X_trend.shape[1]:]

u = np.linspace(0.0, 1.0, 366)
season = bsbasis.periodic_design_matrix(u, breaks, k) @ c_season
offset = season[:-1].mean()  # the mean over one period
season -= offset
trend = X_trend @ c_trend + offset
residual = y - trend - (X_season @ c_season - offset)
print("residual standard deviation: %.3f ppm" % residual.std())
print("seasonal swing: %.2f ppm, highest at %.2f of the year, lowest at %.2f"
      % (season.max() - season.min(), u[np.argmax(season)], u[np.argmin(season)]))

# %%
# The seasonal cycle
# ------------------
#
# Left: the record and the trend. Right: the data with the trend taken out,
# against the time of year, and the periodic spline through them; the
# curve ends where it starts. CO2 peaks in May; the northern growing
# season draws it down to its low at the turn of September and October.

fig, axes = plt.subplots(1, 2, figsize=(11, 4.5), gridspec_kw=dict(width_ratios=[1.2, 1]))

ax = axes[0]
ax.plot(year, y, color="0.55", lw=0.6, label="weekly CO2")
ax.plot(year, trend, color="C0", lw=2, label="trend (cubic spline, 16 knots)")
ax.set_xlabel("year")
ax.set_ylabel("CO2 (ppm)")
ax.set_title("Mauna Loa CO2 and its trend")
ax.legend(loc="upper left", fontsize="small")

ax = axes[1]
ax.plot(phase, y - trend, ".", ms=2, color="0.6", label="data minus trend")
ax.plot(u, season, color="C3", lw=2.5, label="periodic spline, 12 basis functions")
ax.set_xticks((np.arange(12) + 0.5) / 12)
ax.set_xticklabels(list("JFMAMJJASOND"))
ax.set_xticks(np.arange(13) / 12, minor=True)
ax.set_xlim(0.0, 1.0)
ax.set_xlabel("month")
ax.set_ylabel("CO2 minus trend (ppm)")
ax.set_title("The seasonal component over one year")
ax.legend(loc="lower left", fontsize="small")

fig.tight_layout()
plt.show()
