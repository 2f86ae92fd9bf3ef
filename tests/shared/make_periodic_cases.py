"""Writes periodic_cases.txt: periodic design matrices from the Python host,
which the R package's tests compare with its own (the same definition:
scikit-learn's periodic basis).  python/tests/test_shared_cases.py checks
that the file still holds what the Python host gives.

    /usr/bin/python3 tests/shared/make_periodic_cases.py
"""
import os
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
CASES = [  # (breaks, degree, nu)
    ([0.0, 1.0, 2.0, 3.0, 4.0, 5.0], 3, 0),
    ([0.0, 0.5, 1.25, 2.0, 3.5, 4.0], 2, 0),
    ([-1.0, 0.0, 2.0, 2.5, 6.0, 7.0, 9.0], 3, 1),
    ([0.0, 0.1, 0.35, 0.5, 0.8, 0.9, 1.0, 1.3], 4, 2),
    ([0.0, 1.0, 3.0], 1, 0),
]


def abscissae(u):
    u = np.asarray(u)
    period = u[-1] - u[0]
    return np.r_[u, u[0] - 0.3, u[-1] + 0.6, np.linspace(u[0], u[-1], 11),
                 u[0] + 3 * period + 0.1, u[0] - 2.5 * period]


def lines():
    import bsbasis
    out = []
    for u, k, nu in CASES:
        x = abscissae(u)
        m = bsbasis.periodic_design_matrix(x, np.asarray(u), k, nu=nu).toarray()
        out.append("case %d %d %d %d" % (k + 1, nu, len(u), len(x)))
        out.append("breaks " + " ".join(repr(float(v)) for v in u))
        out.append("x " + " ".join(repr(float(v)) for v in x))
        out += ["row " + " ".join(repr(float(v)) for v in r) for r in m]
    return out


def main():
    sys.path.insert(0, os.path.join(HERE, "..", "..", "python"))
    with open(os.path.join(HERE, "periodic_cases.txt"), "w") as f:
        f.write("\n".join(lines()) + "\n")


if __name__ == "__main__":
    main()
