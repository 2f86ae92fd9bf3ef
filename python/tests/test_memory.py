"""Where large results take their memory: on Linux, in pages advised huge
(the first touch of a large result then faults once per 2 MiB), for every
kind of result the package writes whole."""

import os
import sys

import numpy as np
import pytest

import bsbasis
from bsbasis import _tiles

THP = "/sys/kernel/mm/transparent_hugepage/enabled"


def _numpy_advises_huge_pages():
    get = getattr(np.core.multiarray, "_get_madvise_hugepage", None)
    return bool(get and get())


pytestmark = pytest.mark.skipif(
    not sys.platform.startswith("linux") or not os.path.exists(THP)
    or not _numpy_advises_huge_pages(),
    reason="huge pages are advised on Linux with transparent huge pages, by numpy")


def vm_flags(a):
    """The VmFlags of the mapping that holds the middle of array a."""
    at = a.ctypes.data + a.nbytes // 2
    inside = False
    with open("/proc/self/smaps") as f:
        for line in f:
            head = line.split(" ", 1)[0]
            if "-" in head and ":" not in head:
                lo, hi = (int(v, 16) for v in head.split("-"))
                inside = lo <= at < hi
            elif inside and line.startswith("VmFlags:"):
                return line.split()[1:]
    raise AssertionError("no mapping holds the array")


T = np.r_[[0.0] * 3, np.linspace(0.0, 1.0, 11), [1.0] * 3]
X = np.linspace(0.0, 1.0, 1 << 20)


@pytest.mark.parametrize("make, arrays", [
    (lambda: bsbasis.design_matrix(X, T, 3), ("data", "indices", "indptr")),
    (lambda: bsbasis.design_matrix(X, T, 3, format="coo"), ("data", "row", "col")),
    (lambda: bsbasis.tensor_design_matrix(np.c_[X, X[::-1]], (T, T), 3), ("data", "indices")),
    (lambda: bsbasis.natural_design_matrix(X, [0.25, 0.5, 0.75], format="dense"), None),
    (lambda: bsbasis.evaluate_spline(X, T, 3, np.ones(len(T) - 4)), None),
])
def test_large_results_are_advised_huge(make, arrays):
    r = make()
    for a in ([r] if arrays is None else [getattr(r, name) for name in arrays]):
        assert a.nbytes >= 4 << 20
        assert "hg" in vm_flags(a), (a.nbytes, vm_flags(a))


def test_result_array_writes_nothing():
    # np.empty: the pages are not touched, so a large result costs no pass
    # before the library writes it.
    a = _tiles.result_array((1 << 21, 2))
    assert a.shape == (1 << 21, 2) and a.dtype == np.float64 and a.flags.c_contiguous
    assert "hg" in vm_flags(a)
    assert _tiles.result_array(3, np.int32, "F").dtype == np.int32
