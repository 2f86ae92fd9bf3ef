"""The library's C ABI as include/bsbasis.h states it: its status codes,
modes, knot kinds and boundaries, the normal-equations tile, the kinds and
structs of a model's terms, and the ctypes signatures of the functions the
package calls.

This is the one place the package writes these numbers down; every other
module takes them from here.  Each name is the header's without its
``BSBASIS_`` prefix (``OK`` is ``BSBASIS_OK``, ``EXTRAPOLATE_ZERO`` is
``BSBASIS_EXTRAPOLATE_ZERO``), and the tests read the header and compare
every number and signature below with it.
"""

from __future__ import annotations

import ctypes
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    # A ctypes type: c_int, c_double, c_void_p and the like.
    _CType = type[ctypes._SimpleCData[Any]]

# Status codes: OK, or a negative code that bsbasis_strerror describes.
OK = 0
ERROR_NULL = -1      # a required pointer is NULL
ERROR_COUNT = -2     # a count is negative or too large
ERROR_ORDER = -3     # order or derivative order out of range
ERROR_KNOTS = -4     # knots unusable
ERROR_COLUMNS = -5   # nj out of range
ERROR_MODE = -6      # an unknown mode, kind or boundary
ERROR_RANGE = -7     # an abscissa outside the base interval
ERROR_DATA = -8      # data unusable for the request
ERROR_MEMORY = -9    # a scratch allocation failed

# What an abscissa outside the base interval gets.
EXTRAPOLATE_ERROR = 0
EXTRAPOLATE_ZERO = 1
EXTRAPOLATE_CONTINUE = 2
EXTRAPOLATE_CONSTANT = 3
EXTRAPOLATE_LINEAR = 4
EXTRAPOLATE_PERIODIC = 5

# bsbasis_make_knots: where the base knots go, and what lies beyond the ends.
KNOTS_UNIFORM = 0
KNOTS_QUANTILE = 1
BOUNDARY_CLAMPED = 0
BOUNDARY_EXTENDED = 1

# bsbasis_normal_equations sums its abscissae in tiles of this many, counted
# from x[0], and adds the tiles in order: a host that forms these same tiles
# in parallel and adds them in tile order gets the bits of one call.
NORMAL_TILE = 65536

# bsbasis_natural_design writes this many entries a row: the non-zero
# columns first, then padding of column -1 and value 0.
NATURAL_WIDTH = 7

# bsbasis_check_knots: the rule a basis on knots breaks (bsbasis.h lists
# them with the status each gives).
RULE_NONE = 0
RULE_ORDER = 1
RULE_KNOT_COUNT = 2
RULE_NULL_KNOTS = 3
RULE_TOO_FEW = 4
RULE_COLUMNS = 5
RULE_NOT_FINITE = 6
RULE_DECREASING = 7
RULE_TOO_CLOSE = 8
RULE_SPAN = 9
RULE_EMPTY_BASE = 10

# The terms of a model (bsbasis_model_*): kinds of term and of margin.
TERM_INTERCEPT = 0
TERM_LINEAR = 1
TERM_FACTOR = 2
TERM_SPLINE = 3
MARGIN_KNOTS = 0
MARGIN_UNIFORM = 1
MARGIN_PERIODIC = 2

# The families of bsbasis_model_irls.
FAMILY_GAUSSIAN = 0
FAMILY_BINOMIAL = 1
FAMILY_POISSON = 2


class Margin(ctypes.Structure):
    """struct bsbasis_margin: one basis of a spline term."""
    _fields_ = [("kind", ctypes.c_int32), ("order", ctypes.c_int32), ("nu", ctypes.c_int32),
                ("extrapolate", ctypes.c_int32), ("t", ctypes.c_void_p),
                ("nt", ctypes.c_int64), ("nj", ctypes.c_int64), ("origin", ctypes.c_double),
                ("spacing", ctypes.c_double), ("column", ctypes.c_int64)]


