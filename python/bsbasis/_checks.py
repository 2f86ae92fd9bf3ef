"""Argument checks, run before any kernel: a wrong type raises TypeError, a
wrong value ValueError, as scipy.interpolate does."""

from __future__ import annotations

import ctypes
import numbers
import operator
import os
from typing import TYPE_CHECKING, Any, Sequence, SupportsIndex

import numpy as np

from ._abi import (EXTRAPOLATE_CONSTANT, EXTRAPOLATE_CONTINUE, EXTRAPOLATE_ERROR,
                   EXTRAPOLATE_LINEAR, EXTRAPOLATE_PERIODIC, EXTRAPOLATE_ZERO,
                   RULE_COLUMNS, RULE_DECREASING, RULE_NONE, RULE_NOT_FINITE,
                   RULE_NULL_KNOTS, RULE_SPAN, RULE_TOO_CLOSE, RULE_TOO_FEW)

if TYPE_CHECKING:
    from numpy.typing import ArrayLike, NDArray

    from ._typing import Extrapolate

INT32_MAX = 2**31 - 1


def as_int(value: object, name: str) -> int:
    """`value` as a Python int; TypeError for bools, floats and the rest."""
    if isinstance(value, (bool, np.bool_)):
        raise TypeError("%s must be an integer, got a bool (%r)" % (name, value))
    try:
        # Any value: operator.index's TypeError is the answer for the rest.
        return operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError("%s must be an integer, got %s %r"
                        % (name, type(value).__name__, value)) from None


