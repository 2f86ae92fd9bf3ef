"""bsbasis._abi against include/bsbasis.h, read from the header itself: the
same numbers, every constant of the header stated, and ctypes signatures of
the prototypes' shape; and the names users give mapped to the library's
codes of those names."""
import ctypes
import os
import re

import pytest

from bsbasis import _abi, _checks, _penalties

HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir,
                      "include", "bsbasis.h")
# The families of numbers the host passes to the library or reads from it:
# status codes, extrapolation modes, knot kinds and boundaries, the tile of
# the normal equations, the rules a basis on knots may break, the row width
# of natural splines, the kinds of a model's terms and margins, its families.
FAMILIES = re.compile(r"OK$|ERROR_|EXTRAPOLATE_|KNOTS_|BOUNDARY_|RULE_|NORMAL_TILE$|"
                      r"NATURAL_WIDTH$|TERM_|MARGIN_|FAMILY_")


def without_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def header_constants(text):
    """{NAME: value} of every ``#define BSBASIS_NAME <int>``, a negative
    value in parentheses or not."""
    pattern = re.compile(r"^[ \t]*#[ \t]*define[ \t]+BSBASIS_(\w+)[ \t]+"
                         r"(\([ \t]*-[ \t]*\d+[ \t]*\)|-?\d+)[ \t]*$", re.M)
    return {name: int(re.sub(r"[()\s]", "", value))
            for name, value in pattern.findall(without_comments(text))}


def header_prototypes(text):
    """{name: (return type, [parameter types])} of every function declared."""
    text = without_comments(text).replace("\\\n", " ")
    text = re.sub(r"^[ \t]*#[^\n]*", " ", text, flags=re.M)  # preprocessor lines
    pattern = re.compile(r"(?:^|(?<=[;{}]))\s*(?P<ret>(?:const\s+)?[A-Za-z_]\w*[\s*]*?)"
                         r"\s*\b(?P<name>[A-Za-z_]\w*)\s*\((?P<params>[^()]*)\)\s*;")
    out = {}
    for m in pattern.finditer(text):
        params = [p.strip() for p in m.group("params").split(",")]
        if params == ["void"]:
            params = []
        # Each parameter's type: the declaration without its name.
        out[m.group("name")] = (m.group("ret"), [re.sub(r"\b[A-Za-z_]\w*\s*$", "", p)
                                                 for p in params])
    return out


_C_KINDS = {"void": "void", "double": "double", "int": "int%d" % (8 * ctypes.sizeof(ctypes.c_int)),
            "int32_t": "int32", "int64_t": "int64"}


def c_kind(ctype):
    """'pointer', 'double', 'intN' or 'void' for a C type; the type itself
    when it is none of those."""
    if "*" in ctype:
        return "pointer"
    words = [w for w in ctype.split() if w not in ("const", "volatile")]
    return _C_KINDS.get(" ".join(words), ctype.strip())


def ctypes_kind(t):
    """The same for a ctypes type (None: void)."""
    if t is None:
        return "void"
    if issubclass(t, ctypes._Pointer) or t._type_ in "PzZ":
        return "pointer"
    if t._type_ == "d":
        return "double"
    if t._type_ in "bhilq":
        return "int%d" % (8 * ctypes.sizeof(t))
    return t.__name__


def read_header():
    assert os.path.isfile(HEADER), "the header is not at %s" % HEADER
    with open(HEADER) as f:
        return f.read()


HEADER_TEXT = read_header()
CONSTANTS = header_constants(HEADER_TEXT)
PROTOTYPES = header_prototypes(HEADER_TEXT)
NUMBERS = {name: value for name, value in vars(_abi).items()
           if name.isupper() and type(value) is int}


# ----------------------------------------------------------------- parser

