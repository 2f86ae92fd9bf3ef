"""The speed goals that were short, each against its peer, in one run.

Prints one table: per goal, the time of bsbasis and of the peer a user
would pick, their ratio and the goal.  Each row is measured in its own
host, its calls interleaved with the peer's, best of --reps:

- the tensor product of two cubic bases on 10^6 random points, Python,
  against two scipy design matrices and numpy's row-wise Kronecker product;
- R's drop-in `bsbasis::splineDesign(sparse = TRUE)` and R's
  `design_matrix()`, against `splines::splineDesign(sparse = TRUE)`, 10^6
  sorted abscissae (r/bench/goals.R, run by Rscript on the installed
  package);
- the C kernel on calls of 16 abscissae spread over the base interval (W8)
  against the best of Eigen and GSL, built by GCC and by clang (the
  benchmarks that scripts/bench.sh builds);
- a Python call of 391 rows right after a scipy call, as a fraction of
  scipy's time.

    python3 bench/goals.py [--reps 7] [--n 1000000] [--gcc DIR] [--clang DIR]
                           [--no-r]

scripts/bench.sh --goals builds both benchmarks and runs this.
"""

from __future__ import annotations

import argparse
import os
import re
import subprocess
import sys

import numpy as np
from scipy.interpolate import BSpline

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
from python_bench import K, after, knots, repeated, scipy_tensor  # noqa: E402

import bsbasis  # noqa: E402  (python_bench puts the source tree first)

# A row of the table: what, bsbasis seconds, peer seconds, the ratio as
# printed, the goal as printed, whether it is met (None: no goal on it).
def ratio_row(what, ours, peer, goal):
    r = peer / ours
    return (what, ours, peer, "%.1f x" % r, ">= %g x" % goal if goal else "",
            None if goal is None else r >= goal)


def tensor_rows(n, reps):
    t = knots()
    points = np.random.default_rng(0).uniform(0.0, 1.0, (n, 2))
    d = abs(bsbasis.tensor_design_matrix(points[:1000], (t, t), K)
            - scipy_tensor(points[:1000], t, K))
    assert d.max() < 1e-13, d.max()
    rows = []
    for threads, goal in ((None, 10), (1, None)):
        ours, peer = repeated(
            [lambda: bsbasis.tensor_design_matrix(points, (t, t), K, threads=threads),
             lambda: scipy_tensor(points, t, K)], reps)
        label = "default threads" if threads is None else "threads=1"
        rows.append(ratio_row("tensor_design_matrix, cubic x cubic, %g random points, %s"
                              % (n, label), ours, peer, goal))
    return rows


def small_call_row(reps):
    t = knots()
    series = np.linspace(0.0, 1.0, 391)
    ours = lambda: bsbasis.design_matrix(series, t, K)  # noqa: E731
    peer = lambda: BSpline.design_matrix(series, t, K)  # noqa: E731
    _, theirs = repeated([ours, peer], max(reps, 2000))
    cold = after(ours, peer, max(reps, 200))
    return ("design_matrix, 391 rows, right after a scipy call", cold, theirs,
            "%.2f of scipy" % (cold / theirs), "<= 0.6", cold / theirs <= 0.6)


def r_rows(n, reps):
    """The R rows from r/bench/goals.R, or a row saying why there are none."""
    script = os.path.join(ROOT, "r", "bench", "goals.R")
    try:
        out = subprocess.run(["Rscript", script, str(reps), str(n)], check=True,
                             capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError) as exc:
        err = getattr(exc, "stderr", "") or str(exc)
        return [("R: not measured (%s)" % err.strip().splitlines()[-1], float("nan"),
                 float("nan"), "", ">= 10 x", False)]
    times = dict(line.split() for line in out.splitlines() if line.strip())
    peer = float(times["splines_splineDesign"])
    return [ratio_row("R bsbasis::splineDesign(sparse = TRUE), %g sorted, cubic" % n,
                      float(times["bsbasis_splineDesign"]), peer, 10),
            ratio_row("R design_matrix(sparse = TRUE), the same", float(times["design_matrix"]),
                      peer, 10)]


_W8 = re.compile(r"^W8\s.*?\s([\d.]+)\s+([\d.]+)\s+([\d.]+)\s+([\d.]+)\s+([\d.]+)\s+([\d.]+)\s")


def w8_row(compiler, build, reps):
    exe = os.path.join(build, "bench", "bsbasis_bench")
    what = "W8, calls of 16 spread abscissae, C kernel, %s" % compiler
    if not os.access(exe, os.X_OK):
        return (what + ": not built (%s)" % exe, float("nan"), float("nan"), "", ">= 5 x",
                False)
    out = subprocess.run([exe, "--only", "W8", "--reps", str(reps)], check=True,
                         capture_output=True, text=True).stdout
    for line in out.splitlines():
        m = _W8.match(line)
        if m:
            kernel, eigen, gsl = float(m.group(1)), float(m.group(4)), float(m.group(5))
            if "ok" not in line:
                raise SystemExit("W8's rows disagree with Eigen's:\n" + line)
            # Seconds per 10^6 abscissae, from Mpts/s.
            return ratio_row(what, 1.0 / kernel, 1.0 / max(eigen, gsl), 5)
    raise SystemExit("no W8 line in the output of %s:\n%s" % (exe, out))


def print_table(rows):
    print("| goal | bsbasis ms | peer ms | ratio | goal | met |")
    print("|---|---:|---:|---:|---:|---|")
    for what, ours, peer, ratio, goal, met in rows:
        print("| %s | %.4g | %.4g | %s | %s | %s |"
              % (what, ours * 1e3, peer * 1e3, ratio, goal,
                 "" if met is None else ("yes" if met else "**no**")))


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--reps", type=int, default=7)
    p.add_argument("--n", type=int, default=1_000_000, help="rows of the large calls")
    p.add_argument("--gcc", default=os.path.join(ROOT, "build-bench"),
                   help="build directory of the GCC benchmark")
    p.add_argument("--clang", default=os.path.join(ROOT, "build-bench-clang"),
                   help="build directory of the clang benchmark")
    p.add_argument("--no-r", action="store_true", help="leave out the R rows")
    args = p.parse_args(argv)
    print("bsbasis %s (library %s), %d cores; best of %d, interleaved with the peer\n"
          % (bsbasis.__version__, bsbasis.library_path(), len(os.sched_getaffinity(0)),
             args.reps))
    rows = tensor_rows(args.n, args.reps)
    if not args.no_r:
        rows += r_rows(args.n, args.reps)
    rows.append(w8_row("GCC", args.gcc, max(args.reps, 3)))
    rows.append(w8_row("clang", args.clang, max(args.reps, 3)))
    rows.append(small_call_row(args.reps))
    print_table(rows)
    print("\nW8's times are per 10^6 abscissae; the 391-row times are one call each.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