def as_real(value: object, name: str) -> float:
    """`value` as a Python float; TypeError unless it is a real number."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError("%s must be a real number, got %s %r"
                        % (name, type(value).__name__, value))
    return float(value)


def as_vector(a: ArrayLike, name: str) -> tuple[NDArray[np.float64], NDArray[np.bool_] | None]:
    """`a` as a C-contiguous native float64 1-D array, without a copy when it
    is one already.  A scalar becomes one element.  Returns (array, mask):
    mask marks the entries a masked array hides, or is None."""
    if (type(a) is np.ndarray and a.dtype == np.float64 and a.ndim == 1
            and a.flags.c_contiguous and a.flags.aligned):
        return a, None
    if isinstance(a, (str, bytes)):
        raise TypeError("%s must be an array of real numbers, got a string" % name)
    mask = None
    if isinstance(a, np.ma.MaskedArray):
        # numpy's stubs leave numpy.ma untyped.
        m = np.ma.getmaskarray(a)  # type: ignore[no-untyped-call]
        mask = m.ravel() if m.any() else None
        a = np.ma.getdata(a)  # type: ignore[no-untyped-call]
    arr = np.asarray(a)
    kind = arr.dtype.kind
    if kind not in "iuf":
        what = {"b": "boolean", "c": "complex", "O": "object", "U": "string",
                "S": "bytes", "M": "datetime", "m": "timedelta"}.get(kind, str(arr.dtype))
        raise TypeError("%s must hold real numbers, got a %s array (dtype %s)"
                        % (name, what, arr.dtype))
    if arr.ndim > 1:
        raise ValueError("%s must be 1-D, got an array of shape %s" % (name, arr.shape))
    arr = np.require(arr.reshape(-1), np.float64, ["C", "A"])
    return arr, mask


def as_real_array(a: ArrayLike, name: str) -> NDArray[Any]:
    """`a` as an ndarray, without a copy where it is one; TypeError unless
    it holds real numbers (integers or floats)."""
    arr = np.asarray(a)
    if arr.dtype.kind not in "iuf":
        raise TypeError("%s must hold real numbers, got an array of dtype %s"
                        % (name, arr.dtype))
    return arr


def as_unmasked_vector(a: ArrayLike, name: str) -> NDArray[np.float64]:
    """`a` as as_vector gives it, for an argument that has no masked form:
    ValueError when a masked array hides some entry."""
    v, mask = as_vector(a, name)
    if mask is not None:
        raise ValueError("%s must not be masked" % name)
    return v


def check_option(value: object, name: str, allowed: Sequence[str]) -> None:
    if not isinstance(value, str):
        raise TypeError("%s must be a string, one of %s; got %r"
                        % (name, ", ".join(map(repr, allowed)), value))
    if value not in allowed:
        raise ValueError("%s=%r is not one of %s" % (name, value, ", ".join(map(repr, allowed))))


# The extrapolation modes by name, each the library's mode of that name;
# False is EXTRAPOLATE_ERROR and True EXTRAPOLATE_CONTINUE.
_MODES = {"zero": EXTRAPOLATE_ZERO, "continue": EXTRAPOLATE_CONTINUE,
          "constant": EXTRAPOLATE_CONSTANT, "linear": EXTRAPOLATE_LINEAR,
          "periodic": EXTRAPOLATE_PERIODIC}


def check_extrapolate(extrapolate: Extrapolate) -> int:
    """The library's code for an extrapolation mode: False, True or one of
    the names in _MODES."""
    if isinstance(extrapolate, (bool, np.bool_)):
        return EXTRAPOLATE_CONTINUE if extrapolate else EXTRAPOLATE_ERROR
    if isinstance(extrapolate, str):
        if extrapolate in _MODES:
            return _MODES[extrapolate]
        raise ValueError("extrapolate=%r is not one of False, True, %s"
                         % (extrapolate, ", ".join(map(repr, _MODES))))
    raise TypeError("extrapolate must be a bool or one of %s, got %r"
                    % (", ".join(map(repr, _MODES)), extrapolate))


def check_degree(k: SupportsIndex, nu: SupportsIndex) -> tuple[int, int]:
    k = as_int(k, "k")
    if k < 0:
        raise ValueError("k (the degree) must be >= 0, got %d" % k)
    if k + 1 > INT32_MAX // 2:
        raise ValueError("k=%d is too large" % k)
    nu = as_int(nu, "nu")
    if nu < 0:
        raise ValueError("nu (the derivative order) must be >= 0, got %d" % nu)
    return k, min(nu, k + 1)  # every order from k + 1 on gives zeros


def cores() -> int:
    """The cores this process may run on (its CPU affinity where known)."""
    try:
        return max(len(os.sched_getaffinity(0)), 1)
    except AttributeError:  # not Linux
        return os.cpu_count() or 1


def check_threads(threads: SupportsIndex | None) -> int | None:
    """A thread count as scipy's `workers` reads it: None (the default), a
    positive count, or a negative n for ``cores() + 1 + n`` (-1 every core,
    -2 all but one).  Returns None or a count >= 1."""
    if threads is None:
        return None
    threads = as_int(threads, "threads")
    if threads > 0:
        return threads
    if threads == 0:
        raise ValueError("threads must be at least 1, or negative to count back from "
                         "the cores (-1: every core, -2: all but one); got 0")
    n = cores()
    resolved = n + 1 + threads
    if resolved < 1:
        raise ValueError("threads=%d asks for %d + 1 + (%d) = %d threads on this machine "
                         "of %d cores; a negative threads must be at least -%d"
                         % (threads, n, threads, resolved, n, n))
    return resolved


def check_knots(t: NDArray[np.float64], k: int, nj: SupportsIndex | None) -> int:
    """Checks the knots and the column bound; returns nj.  The library says
    which rule the knots break (bsbasis_check_knots), and where; this says
    it in words."""
    nt = len(t)
    order = k + 1
    if nt > INT32_MAX:
        raise ValueError("t has %d knots; at most %d are supported" % (nt, INT32_MAX))
    want = nt - order if nj is None else as_int(nj, "nj")
    rule, m = knot_rule(t, order, want)
    if rule == RULE_NONE:
        return want
    if rule in (RULE_TOO_FEW, RULE_NULL_KNOTS):
        raise ValueError("t has %d knots; degree k=%d needs at least 2*(k+1) = %d"
                         % (nt, k, 2 * order))
    if rule == RULE_COLUMNS:
        raise ValueError("nj=%d is outside k+1 .. len(t)-k-1 = %d .. %d"
                         % (want, order, nt - order))
    if rule == RULE_NOT_FINITE:
        raise ValueError("t must be finite: t[%d] = %r" % (m, float(t[m])))
    if rule == RULE_DECREASING:
        raise ValueError("t must be non-decreasing: t[%d] = %r > t[%d] = %r"
                         % (m - 1, float(t[m - 1]), m, float(t[m])))
    if rule == RULE_TOO_CLOSE:
        # Differences of knots enter every value, and so do their reciprocals.
        raise ValueError("t[%d] - t[%d] = %r is too small: its reciprocal overflows"
                         % (m, m - 1, float(t[m] - t[m - 1])))
    if rule == RULE_SPAN:
        raise ValueError("t spans [%r, %r], whose length t[-1] - t[0] overflows a double"
                         % (float(t[0]), float(t[-1])))
    raise ValueError("the base interval [t[k], t[nj]] = [t[%d], t[%d]] = [%r, %r] is empty"
                     % (k, want, float(t[k]), float(t[want])))


def knot_rule(t: NDArray[np.float64], order: int, nj: int) -> tuple[int, int]:
    """The rule of bsbasis.h that the basis (t, order, nj) breaks, and the
    index of the knot at fault (-1 when the rule is not about one knot).
    t is a C-contiguous float64 vector."""
    from ._lib import kernels  # loaded on first use, as every call is

    rule = ctypes.c_int32(-1)
    index = ctypes.c_int64(-1)
    # A column bound beyond 64 bits breaks the column rule all the same.
    nj = max(min(nj, 2**62), -1)
    kernels().bsbasis_check_knots(t.ctypes.data if len(t) else None, len(t), order, nj,
                                  ctypes.byref(rule), ctypes.byref(index))
    return rule.value, index.value


def range_error(x: NDArray[np.float64], inside: NDArray[np.bool_], lo: float, hi: float,
                what: tuple[str, str]) -> ValueError:
    """The ValueError for abscissae outside [lo, hi]: how many, the first,
    and by how much it misses."""
    bad = ~inside
    nbad = int(np.count_nonzero(bad))
    p = int(np.argmax(bad))
    v = float(x[p])
    if v < lo:
        where = "below the left end %s = %r by %r" % (what[0], lo, lo - v)
    elif v > hi:
        where = "above the right end %s = %r by %r" % (what[1], hi, v - hi)
    else:
        where = "not a number"
    return ValueError(
        "x: %d of %d abscissae are outside the base interval [%r, %r] or not finite; "
        "the first, x[%d] = %r, is %s (extrapolate='zero' gives them empty rows, "
        "other modes extrapolate)"
        % (nbad, len(x), lo, hi, p, v, where))
