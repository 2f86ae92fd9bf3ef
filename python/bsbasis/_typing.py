"""Names for the types of the package's arguments and results, for type
checkers only: the modules import them under ``TYPE_CHECKING``, and at run
time this module defines nothing (scipy 1.10 has no ``sparray`` to import).

The annotations follow the checks of _checks: an integer argument takes
what ``operator.index`` takes (``SupportsIndex``: int and numpy's
integers), a real one Python's and numpy's reals (`Real`).
"""

from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from typing import Any, Literal, Optional, Protocol, SupportsIndex, Tuple, Type, Union

    import numpy as np
    from numpy.typing import ArrayLike, NDArray
    # scipy ships no types on Debian 12 (scipy 1.10): these are Any to mypy
    # there, and scipy's classes where its stubs are installed.
    from scipy.sparse import (coo_array, coo_matrix, csc_array, csc_matrix, csr_array,
                              csr_matrix, sparray, spmatrix)

    Real = Union[float, np.floating[Any], np.integer[Any]]

    # What extrapolate= takes: False, True or a mode by name.
    Extrapolate = Union[bool, np.bool_, Literal["zero", "continue", "constant", "linear",
                                                "periodic"]]

    # The formats of a design matrix (natural_design_matrix adds 'dense') and
    # of a penalty.
    DesignFormat = Literal["csr", "csc", "coo", "csr_matrix", "csc_matrix", "coo_matrix",
                           "blocks"]
    NaturalFormat = Literal["csr", "csc", "coo", "csr_matrix", "csc_matrix", "coo_matrix",
                            "blocks", "dense"]
    PenaltyFormat = Literal["banded", "csr", "csr_matrix"]

    # Row and column indices of the raw blocks: int32, or int64 for results
    # beyond 2**31 - 1 entries.
    IndexArray = Union[NDArray[np.int32], NDArray[np.int64]]

    # format='blocks': rows, columns and values, block p at entries
    # p*E .. p*E + E-1.
    Blocks = Tuple[IndexArray, IndexArray, NDArray[np.float64]]

    # The sparse formats of a design matrix, and their classes.
    SparseResult = Union[csr_array, csc_array, coo_array, csr_matrix, csc_matrix, coo_matrix]
    SparseClass = Union[Type[csr_array], Type[csc_array], Type[coo_array], Type[csr_matrix],
                        Type[csc_matrix], Type[coo_matrix]]

    # What a design matrix function returns; natural_design_matrix also a
    # dense array.
    DesignResult = Union[SparseResult, Blocks]
    NaturalResult = Union[DesignResult, NDArray[np.float64]]

    # A sparse matrix or array given as an argument.
    SparseInput = Union[sparray, spmatrix]

    # The penalty argument of the fits: a difference order, ('derivative', m),
    # or a symmetric matrix (a band form, a dense array, a sparse matrix).
    Penalty = Union[int, np.integer[Any], Tuple[Literal["derivative"], SupportsIndex],
                    ArrayLike, SparseInput]

    class Kernel(Protocol):
        """A library call that writes the rows of a design matrix (see
        _tiles.Target): `entries` a row; called as kernel(a, m, ip, jp, Bp,
        nep) for rows a .. a+m-1, with the addresses of the rows (or None),
        columns, values and the count of empty rows.  It may also have
        `knots` (the knots each call checks), `j64` (int64 columns) and
        `padded` (rows that end in column -1), read with getattr."""

        @property
        def entries(self) -> int: ...

        def __call__(self, a: int, m: int, ip: Optional[int], jp: int, Bp: int,
                     nep: int) -> None: ...

    class DaskCollection(Protocol):
        """A dask collection (a dask array, a dask Series), as dask itself
        recognises one."""

        def __dask_graph__(self) -> Any: ...

    class HasDtype(Protocol):
        """An array of a dtype: an ndarray, a dask array or Series."""

        @property
        def dtype(self) -> np.dtype[Any]: ...
