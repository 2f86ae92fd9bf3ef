"""The fits' documentation: its examples run, its sections are there, and no
public docstring sends a user to a private name."""
import inspect
import re

import pytest

import bsbasis

dask_module = pytest.importorskip("bsbasis.dask")

from test_examples import run_docstring_examples  # noqa: E402

FITS = [bsbasis.fit_pspline, bsbasis.fit_normal_equations, bsbasis.PSplineFit,
        bsbasis.PSplineFit.__call__, bsbasis.PSplineFit.to_bspline,
        dask_module.fit_pspline, dask_module.normal_equations,
        dask_module.uniform_normal_equations]


def public_docstrings():
    for module in (bsbasis, dask_module):
        yield module.__name__, inspect.getdoc(module)
        for name in module.__all__:
            obj = getattr(module, name)
            yield "%s.%s" % (module.__name__, name), inspect.getdoc(obj)
            if inspect.isclass(obj):
                for attr, member in vars(obj).items():
                    if callable(member) and (not attr.startswith("_") or attr == "__call__"):
                        yield "%s.%s.%s" % (module.__name__, name, attr), inspect.getdoc(member)


@pytest.mark.parametrize("obj", FITS, ids=lambda o: o.__qualname__)
def test_examples_run(obj):
    attempted, failed = run_docstring_examples(obj, obj.__qualname__)
    assert attempted > 0 and failed == 0


@pytest.mark.parametrize("obj", FITS, ids=lambda o: o.__qualname__)
def test_numpydoc_sections(obj):
    doc = inspect.getdoc(obj)
    sections = ["Parameters", "Returns", "Raises", "See Also", "Examples"]
    if obj is bsbasis.PSplineFit.to_bspline:  # no arguments, nothing to raise
        sections = ["Returns", "See Also", "Examples"]
    if inspect.isclass(obj):
        sections = ["Parameters", "Attributes", "See Also", "Examples"]
    for section in sections:
        assert "\n%s\n%s\n" % (section, "-" * len(section)) in doc, section


def test_no_public_docstring_names_a_private_one():
    private = re.compile(r"bsbasis\._\w|`_\w|\b_[a-z]\w*\(")
    for where, doc in public_docstrings():
        assert doc, where
        found = private.search(doc)
        assert found is None, (where, doc[max(found.start() - 60, 0):found.end() + 60])
