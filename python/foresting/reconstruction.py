"""Connected filters by reconstruction from seeds: dome cutting
(reconstruction by dilation) and basin filling (reconstruction by erosion),
over the whole image or only in the domes or basins the seeds mark, and the
pipeline of the ``sieve`` program."""

import numpy as np

from . import _foresting
from ._checks import grey_image, non_negative, same_size, seeds_for

__all__ = ["cut_domes", "fill_basins", "sieve", "reconstruction"]


def _mode(mode):
    if mode not in ("global", "local"):
        raise ValueError(f"mode must be 'global' or 'local', not {mode!r}")
    return mode == "global"


def _run(image, seeds, mode, cut):
    a = non_negative(grey_image(image))
    s = seeds_for(seeds, a.shape, non_negative_costs=True)
    if len(s) == 0:
        raise ValueError("a reconstruction needs at least one seed")
    top = int(s.costs.max())
    dtype = a.dtype if a.dtype.kind != "b" and top <= np.iinfo(a.dtype).max else np.dtype(np.int32)
    if a.dtype.kind == "b":
        dtype = np.dtype(np.uint8) if top <= 255 else np.dtype(np.int32)
    return _foresting.reconstruct(a, s.coords, s.labels, s.costs, cut, _mode(mode), dtype)


def cut_domes(image, seeds, mode="global"):
    """Reconstruction by dilation of the seeds under ``image``.

    Each seed starts with its cost and spreads over the 8-connected pixels,
    a path's value being the least of its cost and the levels it crosses;
    every pixel takes the best path. ``mode='global'`` rebuilds the whole
    image (domes without seeds are cut at their pass); ``'local'`` floods
    only the domes at or above each seed's cost and leaves every other pixel
    as it was. Returns ``(filtered, labels)``: filtered in the image's dtype
    (int32 when a seed cost does not fit it), labels int32 (the label of the
    seed that conquered each pixel, 0 where none did).
    """
    return _run(image, seeds, mode, True)


def fill_basins(image, seeds, mode="global"):
    """Reconstruction by erosion, the dual of :func:`cut_domes`: paths take
    the greatest of the seed cost and the levels they cross, and the least
    path wins; locally only the basins at or below each seed's cost fill."""
    return _run(image, seeds, mode, False)


def sieve(image, reference, seeds, cut_domes=True, mode="local", reference_max=None):
    """The ``sieve`` program as a function: each seed's cost is the
    reference level at its pixel, one below it for a local cut (raised to
    0), one above it for a local fill (lowered to ``reference_max``).

    ``reference_max`` is the top of the reference's range, the maximum of
    its file (``read_image(..., with_max=True)``); by default 255 for uint8,
    65535 for uint16 and the largest value otherwise. Returns
    ``(filtered, labels)`` as :func:`cut_domes`.
    """
    a = non_negative(grey_image(image))
    ref = non_negative(grey_image(reference, "reference"), "reference")
    same_size(a, ref, "image", "reference")
    s = seeds_for(seeds, a.shape, costs=False)
    if len(s) == 0:
        raise ValueError("the seed set is empty")
    if reference_max is None:
        if ref.dtype in (np.uint8, np.uint16):
            reference_max = np.iinfo(ref.dtype).max
        else:
            reference_max = max(int(ref.max()), 0)
    costs = ref[s.coords[:, 0], s.coords[:, 1]].astype(np.int64)
    is_global = _mode(mode)
    if cut_domes:
        if not is_global:
            costs -= 1
        costs = np.maximum(costs, 0)
    else:
        if not is_global:
            costs += 1
        costs = np.minimum(costs, int(reference_max))
    return _run(a, (s.coords, s.labels, costs), mode, bool(cut_domes))


def reconstruction(seed, mask, method="dilation"):
    """Grey-level reconstruction of a seed image under (``'dilation'``) or
    above (``'erosion'``) a mask of the same size, in the manner of
    scikit-image's ``reconstruction``: every pixel is a seed whose cost is
    its seed value. Returns the reconstructed image in the mask's dtype."""
    m = non_negative(grey_image(mask, "mask"), "mask")
    s = non_negative(grey_image(seed, "seed"), "seed")
    same_size(m, s, "mask", "seed")
    if method not in ("dilation", "erosion"):
        raise ValueError(f"method must be 'dilation' or 'erosion', not {method!r}")
    if method == "dilation" and (s > m).any():
        raise ValueError("seed must lie at or below the mask for a reconstruction by dilation")
    if method == "erosion" and (s < m).any():
        raise ValueError("seed must lie at or above the mask for a reconstruction by erosion")
    # Every pixel is a seed, in raster order, with label 1: the extension
    # makes that seed set itself rather than take it as arrays.
    dtype = np.dtype(np.uint8) if m.dtype.kind == "b" else m.dtype
    if int(s.max()) > np.iinfo(dtype).max:
        dtype = np.dtype(np.int32)
    return _foresting.reconstruct_image(m, s, method == "dilation", dtype)
