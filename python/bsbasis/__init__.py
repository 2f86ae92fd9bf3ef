"""B-spline basis design matrices for numpy and scipy.

The kernels live in libbsbasis.so, loaded with ctypes on first use (see
load_library for where it is looked for).  This package validates the input,
owns and sizes every array, and returns scipy.sparse matrices.
"""

from ._core import (design_matrix, interval_index, periodic_design_matrix,
                    tensor_design_matrix, uniform_design_matrix)
from ._natural import natural_design_matrix
from ._normal import (NormalEquations, evaluate_spline, normal_equations,
                      uniform_normal_equations)
from ._penalties import derivative_penalty, difference_penalty, make_knots
from ._pspline import PSplineFit, fit_normal_equations, fit_pspline
from ._lib import LibraryNotFoundError, library_path, load_library, reset_library
from . import gam

__version__ = "0.1.0"

__all__ = [
    "design_matrix",
    "uniform_design_matrix",
    "periodic_design_matrix",
    "tensor_design_matrix",
    "natural_design_matrix",
    "difference_penalty",
    "derivative_penalty",
    "make_knots",
    "normal_equations",
    "uniform_normal_equations",
    "NormalEquations",
    "evaluate_spline",
    "fit_pspline",
    "fit_normal_equations",
    "PSplineFit",
    "interval_index",
    "load_library",
    "library_path",
    "reset_library",
    "LibraryNotFoundError",
]
