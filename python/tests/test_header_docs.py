"""The C and C++ reference pages keep in step with the headers.

The names each header declares are found by the compilers, not by the
documentation's own parser (docs/_ext/headerdoc.py): the C functions by
gcc's -aux-info, the macros by the preprocessor's -dD, the enum constants in
the preprocessed header, the C++ names (public ones of namespace bsbasis,
with the public members of its classes) in clang's syntax tree.  Every one
must come out of the parser, and have an entry on the pages that Sphinx
builds from docs/reference/c.md and cpp.md.  Every symbol the library
exports must be on the C page."""
import ast
import collections
import importlib
import io
import json
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

import bsbasis

ROOT = pathlib.Path(__file__).resolve().parents[2]
INCLUDE = ROOT / "include"
DOCS = ROOT / "docs"
C_HEADER = INCLUDE / "bsbasis.h"
CPP_HEADERS = [INCLUDE / "bsbasis.hpp", INCLUDE / "bsbasis_eigen.hpp"]
EIGEN = pathlib.Path("/usr/include/eigen3")

# Declarations with no comment of their own: the C++ names below, which the
# file's opening comment or their neighbours explain.  A new declaration
# without its contract fails.
UNCOMMENTED_C = set()
UNCOMMENTED_CPP = {"bsbasis::RightEnd", "bsbasis::operator==", "bsbasis::operator!=",
                   "bsbasis::operator+"}


@pytest.fixture(scope="module")
def headerdoc():
    if not DOCS.is_dir():
        pytest.skip("no documentation sources beside this copy")
    sys.path.insert(0, str(DOCS / "_ext"))
    try:
        yield importlib.import_module("headerdoc")
    finally:
        sys.path.remove(str(DOCS / "_ext"))


def need(tool):
    if shutil.which(tool) is None:
        pytest.skip("no %s" % tool)


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, check=True, **kw).stdout


# --- what the compilers see -------------------------------------------------

def header_lines(preprocessed, header):
    """The lines of `cc -E` output that come from the header itself."""
    out, mine = [], False
    for line in preprocessed.splitlines():
        m = re.match(r'# \d+ "([^"]+)"', line)
        if m:
            mine = pathlib.Path(m.group(1)).name == header.name
        elif mine:
            out.append(line)
    return out


def c_declared(header, tmp_path):
    """Functions, macros, enums and their constants, and structs, that the C
    compiler finds."""
    need("cc")
    source = tmp_path / "names.c"
    source.write_text('#include "%s"\n' % header.name)
    aux = tmp_path / "aux.txt"
    run(["cc", "-std=c99", "-fsyntax-only", "-I", str(header.parent), "-aux-info", str(aux),
         str(source)])
    functions = set()
    for line in aux.read_text().splitlines():
        m = re.match(r"/\* (\S+):\d+:\w+ \*/ .*?(\w+) \(", line)
        if m and pathlib.Path(m.group(1)).name == header.name:
            functions.add(m.group(2))
    defines = header_lines(run(["cc", "-std=c99", "-E", "-dD", "-I", str(header.parent),
                                str(source)]), header)
    macros = {m.group(1) for m in (re.match(r"#define (\w+)", ln) for ln in defines) if m}
    guard = re.search(r"#ifndef (\w+)\s+#define \1\b", header.read_text())
    macros.discard(guard.group(1) if guard else None)
    code = " ".join(header_lines(run(["cc", "-std=c99", "-E", "-I", str(header.parent),
                                      str(source)]), header))
    constants = set(re.findall(r"\b(?:enum|struct)\s+(\w+)\s*\{", code))
    for body in re.findall(r"\benum\b[^{;]*\{([^}]*)\}", code):
        constants |= {m.group(1) for m in re.finditer(r"(?:^|,)\s*([A-Za-z_]\w*)", body)}
    return functions | macros | constants


