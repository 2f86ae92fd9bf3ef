"""An additive model of 10^8 rows on a local dask cluster, the data made on the fly.

The model has four terms: y = f0(x0) + f1(x1) + f23(x2, x3) + g[x4] + noise,
fitted as s(0) + s(1) + te(2, 3) + factor(4) by bsbasis.dask.fit_gam with
REML.  Each chunk of rows (x0 .. x3 uniform on [0, 1], x4 one of three
groups) and its y are made from the seed and the chunk's number in the task
that reads them, so no row is stored, none is sent from the client, and
every run sees the same data.  Two worker processes of one thread each and
500 MB of memory each read the data twice: once for the columns' ranges,
distinct values and levels, once, the terms laid out, for the model's sums
chunk by chunk; the smoothing parameters come from the total sums alone.

    python3 examples/gam_cluster.py [--rows N] [--chunk N] [--workers N]
                                    [--seed S] [--output FILE] [--no-progress]

Prints the rows per second over the whole fit (from building the task graph
to the fitted model; the cluster's start is not counted), the peak resident
memory of each worker process, each term's edf and how far each smooth is
from the truth, and draws the partial effects with their bands into a PNG.
"""

import argparse
import resource
import sys
import time

import numpy as np

NOISE = 0.5  # standard deviation of the noise
GROUPS = np.array([0.0, 0.4, -0.3])  # the effect of each level of x4
COLUMNS = 5


def f0(x):
    return np.sin(2 * np.pi * x)


def f1(x):
    return np.exp(2 * x) / 4


def f23(u, v):
    return np.sin(3 * u) * np.cos(4 * v)


def block_X(seed, rows, chunk, block_id=None):
    """A chunk of X, from the seed and the chunk's number."""
    i = block_id[0]
    rng = np.random.default_rng([seed, i])
    m = min(chunk, rows - i * chunk)
    X = rng.uniform(0.0, 1.0, (m, COLUMNS))
    X[:, 4] = rng.integers(0, len(GROUPS), m)
    return X


def block_y(X, seed, block_id=None):
    """The chunk's y: the four terms plus noise from a stream of its own."""
    noise = np.random.default_rng([seed, block_id[0], 1]).standard_normal(len(X))
    return (f0(X[:, 0]) + f1(X[:, 1]) + f23(X[:, 2], X[:, 3])
            + GROUPS[X[:, 4].astype(np.int64)] + NOISE * noise)


def lazy_data(rows, chunk, seed):
    """X and y as dask arrays whose chunks are made when a task needs them."""
    import dask.array as da

    sizes = (chunk,) * (rows // chunk) + ((rows % chunk,) if rows % chunk else ())
    X = da.map_blocks(block_X, seed, rows, chunk, chunks=(sizes, (COLUMNS,)), dtype=float,
                      meta=np.empty((0, 0)))
    y = da.map_blocks(block_y, X, seed, drop_axis=1, dtype=float, meta=np.empty(0))
    return X, y


def peak_rss_mib():
    """Peak resident memory of this process (a worker's, under client.run)."""
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0  # KiB on Linux


def _warm_up():
    """Imports and the library loaded on a worker, before the clock starts."""
    import bsbasis
    import bsbasis.dask  # noqa: F401
    bsbasis.load_library()


def truth_gaps(model):
    """The largest distance of each smooth's partial effect from its true
    curve (both centred) on a grid, and of each group's coefficient from
    its true difference from group 0."""
    grid = np.linspace(0.02, 0.98, 49)
    Z = np.zeros((len(grid), COLUMNS))
    gaps = {}
    for term, column, f in (("s(x0)", 0, f0), ("s(x1)", 1, f1)):
        Z[:, column] = grid
        fit, true = model.partial(Z, term), f(grid)
        gaps[term] = np.max(np.abs((fit - fit.mean()) - (true - true.mean())))
    U, V = np.meshgrid(grid, grid)
    Z = np.zeros((U.size, COLUMNS))
    Z[:, 2], Z[:, 3] = U.ravel(), V.ravel()
    fit, true = model.partial(Z, "te(x2,x3)"), f23(U.ravel(), V.ravel())
    gaps["te(x2,x3)"] = np.max(np.abs((fit - fit.mean()) - (true - true.mean())))
    a = model._starts[3]
    gaps["x4"] = np.max(np.abs(model.coef_[a:a + 2] - (GROUPS[1:] - GROUPS[0])))
    return gaps


def parse(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--rows", type=int, default=10**8)
    p.add_argument("--chunk", type=int, default=2**18, help="rows per chunk (default 2^18)")
    p.add_argument("--workers", type=int, default=2, help="worker processes (default 2)")
    p.add_argument("--memory", default="500MB", help="memory limit per worker (default 500MB)")
    p.add_argument("--seed", type=int, default=2024)
    p.add_argument("--output", default="gam_cluster.png", help="PNG to write")
    p.add_argument("--no-progress", action="store_true", help="no progress bar")
    a = p.parse_args(argv)
    if a.rows < 1 or a.chunk < 1 or a.workers < 1:
        p.error("--rows, --chunk and --workers must be at least 1")
    return a


def main(argv=None):
    args = parse(argv)
    from distributed import Client, LocalCluster, progress

    import bsbasis.dask
    from bsbasis.gam import factor, s, te

    terms = [s(0), s(1), te(2, 3), factor(4)]
    start = time.perf_counter()
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                      memory_limit=args.memory, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        client.run(_warm_up)
        ready = time.perf_counter()
        print("cluster of %d workers (%s each) up in %.1f s; %s rows in chunks of %s"
              % (args.workers, args.memory, ready - start, f"{args.rows:,}", f"{args.chunk:,}"))

        t0 = time.perf_counter()
        X, y = lazy_data(args.rows, args.chunk, args.seed)
        future = client.compute(bsbasis.dask.fit_gam(terms, X, y, compute=False))
        if not args.no_progress:
            progress(future)
            print()
        model = future.result()
        elapsed = time.perf_counter() - t0
        peaks = client.run(peak_rss_mib)

    n = model._problem_.n
    print("fit of %s rows in %.2f s: %.2f million rows per second"
          % (f"{n:,}", elapsed, n / elapsed / 1e6))
    for w, mb in sorted(peaks.items()):
        print("peak memory of worker %s: %.0f MiB" % (w, mb))
    print("REML: lam %s, %d Newton steps; scale %.5f (noise variance %.5f)"
          % (np.array2string(model.lam_, precision=4), model.n_iter_, model.scale_,
             NOISE ** 2))
    for term, edf, (label, gap) in zip(model.terms_, model.edf_, truth_gaps(model).items()):
        print("%-10s edf %6.2f   max |fit - truth| %.2e" % (term, edf, gap))
    figure = model.plot()
    figure.suptitle("bsbasis.dask.fit_gam: %s rows on a local cluster" % f"{n:,}")
    figure.tight_layout()
    figure.savefig(args.output, dpi=100)
    print("wrote", args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
