"""Finding and loading libbsbasis.so with the signatures _abi gives its
functions, and raising for the statuses they return."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from typing import Callable

from . import _abi

LIBRARY_NAME = "libbsbasis.so"
ENV_VAR = "BSBASIS_LIBRARY"

_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))


def _source_checkout_root(package_dir: str) -> str | None:
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
_explicit_path: str | None = None
_loaded: Kernels | None = None


class LibraryNotFoundError(OSError):
    """The shared library libbsbasis.so could not be found or loaded.

    Raised by `load_library`, and by the first call into the library when
    the automatic search fails.  The message lists the places searched and
    how to build the library.  A subclass of OSError.

    See Also
    --------
    load_library : Load the library from a given path, or search for it.
    library_path : Path of the library in use.

    Examples
    --------
    >>> import bsbasis
    >>> try:
    ...     bsbasis.load_library("/nonexistent/libbsbasis.so")
    ... except bsbasis.LibraryNotFoundError as exc:
    ...     print(isinstance(exc, OSError), str(exc).split(" (")[0])
    True /nonexistent/libbsbasis.so is not a file
    """


class Kernels:
    """The functions of one loaded library, with their signatures set."""

    # Set by __init__, one for each name of _abi.SIGNATURES.  Their
    # arguments are ints, floats, addresses and None, as ctypes converts
    # them; a status-returning function returns the int status.
    blossom: Callable[..., None]
    blossom_grid: Callable[..., None]
    deriv_grid: Callable[..., None]
    binary_search_with_guess: Callable[..., int]
    binary_search: Callable[..., None]
    test: Callable[..., None]
    bsbasis_strerror: Callable[[int], bytes]
    bsbasis_check_knots: Callable[..., int]
    bsbasis_design: Callable[..., int]
    bsbasis_uniform_design: Callable[..., int]
    bsbasis_natural_design: Callable[..., int]
    bsbasis_periodic_design: Callable[..., int]
    bsbasis_tensor_design: Callable[..., int]
    bsbasis_difference_penalty: Callable[..., int]
    bsbasis_derivative_penalty: Callable[..., int]
    bsbasis_make_knots: Callable[..., int]
    bsbasis_normal_equations: Callable[..., int]
    bsbasis_uniform_normal_equations: Callable[..., int]
    bsbasis_evaluate: Callable[..., int]
    bsbasis_uniform_evaluate: Callable[..., int]
    bsbasis_blocks_to_dense: Callable[..., int]
    bsbasis_model_columns: Callable[..., int]
    bsbasis_model_normal_equations: Callable[..., int]
    bsbasis_model_evaluate: Callable[..., int]
    bsbasis_model_irls: Callable[..., int]

    def __init__(self, cdll: ctypes.CDLL, path: str) -> None:
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


def candidate_paths() -> list[tuple[str, str | None]]:
    """The places searched, in order, as (description, path or None)."""
    out: list[tuple[str, str | None]] = []
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


def _open(path: str) -> Kernels:
    return Kernels(ctypes.CDLL(path), path)


def _find() -> Kernels:
    tried: list[str] = []
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


def load_library(path: str | os.PathLike[str] | None = None) -> str:
    """Load libbsbasis.so and make it the one the package uses.

    The package loads the library on first use by itself; call this to
    choose the file, or to fail early with a clear message.

    Parameters
    ----------
    path : str or os.PathLike, optional
        The library file.  When given, that file is used and nothing else
        is searched, and later automatic loads use it too (until
        `reset_library`).  Without it the search order is: the
        BSBASIS_LIBRARY environment variable, the package directory, the
        repository's build/ directory (source checkout only), then the
        system's loader path.

    Returns
    -------
    str
        The path of the library loaded (for the loader's own search, the
        name it was loaded by).

    Raises
    ------
    LibraryNotFoundError
        When `path` (or BSBASIS_LIBRARY) is not a file or cannot be loaded,
        when the file is not a bsbasis library, or when the search finds
        nothing.  A failed call keeps the previous explicit path.

    See Also
    --------
    library_path : Path of the library in use, loading it if needed.
    reset_library : Forget the loaded library and the explicit path.
    LibraryNotFoundError : The error raised when no library is found.

    Examples
    --------
    >>> import os
    >>> import bsbasis
    >>> path = bsbasis.load_library()
    >>> os.path.basename(path).startswith("libbsbasis")
    True
    >>> path == bsbasis.library_path()
    True
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


def reset_library() -> None:
    """Forget the loaded library and any explicit path.

    The next call into the library searches again, as `load_library`
    without a path does.  Arrays already returned are not affected.

    Returns
    -------
    None
        The package is back to its state at import.

    See Also
    --------
    load_library : Load the library, from a path or by searching.
    library_path : Path of the library in use.

    Examples
    --------
    >>> import bsbasis
    >>> bsbasis.reset_library()
    >>> "libbsbasis" in bsbasis.library_path()
    True
    """
    global _explicit_path, _loaded
    with _lock:
        _explicit_path = None
        _loaded = None


def kernels() -> Kernels:
    """The loaded kernels, loading the library on first use."""
    global _loaded
    lib = _loaded
    if lib is None:
        with _lock:
            lib = _loaded
            if lib is None:
                lib = _loaded = _find()
    return lib


def library_path() -> str:
    """Path of the library in use.

    Loads the library first when no call has loaded it yet, searching as
    `load_library` does.

    Returns
    -------
    str
        The path of the loaded library (for the loader's own search, the
        name it was loaded by).

    Raises
    ------
    LibraryNotFoundError
        When the library is not loaded yet and the search finds nothing.

    See Also
    --------
    load_library : Load the library, from a path or by searching.
    reset_library : Forget the loaded library.

    Examples
    --------
    >>> import bsbasis
    >>> "libbsbasis" in bsbasis.library_path()
    True
    """
    return kernels().path


def check_status(status: int) -> None:
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
