"""The site's Python API reference lists every public name: each module's
__all__ and each public class of bsbasis.sklearn is an entry of an
autosummary table in docs/reference/python.rst, under its module."""
import pathlib
import re

import pytest

from test_examples import PUBLIC_NAMES

PAGE = pathlib.Path(__file__).resolve().parents[2] / "docs" / "reference" / "python.rst"


def listed(text):
    """Dotted names of the page's autosummary entries, each under the
    currentmodule in force where it stands."""
    names, module, in_table = set(), None, False
    for line in text.splitlines():
        current = re.match(r"\.\. currentmodule:: (\S+)", line)
        if current:
            module = current.group(1)
        elif line.startswith(".. autosummary::"):
            in_table = True
        elif in_table and re.match(r"   [A-Za-z_][\w.]*$", line):
            names.add("%s.%s" % (module, line.strip()))
        elif in_table and line and not line.startswith(" "):
            in_table = False
    return names


def test_every_public_name_is_in_the_reference():
    if not PAGE.exists():
        pytest.skip("no documentation sources beside this copy")
    names = listed(PAGE.read_text(encoding="utf-8"))
    # Methods and properties are documented on their class's page.
    modules = ("bsbasis", "bsbasis.sklearn", "bsbasis.formula", "bsbasis.dask", "bsbasis.gam")
    top = {name for name, _ in PUBLIC_NAMES if name.rsplit(".", 1)[0] in modules}
    missing = sorted(top - names)
    assert not missing, "not in docs/reference/python.rst: %s" % missing
    unknown = sorted(names - {name for name, _ in PUBLIC_NAMES})
    assert not unknown, "listed but not public: %s" % unknown


def test_the_parser_sees_tables_and_modules():
    text = (".. currentmodule:: a\n\n.. autosummary::\n   :toctree: g\n\n   f\n   G\n\n"
            "Text\n\n.. currentmodule:: a.b\n\n.. autosummary::\n\n   h\n")
    assert listed(text) == {"a.f", "a.G", "a.b.h"}
