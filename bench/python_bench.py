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
                                  [--only design|normal]
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


def scipy_derivative(x, t, k, nu=1):
    """Derivatives as a scipy user writes them without one BSpline per
    column: the degree k-nu design matrix times nu sparse derivative
    operators, B'_i,m = m/(t[i+m]-t[i]) B_i,m-1 - m/(t[i+m+1]-t[i+1]) B_i+1,m-1."""
    out = BSpline.design_matrix(x, t, k - nu)
    for m in range(k - nu + 1, k + 1):
        n = len(t) - m - 1
        i = np.arange(n)
        def weight(span):  # 0 for an empty span, whose function is 0
            return np.divide(m, span, out=np.zeros_like(span), where=span > 0)
        w = weight(t[i + m] - t[i])
        w1 = weight(t[i + m + 1] - t[i + 1])
        D = sp.csr_array((np.r_[w, -w1], (np.r_[i, i + 1], np.r_[i, i])), shape=(n + 1, n))
        out = out @ D
    return out


def scipy_tensor(x, t, k):
    """The tensor-product design matrix from two scipy design matrices and
    numpy: row-wise Kronecker products of their blocks, C order."""
    a = BSpline.design_matrix(x[:, 0], t, k)
    b = BSpline.design_matrix(x[:, 1], t, k)
    o, nb = k + 1, b.shape[1]
    data = (a.data.reshape(-1, o)[:, :, None] * b.data.reshape(-1, o)[:, None, :]).ravel()
    cols = (a.indices.reshape(-1, o)[:, :, None] * nb
            + b.indices.reshape(-1, o)[:, None, :]).ravel()
    indptr = np.arange(0, (len(x) + 1) * o * o, o * o)
    return sp.csr_array((data, cols, indptr), shape=(len(x), a.shape[1] * nb))


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


def table(rows, reps):
    """One markdown row per call and thread setting: (label, ours(threads),
    peer(), goal as a ratio of times or None)."""
    print("| call | threads | bsbasis ms | peer ms | peer / bsbasis | goal "
          "| bsbasis ms after the peer | ratio |")
    print("|---|---|---:|---:|---:|---:|---:|---:|")
    for label, ours, peer, goal in rows:
        large = not label.startswith(("391", "16 "))
        n = reps if large else max(reps, 2000)
        for threads in (None, 1):
            call = lambda: ours(threads)
            mine, theirs = repeated([call, peer], n)
            cold = after(call, peer, reps if large else 200)
            print("| %s | %s | %.4g | %.4g | %.2f | %s | %.4g | %.2f |"
                  % (label, "default" if threads is None else threads, mine * 1e3,
                     theirs * 1e3, theirs / mine, "" if goal is None else ">= %.3g" % goal,
                     cold * 1e3, theirs / cold))


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--reps", type=int, default=7)
    p.add_argument("--n", type=int, default=1_000_000, help="abscissae of the large calls")
    p.add_argument("--big", type=int, default=10_000_000,
                   help="abscissae of the memory check and of the normal equations")
    p.add_argument("--only", choices=("design", "normal"), help="one part of the tables")
    args = p.parse_args(argv)

    t = knots()
    rng = np.random.default_rng(0)
    if args.only == "normal":
        normal_table(t, np.sort(rng.uniform(0.0, 1.0, args.big)), args.reps)
        return 0
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
    design = lambda x, **kw: (lambda threads: bsbasis.design_matrix(x, t, K, threads=threads,
                                                                      **kw))
    rows = [
        ("%g sorted, CSR" % args.n, design(xs), lambda: BSpline.design_matrix(xs, t, K), 20),
        ("%g unsorted, CSR" % args.n, design(unsorted),
         lambda: BSpline.design_matrix(unsorted, t, K), 6),
        ("%g sorted, nu=1" % args.n, design(xs, nu=1), lambda: scipy_derivative(xs, t, K), 15),
        ("391 rows", design(series), lambda: BSpline.design_matrix(series, t, K), 1 / 0.6),
        ("16 rows", design(small), lambda: BSpline.design_matrix(small, t, K), 1.0),
    ]
    table(rows, args.reps)

    # The bases beyond values and first derivatives.
    points = rng.uniform(0.0, 1.0, (args.n, 2))
    d = abs(bsbasis.design_matrix(xs[:1000], t, K, nu=2) - scipy_derivative(xs[:1000], t, K, 2))
    assert d.max() < 1e-6 * abs(scipy_derivative(xs[:1000], t, K, 2)).max(), d.max()
    d = abs(bsbasis.tensor_design_matrix(points[:1000], (t, t), K) - scipy_tensor(points[:1000], t, K))
    assert d.max() < 1e-13, d.max()
    print("\nsecond derivatives and the tensor product of two cubic bases (random points):\n")
    rows = [
        ("%g sorted, nu=2" % args.n, design(xs, nu=2), lambda: scipy_derivative(xs, t, K, 2), None),
        ("%g points, cubic x cubic" % args.n,
         lambda threads: bsbasis.tensor_design_matrix(points, (t, t), K, threads=threads),
         lambda: scipy_tensor(points, t, K), 10),
    ]
    table(rows, args.reps)

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

    if args.only is None:
        normal_table(t, xb, args.reps)
    return 0


