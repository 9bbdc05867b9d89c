"""Builds the compiled module of `foresting` with CMake (the project's own
build, the library and the bindings only) and puts it beside the package's
Python files. The version is the CMake project's."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    match = re.search(r"project\(\s*ift_toolkit\s+VERSION\s+([0-9.]+)", text)
    if not match:
        raise RuntimeError("CMakeLists.txt has no project version")
    return match.group(1)


class CMakeBuild(build_ext):
    """Configures and builds the `foresting` target for the interpreter that
    runs pip, then copies the compiled module into the build."""

    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DPX_BUILD_TESTS=OFF", "-DPX_BUILD_BENCH=OFF",
                        "-DFORESTING_INSTALL_DEPENDENCIES=OFF", f"-DFORESTING_PYTHON={sys.executable}"],
                       check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", str(build), "--target", "foresting", "-j", jobs], check=True)
        built = sorted((build / "python" / "foresting").glob("_foresting*.so"))
        if not built:
            raise RuntimeError("CMake did not build the foresting module: pybind11 (pybind11-dev), "
                               "numpy, pytest or the Python headers (python3-dev) are missing for "
                               f"{sys.executable}; see the warnings above")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)


setup(
    version=project_version(),
    packages=["foresting"],
    package_dir={"": "python"},
    ext_modules=[Extension("foresting._foresting", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
