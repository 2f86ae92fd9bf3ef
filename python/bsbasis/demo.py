"""P-spline smoother of a stock series, with bsbasis building the basis.

Fits a penalised cubic B-spline (second-difference penalty on the
coefficients, about 100 equally spaced knots) to one column of matplotlib's
sample data Stocks.csv, times the design matrix against scipy's
BSpline.design_matrix on the same input, and draws the basis, its
derivatives and the fit with its slope into a PNG.

    python3 -m bsbasis.demo [--column NAME] [--knots N] [--penalty LAMBDA] [--output FILE]
"""

from __future__ import annotations

import argparse
import csv
import datetime
import sys
import time
from typing import TYPE_CHECKING, Callable, Sequence

import numpy as np
import scipy.sparse.linalg as spla

import bsbasis

if TYPE_CHECKING:
    from numpy.typing import NDArray
    from scipy.sparse import csr_array

K = 3  # degree: cubic
ORDER = K + 1
WINDOW = 12  # knot intervals in the window of the basis panels


def load_stocks() -> tuple[list[str], NDArray[np.float64], dict[str, NDArray[np.float64]]]:
    """Stocks.csv as (column names, decimal years, {name: values with NaN for gaps})."""
    import matplotlib.cbook as cbook

    path = cbook.get_sample_data("Stocks.csv", asfileobj=False)
    with open(path, newline="") as f:
        rows = [r for r in csv.reader(f) if r and not r[0].startswith("#")]
    header, body = rows[0], rows[1:]
    years = np.array([decimal_year(r[0]) for r in body])
    cols = {}
    for c, name in enumerate(header[1:], start=1):
        cols[name] = np.array([float(r[c]) if r[c] else np.nan for r in body])
    return header[1:], years, cols


def decimal_year(s: str) -> float:
    d = datetime.date.fromisoformat(s)
    start = datetime.date(d.year, 1, 1)
    length = (datetime.date(d.year + 1, 1, 1) - start).days
    return d.year + (d - start).days / length


def uniform_knots(lo: float, hi: float, nknots: int, order: int = ORDER) -> NDArray[np.float64]:
    """nknots equally spaced knots whose base interval is exactly [lo, hi]."""
    nseg = nknots - 2 * order + 1
    h = (hi - lo) / nseg
    t = lo + h * np.arange(-(order - 1), nseg + order)
    # Pin the ends of the base interval to the data range.
    t[order - 1], t[nseg + order - 1] = lo, hi
    return t


def best_time(fn: Callable[[], object], repeats: int) -> float:
    best = np.inf
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def pspline_fit(B: csr_array, y: NDArray[np.float64], lam: float) -> NDArray[np.float64]:
    """Coefficients minimising |y - B a|^2 + lam |D2 a|^2."""
    P = bsbasis.difference_penalty(B.shape[1], 2, format="csr")
    A = (B.T @ B + lam * P).tocsc()
    return spla.spsolve(A, B.T @ y)  # type: ignore[no-any-return]  # scipy ships no types


def main(argv: Sequence[str] | None = None) -> int:
    names, years, cols = load_stocks()
    p = argparse.ArgumentParser(
        prog="python3 -m bsbasis.demo",
        description="Fit a P-spline (cubic B-splines, second-difference penalty) to one "
                    "column of matplotlib's sample data Stocks.csv, compare the design "
                    "matrix with scipy's, and plot the basis, its derivatives and the fit.")
    p.add_argument("--column", default="^GSPC", choices=names,
                   help="series to fit (default: %(default)s)")
    p.add_argument("--knots", type=int, default=100,
                   help="number of knots, equally spaced; the basis has knots - 4 functions "
                        "(default: %(default)s)")
    p.add_argument("--penalty", type=float, default=10.0,
                   help="weight lambda of the second-difference penalty (default: %(default)s)")
    p.add_argument("--output", default="demo.png", help="PNG to write (default: %(default)s)")
    p.add_argument("--bench-points", type=int, default=1_000_000,
                   help="abscissae in the second, larger timing run (default: %(default)s; "
                        "0 skips it)")
    args = p.parse_args(argv)
    if args.knots < 2 * ORDER:
        p.error("--knots must be at least %d" % (2 * ORDER))
    if not (args.penalty >= 0 and np.isfinite(args.penalty)):
        p.error("--penalty must be finite and non-negative")

    y = cols[args.column]
    keep = ~np.isnan(y)
    x, y = years[keep], y[keep]
    t = uniform_knots(x.min(), x.max(), args.knots)
    nj = len(t) - ORDER
    print("bsbasis %s, library %s" % (bsbasis.__version__, bsbasis.library_path()))
    print("series %s: %d values from %.2f to %.2f (%d gaps skipped)"
          % (args.column, len(x), x.min(), x.max(), int((~keep).sum())))
    print("cubic P-spline: %d knots, %d basis functions, penalty lambda = %g"
          % (len(t), nj, args.penalty))

    from scipy.interpolate import BSpline

    B = bsbasis.design_matrix(x, t, K)
    S = BSpline.design_matrix(x, t, K)
    diff = abs(B - S).max()
    print("design matrix %d x %d: max |bsbasis - scipy| = %.3g" % (B.shape + (diff,)))
    runs = [("series", x)]
    if args.bench_points > 0:
        rng = np.random.default_rng(0)
        runs.append(("%d random abscissae" % args.bench_points,
                     rng.uniform(x.min(), x.max(), args.bench_points)))
    for label, xs in runs:
        reps = 20 if len(xs) < 100_000 else 3
        tb = best_time(lambda: bsbasis.design_matrix(xs, t, K), reps)
        ts = best_time(lambda: BSpline.design_matrix(xs, t, K), reps)
        print("time, %s: bsbasis %.3f ms, scipy BSpline.design_matrix %.3f ms (x%.1f)"
              % (label, tb * 1e3, ts * 1e3, ts / tb))

    a = pspline_fit(B, y, args.penalty)
    fit = B @ a
    res = y - fit
    print("fit: residual RMS %.4g, max |residual| %.4g, R^2 %.6f"
          % (np.sqrt(np.mean(res**2)), np.abs(res).max(),
             1 - np.sum(res**2) / np.sum((y - y.mean())**2)))

    plot(args, x, y, t, a)
    print("wrote %s" % args.output)
    return 0


