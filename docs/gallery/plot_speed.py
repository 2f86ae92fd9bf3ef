"""
Speed against scipy, scikit-learn and R
=======================================

How many times faster each call of bsbasis is than the call a user would
otherwise make: scipy's ``BSpline.design_matrix`` (and the routes built on
it), scikit-learn's ``SplineTransformer`` and R's ``splines`` and
``splines2``. The figures are not measured here: they are read from
``docs/performance.csv``, their one home, which the performance page shows
as a table and which names the section of ``bench/RESULTS.md`` that each
comes from, with the command that reruns it.
"""

import csv
import pathlib
import textwrap

import matplotlib.pyplot as plt
import numpy as np

# %%
# Reading the table
# -----------------
#
# One row per call: the host, the call, the peer and its call, the times
# in seconds and the ratio, peer ÷ bsbasis. Where a figure is the range
# over several runs it reads ``lo–hi``. The gallery's scripts run in the
# documentation's source directory, ``docs/gallery``; the file is one
# directory up.


def find_table(name="performance.csv"):
    for folder in (pathlib.Path.cwd(), *pathlib.Path.cwd().parents):
        for path in (folder / name, folder / "docs" / name):
            if path.is_file():
                return path
    raise FileNotFoundError("no %s in or above %s" % (name, pathlib.Path.cwd()))


def span(text):
    """(low, high) of a figure: a number, or a range 'lo–hi'."""
    ends = [float(e) for e in text.split("–")]
    return ends[0], ends[-1]


with open(find_table(), newline="", encoding="utf-8") as f:
    rows = list(csv.DictReader(f))
print("%d figures" % len(rows))
for row in rows:
    print("%-6s %-92s %-18s %s" % (row["host"], row["call"][:92], row["peer"], row["ratio"]))

# %%
# The charts
# ----------
#
# One chart per peer, on a log scale: a bar per call, to its ratio, or to
# the low end of its range with a thin bar on to the high end. The dotted
# line at 1 is parity: a bar to its right is a call that bsbasis makes
# faster than the peer.

groups = [("scipy 1.10", lambda r: r["peer"].startswith("scipy")),
          ("scikit-learn 1.2.1", lambda r: r["peer"].startswith("scikit-learn")),
          ("R's splines and splines2", lambda r: r["host"] == "R")]
panels = [(title, [r for r in rows if pick(r)]) for title, pick in groups]
heights = [1.3 * len(chosen) + 1.5 for _, chosen in panels]
fig, axes = plt.subplots(len(panels), 1, figsize=(10, 0.4 * sum(heights) + 1.0),
                         gridspec_kw=dict(height_ratios=heights))
for ax, (title, chosen) in zip(axes, panels):
    pos = np.arange(len(chosen))[::-1]
    for p, row in zip(pos, chosen):
        lo, hi = span(row["ratio"])
        colour = "C0" if row["host"] == "Python" else "C2"
        ax.barh(p, lo, height=0.6, color=colour)
        if hi > lo:
            ax.barh(p, hi - lo, left=lo, height=0.25, color=colour, alpha=0.6)
        ax.text(hi * 1.06, p, row["ratio"] + "×", va="center", fontsize=8)
    labels = [r["call"] if r["host"] == "Python" else "%s vs %s" % (r["call"], r["peer_call"])
              for r in chosen]
    labels = [textwrap.fill(label, 60) for label in labels]
    ax.set_yticks(pos)
    ax.set_yticklabels(labels, fontsize=7.5)
    ax.set_xscale("log")
    ax.set_xlim(0.8, 200)
    ax.axvline(1.0, color="k", lw=0.8, ls=":")
    ax.set_title("against %s" % title, fontsize=10)
    ax.grid(axis="x", which="both", alpha=0.3)
axes[-1].set_xlabel("peer time ÷ bsbasis time (log scale)")
fig.suptitle("Speed-up of bsbasis per call, from docs/performance.csv")
fig.tight_layout()
plt.show()
