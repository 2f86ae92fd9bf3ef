"""Finding libbsbasis.so: the order of the search and the message when it fails."""
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

from bsbasis import _lib

PYTHON_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run_python(code, **env):
    """Runs code in a fresh interpreter: a library loaded here would be found
    again by its soname, which hides a failed search."""
    full = dict(os.environ, PYTHONPATH=PYTHON_DIR)
    full.pop(_lib.ENV_VAR, None)
    full.pop("LD_LIBRARY_PATH", None)
    full.update(env)
    # From a neutral directory: "-c" puts the working directory on sys.path.
    out = subprocess.run([sys.executable, "-c", code], env=full, capture_output=True,
                         text=True, cwd="/")
    assert out.returncode == 0, out.stderr
    return out.stdout


def test_not_found_says_where_it_looked_and_what_to_run(tmp_path):
    pkg, repo = tmp_path / "pkg", tmp_path / "repo"
    out = run_python(
        "import bsbasis, bsbasis._lib as L\n"
        "L._PACKAGE_DIR, L._REPO_ROOT = %r, %r\n"
        "try:\n    bsbasis.design_matrix([0.5], [0, 0, 1, 1.0], 1)\n"
        "except bsbasis.LibraryNotFoundError as e:\n    print(e)\n" % (str(pkg), str(repo)))
    assert out.startswith("libbsbasis.so not found. Looked in:")
    assert str(pkg / "libbsbasis.so") in out
    assert str(repo / "build" / "libbsbasis.so") in out
    assert "system loader path" in out
    assert "cmake -S . -B build" in out and _lib.ENV_VAR in out


def test_environment_variable_is_used_and_a_bad_one_is_an_error(fresh_library, monkeypatch, tmp_path):
    bsbasis = fresh_library
    real = bsbasis.library_path()
    bsbasis.reset_library()
    copy = tmp_path / "copy" / "libbsbasis.so"
    copy.parent.mkdir()
    shutil.copy(real, copy)
    monkeypatch.setenv(_lib.ENV_VAR, str(copy))
    assert bsbasis.library_path() == str(copy)
    bsbasis.reset_library()
    monkeypatch.setenv(_lib.ENV_VAR, str(tmp_path / "missing.so"))
    with pytest.raises(bsbasis.LibraryNotFoundError, match=r"missing\.so is not a file .*BSBASIS_LIBRARY"):
        bsbasis.library_path()


def test_explicit_path_wins_and_a_failed_one_changes_nothing(fresh_library, monkeypatch, tmp_path):
    bsbasis = fresh_library
    real = bsbasis.library_path()
    monkeypatch.setenv(_lib.ENV_VAR, str(tmp_path / "missing.so"))
    assert bsbasis.load_library(real) == real
    np.testing.assert_array_equal(bsbasis.design_matrix([0.5], [0, 0, 1, 1.0], 1).toarray(),
                                  [[0.5, 0.5]])
    not_a_lib = tmp_path / "libbsbasis.so"
    not_a_lib.write_text("not a library")
    with pytest.raises(bsbasis.LibraryNotFoundError, match="cannot load"):
        bsbasis.load_library(not_a_lib)
    assert bsbasis.library_path() == real
    # Another shared object that is not this library.
    other = np.core._multiarray_umath.__file__
    with pytest.raises(bsbasis.LibraryNotFoundError, match="does not export 'blossom'"):
        bsbasis.load_library(other)


def test_import_needs_no_library():
    # The library is loaded on first use, so the error comes from a call.
    out = run_python("import bsbasis\n"
                     "try:\n    bsbasis.interval_index([1.0], [0.0, 2.0])\n"
                     "except bsbasis.LibraryNotFoundError as e:\n    print('ERR', e)\n",
                     BSBASIS_LIBRARY="/nonexistent/libbsbasis.so")
    assert out.startswith("ERR /nonexistent/libbsbasis.so is not a file")


def test_library_next_to_the_package_is_found(tmp_path):
    # The installed layout: site/bsbasis/{__init__.py, ..., libbsbasis.so}.
    import bsbasis
    real = bsbasis.library_path()
    pkg = tmp_path / "site" / "bsbasis"
    shutil.copytree(os.path.join(PYTHON_DIR, "bsbasis"), pkg,
                    ignore=shutil.ignore_patterns("__pycache__"))
    shutil.copy(real, pkg / "libbsbasis.so")
    out = run_python("import bsbasis\nprint(bsbasis.__file__)\nprint(bsbasis.library_path())\n",
                     PYTHONPATH=str(tmp_path / "site"))
    assert out.split() == [str(pkg / "__init__.py"), str(pkg / "libbsbasis.so")]