class Term(ctypes.Structure):
    """struct bsbasis_term: one term of a model."""
    _fields_ = [("kind", ctypes.c_int32), ("d", ctypes.c_int32), ("margins", ctypes.c_void_p),
                ("column", ctypes.c_int64), ("nlevels", ctypes.c_int64)]


_p = ctypes.c_void_p
_i = ctypes.c_int
_i32 = ctypes.c_int32
_i64 = ctypes.c_int64
_d = ctypes.c_double

# name: (restype, argtypes), in the order of the header's parameters.
SIGNATURES: dict[str, tuple[_CType | None, list[_CType]]] = {
    "blossom": (None, [_p, _i, _p, _p, _p, _i, _i, _i, _i]),
    "blossom_grid": (None, [_p, _i, _p, _i, _p, _p, _p, _i, _i, _i, _i]),
    "deriv_grid": (None, [_p, _i, _p, _p, _p, _i, _i, _i]),
    "binary_search_with_guess": (_i, [_d, _p, _i, _i]),
    "binary_search": (None, [_p, _p, _i, _p, _i]),
    "test": (None, [_p, _i, _p, _i, _p, _p, _i, _i]),
    "bsbasis_strerror": (ctypes.c_char_p, [_i]),
    "bsbasis_check_knots": (_i, [_p, _i64, _i32, _i64, _p, _p]),
    "bsbasis_design": (_i, [_p, _i64, _i32, _i64, _i32, _i32, _p, _i64, _p, _p, _p, _p]),
    "bsbasis_uniform_design": (_i, [_d, _d, _i64, _i32, _i32, _i32, _p, _i64, _p, _p, _p,
                                    _p]),
    "bsbasis_natural_design": (_i, [_d, _d, _p, _i64, _i32, _i32, _p, _i64, _p, _p, _p, _p]),
    "bsbasis_periodic_design": (_i, [_p, _i64, _i32, _i32, _p, _i64, _p, _p, _p, _p]),
    "bsbasis_tensor_design": (_i, [_i32, _p, _p, _p, _p, _p, _i32, _p, _i64, _p, _p, _p, _p,
                                   _p]),
    "bsbasis_difference_penalty": (_i, [_i64, _i32, _p]),
    "bsbasis_derivative_penalty": (_i, [_p, _i64, _i32, _i64, _i32, _p]),
    "bsbasis_make_knots": (_i, [_p, _i64, _p, _i64, _i32, _i32, _i32, _p]),
    "bsbasis_normal_equations": (_i, [_p, _i64, _i32, _i64, _i32, _i32, _p, _p, _p, _i64,
                                      _p, _p, _p, _p, _p]),
    "bsbasis_uniform_normal_equations": (_i, [_d, _d, _i64, _i32, _i32, _i32, _p, _p, _p,
                                              _i64, _p, _p, _p, _p, _p]),
    "bsbasis_evaluate": (_i, [_p, _i64, _i32, _i64, _i32, _i32, _p, _p, _i64, _p]),
    "bsbasis_uniform_evaluate": (_i, [_d, _d, _i64, _i32, _i32, _i32, _p, _p, _i64, _p]),
    "bsbasis_blocks_to_dense": (_i, [_i32, _p, _p, _i64, _i64, _p, _i64, _i64]),
    "bsbasis_model_columns": (_i, [_p, _i64, _i64, _p, _p]),
    "bsbasis_model_normal_equations": (_i, [_p, _i64, _p, _i64, _i64, _i64, _i64, _p, _p, _p,
                                            _p, _p, _p, _p, _p]),
    "bsbasis_model_evaluate": (_i, [_p, _i64, _p, _i64, _i64, _i64, _i64, _p, _p, _p, _p, _p,
                                    _p]),
    "bsbasis_model_irls": (_i, [_p, _i64, _p, _i64, _i64, _i64, _i64, _i32, _p, _p, _p, _p, _p,
                                _p, _p, _p, _p, _p]),
}
