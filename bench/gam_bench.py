"""Additive models: bsbasis.gam against mgcv on the same data and model.

Fits y ~ s(x1) + ... + s(x_m), P-spline smooths of ten basis functions
each (mgcv's ``s(x, bs = "ps", k = 10)``), smoothing parameters by REML,
and prints, per comparison, the best time of each side (interleaved: each
round fits bsbasis, then mgcv), their ratio and goal, each term's edf on
both sides, and bsbasis's peak memory above what the process held before
the fit (its resident set's high-water mark, reset before each fit).

    python3 bench/gam_bench.py [--rows 10000000] [--gam-rows 1000000]
                               [--terms 4] [--reps 3] [--family gaussian]
                               [--skip-gam] [--skip-r]

The mgcv side runs in ``Rscript r/bench/gam.R`` on the same rows, written
to a temporary file: ``bam(discrete = TRUE, method = "fREML", nthreads =
2)`` on --rows, ``gam(method = "REML")`` on --gam-rows.  R's time is the
fit alone, not the reading of the data.
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "python"))
if "BSBASIS_LIBRARY" not in os.environ:
    os.environ["BSBASIS_LIBRARY"] = os.path.join(ROOT, "build", "libbsbasis.so")

import bsbasis  # noqa: E402
from bsbasis import gam  # noqa: E402

# Goals: the ratio to each mgcv fit, and bsbasis's peak extra memory.
GOAL_BAM = 10.0
GOAL_GAM = 30.0
GOAL_MB = 256.0


def data(rows, terms, family, seed=0):
    """Columns x1 .. x_terms uniform on [0, 1] and a response of the family
    whose mean is a sum of one smooth function per column."""
    rng = np.random.default_rng(seed)
    X = rng.uniform(0.0, 1.0, (rows, terms))
    shapes = (lambda x: np.sin(6.0 * x), lambda x: 2.0 * (x - 0.5) ** 2,
              lambda x: np.cos(3.0 * x), lambda x: 0.5 * x)
    eta = sum(shapes[c % len(shapes)](X[:, c]) for c in range(terms))
    if family == "gaussian":
        y = eta + 0.3 * rng.standard_normal(rows)
    elif family == "poisson":
        y = rng.poisson(np.exp(eta)).astype(np.float64)
    else:
        y = (rng.uniform(size=rows) < 1.0 / (1.0 + np.exp(-eta))).astype(np.float64)
    return X, y


def write(path, X, y):
    """The rows column by column, as r/bench/gam.R reads them."""
    with open(path, "wb") as f:
        for c in range(X.shape[1]):
            np.ascontiguousarray(X[:, c]).tofile(f)
        y.tofile(f)


def _status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no %s in /proc/self/status" % field)


def ours(X, y, terms, family):
    """Seconds of one fit, its peak memory above the resident set before
    it (bytes), and the model."""
    model = gam.GAM([gam.s(c) for c in range(terms)], family=family, method="REML")
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # resets the high-water mark
    before = _status("VmRSS")
    start = time.perf_counter()
    model.fit(X, y)
    seconds = time.perf_counter() - start
    return seconds, _status("VmHWM") - before, model


def theirs(path, rows, terms, family, how):
    out = subprocess.run(["Rscript", os.path.join(ROOT, "r", "bench", "gam.R"), path,
                          str(rows), str(terms), family, how, "1"],
                         check=True, capture_output=True, text=True).stdout
    fields = {line.split()[0]: line.split()[1:] for line in out.splitlines() if line.strip()}
    return float(fields["seconds"][0]), [float(v) for v in fields["edf"]]


def compare(rows, terms, family, how, reps, skip_r, goal):
    X, y = data(rows, terms, family)
    best_ours, best_theirs, peak, edf_theirs = np.inf, np.inf, 0, None
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "rows.bin")
        if not skip_r:
            write(path, X, y)
        for _ in range(reps):
            seconds, mem, model = ours(X, y, terms, family)
            best_ours, peak = min(best_ours, seconds), max(peak, mem)
            if not skip_r:
                seconds, edf_theirs = theirs(path, rows, terms, family, how)
                best_theirs = min(best_theirs, seconds)
    peer = {"bam": 'bam(discrete = TRUE, method = "fREML")', "gam": 'gam(method = "REML")'}[how]
    print("\n%s, %d rows, %d smooths, %s" % (peer, rows, terms, family))
    print("  bsbasis.gam.GAM: %.3f s, peak extra memory %.1f MB, %d iterations"
          % (best_ours, peak / 2**20, model.n_iter_))
    if not skip_r:
        ratio = best_theirs / best_ours
        print("  mgcv: %.3f s; ratio %.1f x (goal >= %g x: %s)"
              % (best_theirs, ratio, goal, "met" if ratio >= goal else "NOT met"))
        print("  edf bsbasis: %s" % " ".join("%.4f" % e for e in model.edf_))
        print("  edf mgcv:    %s" % " ".join("%.4f" % e for e in edf_theirs))
    return peak


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--rows", type=int, default=10_000_000, help="rows against bam")
    p.add_argument("--gam-rows", type=int, default=1_000_000, help="rows against gam")
    p.add_argument("--terms", type=int, default=4)
    p.add_argument("--reps", type=int, default=3)
    p.add_argument("--family", default="gaussian", choices=("gaussian", "binomial", "poisson"))
    p.add_argument("--skip-gam", action="store_true", help="leave out the gam comparison")
    p.add_argument("--skip-r", action="store_true", help="time bsbasis alone")
    args = p.parse_args(argv)
    print("bsbasis %s (library %s), %d cores; best of %d, interleaved with mgcv"
          % (bsbasis.__version__, bsbasis.library_path(), len(os.sched_getaffinity(0)),
             args.reps))
    peak = compare(args.rows, args.terms, args.family, "bam", args.reps, args.skip_r,
                   GOAL_BAM)
    print("  peak extra memory goal <= %g MB: %s"
          % (GOAL_MB, "met" if peak / 2**20 <= GOAL_MB else "NOT met"))
    if not args.skip_gam:
        compare(args.gam_rows, args.terms, args.family, "gam", args.reps, args.skip_r,
                GOAL_GAM)
    return 0


if __name__ == "__main__":
    sys.exit(main())