def clang_objects(source, tmp_path):
    """The declarations of namespace bsbasis, one JSON object each."""
    need("clang++")
    path = tmp_path / "names.cpp"
    path.write_text(source)
    extra = ["-I", str(EIGEN)] if EIGEN.is_dir() else []
    text = run(["clang++", "-std=c++17", "-fsyntax-only", "-I", str(INCLUDE), *extra,
                "-Xclang", "-ast-dump=json", "-Xclang", "-ast-dump-filter=bsbasis::",
                str(path)])
    decoder, pos, out = json.JSONDecoder(), 0, []
    while True:
        while pos < len(text) and text[pos].isspace():
            pos += 1
        if pos >= len(text):
            return out
        obj, pos = decoder.raw_decode(text, pos)
        out.append(obj)


MEMBER_KINDS = {"CXXMethodDecl", "CXXConstructorDecl", "FunctionTemplateDecl", "FieldDecl",
                "VarDecl", "TypeAliasDecl", "TypeAliasTemplateDecl", "CXXRecordDecl",
                "ClassTemplateDecl", "EnumDecl"}


def record_of(obj):
    if obj["kind"] == "ClassTemplateDecl":
        return next(x for x in obj.get("inner", []) if x["kind"] == "CXXRecordDecl")
    return obj


def public_members(obj, prefix, out, bases):
    rec = record_of(obj)
    name = prefix + "::" + obj["name"]
    out[name] += 1
    for base in rec.get("bases", []):
        m = re.match(r"detail::(\w+)", base["type"]["qualType"])
        if base["access"] == "public" and m:
            bases.add(m.group(1))
    access = "public" if rec.get("tagUsed") in ("struct", "union") else "private"
    for m in rec.get("inner", []):
        if m["kind"] == "AccessSpecDecl":
            access = m["access"]
        elif m["kind"] in MEMBER_KINDS and not m.get("isImplicit") and access == "public":
            if m["kind"] in ("CXXRecordDecl", "ClassTemplateDecl"):
                public_members(m, name, out, bases)
            else:
                out[name + "::" + re.sub(r"<.*", "", m["name"])] += 1


def cpp_declared(source, tmp_path):
    """Public names of namespace bsbasis, each as often as it is declared
    (overloads): its functions, classes, enums (with their enumerators) and
    type aliases, the public members of its classes, and those of the detail
    classes they inherit publicly."""
    out, bases, detail = collections.Counter(), set(), {}
    for obj in clang_objects(source, tmp_path):
        if obj["kind"] == "NamespaceDecl" and obj.get("name") == "detail":
            for d in obj.get("inner", []):
                if "name" in d:
                    detail[d["name"]] = d
            continue
        if "parentDeclContextId" in obj or obj.get("isImplicit"):
            continue  # a member defined outside its class
        name = "bsbasis::" + obj["name"]
        if obj["kind"] in ("CXXRecordDecl", "ClassTemplateDecl"):
            public_members(obj, "bsbasis", out, bases)
        elif obj["kind"] == "EnumDecl":
            out[name] += 1
            scope = name if obj.get("scopedEnumTag") else "bsbasis"
            out.update(scope + "::" + e["name"] for e in obj.get("inner", [])
                       if e["kind"] == "EnumConstantDecl")
        else:
            out[name] += 1
    for base in bases:
        public_members(detail[base], "bsbasis::detail", out, set())
    return out


# --- the parser ---------------------------------------------------------------

def test_every_c_declaration_is_parsed(headerdoc, tmp_path):
    declared = c_declared(C_HEADER, tmp_path)
    assert {"blossom", "bsbasis_design", "BSBASIS_NORMAL_TILE", "BSBASIS_OK"} <= declared
    documented = set(headerdoc.documented_names(C_HEADER))
    assert declared - documented == set()
    assert documented - declared == set()


