"""Builds libbsbasis.so with CMake and puts it inside the bsbasis package."""

import os
import shutil

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

ROOT = os.path.dirname(os.path.abspath(__file__))
LIBRARY_NAME = "libbsbasis.so"
# Setuptools' own build tree; the repository's build/ belongs to developers.
BUILD_BASE = "build-python"

CMAKE_OPTIONS = [
    "-DCMAKE_BUILD_TYPE=Release",
    "-DBUILD_TESTING=OFF",
    "-DBSBASIS_BUILD_BENCH=OFF",
    "-DBSBASIS_BUILD_FUZZ=OFF",
    "-DBSBASIS_BUILD_EXAMPLES=OFF",
    "-DBSBASIS_INSTALL=OFF",
    "-DBSBASIS_PYTHON=OFF",
]


def _cache_home(build_dir):
    """The source directory a CMake build directory was configured for, or None."""
    try:
        with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("CMAKE_HOME_DIRECTORY:"):
                    return line.split("=", 1)[1].strip()
    except OSError:
        pass
    return None


class BuildPyWithLibrary(build_py):
    """build_py that also builds the shared library and copies it into the package."""

    def run(self):
        # Start from an empty package directory: a module removed from the
        # source must not linger in the wheel from an earlier build.
        stale = os.path.join(self.build_lib, "bsbasis")
        if os.path.isdir(stale):
            shutil.rmtree(stale)
        super().run()
        build_dir = os.path.join(self.get_finalized_command("build").build_temp, "cmake")
        home = _cache_home(build_dir)
        if home is not None and os.path.realpath(home) != os.path.realpath(ROOT):
            # Configured for another checkout: CMake refuses to reuse it.
            shutil.rmtree(build_dir)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        self.spawn(["cmake", "-S", ROOT, "-B", build_dir] + CMAKE_OPTIONS)
        self.spawn(["cmake", "--build", build_dir, "--target", "bsbasis", "-j", jobs])
        # libbsbasis.so is a symlink chain to the versioned file: ship the file.
        built = os.path.realpath(os.path.join(build_dir, LIBRARY_NAME))
        target = os.path.join(self.build_lib, "bsbasis", LIBRARY_NAME)
        self.mkpath(os.path.dirname(target))
        if os.path.lexists(target):
            os.remove(target)
        shutil.copyfile(built, target)
        shutil.copymode(built, target)

    def get_outputs(self, include_bytecode=1):
        return super().get_outputs(include_bytecode) + [
            os.path.join(self.build_lib, "bsbasis", LIBRARY_NAME)]


class BinaryDistribution(Distribution):
    """Marks the distribution as platform-specific: it carries a shared library."""

    def has_ext_modules(self):
        return True


cmdclass = {"build_py": BuildPyWithLibrary}

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:
    bdist_wheel = None

if bdist_wheel is not None:
    class BdistWheelAnyPython(bdist_wheel):
        """Tags the wheel py3-none-<platform>: ctypes loads the library, so it
        fits every Python 3 but only one machine type."""

        def get_tag(self):
            _, _, plat = super().get_tag()
            return "py3", "none", plat

    cmdclass["bdist_wheel"] = BdistWheelAnyPython

# Keep setuptools' files (build tree, egg-info) out of the source directories.
os.makedirs(BUILD_BASE, exist_ok=True)

setup(
    distclass=BinaryDistribution,
    cmdclass=cmdclass,
    options={
        "build": {"build_base": BUILD_BASE},
        "egg_info": {"egg_base": BUILD_BASE},
    },
)
