"""Times a P-spline fit of 10^5 rows end to end from Python, and its parts.

Run with ``/usr/bin/python3 bench/fit_bench.py`` (options: --rows, --reps,
--knots).  Prints the best of --reps interleaved runs of each:

- the normal equations (`bsbasis.normal_equations`, default threads);
- the search for lam by GCV alone, on those sums;
- the same search one lam at a time (a banded Cholesky factorisation and
  selected inverse per lam, then Brent's method): the earlier search;
- the fit from the sums (`bsbasis.fit_normal_equations`: penalty, search,
  and the fit at the lam found);
- the whole `bsbasis.fit_pspline` (knots, sums, search, fit).

With ``--cluster ROWS`` it then fits ROWS rows with weights (a third of
them 0, and one such row far outside the others), made chunk by chunk from
a seed, by `bsbasis.dask.fit_pspline` on a `distributed.LocalCluster` of
two single-threaded worker processes and by `bsbasis.fit_pspline` in
memory, and prints both fits' count, lam and edf.
"""

import argparse
import os
import sys
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "python"))
if "BSBASIS_LIBRARY" not in os.environ:
    os.environ["BSBASIS_LIBRARY"] = os.path.join(HERE, "..", "build", "libbsbasis.so")

import bsbasis  # noqa: E402
from bsbasis import _pspline  # noqa: E402


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=100_000)
    parser.add_argument("--reps", type=int, default=15)
    parser.add_argument("--knots", type=int, default=40, help="base knots (default 40: "
                        "fit_pspline's default above 160 rows)")
    parser.add_argument("--cluster", type=int, default=0, metavar="ROWS",
                        help="also fit ROWS weighted rows on a local cluster and in memory")
    args = parser.parse_args(argv)
    timings(args)
    if args.cluster:
        cluster(args.cluster)
    return 0


def timings(args):
    rng = np.random.default_rng(0)
    x = rng.uniform(0.0, 10.0, args.rows)  # unsorted
    y = np.sin(x) + 0.3 * rng.standard_normal(args.rows)
    t = bsbasis.make_knots(x, args.knots, 3, boundary="extended")
    ne = bsbasis.normal_equations(x, t, 3, y=y)
    P = bsbasis.difference_penalty(ne.n, 2)
    problem = _pspline._Problem(ne.gram, ne.rhs, ne.yty, ne.count, P)
    grid = problem.window(None)

    fast, slow = problem.search(grid), problem.search_one_by_one(grid)
    fit = bsbasis.fit_pspline(x, y, n_knots=args.knots)
    calls = {
        "normal_equations": lambda: bsbasis.normal_equations(x, t, 3, y=y),
        "lam search": lambda: problem.search(grid),
        "lam search, one lam at a time": lambda: problem.search_one_by_one(grid),
        "fit_normal_equations": lambda: bsbasis.fit_normal_equations(ne, t, 3),
        "fit_pspline": lambda: bsbasis.fit_pspline(x, y, n_knots=args.knots),
    }
    best = dict.fromkeys(calls, np.inf)
    for _ in range(args.reps):  # interleaved: each round times every call once
        for name, call in calls.items():
            start = time.perf_counter()
            call()
            best[name] = min(best[name], time.perf_counter() - start)

    print("P-spline fit, %d unsorted rows, cubic, %d coefficients, %d cores; best of %d "
          "interleaved runs" % (args.rows, ne.n, os.cpu_count(), args.reps))
    for name in calls:
        print("  %-32s %8.3f ms" % (name, 1e3 * best[name]))
    print("  search / normal_equations      %8.2f"
          % (best["lam search"] / best["normal_equations"]))
    print("  one lam at a time / search     %8.1f"
          % (best["lam search, one lam at a time"] / best["lam search"]))
    print("log10(lam): search %.6f, one lam at a time %.6f (GCV %.10g and %.10g); "
          "fit_pspline: lam %.6g, edf %.4f"
          % (fast, slow, problem.gcv(fast), problem.gcv(slow), fit.lam, fit.edf))


CHUNK = 1 << 20


def chunk_data(seed, block_info=None):
    """x, y and weights of one chunk, as the rows of a (3, m) block."""
    m = block_info[None]["chunk-shape"][1]
    index = block_info[None]["chunk-location"][1]
    rng = np.random.default_rng([seed, index])
    x = rng.uniform(0.0, 10.0, m)
    y = np.sin(x) * np.exp(-0.1 * x) + 0.3 * rng.standard_normal(m)
    w = np.where(rng.random(m) < 1 / 3, 0.0, rng.uniform(0.5, 2.0, m))
    if index == 0:
        x[0], w[0] = 1e6, 0.0  # weight 0, far outside: ignored
    return np.stack([x, y, w])


def cluster(rows):
    import dask.array as da
    import distributed
    import bsbasis.dask

    chunks = ((3,), (CHUNK,) * (rows // CHUNK) + ((rows % CHUNK,) if rows % CHUNK else ()))
    data = da.map_blocks(chunk_data, 11, chunks=chunks, dtype=float, meta=np.empty((0, 0)))
    x, y, w = data[0], data[1], data[2]
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as c, distributed.Client(c):
        start = time.perf_counter()
        on_cluster = bsbasis.dask.fit_pspline(x, y, weights=w)
        seconds = time.perf_counter() - start
    xv, yv, wv = data.compute(scheduler="threads")
    in_memory = bsbasis.fit_pspline(xv, yv, weights=wv)
    print("%d rows, %d of weight 0 (one at x = 1e6), local cluster of 2 workers in %.2f s"
          % (rows, rows - in_memory.count, seconds))
    for name, fit in (("bsbasis.dask.fit_pspline", on_cluster),
                      ("bsbasis.fit_pspline", in_memory)):
        print("  %-26s count %d, lam %.8g, edf %.8f" % (name, fit.count, fit.lam, fit.edf))


if __name__ == "__main__":
    sys.exit(main())
