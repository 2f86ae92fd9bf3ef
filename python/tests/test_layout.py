"""Chunking invariance, canonical sparse output, out-of-range rows, the raw blocks."""
import numpy as np
import pytest
import scipy.sparse as sp

import bsbasis
from scipy.interpolate import BSpline

from bsbasis import _core, _sparse, _tiles
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


@pytest.mark.parametrize("nu", [0, 1])
@pytest.mark.parametrize("order", [1, 4, 7])
def test_tiles_and_threads_give_the_same_bits(order, nu, monkeypatch):
    t, x = mixed_input(order)
    nj = len(t) - order
    u = np.concatenate([np.linspace(order - 1, nj, 2001), [np.nan, -1.0, nj, nj]])
    kw = dict(nu=nu, extrapolate="zero")
    calls = [lambda fmt, th: bsbasis.design_matrix(x, t, order - 1, format=fmt, threads=th, **kw),
             lambda fmt, th: bsbasis.uniform_design_matrix(u, order - 1, nj, format=fmt,
                                                           threads=th, **kw),
             lambda fmt, th: bsbasis.uniform_design_matrix(u * 0.3 - 2, order - 1, nj, origin=-2,
                                                           spacing=0.3, format=fmt, threads=th,
                                                           **kw)]
    for call in calls:
        ref = {fmt: call(fmt, 1) for fmt in ("csr", "coo", "blocks")}
        # Many tiles per thread, a last tile that is short, more threads than tiles.
        for tile, threads in ((37, 1), (37, 3), (1000, 7), (_tiles._ROWS_PER_CALL, 2)):
            monkeypatch.setattr(_tiles, "_ROWS_PER_CALL", tile)
            same_bits(ref["csr"], call("csr", threads))
            got = call("coo", threads)
            for name in ("row", "col", "data"):
                assert np.array_equal(getattr(ref["coo"], name), getattr(got, name)), name
            for r, g in zip(ref["blocks"], call("blocks", threads)):
                assert r.dtype == g.dtype and np.array_equal(r.view(np.uint8), g.view(np.uint8))
        i = ref["blocks"][0]
        assert np.array_equal(i, np.repeat(np.arange(len(i) // order, dtype=np.int32), order))


def test_wide_indices_when_the_entries_outgrow_int32(monkeypatch):
    # Past 2**31 - 1 entries the indices are int64; the limit is lowered to
    # reach that path, which must give the same matrix.
    t, x = mixed_input(4)
    ref = {fmt: bsbasis.design_matrix(x, t, 3, nu=1, extrapolate="zero", format=fmt)
           for fmt in ("csr", "coo", "blocks")}
    monkeypatch.setattr(_tiles, "_INDEX32_LIMIT", 100)
    monkeypatch.setattr(_tiles, "_ROWS_PER_CALL", 50)
    for fmt in ("csr", "csc", "coo", "blocks"):
        got = bsbasis.design_matrix(x, t, 3, nu=1, extrapolate="zero", format=fmt, threads=2)
        if fmt == "blocks":
            assert all(a.dtype == np.int64 for a in got[:2])
            assert all(np.array_equal(a, b) for a, b in zip(ref["blocks"], got))
            continue
        if fmt != "csc":  # scipy's conversion picks its own index type
            assert (got.row if fmt == "coo" else got.indices).dtype == np.int64
        assert abs(got.tocsr() - ref["csr"]).max() == 0
        if fmt == "coo":
            assert np.array_equal(got.row, ref["coo"].row)


def is_canonical_compressed(m):
    """Strictly increasing indices inside every row (CSR) or column (CSC)."""
    p = m.indptr
    return all(np.all(np.diff(m.indices[p[r]:p[r + 1]]) > 0) for r in range(len(p) - 1))


@pytest.mark.parametrize("fmt", ["csr", "csc", "coo", "csr_matrix", "csc_matrix", "coo_matrix"])
def test_canonical_sparse_and_empty_out_of_range_rows(fmt):
    order = 4
    t, x = mixed_input(order)
    nj = len(t) - order
    m = bsbasis.design_matrix(x, t, order - 1, extrapolate="zero", format=fmt)
    # scipy sparse arrays, as scipy's own design_matrix returns; matrices on request.
    kind = fmt[:3]
    cls = getattr(sp, kind + ("_matrix" if fmt.endswith("_matrix") else "_array"))
    assert type(m) is cls and m.format == kind and m.shape == (len(x), nj)
    if kind != "coo":
        m.check_format(full_check=True)
    outside = ~((x >= t[order - 1]) & (x <= t[nj]))
    assert outside.sum() == 5
    csr = m.tocsr()
    assert np.all(np.diff(csr.indptr)[outside] == 0)
    assert np.all(np.diff(csr.indptr)[~outside] == order)
    # Against scipy's own canonicalisation of the same matrix.
    ref = sp.coo_matrix(m.toarray() + 0.0)
    assert abs(ref.tocsr() - csr).max() == 0
    if kind == "coo":
        key = m.row.astype(np.int64) * nj + m.col
        assert np.all(np.diff(key) > 0)
    else:
        assert is_canonical_compressed(m)
        c = m.copy()
        c.has_canonical_format = False
        c.sum_duplicates()
        assert np.array_equal(c.indices, m.indices) and np.array_equal(c.indptr, m.indptr)
    idx = m.row if kind == "coo" else m.indices
    assert idx.dtype == np.int32


def test_csr_is_a_stride_over_the_blocks():
    t = make_knots("clamped", 4, 1)
    x = abscissae(t, 4, len(t) - 4, 1)
    m = bsbasis.design_matrix(x, t, 3)
    np.testing.assert_array_equal(m.indptr, np.arange(0, 4 * len(x) + 1, 4))
    i, j, B = bsbasis.design_matrix(x, t, 3, format="blocks")
    assert i.dtype == np.int32 and j.dtype == np.int32 and B.dtype == np.float64
    assert np.array_equal(m.indices, j) and np.array_equal(m.data, B)
    np.testing.assert_array_equal(i, np.repeat(np.arange(len(x)), 4))


def test_sparse_results_are_what_scipy_constructors_build():
    # The arrays are handed to scipy without its checks; on this scipy that
    # must give exactly what its constructors give.
    for cls in (sp.csr_array, sp.csc_array, sp.coo_array, sp.csr_matrix, sp.csc_matrix,
                sp.coo_matrix):
        assert _sparse._check_direct(cls), cls
    t = make_knots("repeated", 3, 2)
    x = abscissae(t, 3, len(t) - 3, 2)
    m = bsbasis.design_matrix(x, t, 2)
    ref = sp.csr_array((m.data, m.indices, m.indptr), shape=m.shape)
    ref.has_canonical_format = True
    assert sorted(m.__dict__) == sorted(ref.__dict__) and (m != ref).nnz == 0
    assert m.has_canonical_format and m.has_sorted_indices


def test_right_end_is_closed_as_in_scipy():
    t = np.array([0, 0, 0, 1, 2, 2, 2.0])
    c = bsbasis.design_matrix([1.5, 2.0], t, 2)
    np.testing.assert_array_equal(c.toarray()[1], [0, 0, 0, 1])
    np.testing.assert_array_equal(c.toarray(), BSpline.design_matrix([1.5, 2.0], t, 2).toarray())
    i, j, B = bsbasis.design_matrix([2.0, 5.0], t, 2, extrapolate="zero", format="blocks")
    np.testing.assert_array_equal(j, [1, 2, 3, -1, -1, -1])
    np.testing.assert_array_equal(B, [0, 0, 1, 0, 0, 0])


@pytest.mark.parametrize("fmt", ["csr", "csc", "coo"])
def test_no_abscissae_gives_an_empty_matrix(fmt):
    t = make_knots("uniform", 3, 0)
    for m in (bsbasis.design_matrix([], t, 2, format=fmt),
              bsbasis.uniform_design_matrix(np.empty(0), 2, 8, nu=1, format=fmt)):
        assert m.format == fmt and m.nnz == 0 and m.shape[0] == 0
