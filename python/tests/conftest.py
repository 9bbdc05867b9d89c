import os
import pathlib
import subprocess

import numpy as np
import pytest

HERE = pathlib.Path(__file__).resolve().parent
DATA = pathlib.Path(os.environ.get("FORESTING_DATA", HERE.parent.parent / "data"))


@pytest.fixture
def data():
    return DATA


@pytest.fixture
def coins():
    import foresting
    return foresting.read_image(DATA / "coins.pgm")


@pytest.fixture
def rng():
    return np.random.default_rng(13)


def program(name):
    path = os.environ.get(f"FORESTING_{name.upper()}")
    if not path or not os.path.exists(path):
        pytest.skip(f"the {name} program is not built")
    return path


@pytest.fixture
def run_program():
    """Runs sower or sieve in a folder; fails on a non-zero status."""
    def run(name, args, cwd):
        result = subprocess.run([program(name)] + [str(a) for a in args], cwd=cwd,
                                capture_output=True, text=True)
        assert result.returncode == 0, result.stderr
        return result
    return run
