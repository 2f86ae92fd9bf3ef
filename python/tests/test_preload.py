"""No call inside the library goes through one of its exported names.

Another object in the process (LD_PRELOAD, the executable, a library loaded
with RTLD_GLOBAL) may define blossom_grid or bsbasis_design too; the
library's answers must not change.  A child process with an object that
defines every exported name with wrong answers preloaded computes the same
results as this process, bit for bit.
"""

import hashlib
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

import bsbasis

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
INTERPOSER = os.path.join(ROOT, "tests", "preload", "interposer.c")

# Runs in this process and in the child; prints the digest of every result
# and what the global name blossom_grid answers in the process.
SCRIPT = r'''
import ctypes, hashlib, sys
import numpy as np
import bsbasis

def results():
    t = np.r_[[0.0] * 3, np.sort(np.random.default_rng(3).uniform(0, 1, 9)), [1.0] * 3]
    x = np.random.default_rng(4).uniform(-0.2, 1.2, 5000)
    inside = np.clip(x, 0, 1)
    y = np.sin(6 * inside)
    out = []
    for mode in ("zero", True, "constant", "linear", "periodic"):
        for nu in (0, 2):
            out.append(bsbasis.design_matrix(x, t, 2, nu=nu, extrapolate=mode).data)
    out.append(bsbasis.uniform_design_matrix(x, 3, 9, spacing=1 / 6, nu=1,
                                            extrapolate="linear").data)
    out.append(bsbasis.periodic_design_matrix(x, np.linspace(0, 1, 8), 3).data)
    out.append(bsbasis.tensor_design_matrix(np.c_[inside, inside[::-1]], (t, t), 2).data)
    out.append(bsbasis.difference_penalty(12, 2))
    out.append(bsbasis.derivative_penalty(t, 2, 2))
    out.append(bsbasis.make_knots(x, 9, 3, kind="quantile"))
    out.append(bsbasis.interval_index(x, t))
    ne = bsbasis.normal_equations(inside, t, 2, y=y, weights=1 + inside)
    out += [ne.gram, ne.rhs, np.array([ne.yty, ne.sum_weights, ne.count])]
    out.append(bsbasis.evaluate_spline(x, t, 2, ne.solve(bsbasis.difference_penalty(ne.n, 2), 1e-3)))
    out.append(bsbasis.fit_pspline(inside, y).coef)
    return out

digest = hashlib.sha256()
for a in results():
    digest.update(np.ascontiguousarray(a, dtype=np.float64).tobytes())
print(digest.hexdigest())
x, B = np.array([0.5]), np.zeros(3)
i, j = np.zeros(3, np.int32), np.zeros(3, np.int32)
t = np.array([0.0, 0, 0, 1, 1, 1])
g = ctypes.CDLL(None).blossom_grid if hasattr(ctypes.CDLL(None), "blossom_grid") else None
if g is None:
    print("no global blossom_grid")
else:
    g(t.ctypes.data_as(ctypes.c_void_p), 6, x.ctypes.data_as(ctypes.c_void_p), 1,
      i.ctypes.data_as(ctypes.c_void_p), j.ctypes.data_as(ctypes.c_void_p),
      B.ctypes.data_as(ctypes.c_void_p), 3, 3, 3, 3)
    print("global blossom_grid:", B[2])
'''


def _run(env):
    done = subprocess.run([sys.executable, "-c", SCRIPT], env=env, capture_output=True,
                          text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()


@pytest.mark.skipif(shutil.which("cc") is None, reason="needs a C compiler")
def test_interposed_exports_change_nothing(tmp_path):
    interposer = tmp_path / "libinterpose.so"
    subprocess.run(["cc", "-shared", "-fPIC", "-DBSBASIS_INTERPOSE_ALL",
                    "-I", os.path.join(ROOT, "include"), INTERPOSER, "-o", str(interposer)],
                   check=True)
    env = dict(os.environ)
    env["BSBASIS_LIBRARY"] = bsbasis.library_path()
    # The child imports the same package as this process.
    env["PYTHONPATH"] = os.pathsep.join(
        [os.path.dirname(os.path.dirname(bsbasis.__file__))] +
        ([env["PYTHONPATH"]] if env.get("PYTHONPATH") else []))
    plain = _run(env)
    env["LD_PRELOAD"] = str(interposer)
    preloaded = _run(env)
    # The preload took effect: the name resolved globally is the interposer's.
    assert preloaded[1] == "global blossom_grid: 168.0"
    assert plain[1] != preloaded[1]
    assert preloaded[0] == plain[0]
