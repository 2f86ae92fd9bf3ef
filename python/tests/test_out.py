"""normal_equations(..., out=ne) checks what ne holds at every call, and a
NormalEquations is rebuilt through its checks when unpickled."""
import copyreg
import pickle

import numpy as np
import pytest

import bsbasis
from bsbasis import NormalEquations

T = np.r_[[0.0] * 4, np.linspace(0.0, 1.0, 8)[1:-1], [1.0] * 4]  # k=3, n=10
X = np.linspace(0.0, 1.0, 300)
Y = np.sin(3.0 * X)


def fresh():
    return bsbasis.normal_equations(X, T, 3, y=Y)


def strided_gram(ne):
    wide = np.zeros((4, 20))
    wide[:, ::2] = ne.gram
    return wide[:, ::2]


def read_only(a):
    a = a.copy()
    a.setflags(write=False)
    return a


# What a user might assign between calls, and the error it must give.
HOSTILE = [
    ("gram", lambda ne: ne.gram.astype(np.float32), TypeError, "out.gram must have dtype"),
    ("gram", lambda ne: ne.gram.astype(np.int64), TypeError, "float64, got int64"),
    ("gram", lambda ne: ne.gram.astype(object), TypeError, "got object"),
    ("gram", lambda ne: ne.gram.astype(">f8"), TypeError, "out.gram must have dtype"),
    ("gram", lambda ne: ne.gram.tolist(), TypeError, "numpy array of float64, got list"),
    ("gram", lambda ne: ne.gram[1:].copy(), ValueError,
     r"out.gram has shape \(3, 10\); this call's basis \(degree k=3, n=10 functions\) "
     r"needs \(k \+ 1, n\) = \(4, 10\)"),
    ("gram", lambda ne: np.zeros((4, 12)), ValueError, r"shape \(4, 12\)"),
    ("gram", lambda ne: ne.gram.ravel(), ValueError, r"shape \(40,\)"),
    ("gram", strided_gram, ValueError, "C-contiguous"),
    ("gram", lambda ne: np.asfortranarray(ne.gram), ValueError, "C-contiguous"),
    ("gram", lambda ne: read_only(ne.gram), ValueError, "out.gram is read-only"),
    ("rhs", lambda ne: np.zeros(3), ValueError, r"out.rhs has shape \(3,\)"),
    ("rhs", lambda ne: np.zeros(100), ValueError, r"out.rhs has shape \(100,\)"),
    ("rhs", lambda ne: ne.rhs.astype(np.float32), TypeError, "out.rhs must have dtype"),
    ("rhs", lambda ne: ne.rhs.astype(np.int64), TypeError, "out.rhs must have dtype"),
    ("rhs", lambda ne: read_only(ne.rhs), ValueError, "out.rhs is read-only"),
    ("rhs", lambda ne: np.zeros(20)[::2], ValueError, "C-contiguous"),
    ("rhs", lambda ne: None, ValueError, "formed without responses"),
    ("yty", lambda ne: "1.0", TypeError, "out.yty must be a real number"),
    ("yty", lambda ne: None, TypeError, "out.yty must be a real number"),
    ("sum_weights", lambda ne: [1.0], TypeError, "out.sum_weights must be a real number"),
    ("count", lambda ne: True, TypeError, "out.count must be an integer, got a bool"),
    ("count", lambda ne: 3.0, TypeError, "out.count must be an integer"),
    ("count", lambda ne: -1, ValueError, "out.count must be between 0"),
    ("count", lambda ne: 2**64, ValueError, "out.count must be between 0"),
]
HOSTILE_IDS = [
    "gram-float32", "gram-int64", "gram-object", "gram-big-endian", "gram-list",
    "gram-band-height", "gram-columns", "gram-flat", "gram-strided", "gram-fortran",
    "gram-read-only", "rhs-3", "rhs-100", "rhs-float32", "rhs-int64",
    "rhs-read-only", "rhs-strided", "rhs-none", "yty-str", "yty-none",
    "sum_weights-list", "count-bool", "count-float", "count-negative", "count-huge",
]


@pytest.mark.parametrize("attr, value, error, pattern", HOSTILE, ids=HOSTILE_IDS)
def test_hostile_attributes_are_refused_and_nothing_is_written(attr, value, error, pattern):
    ne = fresh()
    setattr(ne, attr, value(ne))
    held = {name: getattr(ne, name) for name in ("gram", "rhs", "yty", "sum_weights", "count")}
    copies = {name: np.array(v, copy=True) if isinstance(v, np.ndarray) else v
              for name, v in held.items()}
    with pytest.raises(error, match=pattern):
        bsbasis.normal_equations(X, T, 3, y=Y, out=ne, threads=2)
    for name, v in held.items():
        assert getattr(ne, name) is v
        if isinstance(v, np.ndarray):
            assert v.dtype == copies[name].dtype and np.array_equal(v, copies[name])


def test_hostile_arrays_are_refused_by_the_uniform_variant_too():
    ne = bsbasis.uniform_normal_equations(X * 7.0 + 3.0, 3, 10, y=Y)
    ne.rhs = np.zeros(100)
    with pytest.raises(ValueError, match=r"out.rhs has shape \(100,\)"):
        bsbasis.uniform_normal_equations(X * 7.0 + 3.0, 3, 10, y=Y, out=ne)
    ne = bsbasis.uniform_normal_equations(X * 7.0 + 3.0, 3, 10)
    ne.gram = ne.gram.astype(np.float32)
    with pytest.raises(TypeError, match="out.gram must have dtype float64"):
        bsbasis.uniform_normal_equations(X * 7.0 + 3.0, 3, 10, out=ne)
    ne.gram, ne.yty = ne.gram.astype(np.float64), 1.0
    with pytest.raises(ValueError, match="out.yty must be None"):
        bsbasis.uniform_normal_equations(X * 7.0 + 3.0, 3, 10, out=ne)


