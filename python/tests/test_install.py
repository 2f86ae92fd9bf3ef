"""The package as pip installs it: its own library, found without any help.

The installed-copy tests run only with BSBASIS_TEST_INSTALLED=1 (scripts/test.sh
sets it after installing into a fresh venv); the checkout test runs always.
"""
import importlib.metadata
import os

import pytest

from bsbasis import _lib

PYTHON_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INSTALLED = os.environ.get("BSBASIS_TEST_INSTALLED") == "1"
installed_only = pytest.mark.skipif(not INSTALLED, reason="set BSBASIS_TEST_INSTALLED=1")


@installed_only
def test_imported_package_is_not_the_source_tree():
    import bsbasis
    pkg = os.path.realpath(os.path.dirname(bsbasis.__file__))
    assert not pkg.startswith(os.path.realpath(PYTHON_DIR) + os.sep), pkg
    assert _lib._REPO_ROOT is None
    assert _lib.ENV_VAR not in os.environ


@installed_only
def test_library_is_the_one_inside_the_package(fresh_library):
    bsbasis = fresh_library
    inside = os.path.join(os.path.dirname(bsbasis.__file__), _lib.LIBRARY_NAME)
    assert bsbasis.library_path() == inside
    # The file itself, not a link into some build tree.
    assert os.path.isfile(inside) and not os.path.islink(inside)
    assert [what for what, _ in _lib.candidate_paths()] == [
        "next to the package", "system loader path"]


@installed_only
def test_installed_metadata_matches_the_package():
    import bsbasis
    dist = importlib.metadata.distribution("bsbasis")
    assert dist.version == bsbasis.__version__
    files = {str(f) for f in dist.files}
    assert "bsbasis/%s" % _lib.LIBRARY_NAME in files
    assert not any(f.startswith("tests/") or "/tests/" in f for f in files)


def test_repository_root_only_for_a_source_checkout(tmp_path):
    checkout = tmp_path / "repo"
    (checkout / "include").mkdir(parents=True)
    (checkout / "include" / "bsbasis.h").write_text("")
    assert _lib._source_checkout_root(str(checkout / "python" / "bsbasis")) == str(checkout)
    # site-packages/bsbasis: its grandparent is no repository.
    site = tmp_path / "lib" / "python3" / "site-packages" / "bsbasis"
    assert _lib._source_checkout_root(str(site)) is None
    # A python/ directory whose parent lacks the header is not the checkout either.
    assert _lib._source_checkout_root(str(tmp_path / "python" / "bsbasis")) is None
