"""
A P-spline fit of ten million rows on a Dask cluster
====================================================

:func:`bsbasis.dask.fit_pspline` fits a P-spline to dask arrays: each
chunk contributes its sums ``XᵀX``, ``Xᵀy`` and ``yᵀy``, the sums are
added up in a tree, and λ is chosen by GCV from the total, with no further
pass over the data. This example fits 10⁷ rows on a local cluster of two
worker processes, records when each chunk's task ends, and draws that
progress and the fit against a sample of the data.
"""

import time

import dask.array as da
import matplotlib.pyplot as plt
import numpy as np
from dask.utils import key_split
from distributed import Client, LocalCluster
from distributed.diagnostics.plugin import SchedulerPlugin
from matplotlib.ticker import MaxNLocator

import bsbasis.dask

# %%
# Data made by the workers
# ------------------------
#
# Ten million abscissae uniform on [0, 1] and responses
# :math:`\sin 2\pi x + x/2` plus noise of standard deviation 0.3, in 20
# chunks of 500,000 rows. The arrays are lazy: each worker draws its
# chunks from the seed when a task needs them, so no process ever holds
# the whole data.

n, chunk = 10_000_000, 500_000
rs = da.random.RandomState(42)
x = rs.uniform(0.0, 1.0, n, chunks=chunk)
y = da.sin(2 * np.pi * x) + 0.5 * x + rs.normal(0.0, 0.3, n, chunks=chunk)


def truth(x):
    return np.sin(2 * np.pi * x) + 0.5 * x


# %%
# Recording the progress
# ----------------------
#
# A scheduler plugin sees every task change state; this one notes, on the
# scheduler's clock, when each task's result reaches a worker's memory,
# and on which worker. The tasks are named after their part of the fit:
# ``bsbasis-range`` for a chunk's range in the first pass, and
# ``bsbasis-chunk`` for a chunk's sums in the second (the names shown in
# Dask's dashboard).


class TaskEnds(SchedulerPlugin):
    """(time, task name, worker) of every task that ends."""

    def __init__(self):
        self.ends = []

    def transition(self, key, start, finish, *args, **kwargs):
        if start == "processing" and finish == "memory":
            self.ends.append((time.time(), key_split(key), kwargs.get("worker")))


# %%
# The fit on a local cluster
# --------------------------
#
# Two worker processes of one thread each, on this machine only: the
# scheduler listens on 127.0.0.1, and its web server takes a free port
# (``dashboard_address=":0"``), so that it never clashes with another
# cluster. A client makes the cluster Dask's default scheduler, so
# :func:`bsbasis.dask.fit_pspline` runs on it. The knots come from the
# data, so the data are read twice: a first pass finds their range, a
# second forms the sums on the knots. Leaving the ``with`` block closes
# the client and the cluster.
#
# The worker processes start by importing this file again (Python's
# ``spawn``), hence the ``if __name__ == "__main__"`` guards: run as a
# script, only the main process starts a cluster.

if __name__ == "__main__":
    start = time.perf_counter()
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      host="127.0.0.1", dashboard_address=":0") as cluster, \
            Client(cluster) as client:
        print("cluster up in %.1f s: %d workers"
              % (time.perf_counter() - start, len(client.scheduler_info()["workers"])))
        recorder = TaskEnds()
        cluster.scheduler.add_plugin(recorder)
        begin = time.time()
        fit = bsbasis.dask.fit_pspline(x, y)
        seconds = time.time() - begin
        xs, ys = da.compute(x[:4000], y[:4000])
    print(fit)
    print("{:,} rows in {:.1f} s, {:.1f} million rows per second"
          .format(fit.count, seconds, fit.count / seconds / 1e6))
    grid = np.linspace(0.0, 1.0, 500)
    print("largest |fit - truth| on [0, 1]: %.2e" % np.abs(fit(grid) - truth(grid)).max())

# %%
# Progress, and the fit
# ---------------------
#
# Top: when each chunk's task of each pass ended, on which worker, and
# the chunks done so far. The second pass starts once the first has
# given the knots. Making a chunk's data (drawing the random numbers,
# computing y) takes longer than forming its sums, and the first pass
# makes x too; the documentation's build shares the machine's two cores
# with other work, so the times here vary from build to build.
#
# Bottom: the fit, from all ten million rows, against 4,000 of them.

if __name__ == "__main__":
    passes = [("first pass: range", "bsbasis-range", "C0"),
              ("second pass: sums", "bsbasis-chunk", "C1")]
    workers = sorted({w for _, _, w in recorder.ends if w is not None})
    fig, axes = plt.subplots(2, 1, figsize=(9, 8.5), gridspec_kw=dict(height_ratios=[1, 1.3]))

    ax = axes[0]
    for label, name, colour in passes:
        ends = sorted((t - begin, w) for t, task, w in recorder.ends if task == name)
        assert len(ends) == x.numblocks[0], (name, len(ends))  # one task per chunk
        times = np.array([t for t, _ in ends])
        ax.step(np.r_[0.0, times], np.arange(len(times) + 1), where="post", color=colour,
                label="%s, %d chunks" % (label, len(times)))
        for i, marker in zip(range(len(workers)), "ox"):
            mine = [t for t, w in ends if w == workers[i]]
            ax.plot(mine, [np.searchsorted(times, t, side="right") for t in mine], marker,
                    ls="none", ms=5, color=colour,
                    label="ended on worker %d" % (i + 1) if name == passes[0][1] else None)
    ax.set_xlim(0.0, seconds)
    ax.set_xlabel("seconds since the call")
    ax.set_ylabel("chunks done")
    ax.legend(loc="lower right", fontsize="small")
    ax.yaxis.set_major_locator(MaxNLocator(integer=True))
    ax.set_title("Progress of bsbasis.dask.fit_pspline: {:,} rows in {:.1f} s on 2 workers"
                 .format(fit.count, seconds))

    ax = axes[1]
    ax.plot(xs, ys, ".", ms=2, color="0.65", label="4,000 of the 10⁷ rows")
    ax.plot(grid, truth(grid), "k--", lw=1, label="true curve")
    ax.plot(grid, fit(grid), color="C3", lw=2,
            label="fit, λ = %.3g by GCV (edf %.1f)" % (fit.lam, fit.edf))
    ax.set_xlabel("x")
    ax.set_ylabel("y")
    ax.set_title("The fit against a sample of the data")
    ax.legend(loc="upper right", fontsize="small")

    fig.tight_layout()
    plt.show()