def test_another_basis_is_refused_naming_both_shapes():
    ne = fresh()
    with pytest.raises(ValueError, match=r"\(degree k=2, n=11 functions\) needs "
                                         r"\(k \+ 1, n\) = \(3, 11\)"):
        bsbasis.normal_equations(X, T, 2, y=Y, out=ne)
    with pytest.raises(TypeError, match="out must be a NormalEquations, got dict"):
        bsbasis.normal_equations(X, T, 3, y=Y, out={"gram": ne.gram})


def test_out_is_updated_in_place_with_the_sums_of_one_call():
    ne = bsbasis.normal_equations(X[:100], T, 3, y=Y[:100])
    gram, rhs = ne.gram, ne.rhs
    got = bsbasis.normal_equations(X[100:], T, 3, y=Y[100:], out=ne)
    whole = fresh()
    assert got is ne and ne.gram is gram and ne.rhs is rhs
    np.testing.assert_allclose(ne.gram, whole.gram, rtol=1e-13, atol=1e-13)
    np.testing.assert_allclose(ne.rhs, whole.rhs, rtol=1e-13, atol=1e-13)
    assert ne.count == 300 and ne.sum_weights == 300.0
    # A view of a larger array is written through.
    store = np.zeros((2, 4, 10))
    store[0] = bsbasis.normal_equations(X[:100], T, 3).gram
    part = NormalEquations(store[0], count=100, sum_weights=100.0)
    assert part.gram.base is store
    bsbasis.normal_equations(X[100:], T, 3, out=part)
    np.testing.assert_allclose(store[0], whole.gram, rtol=1e-13, atol=1e-13)


def test_the_constructor_checks_types_and_shapes():
    gram = fresh().gram
    with pytest.raises(TypeError, match="gram must hold real numbers"):
        NormalEquations(gram.astype(complex))
    with pytest.raises(TypeError, match="gram must hold real numbers"):
        NormalEquations(None)
    with pytest.raises(TypeError, match="rhs must hold real numbers"):
        NormalEquations(gram, ["a"] * 10, 1.0)
    with pytest.raises(ValueError, match=r"rhs must have shape \(10,\)"):
        NormalEquations(gram, np.zeros(100), 1.0)
    with pytest.raises(TypeError, match="yty must be a real number"):
        NormalEquations(gram, np.zeros(10), "1.0")
    with pytest.raises(TypeError, match="sum_weights must be a real number"):
        NormalEquations(gram, sum_weights=True)
    with pytest.raises(ValueError, match="count must be between 0"):
        NormalEquations(gram, count=-5)
    # Real arrays of other types are converted (values, never bit patterns).
    ne = NormalEquations(np.ones((4, 10), np.int64), np.arange(10, dtype=np.float32), 2)
    assert ne.gram.dtype == ne.rhs.dtype == np.float64 and ne.gram[0, 0] == 1.0
    assert ne.yty == 2.0 and isinstance(ne.yty, float)


class _Pickled:
    """Writes the pickle of a NormalEquations as a tampered file would hold it."""

    def __init__(self, reduce_value):
        self.reduce_value = reduce_value

    def __reduce__(self):
        return self.reduce_value


def attribute_pickle(state):
    """A pickle that restores these attributes directly, as the default
    pickle of a class does."""
    return pickle.dumps(_Pickled((copyreg._reconstructor, (NormalEquations, object, None),
                                  state)))


def test_pickles_round_trip_and_tampered_ones_are_refused():
    ne = fresh()
    back = pickle.loads(pickle.dumps(ne))
    assert np.array_equal(back.gram, ne.gram) and np.array_equal(back.rhs, ne.rhs)
    assert (back.yty, back.sum_weights, back.count) == (ne.yty, ne.sum_weights, ne.count)
    bsbasis.normal_equations(X, T, 3, y=Y, out=back)
    assert back.count == 600
    # Tampered attributes, restored directly.
    state = {"gram": ne.gram, "rhs": np.zeros(100), "yty": 1.0, "sum_weights": 1.0,
             "count": 3}
    data = attribute_pickle(state)
    with pytest.raises(ValueError, match=r"rhs must have shape \(10,\)"):
        pickle.loads(data)
    state = dict(state, rhs=ne.rhs, gram=ne.gram.astype(object))
    data = attribute_pickle(state)
    with pytest.raises(TypeError, match="gram must hold real numbers"):
        pickle.loads(data)
    state = dict(state, gram=ne.gram, count=True)
    data = attribute_pickle(state)
    with pytest.raises(TypeError, match="count must be an integer"):
        pickle.loads(data)
    # Through the constructor, with float32 arrays: converted, and usable.
    args = (ne.gram.astype(np.float32), ne.rhs.astype(np.float32), ne.yty, 1.0, 1)
    back = pickle.loads(pickle.dumps(_Pickled((NormalEquations, args))))
    assert back.gram.dtype == np.float64
    bsbasis.normal_equations(X, T, 3, y=Y, out=back)
    np.testing.assert_allclose(back.gram, 2.0 * ne.gram, rtol=1e-6)