def plot(args: argparse.Namespace, x: NDArray[np.float64], y: NDArray[np.float64],
         t: NDArray[np.float64], a: NDArray[np.float64]) -> None:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    lo, hi = t[ORDER - 1], t[len(t) - ORDER]
    g = np.linspace(lo, hi, 3000)
    Bg = bsbasis.design_matrix(g, t, K)
    Dg = bsbasis.design_matrix(g, t, K, nu=1)
    nj = Bg.shape[1]

    # The basis panels show a window of WINDOW knot intervals at the left
    # end: all of the curves at once would read as a solid band.
    w_hi = t[min(ORDER - 1 + WINDOW, len(t) - ORDER)]
    win = g <= w_hi
    Ba, Da = Bg[win].toarray(), Dg[win].toarray()
    shown = np.flatnonzero(np.abs(Ba).sum(axis=0) > 0)
    fig, ax = plt.subplots(3, 1, figsize=(11, 12),
                           gridspec_kw=dict(height_ratios=[1, 1, 1.4]))
    colors = plt.cm.viridis(np.linspace(0, 1, len(shown)))
    for c, k in zip(colors, shown):
        ax[0].plot(g[win], Ba[:, k], color=c, lw=1.2)
        ax[1].plot(g[win], Da[:, k], color=c, lw=1.2)
    ax[0].set_ylabel("basis value $B_j(x)$")
    ax[0].set_title("%d of the %d cubic B-splines on %d equally spaced knots (shaded below)"
                    % (len(shown), nj, len(t)))
    ax[1].set_ylabel("derivative $B_j'(x)$ (1/year)")
    ax[1].set_title("their first derivatives")
    ax[1].axhline(0, color="0.6", lw=0.5)
    for axis in ax[:2]:
        axis.set_xlim(lo, w_hi)
        axis.set_xlabel("year")

    ax[2].plot(x, y, ".", ms=3, color="0.45", label="%s (monthly close)" % args.column)
    ax[2].plot(g, Bg @ a, color="C0", lw=1.8, label="P-spline fit, $\\lambda$ = %g" % args.penalty)
    ax[2].set_ylabel("%s (index points)" % args.column)
    ax[2].set_xlabel("year")
    ax[2].set_title("data, fit and slope")
    slope = ax[2].twinx()
    slope.plot(g, Dg @ a, color="C3", lw=1.2, label="slope of the fit")
    slope.axhline(0, color="C3", lw=0.5, ls=":")
    slope.set_ylabel("slope (index points per year)", color="C3")
    slope.tick_params(axis="y", colors="C3")
    h1, l1 = ax[2].get_legend_handles_labels()
    h2, l2 = slope.get_legend_handles_labels()
    ax[2].legend(h1 + h2, l1 + l2, loc="upper left")
    ax[2].axvspan(lo, w_hi, color="0.92", zorder=0)
    ax[2].set_xlim(lo, hi)
    for axis in ax:
        axis.grid(alpha=0.3)
    fig.tight_layout()
    fig.savefig(args.output, dpi=110)
    plt.close(fig)


if __name__ == "__main__":
    sys.exit(main())
