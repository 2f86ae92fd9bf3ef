"""P-spline fit of 10^8 rows on a local dask cluster, the data made on the fly.

Each chunk of x (uniform on [0, 10]) and y (a smooth curve plus Gaussian
noise) is made from the seed and the chunk's number in the task that
reduces it, so no row is stored or sent and every run sees the same data.
Two worker processes of one thread each form the normal equations chunk by
chunk with bsbasis.dask; GCV chooses the smoothing from those sums alone.
The knots come from the known interval, so the data are read in one pass.

    python3 examples/fit_at_scale.py [--rows N] [--chunk N] [--knots N]
                                     [--workers N] [--seed S] [--output FILE]

Prints the rows per second over the whole fit (from building the task
graph to the chosen smoothing; the cluster's start is not counted), the
peak resident memory of each worker process, the fit's edf, lam and RMS residual, and draws a subsample of the
data with the fitted and the true curve into a PNG.
"""

import argparse
import math
import resource
import sys
import time

import numpy as np

LO, HI = 0.0, 10.0  # the interval of x
NOISE = 0.3  # standard deviation of the noise
K = 3


def truth(x):
    """The smooth curve, a damped sine: two transcendentals, a few ns a row."""
    return np.sin(x) * np.exp(-0.1 * x)


def block_x(seed, rows, chunk, block_id=None):
    """Chunk of x, from the seed and the chunk's number."""
    i = block_id[0]
    rng = np.random.default_rng([seed, i])
    return rng.uniform(LO, HI, min(chunk, rows - i * chunk))


def block_y(x, seed, block_id=None):
    """Chunk of y: the curve at x plus noise from a stream of its own.  In
    the task that reduces the chunk, so x is made once; three arrays of the
    chunk's length at most."""
    y = np.sin(x)
    e = np.multiply(x, -0.1)
    y *= np.exp(e, out=e)
    np.random.default_rng([seed, block_id[0], 1]).standard_normal(out=e)
    e *= NOISE
    y += e
    return y


def lazy_data(rows, chunk, seed):
    """x and y as dask arrays whose chunks are made when a task needs them."""
    import dask.array as da

    chunks = ((chunk,) * (rows // chunk) + ((rows % chunk,) if rows % chunk else ()),)
    x = da.map_blocks(block_x, seed, rows, chunk, chunks=chunks, dtype=float,
                      meta=np.empty(0))
    y = da.map_blocks(block_y, x, seed, dtype=float, meta=np.empty(0))
    return x, y


def peak_rss_mib():
    """Peak resident memory of this process (a worker's, under client.run)."""
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0  # KiB on Linux


def _warm_up():
    """Imports and the library loaded on a worker, before the clock starts."""
    import bsbasis.dask  # noqa: F401
    import bsbasis
    bsbasis.load_library()


def draw(path, x, y, fit, rows):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    grid = np.linspace(LO, HI, 1000)
    fig, ax = plt.subplots(figsize=(9, 5))
    ax.plot(x, y, ".", ms=1.5, alpha=0.3, color="0.5",
            label="%d of %s rows" % (len(x), f"{rows:,}"))
    ax.plot(grid, fit(grid), color="C3", lw=2.5,
            label="P-spline fit, edf %.1f" % fit.edf)
    ax.plot(grid, truth(grid), color="k", lw=1, ls="--", label="true curve")
    ax.set_xlabel("x")
    ax.set_ylabel("y")
    ax.set_title("bsbasis.dask: P-spline fit on a local cluster")
    ax.legend(loc="upper right")
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def parse(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--rows", type=int, default=10**8)
    p.add_argument("--chunk", type=int, default=4 * 2**20,
                   help="rows per chunk (default 4*2^20)")
    p.add_argument("--knots", type=int, default=40, help="base knots (default 40)")
    p.add_argument("--workers", type=int, default=2, help="worker processes (default 2)")
    p.add_argument("--seed", type=int, default=2024)
    p.add_argument("--sample", type=int, default=20000, help="rows drawn (default 20000)")
    p.add_argument("--output", default="fit_at_scale.png", help="PNG to write")
    p.add_argument("--no-progress", action="store_true", help="no progress bar")
    a = p.parse_args(argv)
    if a.rows < 1 or a.chunk < 1 or a.knots < 2 or a.workers < 1:
        p.error("--rows, --chunk, --workers must be at least 1 and --knots at least 2")
    return a


def main(argv=None):
    args = parse(argv)
    from distributed import Client, LocalCluster, progress

    import bsbasis
    import bsbasis.dask

    t = bsbasis.make_knots(np.array([LO, HI]), args.knots, K, boundary="extended")
    start = time.perf_counter()
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        client.run(_warm_up)
        ready = time.perf_counter()
        print("cluster of %d workers up in %.1f s; %s rows in chunks of %s"
              % (args.workers, ready - start, f"{args.rows:,}", f"{args.chunk:,}"))

        t0 = time.perf_counter()
        x, y = lazy_data(args.rows, args.chunk, args.seed)
        future = client.compute(bsbasis.dask.normal_equations(x, t, K, y=y, compute=False))
        if not args.no_progress:
            progress(future)
            print()
        ne = future.result()
        fit = bsbasis.fit_normal_equations(ne, t, K, penalty=2, lam="gcv")
        elapsed = time.perf_counter() - t0
        peaks = client.run(peak_rss_mib)

        n = min(args.sample, args.chunk, args.rows)
        sx, sy = x[:n].compute(), y[:n].compute()

    print("fit of %s rows in %.2f s: %.1f million rows per second"
          % (f"{ne.count:,}", elapsed, ne.count / elapsed / 1e6))
    for w, mb in sorted(peaks.items()):
        print("peak memory of worker %s: %.0f MiB" % (w, mb))
    print("edf %.2f  lam %.4g  RMS %.5f (noise %.5f)"
          % (fit.edf, fit.lam, math.sqrt(fit.rss / fit.count), NOISE))
    grid = np.linspace(LO, HI, 2001)
    print("max |fit - true curve| %.2e" % np.abs(fit(grid) - truth(grid)).max())
    draw(args.output, sx, sy, fit, args.rows)
    print("wrote", args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
