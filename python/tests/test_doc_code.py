"""The code on the README and on the documentation's pages runs as written.

A fence tagged ``python``, ``c`` or ``cpp`` is run: a page's Python blocks
in order, in one namespace of the page's own (a page reads as one session);
each C and C++ block compiled as a program against the headers, linked with
the library the package loads, and run.  A block meant to be read and not
run uses MyST's ``{code-block}`` directive instead of a plain fence.  The R
blocks run in the R stage (scripts/run_r_blocks.R)."""
import pathlib
import re
import shutil
import subprocess

import pytest

import bsbasis

ROOT = pathlib.Path(__file__).resolve().parents[2]
README = ROOT / "README.md"
GENERATED = ("auto_examples", "generated", "_build")


def pages():
    """The README and every Markdown page of the documentation's sources."""
    found = [README]
    docs = ROOT / "docs"
    if docs.is_dir():
        found += sorted(p for p in docs.rglob("*.md")
                        if not set(p.relative_to(docs).parts) & set(GENERATED))
    return found


def blocks(page, language):
    text = page.read_text(encoding="utf-8")
    return re.findall(r"^```%s\n(.*?)^```" % re.escape(language), text, re.S | re.M)


def page_id(page):
    return str(page.relative_to(ROOT))


def with_blocks(language):
    return [p for p in pages() if blocks(p, language)]


def test_the_readme_has_a_block_for_each_host():
    for language, least in (("python", 2), ("c", 1), ("cpp", 1), ("r", 1)):
        assert len(blocks(README, language)) >= least, language


def test_each_getting_started_page_has_code():
    start = ROOT / "docs" / "getting_started"
    if not start.is_dir():
        pytest.skip("no documentation sources beside this copy")
    for host, language in (("python", "python"), ("sklearn", "python"), ("r", "r"),
                           ("c", "c"), ("cpp", "cpp")):
        assert blocks(start / (host + ".md"), language), host


def test_a_failing_block_is_reported(tmp_path):
    page = tmp_path / "page.md"
    page.write_text("```python\nx = 1\n```\ntext\n```python\nassert x == 2\n```\n")
    with pytest.raises(AssertionError):
        run_python_page(page)


def run_python_page(page):
    namespace = {"__name__": "__doc_page__"}
    for k, code in enumerate(blocks(page, "python")):
        exec(compile(code, "%s python block %d" % (page.name, k), "exec"), namespace)


@pytest.mark.parametrize("page", with_blocks("python"), ids=page_id)
def test_python_blocks_run(page):
    code = "".join(blocks(page, "python"))
    for module in ("dask.array", "distributed", "sklearn", "patsy", "pandas", "matplotlib"):
        if module in code:
            pytest.importorskip(module)
    if "matplotlib" in code:
        import matplotlib
        matplotlib.use("Agg")
    run_python_page(page)


@pytest.fixture(scope="module")
def libdir(tmp_path_factory):
    """A directory to link against: the library the package loads, under its
    own name and its SONAME, which an installed copy has no file of."""
    library = pathlib.Path(bsbasis.library_path())
    found = tmp_path_factory.mktemp("lib")
    soname = re.search(r"SONAME\s+(\S+)", subprocess.run(
        ["objdump", "-p", str(library)], capture_output=True, text=True, check=True).stdout)
    for name in {"libbsbasis.so", soname.group(1) if soname else "libbsbasis.so"}:
        (found / name).symlink_to(library)
    return found


NATIVE = [("c", "cc", ["-std=c99"]), ("cpp", "c++", ["-std=c++17"])]


@pytest.mark.parametrize("language, compiler, flags, page", [
    (language, compiler, flags, page)
    for language, compiler, flags in NATIVE for page in with_blocks(language)
], ids=lambda v: page_id(v) if isinstance(v, pathlib.Path) else None)
def test_native_blocks_build_and_run(tmp_path, libdir, language, compiler, flags, page):
    if shutil.which(compiler) is None:
        pytest.skip("no %s" % compiler)
    eigen = [] if language == "c" else ["-I", "/usr/include/eigen3"]
    for k, code in enumerate(blocks(page, language)):
        source = tmp_path / ("block%d.%s" % (k, language))
        source.write_text(code)
        program = tmp_path / ("block%d" % k)
        built = subprocess.run([compiler, *flags, "-Wall", "-Werror", "-I", str(ROOT / "include"),
                                *eigen, str(source), "-o", str(program), "-L", str(libdir),
                                "-lbsbasis", "-Wl,-rpath," + str(libdir)],
                               capture_output=True, text=True)
        assert built.returncode == 0, "%s block %d:\n%s" % (page.name, k, built.stderr)
        run = subprocess.run([str(program)], capture_output=True, text=True, timeout=60)
        assert run.returncode == 0, run.stderr
        assert run.stdout, "%s block %d prints nothing" % (page.name, k)