def test_every_cpp_declaration_is_parsed(headerdoc, tmp_path):
    hpp = cpp_declared('#include "bsbasis.hpp"\n', tmp_path)
    assert hpp["bsbasis::KnotBasis::KnotBasis"] == 3 and hpp["bsbasis::make_knots"] == 4
    assert hpp["bsbasis::Extrapolate::Zero"] == hpp["bsbasis::KnotBasis"] == 1
    assert hpp["bsbasis::detail::Evaluator::values"] == 6
    documented = collections.Counter(headerdoc.documented_names(CPP_HEADERS[0]))
    assert hpp - documented == collections.Counter()
    if not EIGEN.is_dir():
        pytest.skip("no Eigen headers")
    eigen = cpp_declared('#include "bsbasis_eigen.hpp"\n', tmp_path) - hpp
    assert eigen == collections.Counter({"bsbasis::to_eigen": 1})
    assert eigen == collections.Counter(headerdoc.documented_names(CPP_HEADERS[1]))


def uncommented(headerdoc, path):
    """Names of the entries without a comment: all of a C header's, and
    those declared at the top of a C++ header's namespace bsbasis."""
    missing = set()
    for node in headerdoc._walk(headerdoc.tree(path)[1]):
        if isinstance(node, headerdoc.Namespace) and node.name == "bsbasis":
            missing |= {"bsbasis::" + d.name for e in node.children
                        if isinstance(e, headerdoc.Entry) and e.doc is None
                        and e.principal is None for d in e.decls}
        elif path.suffix == ".h" and isinstance(node, headerdoc.Entry) and node.doc is None \
                and node.section is None and node.principal is None:
            missing |= {d.name for d in node.decls}
    return missing


def test_every_declaration_has_its_comment(headerdoc):
    assert uncommented(headerdoc, C_HEADER) == UNCOMMENTED_C
    assert uncommented(headerdoc, CPP_HEADERS[0]) == UNCOMMENTED_CPP
    assert uncommented(headerdoc, CPP_HEADERS[1]) == set()


def test_exported_symbols_are_on_the_c_page(headerdoc):
    need("nm")
    library = bsbasis.library_path()
    listing = run(["nm", "-D", "--defined-only", "--format=posix", str(library)])
    exported = {line.split()[0] for line in listing.splitlines() if line.strip()}
    exported = {s for s in exported if not s.startswith("_")}
    assert "bsbasis_design" in exported
    assert exported - set(headerdoc.documented_names(C_HEADER)) == set()


def test_pages_render_each_header():
    if not DOCS.is_dir():
        pytest.skip("no documentation sources beside this copy")
    c = (DOCS / "reference" / "c.md").read_text()
    cpp = (DOCS / "reference" / "cpp.md").read_text()
    assert re.search(r"^```\{c-header\} include/bsbasis\.h$", c, re.M)
    for header in CPP_HEADERS:
        assert re.search(r"^```\{cpp-header\} include/%s$" % re.escape(header.name), cpp, re.M)
    index = (DOCS / "reference" / "index.md").read_text()
    assert re.search(r"^c$", index, re.M) and re.search(r"^cpp$", index, re.M)


def test_a_c_enum_and_an_unparsable_declaration(headerdoc, tmp_path):
    """Paths the real headers do not take: enum constants in C, and a
    declaration that Sphinx cannot parse, which is shown, not dropped."""
    c = tmp_path / "mode.h"
    c.write_text("/* Modes. */\nenum mode { MODE_A = 1, MODE_B };\n\n"
                 "/* Adds. */\nint add(int a);\n")
    assert c_declared(c, tmp_path) == {"mode", "MODE_A", "MODE_B", "add"}
    assert set(headerdoc.documented_names(c)) == {"mode", "MODE_A", "MODE_B", "add"}
    cpp = tmp_path / "odd.hpp"
    cpp.write_text("namespace bsbasis {\n// Odd.\nint odd(int x) throw(int);\n"
                   "// Plain.\nint plain(int x);\n}\n")
    intro, nodes_ = headerdoc.tree(cpp)
    store = {}
    renderer = headerdoc.Renderer("cpp", headerdoc.Linker(), headerdoc._Config(), store, "odd")
    renderer.render(intro, nodes_)
    text = "\n".join(renderer.lines)
    assert ".. cpp:function:: int plain(int x)" in text
    assert "odd" not in re.sub(r"headerdoc-nodes:: odd#\d+", "", text)
    shown = [n.astext() for body in store.values() for n in body]
    assert any("int odd(int x) throw(int);" in s and "Odd." in s for s in shown)


