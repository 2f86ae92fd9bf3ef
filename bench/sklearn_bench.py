"""bsbasis.sklearn.SplineTransformer against scikit-learn's, as a user calls them.

Transform of --n rows by --features features, degree 3, 20 knots, best of
--reps calls each, in this one process: scikit-learn's dense output, ours
dense and ours sparse (CSR), with the library's default threads and with
one thread, taking turns round by round.  The outputs are compared before
anything is timed.

    python3 bench/sklearn_bench.py [--n 1000000] [--features 5] [--reps 5]
"""

import argparse
import os
import sys
import time

import numpy as np
import sklearn
from sklearn.preprocessing import SplineTransformer as Reference

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "python"))
from bsbasis._checks import cores as _cores  # noqa: E402
from bsbasis.sklearn import SplineTransformer  # noqa: E402

GOALS = {"dense": 5.0, "sparse": 10.0}


def best(calls, reps):
    """Best wall time of each call over reps rounds; every round runs each
    call once, so that all of them see the same load on a shared machine.
    Each result is dropped before the next call."""
    times = [float("inf")] * len(calls)
    for _ in range(reps):
        for c, call in enumerate(calls):
            t0 = time.perf_counter()
            out = call()
            times[c] = min(times[c], time.perf_counter() - t0)
            del out
    return times


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--n", type=int, default=1_000_000)
    ap.add_argument("--features", type=int, default=5)
    ap.add_argument("--reps", type=int, default=5)
    args = ap.parse_args()

    rng = np.random.default_rng(0)
    X = rng.normal(size=(args.n, args.features))
    params = dict(n_knots=20, degree=3)
    ref = Reference(**params).fit(X)
    ours = {
        "dense": SplineTransformer(**params).fit(X),
        "sparse": SplineTransformer(**params, sparse_output=True).fit(X),
        "dense, 1 thread": SplineTransformer(**params, threads=1).fit(X),
        "sparse, 1 thread": SplineTransformer(**params, sparse_output=True, threads=1).fit(X),
    }

    want = ref.transform(X)
    for name, est in ours.items():
        got = est.transform(X)
        got = got.toarray() if name.startswith("sparse") else got
        err = np.abs(got - want).max()
        if not (got.shape == want.shape and err <= 1e-12):
            sys.exit("%s differs from scikit-learn: shape %s, max |diff| %g"
                     % (name, got.shape, err))
        del got
    del want

    calls = [lambda: ref.transform(X)] + [lambda e=est: e.transform(X) for est in ours.values()]
    times = best(calls, args.reps)
    t_ref = times[0]
    rows = [("scikit-learn %s, dense" % sklearn.__version__, t_ref, None)]
    rows += [("bsbasis, " + name, t, GOALS.get(name)) for name, t in zip(ours, times[1:])]

    cores = _cores()
    print("%d rows x %d features, degree 3, 20 knots (%d output columns), best of %d; "
          "%d cores; outputs agree within 1e-12\n"
          % (args.n, args.features, ref.n_features_out_, args.reps, cores))
    print("| transform | seconds | speed-up | goal |")
    print("|---|---:|---:|---:|")
    for name, t, goal in rows:
        ratio = t_ref / t
        mark = "" if goal is None else ("%.0fx %s" % (goal, "met" if ratio >= goal else "MISSED"))
        print("| %s | %.3f | %.1fx | %s |" % (name, t, ratio, mark))


if __name__ == "__main__":
    main()
