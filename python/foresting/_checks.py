"""Input checks shared by the package: every public function validates what
it is given here before the extension module sees it, so that bad input
raises a ValueError with a clear message instead of reaching the library."""

import contextlib
import os
from typing import NamedTuple

import numpy as np

INT32_MIN = -2**31
INT32_MAX = 2**31 - 1


class Seeds(NamedTuple):
    """A seed set: ``coords`` (n, 2) of (row, column), ``labels`` (n,) and
    ``costs`` (n,) initial path costs. Seeds enter an IFT in this order; a
    pixel seeded twice takes its later seed."""

    coords: np.ndarray
    labels: np.ndarray
    costs: np.ndarray

    def __len__(self):  # the number of seeds, not of fields
        return int(self.labels.shape[0])


def integer_image(image, name="image", colour=True, bands_ok=False):
    """The array as given, in the machine's byte order (a copy only when it is
    not): 2-D grey, or 3-D (rows, columns, 3) colour when `colour`; integer
    or bool dtype. Every image enters the package here, so byte order,
    memory order and strides never reach the operators or their results'
    dtypes."""
    a = np.asarray(image)
    if a.dtype.kind not in "uib":
        raise ValueError(f"{name} must hold integers (uint8, uint16, ..., int32), not {a.dtype}")
    if not a.dtype.isnative:
        a = a.astype(a.dtype.newbyteorder("="))
    if a.ndim == 3 and colour:
        if a.shape[2] != 3 and not bands_ok:
            raise ValueError(f"{name} must be (rows, columns) or (rows, columns, 3), not {a.shape}")
    elif a.ndim != 2:
        raise ValueError(f"{name} must be a 2-D (rows, columns) array, not {a.ndim}-D")
    if a.shape[0] < 1 or a.shape[1] < 1:
        raise ValueError(f"{name} must have at least one row and one column")
    if a.shape[0] * a.shape[1] > INT32_MAX:
        raise ValueError(f"{name} has more pixels than the library can index")
    if a.size and (a.dtype.itemsize > 4 or (a.dtype.itemsize == 4 and a.dtype.kind == "u")):
        lo, hi = int(a.min()), int(a.max())
        if lo < INT32_MIN or hi > INT32_MAX:
            raise ValueError(f"{name} holds values outside the int32 range")
    return a


def require_memory(nbytes, what):
    """MemoryError, before anything is allocated, when a result or working
    block of nbytes takes more than a quarter of the machine's physical
    memory (the library's own rule for what a parameter may ask for)."""
    try:
        physical = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
    except (AttributeError, ValueError, OSError):
        return
    if physical > 0 and nbytes > physical / 4:
        raise MemoryError(f"{what} would need {nbytes / 2**20:.0f} MiB, more than a quarter of this "
                          f"machine's memory")


def grey_image(image, name="image"):
    return integer_image(image, name, colour=False)


def non_negative(a, name="image"):
    if a.dtype.kind == "i" and a.size and int(a.min()) < 0:
        raise ValueError(f"{name} holds values below 0, which this operator cannot take")
    return a


def same_size(a, b, name_a, name_b):
    if a.shape[:2] != b.shape[:2]:
        raise ValueError(f"{name_b} {b.shape[:2]} does not have the size of {name_a} {a.shape[:2]}")


def int_arg(value, name, low=INT32_MIN, high=INT32_MAX):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, np.integer)):
        raise ValueError(f"{name} must be an integer, not {value!r}")
    v = int(value)
    if v < low or v > high:
        raise ValueError(f"{name} must lie in [{low}, {high}], not {v}")
    return v


def _int32_vector(values, n, name):
    v = np.asarray(values)
    if v.ndim == 0:
        v = np.full(n, v)
    if v.shape != (n,):
        raise ValueError(f"seed {name} must be {n} values, not shape {v.shape}")
    if v.dtype.kind not in "uib":
        raise ValueError(f"seed {name} must be integers, not {v.dtype}")
    if n and (int(v.min()) < INT32_MIN or int(v.max()) > INT32_MAX):
        raise ValueError(f"seed {name} must fit in int32")
    return np.ascontiguousarray(v, dtype=np.int32)


def seeds_for(seeds, shape, costs=True, non_negative_costs=False):
    """A Seeds record checked against an image of the given shape: seeds may
    be a Seeds, a tuple (coords, labels[, costs]) or an (n, 2) array of
    (row, column) coordinates (labels 1, 2, ...). Costs default to 0."""
    if isinstance(seeds, tuple) and not isinstance(seeds, Seeds):
        if len(seeds) not in (2, 3):
            raise ValueError("seeds must be (coords, labels) or (coords, labels, costs)")
        coords, labels = seeds[0], seeds[1]
        cost_values = seeds[2] if len(seeds) == 3 else 0
    elif isinstance(seeds, Seeds):
        coords, labels, cost_values = seeds
    else:
        coords = seeds
        labels = None
        cost_values = 0
    c = np.asarray(coords)
    if c.size == 0:
        c = c.reshape(0, 2)
    if c.ndim != 2 or c.shape[1] != 2:
        raise ValueError(f"seed coordinates must be an (n, 2) array of (row, column), not shape {c.shape}")
    if c.dtype.kind not in "ui":
        raise ValueError(f"seed coordinates must be integers, not {c.dtype}")
    n = c.shape[0]
    rows, cols = shape[0], shape[1]
    if n:
        r, k = c[:, 0], c[:, 1]
        outside = (r < 0) | (r >= rows) | (k < 0) | (k >= cols)
        if outside.any():
            i = int(np.argmax(outside))
            raise ValueError(f"seed {i} at (row, column) ({int(r[i])}, {int(k[i])}) lies outside "
                             f"the {rows} x {cols} image")
    if labels is None:
        labels = np.arange(1, n + 1)
    lab = _int32_vector(labels, n, "labels")
    cst = _int32_vector(cost_values, n, "costs") if costs else np.zeros(n, np.int32)
    if non_negative_costs and n and int(cst.min()) < 0:
        raise ValueError("seed costs must be 0 or more")
    return Seeds(np.ascontiguousarray(c, dtype=np.int32), lab, cst)


def as_seeds(t):
    """The extension's (coords, labels, costs) tuple as Seeds."""
    return Seeds(*t)


def result_dtype(*arrays):
    """The dtype that holds every value of the given arrays (bool as uint8)."""
    dt = np.result_type(*[a.dtype for a in arrays])
    if dt.kind == "b":
        return np.dtype(np.uint8)
    if dt.itemsize > 4 or (dt.kind == "u" and dt.itemsize == 4):
        return np.dtype(np.int32)
    return dt


def connectivity_arg(connectivity):
    if isinstance(connectivity, (bool, np.bool_)) or connectivity not in (4, 8):
        raise ValueError(f"connectivity must be 4 or 8, not {connectivity!r}")
    return int(connectivity)


@contextlib.contextmanager
def working_directory(workdir):
    """Runs the block in `workdir` (None: where we are) and returns to the
    previous working directory. The working directory is process-wide."""
    if workdir is None:
        yield
        return
    if not os.path.isdir(workdir):
        raise OSError(f"workdir {os.fspath(workdir)!r} is not a directory")
    previous = os.getcwd()
    os.chdir(workdir)
    try:
        yield
    finally:
        os.chdir(previous)
