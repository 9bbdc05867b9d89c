"""Netpbm image files (P2, P5, P6) and roots files."""

import os
import stat
import tempfile

import numpy as np

from . import _foresting
from ._checks import Seeds, as_seeds, integer_image, seeds_for, int_arg

__all__ = ["read_image", "write_image", "read_roots", "write_roots"]

_GREY8, _GREY_INT, _COLOR8, _GREY16, _COLOR16 = 1, 2, 3, 4, 5


def read_image(path, with_max=False):
    """Read a P2, P5 or P6 file.

    Returns a (rows, columns) array for grey files and (rows, columns, 3)
    (red, green, blue) for P6: uint8 for samples up to 255, uint16 for
    16-bit P5/P6, int32 for P2 (whose values may be negative). With
    ``with_max`` returns ``(array, max_value)``, the header's maximum raised
    to the largest sample, which is what the programs use as the image's top
    level. A file that cannot be opened, read or parsed raises OSError.
    """
    array, max_value = _foresting.read_image(os.fspath(path))
    return (array, int(max_value)) if with_max else array


def _file_type(a):
    colour = a.ndim == 3
    if a.dtype == np.uint8 or a.dtype == np.bool_:
        return _COLOR8 if colour else _GREY8
    if a.dtype == np.uint16:
        return _COLOR16 if colour else _GREY16
    if colour:
        raise ValueError(f"a colour image is written from uint8 or uint16 samples, not {a.dtype}")
    return _GREY_INT


def _write_atomically(path, write):
    """Runs write(name) on a new file next to path and renames it over path
    only when it succeeded, so a failure leaves nothing behind. Special files
    (devices, pipes) are written directly."""
    path = os.fspath(path)
    try:
        mode = os.stat(path).st_mode
    except FileNotFoundError:
        mode = None
    if mode is not None and not stat.S_ISREG(mode):
        write(path)
        return
    folder = os.path.dirname(os.path.abspath(path))
    fd, temp = tempfile.mkstemp(prefix=".foresting-", dir=folder)
    os.close(fd)
    try:
        write(temp)
        if mode is not None:
            os.chmod(temp, stat.S_IMODE(mode))
        else:
            umask = os.umask(0)
            os.umask(umask)
            os.chmod(temp, 0o666 & ~umask)
        os.replace(temp, path)
    except BaseException:
        try:
            os.unlink(temp)
        except FileNotFoundError:
            pass
        raise


def write_image(path, image):
    """Write an image file chosen by the array's dtype: uint8 (or bool) as
    P5, or P6 for (rows, columns, 3); uint16 as 16-bit P5/P6; any other
    integer dtype (grey only) as P2 text. OSError when the file cannot be
    written; nothing is left at ``path`` on failure."""
    a = integer_image(image)
    t = _file_type(a)
    _write_atomically(path, lambda name: _foresting.write_image(name, a, t))


def read_roots(path, shape):
    """Read a roots file (count, then "x y label" lines) for an image of the
    given (rows, columns) shape; returns Seeds with costs 0. OSError for a
    file that cannot be read, a seed that is not three integers or lies
    outside the image, or a count that is not positive."""
    rows, cols = int_arg(shape[0], "rows", 1), int_arg(shape[1], "columns", 1)
    return as_seeds(_foresting.read_roots(os.fspath(path), rows, cols))


def write_roots(path, seeds, shape):
    """Write seeds as a roots file for an image of the given shape (costs
    are not stored). Nothing is left at ``path`` on failure."""
    rows, cols = int_arg(shape[0], "rows", 1), int_arg(shape[1], "columns", 1)
    s = seeds_for(seeds, (rows, cols), costs=False)
    _write_atomically(path, lambda name: _foresting.write_roots(name, s.coords, s.labels, rows, cols))
