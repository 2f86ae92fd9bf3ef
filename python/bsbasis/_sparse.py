"""scipy.sparse results from arrays the kernels left canonical.

scipy's constructors check and may copy their arrays, which costs as much as
a small design matrix itself.  Our arrays are canonical by construction
(rows in order, columns ascending and distinct within a row, one index
dtype), so they are handed over as they are.  The shortcut is used only
after it has been seen, on this scipy, to give what the constructor gives.
"""

from __future__ import annotations

import threading
from typing import TYPE_CHECKING, Any, Dict

import numpy as np
import scipy.sparse as sp

if TYPE_CHECKING:
    from numpy.typing import NDArray

    from ._typing import SparseClass, SparseResult

    # A result's arrays by attribute name: data, indices, indptr (CSR, CSC)
    # or data, row, col (COO).
    _Arrays = Dict[str, NDArray[Any]]

FORMATS: dict[str, tuple[str, SparseClass]] = {
    # format: (layout, class)
    "csr": ("csr", sp.csr_array),
    "csc": ("csc", sp.csc_array),
    "coo": ("coo", sp.coo_array),
    "csr_matrix": ("csr", sp.csr_matrix),
    "csc_matrix": ("csc", sp.csc_matrix),
    "coo_matrix": ("coo", sp.coo_matrix),
}

_lock = threading.Lock()
_direct_ok: dict[SparseClass, bool] = {}  # class -> whether the shortcut matches its constructor


def _direct(cls: SparseClass, shape: tuple[int, int], arrays: _Arrays) -> SparseResult:
    template = _templates[cls]
    # mypy takes the __new__ of a class it sees as Any (scipy's, without
    # types) for type.__new__, whose signatures refuse the call.
    obj = cls.__new__(cls)  # type: ignore[call-overload]
    obj.__dict__.update(template.__dict__)
    obj._shape = shape
    obj.__dict__.update(arrays)
    return obj


def _by_constructor(cls: SparseClass, shape: tuple[int, int], arrays: _Arrays) -> SparseResult:
    if "row" in arrays:
        return cls((arrays["data"], (arrays["row"], arrays["col"])), shape=shape, copy=False)
    return cls((arrays["data"], arrays["indices"], arrays["indptr"]), shape=shape, copy=False)


def _sample(cls: SparseClass) -> _Arrays:
    """A small canonical matrix of cls, as the constructor builds it."""
    data = np.array([1.0, 2.0, 3.0])
    if "coo" in cls.format:
        arrays = {"data": data, "row": np.array([0, 0, 2], np.int32),
                  "col": np.array([0, 3, 1], np.int32)}
    else:
        arrays = {"data": data, "indices": np.array([0, 3, 1], np.int32),
                  "indptr": np.array([0, 2, 2, 3], np.int32)}
    return arrays


def _same(a: SparseResult, b: SparseResult) -> bool:
    return (type(a) is type(b) and a.shape == b.shape and a.dtype == b.dtype
            and a.nnz == b.nnz and (a != b).nnz == 0
            and sorted(a.__dict__) == sorted(b.__dict__))


def _check_direct(cls: SparseClass) -> bool:
    try:
        arrays = _sample(cls)
        shape = (3, 4) if cls.format != "csc" else (4, 3)
        ref = _by_constructor(cls, shape, arrays)
        _mark_canonical(ref)
        _templates[cls] = ref
        got = _direct(cls, shape, dict(arrays))
        _mark_canonical(got)
        if cls.format != "coo":
            got.check_format(full_check=True)
        return _same(got, ref)
    except Exception:  # any scipy that differs: use the constructor
        return False


_templates: dict[SparseClass, SparseResult] = {}


def _mark_canonical(m: SparseResult) -> None:
    m.has_canonical_format = True
    if m.format != "coo":
        m.has_sorted_indices = True


def build(cls: SparseClass, shape: tuple[int, int], arrays: _Arrays) -> SparseResult:
    """An instance of cls holding `arrays` (data, indices, indptr or data,
    row, col), which must be canonical."""
    ok = _direct_ok.get(cls)
    if ok is None:
        with _lock:
            ok = _direct_ok.get(cls)
            if ok is None:
                ok = _direct_ok[cls] = _check_direct(cls)
    m = _direct(cls, shape, arrays) if ok else _by_constructor(cls, shape, arrays)
    _mark_canonical(m)
    return m
