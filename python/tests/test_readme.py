"""The README's code blocks run as pasted: each Python block in a namespace
of its own, the C and C++ blocks compiled against the headers and linked
with the library the package loads."""
import pathlib
import re
import shutil
import subprocess

import pytest

import bsbasis

ROOT = pathlib.Path(__file__).resolve().parents[2]
README = ROOT / "README.md"


def blocks(language):
    text = README.read_text(encoding="utf-8")
    return re.findall(r"^```%s\n(.*?)^```" % re.escape(language), text, re.S | re.M)


def test_the_readme_has_a_block_for_each_host():
    for language, least in (("python", 4), ("c", 1), ("cpp", 1), ("r", 1)):
        assert len(blocks(language)) >= least, language


@pytest.mark.parametrize("index", range(len(blocks("python"))))
def test_python_block_runs(index):
    code = blocks("python")[index]
    if "bsbasis.dask" in code:
        pytest.importorskip("dask.array")
        pytest.importorskip("distributed")
    if "bsbasis.sklearn" in code:
        pytest.importorskip("sklearn")
    exec(compile(code, "README.md python block %d" % index, "exec"), {})


@pytest.mark.parametrize("language, compiler, flags", [
    ("c", "cc", ["-std=c99"]),
    ("cpp", "c++", ["-std=c++17"]),
])
def test_native_block_builds_and_runs(tmp_path, language, compiler, flags):
    if shutil.which(compiler) is None:
        pytest.skip("no %s" % compiler)
    library = pathlib.Path(bsbasis.library_path())
    # The program needs the library by its SONAME, which an installed copy
    # (the package's libbsbasis.so alone) has no file of: a link to it does.
    libdir = tmp_path / "lib"
    libdir.mkdir()
    soname = re.search(r"SONAME\s+(\S+)", subprocess.run(
        ["objdump", "-p", str(library)], capture_output=True, text=True, check=True).stdout)
    for name in {"libbsbasis.so", soname.group(1) if soname else "libbsbasis.so"}:
        (libdir / name).symlink_to(library)
    for k, code in enumerate(blocks(language)):
        source = tmp_path / ("block%d.%s" % (k, language))
        source.write_text(code)
        program = tmp_path / ("block%d" % k)
        built = subprocess.run([compiler, *flags, "-Wall", "-Werror", "-I", str(ROOT / "include"),
                                str(source), "-o", str(program), "-L", str(libdir),
                                "-lbsbasis", "-Wl,-rpath," + str(libdir)],
                               capture_output=True, text=True)
        assert built.returncode == 0, "block %d:\n%s" % (k, built.stderr)
        run = subprocess.run([str(program)], capture_output=True, text=True, timeout=60)
        assert run.returncode == 0, run.stderr
        assert run.stdout, "block %d prints nothing" % k
