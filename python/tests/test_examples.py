"""The Examples of the public docstrings run and show what they claim, and
every public docstring has the numpydoc sections.

`public_names` is the list of what the package documents for its users;
test_docstrings.py checks the same names with numpydoc's validator."""
import doctest
import importlib
import inspect
import re

import pytest

import bsbasis
from bsbasis import _core, _normal, _penalties

# The modules whose __all__ is public, and the one whose public classes are
# (bsbasis.sklearn has no __all__).  A module whose optional dependency is
# missing is left out.
ALL_MODULES = ("bsbasis", "bsbasis.dask", "bsbasis.formula", "bsbasis.gam")
CLASS_MODULES = ("bsbasis.sklearn",)
FLAGS = doctest.NORMALIZE_WHITESPACE | doctest.ELLIPSIS


def _modules(names):
    out = []
    for name in names:
        try:
            out.append(importlib.import_module(name))
        except ImportError:
            pass
    return out


def _members(qualname, cls):
    """The public methods and properties cls defines itself or takes from a
    class of this package (a private base such as the transformers' shared
    one); what scikit-learn, patsy or the builtins define is not ours."""
    seen = set()
    for owner in cls.__mro__:
        if not owner.__module__.startswith("bsbasis"):
            continue
        for attr, member in vars(owner).items():
            if attr in seen or (attr.startswith("_") and attr != "__call__"):
                continue
            seen.add(attr)
            if isinstance(member, property) or inspect.isfunction(member):
                yield "%s.%s" % (qualname, attr), getattr(cls, attr)


def public_names():
    """(dotted name, object) for every public name and its methods."""
    found = []
    for module in _modules(ALL_MODULES):
        for name in module.__all__:
            found.append(("%s.%s" % (module.__name__, name), getattr(module, name)))
    for module in _modules(CLASS_MODULES):
        for name, obj in sorted(vars(module).items()):
            if (not name.startswith("_") and inspect.isclass(obj)
                    and obj.__module__ == module.__name__):
                found.append(("%s.%s" % (module.__name__, name), obj))
    for qualname, obj in list(found):
        if inspect.isclass(obj):
            found.extend(_members(qualname, obj))
    return found


def run_docstring_examples(obj, name):
    """Runs the Examples of obj's own docstring (not its members') as
    written, in a namespace of their own; returns (attempted, failed)."""
    if isinstance(obj, property):
        obj = obj.fget
    tests = doctest.DocTestFinder(recurse=False).find(obj, name, globs={})
    runner = doctest.DocTestRunner(optionflags=FLAGS)
    for test in tests:
        runner.run(test)
    result = runner.summarize(verbose=False)
    return result.attempted, result.failed


PUBLIC_NAMES = public_names()


def test_every_public_module_is_checked():
    names = {name for name, _ in PUBLIC_NAMES}
    assert len(_modules(ALL_MODULES + CLASS_MODULES)) == 5
    for expected in ("bsbasis.design_matrix", "bsbasis.NormalEquations.solve",
                     "bsbasis.formula.BS.transform", "bsbasis.sklearn.SplineTransformer.fit",
                     "bsbasis.PSplineFit.__call__", "bsbasis.dask.fit_pspline",
                     "bsbasis.gam.GAM.predict"):
        assert expected in names
    assert not any(name.endswith(("fit_transform", "get_params", "set_params"))
                   for name in names)


@pytest.mark.parametrize("name, obj", PUBLIC_NAMES, ids=[n for n, _ in PUBLIC_NAMES])
def test_examples_run(name, obj):
    attempted, failed = run_docstring_examples(obj, name)
    assert attempted > 0, "%s has no example" % name
    assert failed == 0, "%d of the %d examples of %s fail" % (failed, attempted, name)


def test_the_runner_fails_on_a_wrong_output():
    def wrong():
        """Add.

        >>> 1 + 1
        3
        """
    assert run_docstring_examples(wrong, "wrong") == (1, 1)


MODULES = (_core, _normal, _penalties)
PUBLIC = [name for name in bsbasis.__all__
          if getattr(getattr(bsbasis, name), "__module__", None)
          in {m.__name__ for m in MODULES}]


@pytest.mark.parametrize("name", PUBLIC)
def test_public_docstrings_have_the_sections(name):
    doc = getattr(bsbasis, name).__doc__
    for section in ("Parameters", "Returns" if name != "NormalEquations" else "Attributes",
                    "Raises", "See Also", "Examples"):
        assert "\n    %s\n    %s" % (section, "-" * len(section)) in doc, section
    assert not re.search(r"(?<![\w*])_[a-z]", doc), "names a private module or function"
