"""scipy.sparse results from arrays the kernels left canonical.

scipy's constructors check and may copy their arrays, which costs as much as
a small design matrix itself.  Our arrays are canonical by construction
(rows in order, columns ascending and distinct within a row, one index
dtype), so they are handed over as they are.  The shortcut is used only
after it has been seen, on this scipy, to give what the constructor gives.
"""

import threading

import numpy as np
import scipy.sparse as sp

FORMATS = {
    # format: (layout, class)
    "csr": ("csr", sp.csr_array),
    "csc": ("csc", sp.csc_array),
    "coo": ("coo", sp.coo_array),
    "csr_matrix": ("csr", sp.csr_matrix),
    "csc_matrix": ("csc", sp.csc_matrix),
    "coo_matrix": ("coo", sp.coo_matrix),
}

_lock = threading.Lock()
_direct_ok = {}  # class -> whether the shortcut matches its constructor


def _direct(cls, shape, arrays):
    template = _templates[cls]
    obj = cls.__new__(cls)
    obj.__dict__.update(template.__dict__)
    obj._shape = shape
    obj.__dict__.update(arrays)
    return obj


def _by_constructor(cls, shape, arrays):
    if "row" in arrays:
        return cls((arrays["data"], (arrays["row"], arrays["col"])), shape=shape, copy=False)
    return cls((arrays["data"], arrays["indices"], arrays["indptr"]), shape=shape, copy=False)


def _sample(cls):
    """A small canonical matrix of cls, as the constructor builds it."""
    data = np.array([1.0, 2.0, 3.0])
    if "coo" in cls.format:
        arrays = {"data": data, "row": np.array([0, 0, 2], np.int32),
                  "col": np.array([0, 3, 1], np.int32)}
    else:
        arrays = {"data": data, "indices": np.array([0, 3, 1], np.int32),
                  "indptr": np.array([0, 2, 2, 3], np.int32)}
    return arrays


def _same(a, b):
    return (type(a) is type(b) and a.shape == b.shape and a.dtype == b.dtype
            and a.nnz == b.nnz and (a != b).nnz == 0
            and sorted(a.__dict__) == sorted(b.__dict__))


def _check_direct(cls):
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


_templates = {}


def _mark_canonical(m):
    m.has_canonical_format = True
    if m.format != "coo":
        m.has_sorted_indices = True


def build(cls, shape, arrays):
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
