"""bsbasis.formula's terms against patsy's, as a formula evaluates them.

Each call is a whole stateful transform on --n rows (knots placed, then the
basis formed, as patsy runs it for a fit): bsbasis.formula.bs against
patsy.bs on the same knots, and bsbasis.formula.ns against patsy.cr, the
natural cubic splines of the same knots in mgcv's basis.  Best of --reps
calls each, in this one process, the calls taking turns round by round;
ours with the library's default threads and with one thread.  The outputs
are compared before anything is timed.

    python3 bench/formula_bench.py [--n 1000000] [--reps 5]
"""

import argparse
import os
import sys
import time

import numpy as np
import patsy

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "python"))
import bsbasis  # noqa: E402
import bsbasis.formula  # noqa: E402
from bsbasis import _tiles  # noqa: E402
from bsbasis._checks import cores  # noqa: E402
from sklearn_bench import best  # noqa: E402  (this directory is on sys.path)

GOAL = 10.0  # patsy's time over ours for bs


def single_thread(call):
    """call() with the package's default of one thread for every input."""
    def run():
        saved = _tiles._PARALLEL_MIN_ENTRIES
        _tiles._PARALLEL_MIN_ENTRIES = 1 << 62
        try:
            return call()
        finally:
            _tiles._PARALLEL_MIN_ENTRIES = saved
    return run


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--n", type=int, default=1_000_000)
    p.add_argument("--reps", type=int, default=5)
    args = p.parse_args(argv)

    rng = np.random.default_rng(0)
    x = rng.uniform(0.0, 1.0, args.n)
    knots = list(np.quantile(x, np.linspace(0.0, 1.0, 7)[1:-1]))
    lo, hi = float(x.min()), float(x.max())
    fixed = {"knots": knots, "lower_bound": lo, "upper_bound": hi}
    cases = [
        ("bs, 5 knots given (8 columns)",
         lambda: bsbasis.formula.bs(x, **fixed), lambda: patsy.bs(x, **fixed), GOAL),
        ("bs, df=8 (knots from the data)",
         lambda: bsbasis.formula.bs(x, df=8), lambda: patsy.bs(x, df=8), GOAL),
        ("ns vs cr, 5 knots given (7 columns)",
         lambda: bsbasis.formula.ns(x, include_intercept=True, **fixed),
         lambda: patsy.cr(x, **fixed), None),
    ]
    # Same columns, or the same span for ns and cr, before any timing.
    for label, ours, theirs, _ in cases:
        a, b = ours()[:2000], theirs()[:2000]
        if label.startswith("bs"):
            assert np.abs(a - b).max() < 1e-13, label
        else:
            coef = np.linalg.lstsq(a, b, rcond=None)[0]
            assert np.abs(a @ coef - b).max() < 1e-10, label

    print("bsbasis %s (library %s), patsy %s, numpy %s, %d cores; %g rows, best of %d, "
          "interleaved\n" % (bsbasis.__version__, bsbasis.library_path(), patsy.__version__,
                             np.__version__, cores(), args.n, args.reps))
    print("| term | bsbasis ms (default threads) | bsbasis ms (1 thread) | patsy ms "
          "| patsy / bsbasis | patsy / bsbasis, 1 thread | goal |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for label, ours, theirs, goal in cases:
        mine, mine1, peer = best([ours, single_thread(ours), theirs], args.reps)
        print("| %s | %.4g | %.4g | %.4g | %.1f | %.1f | %s |"
              % (label, mine * 1e3, mine1 * 1e3, peer * 1e3, peer / mine, peer / mine1,
                 ">= %g" % goal if goal else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