# --- the pages as Sphinx builds them ----------------------------------------

def conf_value(name):
    """An assignment of docs/conf.py, read without importing it."""
    tree = ast.parse((DOCS / "conf.py").read_text())
    for node in tree.body:
        if isinstance(node, ast.Assign) and any(getattr(t, "id", None) == name
                                                for t in node.targets):
            return ast.literal_eval(node.value)
    return None


@pytest.fixture(scope="module")
def built(tmp_path_factory):
    """c.md and cpp.md built alone, with the site's settings for references."""
    if not DOCS.is_dir():
        pytest.skip("no documentation sources beside this copy")
    pytest.importorskip("myst_parser")
    from sphinx.application import Sphinx
    from sphinx.util.console import nocolor
    nocolor()
    base = tmp_path_factory.mktemp("site")
    src = base / "docs"
    (src / "reference").mkdir(parents=True)
    (base / "include").symlink_to(INCLUDE)
    for page in ("c.md", "cpp.md"):
        shutil.copy(DOCS / "reference" / page, src / "reference" / page)
    (src / "index.md").write_text("# Reference\n\n```{toctree}\nreference/c\nreference/cpp\n```\n")
    (src / "conf.py").write_text(
        "import sys\nsys.path.insert(0, %r)\n" % str(DOCS / "_ext")
        + "extensions = ['myst_parser', 'headerdoc']\nnitpicky = True\n"
        + "nitpick_ignore_regex = %r\n" % (conf_value("nitpick_ignore_regex") or []))
    warnings = io.StringIO()
    app = Sphinx(str(src), str(src), str(base / "html"), str(base / "doctrees"), "html",
                 status=None, warning=warnings, freshenv=True)
    app.build()
    pages = {p: (base / "html" / "reference" / (p + ".html")).read_text() for p in ("c", "cpp")}
    return pages, warnings.getvalue()


def test_the_pages_build_without_warnings(built):
    pages, warnings = built
    assert warnings == ""


def ids(html):
    return set(re.findall(r'\bid="([^"]+)"', html))


def test_every_c_name_has_an_entry(built, tmp_path):
    pages, _ = built
    missing = {n for n in c_declared(C_HEADER, tmp_path) if "c." + n not in ids(pages["c"])}
    assert missing == set()


OPERATORS = {"==": "eq", "!=": "ne", "+": "pl", "+=": "pL"}


def cpp_id_fragment(name):
    """The nested name as the C++ domain's ids spell it: N7bsbasis6Design..."""
    parts = []
    for part in name.split("::"):
        op = re.fullmatch(r"operator\s*(\S+)", part)
        parts.append(OPERATORS[op.group(1)] if op else "%d%s" % (len(part), part))
    return "".join(parts)


def test_every_cpp_declaration_has_an_entry(built, tmp_path):
    """Each overload too: the ids of the C++ domain are one per declaration."""
    pages, _ = built
    found = [i for i in ids(pages["cpp"]) if i.startswith("_CPPv4")]
    names = cpp_declared('#include "bsbasis.hpp"\n', tmp_path)
    if EIGEN.is_dir():
        names |= cpp_declared('#include "bsbasis_eigen.hpp"\n', tmp_path)
    assert cpp_id_fragment("bsbasis::Design::to_csr") == "7bsbasis6Design6to_csr"
    wrong = {}
    for name, count in names.items():
        fragment = re.compile(re.escape(cpp_id_fragment(name)) + "[EI]")
        shown = sum(1 for i in found if fragment.search(i))
        literal = re.compile(re.escape("headerdoc-" + "-".join(name.split("::")).replace("_", "-")
                                       .lower()) + r"(-\d+)?$")
        shown += sum(1 for i in ids(pages["cpp"]) if literal.match(i))
        if shown != count:
            wrong[name] = (count, shown)
    assert wrong == {}
