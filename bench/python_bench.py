"""The Python host against scipy.interpolate, end to end, as a user calls it.

Every figure is the best of --reps calls in this one process, with the
library's default threads and with threads=1.  "Repeated" times each call
--reps times in a row, as a loop that rebuilds a design matrix does (its
output memory is then warm in the caches); two such rounds per library,
alternating, against drift.  "After scipy" times each bsbasis call right
after a scipy call, which leaves the caches cold.  Peak memory is what numpy
and scipy allocate during one call (tracemalloc), beyond what was allocated
before it.

    python3 bench/python_bench.py [--reps 7] [--n 1000000] [--big 10000000]
"""

import argparse
import os
import sys
import time
import tracemalloc

import numpy as np
import scipy
import scipy.sparse as sp
from scipy.interpolate import BSpline

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "python"))
import bsbasis  # noqa: E402

K = 3  # cubic
INTERVALS = 100


def knots():
    return np.r_[[0.0] * K, np.linspace(0.0, 1.0, INTERVALS + 1), [1.0] * K]


def scipy_derivative(x, t, k):
    """First derivatives as a scipy user writes them without one BSpline
    per column: the degree k-1 design matrix times the sparse derivative
    operator, B'_i = k/(t[i+k]-t[i]) B_i,k-1 - k/(t[i+k+1]-t[i+1]) B_i+1,k-1."""
    n = len(t) - k - 1
    lower = BSpline.design_matrix(x, t, k - 1)
    i = np.arange(n)
    def weight(span):  # 0 for an empty span, whose function is 0
        return np.divide(k, span, out=np.zeros_like(span), where=span > 0)
    w = weight(t[i + k] - t[i])
    w1 = weight(t[i + k + 1] - t[i + 1])
    D = sp.csr_array((np.r_[w, -w1], (np.r_[i, i + 1], np.r_[i, i])), shape=(n + 1, n))
    return lower @ D


def timed(call):
    t0 = time.perf_counter()
    call()
    return time.perf_counter() - t0


def repeated(calls, reps, rounds=2):
    """Best time of each call, run reps times in a row, the calls taking
    turns round by round."""
    out = [float("inf")] * len(calls)
    for _ in range(rounds):
        for c, call in enumerate(calls):
            out[c] = min([out[c]] + [timed(call) for _ in range(reps)])
    return out


def after(call, other, reps):
    """Best time of call, each run right after other."""
    best = float("inf")
    for _ in range(reps):
        other()
        best = min(best, timed(call))
    return best


def peak(call):
    tracemalloc.start()
    try:
        base = tracemalloc.get_traced_memory()[0]
        result = call()
        return tracemalloc.get_traced_memory()[1] - base, result
    finally:
        tracemalloc.stop()


def size(m):
    return m.data.nbytes + m.indices.nbytes + m.indptr.nbytes


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--reps", type=int, default=7)
    p.add_argument("--n", type=int, default=1_000_000, help="abscissae of the large calls")
    p.add_argument("--big", type=int, default=10_000_000, help="abscissae of the memory check")
    args = p.parse_args(argv)

    t = knots()
    rng = np.random.default_rng(0)
    unsorted = rng.uniform(0.0, 1.0, args.n)
    xs = np.sort(unsorted)
    series = np.linspace(0.0, 1.0, 391)
    small = np.sort(rng.uniform(0.0, 1.0, 16))
    # The derivative routes agree before either is timed.
    d = abs(bsbasis.design_matrix(xs[:1000], t, K, nu=1) - scipy_derivative(xs[:1000], t, K))
    assert d.max() < 1e-9, d.max()  # also false for NaN

    print("bsbasis %s (library %s), scipy %s, numpy %s, %d cores"
          % (bsbasis.__version__, bsbasis.library_path(), scipy.__version__, np.__version__,
             len(os.sched_getaffinity(0))))
    print("cubic (k=3), %d intervals, clamped knots; best of %d, interleaved\n"
          % (INTERVALS, args.reps))
    rows = [
        ("%g sorted, CSR" % args.n, xs, {}, lambda x: BSpline.design_matrix(x, t, K), 20),
        ("%g unsorted, CSR" % args.n, unsorted, {}, lambda x: BSpline.design_matrix(x, t, K), 6),
        ("%g sorted, nu=1" % args.n, xs, {"nu": 1}, lambda x: scipy_derivative(x, t, K), 15),
        ("391 rows", series, {}, lambda x: BSpline.design_matrix(x, t, K), 1 / 0.6),
        ("16 rows", small, {}, lambda x: BSpline.design_matrix(x, t, K), 1.0),
    ]
    print("| call | threads | bsbasis ms | scipy ms | scipy / bsbasis | goal "
          "| bsbasis ms after scipy | ratio |")
    print("|---|---|---:|---:|---:|---:|---:|---:|")
    for label, x, kw, peer, goal in rows:
        reps = args.reps if len(x) > 1000 else max(args.reps, 2000)
        for threads in (None, 1):
            ours = lambda: bsbasis.design_matrix(x, t, K, threads=threads, **kw)
            mine, theirs = repeated([ours, lambda: peer(x)], reps)
            cold = after(ours, lambda: peer(x), args.reps if len(x) > 1000 else 200)
            print("| %s | %s | %.4g | %.4g | %.2f | >= %.3g | %.4g | %.2f |"
                  % (label, "default" if threads is None else threads, mine * 1e3,
                     theirs * 1e3, theirs / mine, goal, cold * 1e3, theirs / cold))

    xb = np.sort(rng.uniform(0.0, 1.0, args.big))
    ours, m = peak(lambda: bsbasis.design_matrix(xb, t, K))
    res = size(m)
    del m
    theirs, m = peak(lambda: BSpline.design_matrix(xb, t, K))
    del m
    print("\npeak extra memory of one CSR call, %g rows (result %.0f MB):" % (args.big, res / 1e6))
    print("| | peak MB | / result | goal |")
    print("|---|---:|---:|---:|")
    print("| bsbasis | %.0f | %.3f | <= 1.1 |" % (ours / 1e6, ours / res))
    print("| scipy | %.0f | %.3f | |" % (theirs / 1e6, theirs / res))
    return 0


if __name__ == "__main__":
    sys.exit(main())
