import os
import sys

import numpy as np
import pytest

# The source tree's package, unless the tests are to exercise an installed copy.
INSTALLED = os.environ.get("BSBASIS_TEST_INSTALLED") == "1"
if not INSTALLED:
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "once: numerics that do not depend on how the package is installed "
        "(comparisons with mgcv, scikit-learn's estimator checks); run on the source tree, "
        "skipped when the tests exercise an installed copy")


def pytest_collection_modifyitems(config, items):
    if INSTALLED:
        skip = pytest.mark.skip(reason="run once, on the source tree")
        for item in items:
            if "once" in item.keywords:
                item.add_marker(skip)


def clamped_knots(rng, order, ninterior, lo=-1.0, hi=2.0):
    inner = np.sort(rng.uniform(lo, hi, ninterior))
    return np.concatenate([np.full(order, lo), inner, np.full(order, hi)])


def uniform_knots(order, nseg, lo=0.0, h=0.25):
    return lo + h * np.arange(nseg + 2 * order - 1)


def repeated_knots(rng, order, ninterior):
    """Clamped knots whose interior values repeat up to `order` times."""
    base = np.sort(rng.uniform(0.0, 1.0, ninterior))
    mult = rng.integers(1, order + 1, ninterior)
    return np.concatenate([np.zeros(order), np.repeat(base, mult), np.ones(order)])


KNOT_KINDS = ("clamped", "uniform", "repeated")


def make_knots(kind, order, seed):
    rng = np.random.default_rng(seed)
    if kind == "clamped":
        return clamped_knots(rng, order, 7)
    if kind == "uniform":
        return uniform_knots(order, 6)
    return repeated_knots(rng, order, 6)


def abscissae(t, order, nj, seed, n=40):
    """Random points, every knot of the base interval (right end included), midpoints."""
    rng = np.random.default_rng(seed)
    lo, hi = t[order - 1], t[nj]
    base = t[order - 1:nj + 1]
    mids = 0.5 * (base[:-1] + base[1:])
    x = np.concatenate([rng.uniform(lo, hi, n), base, mids, [hi, lo]])
    rng.shuffle(x)
    return x


@pytest.fixture
def fresh_library():
    """Lets a test change how the library is found, and restores the search after."""
    import bsbasis
    bsbasis.reset_library()
    yield bsbasis
    bsbasis.reset_library()
