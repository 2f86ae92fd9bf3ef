"""Chunking invariance, canonical sparse output, out-of-range rows, the raw blocks."""
import numpy as np
import pytest
import scipy.sparse as sp

import bsbasis
from bsbasis import _core
from conftest import abscissae, make_knots


def mixed_input(order, seed=5, n=3000):
    t = make_knots("repeated", order, seed)
    nj = len(t) - order
    rng = np.random.default_rng(seed)
    x = np.concatenate([abscissae(t, order, nj, seed, n),
                        [t[nj]] * 3, [np.nan, np.inf, -np.inf, t[0] - 1, t[-1] + 1]])
    rng.shuffle(x)
    return t, x


def same_bits(a, b):
    for name in ("data", "indices", "indptr"):
        u, v = getattr(a, name), getattr(b, name)
        assert u.dtype == v.dtype and np.array_equal(u.view(np.uint8), v.view(np.uint8)), name


@pytest.mark.parametrize("deriv", [0, 1])
@pytest.mark.parametrize("order", [1, 4, 7])
def test_chunking_is_bit_identical(order, deriv):
    t, x = mixed_input(order)
    nj = len(t) - order
    kw = dict(deriv=deriv, out_of_range="zero")
    ref = bsbasis.design_matrix(x, t, order, threads=1, **kw)
    for threads in (2, 7):
        same_bits(ref, bsbasis.design_matrix(x, t, order, threads=threads, **kw))
    u = np.concatenate([np.linspace(order - 1, nj, 2001), [np.nan, -1.0]])
    uref = bsbasis.uniform_design_matrix(u, order, nj, threads=1, **kw)
    for threads in (2, 7):
        same_bits(uref, bsbasis.uniform_design_matrix(u, order, nj, threads=threads, **kw))


def test_chunks_forced_by_the_int_limit(monkeypatch):
    # Each kernel call takes at most _MAX_CALL_ENTRIES entries: with the limit
    # lowered, one thread runs many calls, and the rows must still be global.
    t, x = mixed_input(4)
    ref = bsbasis.design_matrix(x, t, 4, out_of_range="zero", format="coo", threads=1)
    monkeypatch.setattr(_core, "_MAX_CALL_ENTRIES", 4 * 37)
    assert len(_core._chunk_bounds(len(x), 4, 1)) - 1 == -(-len(x) // 37)
    got = bsbasis.design_matrix(x, t, 4, out_of_range="zero", format="coo", threads=1)
    assert np.array_equal(ref.row, got.row) and np.array_equal(ref.col, got.col)
    assert np.array_equal(ref.data.view(np.uint64), got.data.view(np.uint64))
    i, j, B = bsbasis.design_matrix(x, t, 4, out_of_range="zero", format="blocks", threads=3)
    assert np.array_equal(i, np.repeat(np.arange(len(x), dtype=np.int32), 4))


def is_canonical_compressed(m):
    """Strictly increasing indices inside every row (CSR) or column (CSC)."""
    p = m.indptr
    return all(np.all(np.diff(m.indices[p[r]:p[r + 1]]) > 0) for r in range(len(p) - 1))


@pytest.mark.parametrize("fmt", ["csr", "csc", "coo"])
def test_canonical_sparse_and_empty_out_of_range_rows(fmt):
    order = 4
    t, x = mixed_input(order)
    nj = len(t) - order
    m = bsbasis.design_matrix(x, t, order, out_of_range="zero", format=fmt)
    assert m.format == fmt and m.shape == (len(x), nj)
    outside = ~((x >= t[order - 1]) & (x <= t[nj]))
    assert outside.sum() == 5
    csr = m.tocsr()
    assert np.all(np.diff(csr.indptr)[outside] == 0)
    assert np.all(np.diff(csr.indptr)[~outside] == order)
    # Against scipy's own canonicalisation of the same matrix.
    ref = sp.coo_matrix(m.toarray() + 0.0)
    assert abs(ref.tocsr() - csr).max() == 0
    if fmt == "coo":
        key = m.row.astype(np.int64) * nj + m.col
        assert np.all(np.diff(key) > 0)
    else:
        assert is_canonical_compressed(m)
        c = m.copy()
        c.has_canonical_format = False
        c.sum_duplicates()
        assert np.array_equal(c.indices, m.indices) and np.array_equal(c.indptr, m.indptr)
    idx = m.row if fmt == "coo" else m.indices
    assert idx.dtype == np.int32


def test_csr_is_a_stride_over_the_blocks():
    t = make_knots("clamped", 4, 1)
    x = abscissae(t, 4, len(t) - 4, 1)
    m = bsbasis.design_matrix(x, t, 4)
    np.testing.assert_array_equal(m.indptr, np.arange(0, 4 * len(x) + 1, 4))
    i, j, B = bsbasis.design_matrix(x, t, 4, format="blocks")
    assert i.dtype == np.int32 and j.dtype == np.int32 and B.dtype == np.float64
    assert np.array_equal(m.indices, j) and np.array_equal(m.data, B)
    np.testing.assert_array_equal(i, np.repeat(np.arange(len(x)), 4))
    # The CSR matrix wraps the kernel's arrays without copying them.
    inside = np.ones(len(x), dtype=bool)
    w = _core._assemble(i, j, B, len(x), 4, m.shape[1], inside, "csr")
    assert np.shares_memory(w.data, B) and np.shares_memory(w.indices, j)


def test_right_open_gives_the_kernel_convention():
    t = np.array([0, 0, 0, 1, 2, 2, 2.0])
    with pytest.raises(ValueError, match=r"1 of 2 .*\[0\.0, 2\.0\)"):
        bsbasis.design_matrix([1.5, 2.0], t, 3, right="open")
    m = bsbasis.design_matrix([1.5, 2.0], t, 3, right="open", out_of_range="zero")
    assert m.getrow(1).nnz == 0 and m.getrow(0).nnz == 3
    c = bsbasis.design_matrix([1.5, 2.0], t, 3)
    np.testing.assert_array_equal(c.toarray()[1], [0, 0, 0, 1])
    i, j, B = bsbasis.design_matrix([2.0, 5.0], t, 3, out_of_range="zero", format="blocks")
    np.testing.assert_array_equal(j, [1, 2, 3, 0, 0, 0])
    np.testing.assert_array_equal(B, [0, 0, 1, 0, 0, 0])


@pytest.mark.parametrize("fmt", ["csr", "csc", "coo"])
def test_no_abscissae_gives_an_empty_matrix(fmt):
    t = make_knots("uniform", 3, 0)
    for m in (bsbasis.design_matrix([], t, 3, format=fmt),
              bsbasis.uniform_design_matrix(np.empty(0), 3, 8, deriv=1, format=fmt)):
        assert m.format == fmt and m.nnz == 0 and m.shape[0] == 0
