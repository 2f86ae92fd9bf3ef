"""Sphinx configuration of the bsbasis documentation.

Built offline by scripts/docs.sh into build/docs/html, warnings as errors.
The Python package is imported from python/ and loads the library that
BSBASIS_LIBRARY names (the script points it at build/libbsbasis.so).
"""
import os
import pathlib
import sys

DOCS = pathlib.Path(__file__).resolve().parent
ROOT = DOCS.parent
sys.path.insert(0, str(ROOT / "python"))
sys.path.insert(0, str(DOCS / "_ext"))

import bsbasis  # noqa: E402

project = "bsbasis"
author = "the bsbasis developers"
copyright = "2026, the bsbasis developers"
release = bsbasis.__version__
version = release

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "numpydoc",
    "myst_parser",
    "sphinx_gallery.gen_gallery",
    "headerdoc",  # docs/_ext/headerdoc.py: the C and C++ reference from the headers
]

source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
templates_path = ["_templates"]
exclude_patterns = ["_build", "_templates", "gallery/README.rst", "**.ipynb_checkpoints"]
# No math extension: the site must read offline, with no script from a CDN.
myst_enable_extensions = ["colon_fence"]
myst_heading_anchors = 3

# Every reference must resolve; names from numpy, scipy and the other peers
# are not linked (the build is offline, with no inventories to link to).
nitpicky = True
nitpick_ignore_regex = [
    (r"py:.*", r"(numpy|np|scipy|sklearn|pandas|dask|distributed|patsy|matplotlib|ctypes|os|typing)(\..*)?"),
    (r"py:.*", r"(array_like|array-like|ndarray|optional|callable|default|of|or|shape|float|int|bool|str|tuple|list|dict|None|object|sequence|iterable|path-like|int or None|float or None)"),
    # The C and C++ reference (reference/c.md, cpp.md): the fixed-width types
    # of <stdint.h>; Eigen, a peer; the C macros that C++ initialisers name
    # (documented on the C page, which the C++ domain cannot link to); and
    # namespace bsbasis::detail, which is no object of the domain (the names
    # of it that public declarations use have entries).
    (r"c:identifier", r"u?int(8|16|32|64)_t"),
    (r"cpp:identifier", r"Eigen(::.*)?"),
    (r"cpp:identifier", r"BSBASIS_[A-Z0-9_]+"),
    (r"cpp:identifier", r"detail"),
]

autosummary_generate = True
autodoc_typehints = "none"
autodoc_default_options = {"members": True, "inherited-members": False}
numpydoc_show_class_members = False
numpydoc_xref_param_type = False
numpydoc_validation_checks = set()

sphinx_gallery_conf = {
    "examples_dirs": "gallery",
    "gallery_dirs": "auto_examples",
    "filename_pattern": r"/plot_",
    "download_all_examples": False,
    "remove_config_comments": True,
    "abort_on_example_error": False,
    "only_warn_on_example_error": False,
    "matplotlib_animations": False,
    "image_scrapers": ("matplotlib",),
    "reference_url": {"bsbasis": None},
}

html_theme = "pydata_sphinx_theme"
html_title = "bsbasis %s" % release
html_theme_options = {
    "show_prev_next": True,
    "navigation_depth": 2,
}
html_show_sourcelink = False