def scipy_normal(x, t, y, w):
    """The scipy route to the normal equations: the design matrix, then two
    sparse products."""
    B = BSpline.design_matrix(x, t, K)
    return B.T @ (w[:, None] * B), B.T @ (w * y)


_RSS_CHILD = r"""
import resource, sys
import numpy as np
sys.path.insert(0, sys.argv[1])
import bsbasis
t = np.r_[[0.0] * 3, np.linspace(0, 1, 101), [1.0] * 3]
x = np.sort(np.random.default_rng(0).uniform(0.0, 1.0, int(sys.argv[2])))
y, w = np.sin(6 * x), np.ones(len(x))
bsbasis.normal_equations(x[:1000], t, 3, y=y[:1000], weights=w[:1000], threads=1)
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
bsbasis.normal_equations(x, t, 3, y=y, weights=w, threads=int(sys.argv[3]))
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)
"""


def rss_growth(n, threads):
    """Growth of the peak resident memory of a fresh process over one call,
    its inputs already in memory, in MB."""
    import subprocess
    out = subprocess.run([sys.executable, "-c", _RSS_CHILD,
                          os.path.join(os.path.dirname(HERE), "python"), str(n), str(threads)],
                         check=True, capture_output=True, text=True).stdout
    return int(out) / 1024.0


def normal_table(t, x, reps):
    y = np.sin(6 * x) + 0.1 * np.cos(40 * x)
    w = 0.5 + (np.arange(len(x)) % 3) * 0.5
    ne = bsbasis.normal_equations(x, t, K, y=y, weights=w)
    G, r = scipy_normal(x[:100000], t, y[:100000], w[:100000])
    part = bsbasis.normal_equations(x[:100000], t, K, y=y[:100000], weights=w[:100000])
    G = G.toarray()
    assert abs(part.rhs - r).max() < 1e-12 * abs(r).max()
    assert abs(part.gram[K] - np.diag(G)).max() < 1e-12 * abs(G).max()
    print("\nnormal equations X^T W X, X^T W y of %g sorted rows, cubic, %d intervals "
          "(scipy: design_matrix, then B.T @ (w[:, None] * B) and B.T @ (w * y)):\n"
          % (len(x), INTERVALS))
    theirs = min(timed(lambda: scipy_normal(x, t, y, w)) for _ in range(2))
    print("| threads | bsbasis ms | scipy ms | scipy / bsbasis | goal | peak memory growth MB "
          "| goal |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for threads in (1, None):
        mine = min(timed(lambda: bsbasis.normal_equations(x, t, K, y=y, weights=w,
                                                          threads=threads))
                   for _ in range(reps))
        grow = rss_growth(len(x), threads or len(os.sched_getaffinity(0)))
        print("| %s | %.4g | %.4g | %.1f | %s | %.1f | <= 64 |"
              % (threads or "default", mine * 1e3, theirs * 1e3, theirs / mine,
                 ">= 30" if threads == 1 else "", grow))
    del ne


if __name__ == "__main__":
    sys.exit(main())
