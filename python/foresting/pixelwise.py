"""Pixel-wise operations and overlays."""

import numpy as np

from . import _foresting
from ._checks import grey_image, integer_image, int_arg, require_memory, same_size

__all__ = ["threshold", "band_pass", "negative", "highlight", "segmentation_borders",
           "add_border", "remove_border", "histogram"]


def threshold(image, low, high):
    """Boolean mask of low <= value <= high."""
    a = grey_image(image)
    return _foresting.threshold(a, int_arg(low, "low"), int_arg(high, "high"), False) != 0


def band_pass(image, low, high):
    """The values in [low, high], 0 elsewhere, in the image's dtype."""
    a = grey_image(image)
    if a.dtype.kind == "b":
        a = a.view(np.uint8)
    return _foresting.threshold(a, int_arg(low, "low"), int_arg(high, "high"), True)


def negative(image):
    """top - value, with top 255 for uint8, 65535 for uint16 and otherwise
    the largest value (at least 0); in the image's dtype."""
    a = grey_image(image)
    if a.dtype.kind == "b":
        a = a.view(np.uint8)
    if a.dtype in (np.uint8, np.uint16):
        top = np.iinfo(a.dtype).max
    else:
        top = max(int(a.max()), 0)
    out = _foresting.negative(a, top)
    return out


def _colour(color):
    if len(color) != 3:
        raise ValueError("color must be (red, green, blue)")
    return [int_arg(c, "color") for c in color]


def highlight(image, mask, color=(255, 0, 0)):
    """RGB copy of a grey or colour image with the pixels where mask > 0 in
    ``color``; (rows, columns, 3) in the image's dtype."""
    a = integer_image(image)
    m = grey_image(mask, "mask")
    same_size(a, m, "image", "mask")
    return _foresting.highlight(a, m, *_colour(color))


def segmentation_borders(image, labels, color=(255, 0, 0)):
    """RGB copy of the image with the lower-labelled side of every border
    between labels drawn in ``color``."""
    a = integer_image(image)
    lab = grey_image(labels, "labels")
    same_size(a, lab, "image", "labels")
    return _foresting.segmentation_borders(a, lab, *_colour(color))


def add_border(image, width):
    """The image inside a zero frame of the given width."""
    a = integer_image(image)
    w = int_arg(width, "width", 0)
    if (a.shape[0] + 2 * w) * (a.shape[1] + 2 * w) > 2**31 - 1:
        raise ValueError("the framed image would have more pixels than the library can index")
    rows, cols = a.shape[0] + 2 * w, a.shape[1] + 2 * w
    bands = a.shape[2] if a.ndim == 3 else 1
    # The library's int bands of the framed image and the array they are copied into.
    require_memory(rows * cols * bands * (4 + a.dtype.itemsize), f"a framed image of {rows} x {cols} pixels")
    return _foresting.border(a, w, True)


def remove_border(image, width):
    """The image without a frame of the given width."""
    a = integer_image(image)
    w = int_arg(width, "width", 0)
    if 2 * w >= min(a.shape[0], a.shape[1]):
        raise ValueError(f"a frame of width {w} leaves nothing of a {a.shape[0]} x {a.shape[1]} image")
    return _foresting.border(a, w, False)


def histogram(image, mask=None):
    """Counts of the values 0 .. top over the pixels where mask > 0 (every
    pixel by default), top being the largest such value; values below 0 are
    not counted. int64 array of top + 1 counts."""
    a = grey_image(image)
    m = np.ones(a.shape, np.uint8) if mask is None else grey_image(mask, "mask")
    same_size(a, m, "image", "mask")
    counted = a[m > 0]
    top = int(counted.max()) if counted.size else 0
    # The library's float counters, their copy and the int64 result.
    require_memory((max(top, 0) + 1) * 16, f"a histogram of {top + 1} bins")
    return _foresting.histogram(a, m).astype(np.int64)
