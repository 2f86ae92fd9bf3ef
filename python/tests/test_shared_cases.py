"""The cases shared with the R package's tests still hold what this host
gives, so both hosts are held to the same numbers."""
import os
import sys

import pytest

SHARED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "shared")


def test_periodic_cases_are_this_hosts_output():
    path = os.path.join(SHARED, "periodic_cases.txt")
    if not os.path.exists(path):
        pytest.skip("no shared cases beside this checkout")
    sys.path.insert(0, SHARED)
    try:
        import make_periodic_cases
    finally:
        sys.path.remove(SHARED)
    with open(path) as f:
        assert f.read().splitlines() == make_periodic_cases.lines()