def test_the_parser_reads_negatives_in_parentheses_and_multi_line_prototypes():
    text = """
    #define BSBASIS_H
    #define BSBASIS_ERROR_X (-12)   /* a comment */
    #define BSBASIS_MODE_Y 3
    #define BSBASIS_NAME "text"
    #define BSBASIS_SUM \\
      (BSBASIS_MODE_Y * 2)
    extern "C" {
    void plain(double *x, int n);
    /* f(int a); is a comment */
    const char *named(int status);
    int wide(const double *const *t, int64_t n,
             int32_t k, double h);
    }
    """
    assert header_constants(text) == {"ERROR_X": -12, "MODE_Y": 3}
    protos = header_prototypes(text)
    assert sorted(protos) == ["named", "plain", "wide"]
    assert [c_kind(p) for p in protos["wide"][1]] == ["pointer", "int64", "int32", "double"]
    assert c_kind(protos["named"][0]) == "pointer" and c_kind(protos["plain"][0]) == "void"


def test_the_header_has_every_family_of_numbers():
    # Guards the parser: were it to miss a family, the checks below would pass
    # on nothing.
    for prefix in ("OK", "ERROR_", "EXTRAPOLATE_", "KNOTS_", "BOUNDARY_", "NORMAL_TILE",
                   "NATURAL_WIDTH"):
        assert any(name.startswith(prefix) and FAMILIES.match(name) for name in CONSTANTS), prefix
    assert min(CONSTANTS.values()) < 0  # the negative status codes were read
    assert "bsbasis_design" in PROTOTYPES and "blossom" in PROTOTYPES


# -------------------------------------------------------------- constants

def test_every_number_in_abi_is_the_headers():
    assert NUMBERS
    wrong = {name: (value, CONSTANTS.get(name)) for name, value in NUMBERS.items()
             if CONSTANTS.get(name) != value}
    assert wrong == {}, "_abi value, header value (None: no BSBASIS_<name> in the header)"


def test_every_constant_of_the_header_is_in_abi():
    missing = sorted("BSBASIS_" + name for name in CONSTANTS
                     if FAMILIES.match(name) and name not in NUMBERS)
    assert missing == []


# ------------------------------------------------------------- signatures

@pytest.mark.parametrize("name", sorted(_abi.SIGNATURES))
def test_signature_has_the_shape_of_the_prototype(name):
    assert name in PROTOTYPES, "%s is not declared in bsbasis.h" % name
    ret, params = PROTOTYPES[name]
    restype, argtypes = _abi.SIGNATURES[name]
    assert len(argtypes) == len(params), "%d ctypes arguments, %d parameters" % (
        len(argtypes), len(params))
    assert [ctypes_kind(t) for t in argtypes] == [c_kind(p) for p in params]
    assert ctypes_kind(restype) == c_kind(ret)


# ------------------------------------------------------------------ names

def test_extrapolation_names_give_the_library_mode_of_that_name():
    assert _checks.check_extrapolate(False) == _abi.EXTRAPOLATE_ERROR
    assert _checks.check_extrapolate(True) == _abi.EXTRAPOLATE_CONTINUE
    for name in ("zero", "continue", "constant", "linear", "periodic"):
        assert _checks.check_extrapolate(name) == getattr(_abi, "EXTRAPOLATE_" + name.upper())


def test_knot_kinds_and_boundaries_give_the_library_code_of_that_name():
    assert _penalties._KINDS == {name: getattr(_abi, "KNOTS_" + name.upper())
                                 for name in ("uniform", "quantile")}
    assert _penalties._BOUNDARIES == {name: getattr(_abi, "BOUNDARY_" + name.upper())
                                      for name in ("clamped", "extended")}


def test_sklearn_extrapolation_names_give_the_library_mode_of_that_name():
    pytest.importorskip("sklearn")
    from bsbasis import sklearn as bsbasis_sklearn
    assert bsbasis_sklearn._MODE == {name: getattr(_abi, "EXTRAPOLATE_" + name.upper())
                                     for name in ("error", "constant", "linear", "continue")}
