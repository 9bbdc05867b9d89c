"""`pip install .` into a fresh environment, with the system's CMake and
compiler and no network, and the installed package imported from outside the
source tree. Slow (a whole build): the optimised build's test run only."""

import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_pip_installs_an_importable_package(tmp_path):
    if "asan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("the install test runs in the optimised build only")
    try:
        import setuptools  # noqa: F401
        import wheel  # noqa: F401
        import venv  # noqa: F401
    except ImportError as e:
        pytest.skip(f"{e.name} is not installed (python3-setuptools, python3-wheel, python3-venv)")
    # A copy of the sources, so that the build leaves nothing in the tree.
    src = tmp_path / "src"
    shutil.copytree(ROOT, src, ignore=shutil.ignore_patterns("build", ".git", "*.egg-info", "__pycache__"))
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "PIP_"))}
    env["PIP_NO_INDEX"] = "1"  # nothing may be fetched
    v = tmp_path / "v"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(v)], check=True, env=env)
    subprocess.run([str(v / "bin" / "pip"), "install", "-q", "--no-build-isolation", str(src)], check=True,
                   env=env, cwd=tmp_path)
    shutil.rmtree(src)
    out = subprocess.run([str(v / "bin" / "python"), "-c",
                          "import foresting, numpy as np; print(foresting.__version__); print(foresting.__file__); "
                          "print(int(foresting.dilation(np.eye(3, dtype=np.uint8), 1).sum()))"],
                         check=True, env=env, cwd=tmp_path, capture_output=True, text=True).stdout.split("\n")
    version = re.search(r"project\(ift_toolkit VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
    assert out[0] == version
    assert out[1].startswith(str(v))
    assert out[2] == "7"
