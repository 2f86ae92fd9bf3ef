"""Finding and loading libbsbasis.so with the signatures _abi gives its
functions, and raising for the statuses they return."""

import ctypes
import ctypes.util
import os
import threading

from . import _abi

LIBRARY_NAME = "libbsbasis.so"
ENV_VAR = "BSBASIS_LIBRARY"

_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))


def _source_checkout_root(package_dir):
    """The repository root when the package runs from its checkout
    (<root>/python/bsbasis), else None: an installed copy has no build/."""
    python_dir = os.path.dirname(package_dir)
    root = os.path.dirname(python_dir)
    if (os.path.basename(python_dir) == "python"
            and os.path.isfile(os.path.join(root, "include", "bsbasis.h"))):
        return root
    return None


_REPO_ROOT = _source_checkout_root(_PACKAGE_DIR)

BUILD_HINT = ("build it from the repository root with:  "
              "cmake -S . -B build -DBUILD_TESTING=OFF && cmake --build build -j2  "
              "(or set %s to the path of %s)" % (ENV_VAR, LIBRARY_NAME))

_lock = threading.Lock()
_explicit_path = None
_loaded = None  # (path, Kernels)


class LibraryNotFoundError(OSError):
    """libbsbasis.so could not be found or loaded."""


class Kernels:
    """The functions of one loaded library, with their signatures set."""

    def __init__(self, cdll, path):
        self.path = path
        self.cdll = cdll
        for name, (restype, argtypes) in _abi.SIGNATURES.items():
            try:
                fn = getattr(cdll, name)
            except AttributeError:
                raise LibraryNotFoundError(
                    "%s does not export %r: not a bsbasis library" % (path, name)) from None
            fn.restype = restype
            fn.argtypes = argtypes
            setattr(self, name, fn)


def candidate_paths():
    """The places searched, in order, as (description, path or None)."""
    out = []
    if _explicit_path is not None:
        out.append(("path given to bsbasis.load_library", _explicit_path))
    env = os.environ.get(ENV_VAR)
    if env:
        out.append(("environment variable %s" % ENV_VAR, env))
    out.append(("next to the package", os.path.join(_PACKAGE_DIR, LIBRARY_NAME)))
    if _REPO_ROOT is not None:
        out.append(("repository build directory",
                    os.path.join(_REPO_ROOT, "build", LIBRARY_NAME)))
    out.append(("system loader path", None))
    return out


def _open(path):
    return Kernels(ctypes.CDLL(path), path)


def _find():
    tried = []
    for what, path in candidate_paths():
        if path is None:
            # The loader's own search (LD_LIBRARY_PATH, ld.so.cache, system dirs).
            names = [LIBRARY_NAME, LIBRARY_NAME + ".0"]
            found = ctypes.util.find_library("bsbasis")
            if found:
                names.insert(0, found)
            for name in names:
                try:
                    return _open(name)
                except OSError:
                    pass
            tried.append("%s: %s not found" % (what, LIBRARY_NAME))
            continue
        authoritative = what.startswith(("path given", "environment"))
        if os.path.isfile(path):
            try:
                return _open(path)
            except LibraryNotFoundError:
                raise
            except OSError as exc:
                if authoritative:
                    raise LibraryNotFoundError(
                        "cannot load %s (%s): %s" % (path, what, exc)) from None
                tried.append("%s: %s (cannot load: %s)" % (what, path, exc))
                continue
        if authoritative:
            raise LibraryNotFoundError(
                "%s is not a file (from the %s); %s" % (path, what, BUILD_HINT))
        tried.append("%s: %s (no such file)" % (what, path))
    raise LibraryNotFoundError(
        "%s not found. Looked in:\n  %s\nTo fix: %s"
        % (LIBRARY_NAME, "\n  ".join(tried), BUILD_HINT))


def load_library(path=None):
    """Load libbsbasis.so and make it the one the package uses.

    With `path`, that file is used and nothing else is searched.  Without it
    the search order is: the BSBASIS_LIBRARY environment variable, the
    package directory, the repository's build/ directory (source checkout
    only), then the system's loader path.  Returns the path of the library loaded.
    """
    global _explicit_path, _loaded
    with _lock:
        previous = _explicit_path
        if path is not None:
            _explicit_path = os.fspath(path)
        try:
            _loaded = _find()
        except BaseException:
            _explicit_path = previous
            raise
        return _loaded.path


def reset_library():
    """Forget the loaded library and any explicit path (the next call searches again)."""
    global _explicit_path, _loaded
    with _lock:
        _explicit_path = None
        _loaded = None


def kernels():
    """The loaded kernels, loading the library on first use."""
    lib = _loaded
    if lib is None:
        with _lock:
            if _loaded is None:
                globals()["_loaded"] = _find()
            lib = _loaded
    return lib


def library_path():
    """Path of the library in use (loads it if needed)."""
    return kernels().path


def check_status(status):
    """Raises for a status other than OK from the library: MemoryError for a
    failed allocation, ValueError with the library's description otherwise.
    The host checks every argument first, so this is a safety net, never the
    first check."""
    if status == _abi.OK:
        return
    text = kernels().bsbasis_strerror(status).decode()
    if status == _abi.ERROR_MEMORY:
        raise MemoryError(text)
    raise ValueError(text)
