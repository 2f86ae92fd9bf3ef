"""The Examples of the public docstrings run and show what they claim, and
every public docstring has the numpydoc sections."""
import doctest
import re

import numpy as np
import pytest

import bsbasis
from bsbasis import _core, _normal, _penalties

MODULES = (_core, _normal, _penalties)
PUBLIC = [name for name in bsbasis.__all__
          if getattr(getattr(bsbasis, name), "__module__", None)
          in {m.__name__ for m in MODULES}]


@pytest.mark.parametrize("module", MODULES, ids=lambda m: m.__name__)
def test_examples_run(module):
    finder = doctest.DocTestFinder(exclude_empty=True)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    tests = [t for t in finder.find(module, module.__name__, globs={"np": np})
             if t.name.split(".")[-1] in PUBLIC or t.name.split(".")[-2] in PUBLIC]
    assert tests
    for test in tests:
        runner.run(test)
    result = runner.summarize(verbose=False)
    assert result.failed == 0 and result.attempted > 0


@pytest.mark.parametrize("name", PUBLIC)
def test_public_docstrings_have_the_sections(name):
    doc = getattr(bsbasis, name).__doc__
    for section in ("Parameters", "Returns" if name != "NormalEquations" else "Attributes",
                    "Raises", "See Also", "Examples"):
        assert "\n    %s\n    %s" % (section, "-" * len(section)) in doc, section
    assert not re.search(r"(?<![\w*])_[a-z]", doc), "names a private module or function"
