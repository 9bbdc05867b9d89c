"""Exact operators on chunked (Dask) arrays, and large image files read and
written chunk by chunk.

Every operator takes a 2-D integer dask array of any chunking (a numpy array
is chunked for the caller) and returns what the single call of
:mod:`foresting` returns on the whole array, element for element and in
dtype. Inside a chunk the single calls do the work; the chunks are joined on
their faces only, so the number of tasks and the data one task receives grow
with the number of chunks and their sides, never with the whole image.

What each operator costs beyond one call per chunk:

- ``dilation``, ``erosion``: a halo of floor(sqrt(squared_radius)) pixels;
  ``opening``, ``closing``: twice that; ``gradient``: 1 pixel;
- ``area_opening``, ``area_closing``: a halo of ``area - 1`` pixels (chunks
  smaller than that are merged first);
- ``label``: two passes per chunk and one join task on the chunk faces;
- ``regional_maxima``, ``regional_minima``: one pass per chunk and one join
  task on the faces;
- ``reconstruction``: one pass per chunk, then rounds that carry it on
  from the face pixels that change, as many as the faces a propagation
  crosses.

This module needs dask; ``import foresting`` does not load it.
"""

import math

import dask
import dask.array as da
import numpy as np

import foresting
from . import _foresting
from ._checks import int_arg
from ._chunked_faces import (Faces, apply_offers, face_offers, first_rows, join_extrema_faces,
                             join_label_faces, label_summary, label_table)
from ._chunked_io import read_image, write_image

__all__ = ["label", "regional_maxima", "regional_minima", "reconstruction", "area_opening",
           "area_closing", "dilation", "erosion", "opening", "closing", "gradient",
           "read_image", "write_image"]


def _as_dask(image, name="image"):
    a = image if isinstance(image, da.Array) else da.asarray(np.asarray(image))
    if a.ndim != 2:
        raise ValueError(f"{name} must be a 2-D (rows, columns) array, not {a.ndim}-D")
    if a.dtype.kind not in "uib":
        raise ValueError(f"{name} must hold integers (uint8, uint16, ..., int32), not {a.dtype}")
    if a.shape[0] < 1 or a.shape[1] < 1:
        raise ValueError(f"{name} must have at least one row and one column")
    return a


def _out_dtype(func, dtype):
    """The dtype the single call returns for an input of this dtype."""
    out = func(np.zeros((1, 1), dtype))
    return (out[0] if isinstance(out, tuple) else out).dtype


def _merged_chunks(chunks, size, depth):
    """Chunks along one axis merged so that each holds at least `depth`
    elements (one chunk when the axis is shorter), and the depth kept."""
    if depth == 0:
        return chunks, 0
    if size <= depth:
        return (size,), 0
    merged = []
    for c in chunks:
        if merged and merged[-1] < depth:
            merged[-1] += c
        else:
            merged.append(c)
    if len(merged) > 1 and merged[-1] < depth:
        last = merged.pop()
        merged[-1] += last
    return tuple(merged), (depth if len(merged) > 1 else 0)


def _local(func, a, depth):
    """func applied to every chunk with a halo of `depth` pixels, the chunk
    faces at the image border treated as the border (no padding)."""
    dtype = _out_dtype(func, a.dtype)
    rows, d0 = _merged_chunks(a.chunks[0], a.shape[0], depth)
    cols, d1 = _merged_chunks(a.chunks[1], a.shape[1], depth)
    if (rows, cols) != a.chunks:
        a = a.rechunk((rows, cols))

    def block(x):
        out = func(x)
        return out[0] if isinstance(out, tuple) else out

    if d0 == 0 and d1 == 0:
        return a.map_blocks(block, dtype=dtype)
    return a.map_overlap(block, depth={0: d0, 1: d1}, boundary="none", dtype=dtype,
                         trim=True)


def _radius(squared_radius):
    return math.isqrt(int_arg(squared_radius, "squared_radius", 0))


def dilation(image, squared_radius=1):
    """Dilation by the disc of the given squared radius, chunk by chunk.

    Parameters
    ----------
    image : dask.array.Array or numpy.ndarray
        2-D integer image.
    squared_radius : int
        As :func:`foresting.dilation`.

    Returns
    -------
    dask.array.Array
        Equal to ``foresting.dilation(image, squared_radius)``.

    Notes
    -----
    One task per chunk with a halo of floor(sqrt(squared_radius)) pixels.

    Examples
    --------
    >>> import numpy as np, foresting, foresting.chunked as fc
    >>> im = np.random.default_rng(0).integers(0, 9, (50, 40), dtype=np.uint8)
    >>> out = fc.dilation(im.copy(), 5)
    >>> bool((out.rechunk(17).compute() == foresting.dilation(im, 5)).all())
    True
    """
    r2 = int_arg(squared_radius, "squared_radius", 0)
    return _local(lambda x: foresting.dilation(x, r2), _as_dask(image), _radius(r2))


def erosion(image, squared_radius=1):
    """Erosion by the disc of the given squared radius, chunk by chunk.

    One task per chunk with a halo of floor(sqrt(squared_radius)) pixels;
    equal to ``foresting.erosion(image, squared_radius)``.

    Examples
    --------
    >>> import numpy as np, foresting, foresting.chunked as fc
    >>> im = np.random.default_rng(0).integers(0, 9, (50, 40), dtype=np.uint8)
    >>> a = fc.erosion(fc.da.from_array(im, 16), 2).compute()
    >>> bool((a == foresting.erosion(im, 2)).all())
    True
    """
    r2 = int_arg(squared_radius, "squared_radius", 0)
    return _local(lambda x: foresting.erosion(x, r2), _as_dask(image), _radius(r2))


def opening(image, squared_radius=1):
    """Opening (erosion then dilation) by the disc, chunk by chunk.

    One task per chunk with a halo of 2 floor(sqrt(squared_radius)) pixels;
    equal to ``foresting.opening(image, squared_radius)``.

    Examples
    --------
    >>> import numpy as np, foresting, foresting.chunked as fc
    >>> im = np.random.default_rng(1).integers(0, 9, (30, 30), dtype=np.uint8)
    >>> bool((fc.opening(fc.da.from_array(im, 7), 4).compute() == foresting.opening(im, 4)).all())
    True
    """
    r2 = int_arg(squared_radius, "squared_radius", 0)
    return _local(lambda x: foresting.opening(x, r2), _as_dask(image), 2 * _radius(r2))


def closing(image, squared_radius=1):
    """Closing (dilation then erosion) by the disc, chunk by chunk.

    One task per chunk with a halo of 2 floor(sqrt(squared_radius)) pixels;
    equal to ``foresting.closing(image, squared_radius)``.

    Examples
    --------
    >>> import numpy as np, foresting, foresting.chunked as fc
    >>> im = np.random.default_rng(1).integers(0, 9, (30, 30), dtype=np.uint8)
    >>> bool((fc.closing(fc.da.from_array(im, 7), 4).compute() == foresting.closing(im, 4)).all())
    True
    """
    r2 = int_arg(squared_radius, "squared_radius", 0)
    return _local(lambda x: foresting.closing(x, r2), _as_dask(image), 2 * _radius(r2))


def gradient(image):
    """Morphological gradient (3 x 3 max - min), chunk by chunk.

    One task per chunk with a halo of 1 pixel; equal to
    ``foresting.gradient(image)``.

    Examples
    --------
    >>> import numpy as np, foresting, foresting.chunked as fc
    >>> im = np.random.default_rng(2).integers(0, 200, (20, 33), dtype=np.uint8)
    >>> bool((fc.gradient(fc.da.from_array(im, 5)).compute() == foresting.gradient(im)).all())
    True
    """
    return _local(foresting.gradient, _as_dask(image), 1)


def _area_depth(area):
    # Every 8-connected set of `area` pixels through a pixel lies within
    # `area - 1` steps of it in the chessboard metric.
    return max(int_arg(area, "area", 0) - 1, 0)


def area_opening(image, area):
    """Area opening, chunk by chunk: every regional maximum lowered to the
    highest level at which the 8-connected set around it holds `area` pixels.

    Parameters
    ----------
    image : dask.array.Array or numpy.ndarray
        2-D integer image, values 0 and above.
    area : int
        The least number of pixels a bright structure keeps.

    Returns
    -------
    dask.array.Array
        The filtered image: ``foresting.area_opening(image, area)[0]``. The
        labels of the single call depend on the order in which ties are
        served and are not offered here.

    Notes
    -----
    One task per chunk with a halo of ``area - 1`` pixels: the value at a
    pixel depends only on the connected sets of `area` pixels through it,
    which lie that close. Chunks smaller than the halo are merged first, so
    a large area makes large chunks.

    Examples
    --------
    >>> import numpy as np, foresting, foresting.chunked as fc
    >>> im = np.random.default_rng(3).integers(0, 4, (40, 40), dtype=np.uint8)
    >>> out = fc.area_opening(fc.da.from_array(im, 13), 6).compute()
    >>> bool((out == foresting.area_opening(im, 6)[0]).all())
    True
    """
    n = int_arg(area, "area", 0)
    return _local(lambda x: foresting.area_opening(x, n)[0], _as_dask(image), _area_depth(n))


def area_closing(image, area):
    """Area closing, chunk by chunk: the dual of :func:`area_opening`.

    Returns ``foresting.area_closing(image, area)[0]`` as a dask array; one
    task per chunk with a halo of ``area - 1`` pixels.

    Examples
    --------
    >>> import numpy as np, foresting, foresting.chunked as fc
    >>> im = np.random.default_rng(3).integers(0, 4, (40, 40), dtype=np.uint8)
    >>> out = fc.area_closing(fc.da.from_array(im, 13), 6).compute()
    >>> bool((out == foresting.area_closing(im, 6)[0]).all())
    True
    """
    n = int_arg(area, "area", 0)
    return _local(lambda x: foresting.area_closing(x, n)[0], _as_dask(image), _area_depth(n))


# ---------------------------------------------------------------------------
# Operators joined across chunk faces

def _grid(a):
    """Blocks of `a` as a 2-D array of delayed arrays."""
    return a.to_delayed()


def _assemble(blocks, chunks, dtype):
    """A dask array from a 2-D list of delayed blocks of the given chunks."""
    return da.block([[da.from_delayed(blocks[i][j], (chunks[0][i], chunks[1][j]), dtype=dtype)
                      for j in range(len(chunks[1]))] for i in range(len(chunks[0]))])


def _label_summary(x):
    # The labels themselves are not kept: the second pass labels the chunk
    # again, which costs less than holding four bytes a pixel until the join.
    labels, count = foresting.label(x)
    return label_summary(labels, count, first_rows(labels, count))


def _label_finish(x, table):
    labels, count = foresting.label(x)
    return _foresting.remap(labels, label_table(count, first_rows(labels, count), table))


def label(image):
    """8-connected labelling of the pixels above 0, over all chunks.

    Parameters
    ----------
    image : dask.array.Array or numpy.ndarray
        2-D integer image.

    Returns
    -------
    labels : dask.array.Array
        int32, equal to ``foresting.label(image)[0]``: components numbered
        1, 2, ... in raster order of their first pixel over the whole image.
    count : dask.array.Array
        0-d, the number of components (``int(count)`` computes it).

    Notes
    -----
    Each chunk is labelled by one call; one task then joins the labels that
    touch across chunk faces and corners (union-find over the face pixels
    only) and numbers every component by its first pixel; a second pass per
    chunk labels it again and renumbers it through a table. No halo; until
    the join, a worker holds only its input chunks.

    Examples
    --------
    >>> import numpy as np, foresting, foresting.chunked as fc
    >>> im = np.random.default_rng(4).integers(0, 2, (30, 41), dtype=np.uint8)
    >>> labels, count = fc.label(fc.da.from_array(im, 7))
    >>> expected, n = foresting.label(im)
    >>> bool((labels.compute() == expected).all()) and int(count) == n
    True
    """
    a = _as_dask(image)
    blocks = _grid(a)
    ni, nj = blocks.shape
    summaries = [[dask.delayed(_label_summary, pure=True)(blocks[i, j]) for j in range(nj)]
                  for i in range(ni)]
    joined = dask.delayed(join_label_faces, pure=True, nout=2)(summaries, a.chunks)
    tables, count = joined
    out = [[dask.delayed(_label_finish, pure=True)(blocks[i, j], tables[i][j]) for j in range(nj)]
           for i in range(ni)]
    labels = _assemble(out, a.chunks, np.int32)
    return labels, da.from_delayed(count, (), dtype=np.int64)


def _extrema_block(x, maxima):
    """The chunk's extrema mask, and what the join needs: the faces of the
    chunk and of its extrema numbered as connected components (8-adjacent
    pixels of two extrema would be one flat zone, so each component is one
    extremum), and how many there are."""
    mask = foresting.regional_maxima(x) if maxima else foresting.regional_minima(x)
    labels, count = foresting.label(mask)
    return mask, (Faces.of(x), Faces.of(labels), count)


def _extrema_finish(part, dropped):
    mask = part[0]
    if len(dropped):
        keep = np.ones(part[1][2] + 1, np.int32)
        keep[0] = 0
        keep[dropped] = 0
        mask = _foresting.remap(foresting.label(mask)[0], keep).astype(bool)
    return mask


def _extrema(image, maxima):
    a = _as_dask(image)
    blocks = _grid(a)
    ni, nj = blocks.shape
    parts = [[dask.delayed(_extrema_block, pure=True)(blocks[i, j], maxima) for j in range(nj)]
             for i in range(ni)]
    summaries = [[parts[i][j][1] for j in range(nj)] for i in range(ni)]
    keep = dask.delayed(join_extrema_faces, pure=True)(summaries, maxima)
    out = [[dask.delayed(_extrema_finish, pure=True)(parts[i][j], keep[i][j]) for j in range(nj)]
           for i in range(ni)]
    return _assemble(out, a.chunks, np.bool_)


def regional_maxima(image):
    """Boolean mask of the regional maxima (8-connected flat zones with no
    higher neighbour), over all chunks.

    Returns a dask array equal to ``foresting.regional_maxima(image)``.

    Notes
    -----
    Each chunk finds its own maxima by one call; a flat zone cut by chunk
    faces is a maximum when every piece of it is one in its chunk and no
    pixel across a face (corners included) is higher. One task joins the
    pieces over the face pixels; no halo.

    Examples
    --------
    >>> import numpy as np, foresting, foresting.chunked as fc
    >>> im = np.random.default_rng(5).integers(0, 3, (25, 31), dtype=np.uint8)
    >>> out = fc.regional_maxima(fc.da.from_array(im, 6)).compute()
    >>> bool((out == foresting.regional_maxima(im)).all())
    True
    """
    return _extrema(image, True)


def regional_minima(image):
    """Boolean mask of the regional minima, over all chunks: the dual of
    :func:`regional_maxima`, equal to ``foresting.regional_minima(image)``.

    Examples
    --------
    >>> import numpy as np, foresting, foresting.chunked as fc
    >>> im = np.random.default_rng(5).integers(0, 3, (25, 31), dtype=np.uint8)
    >>> out = fc.regional_minima(fc.da.from_array(im, 6)).compute()
    >>> bool((out == foresting.regional_minima(im)).all())
    True
    """
    return _extrema(image, False)


def _rebuild(seed, mask, dilate, dtype):
    """One chunk's reconstruction, by the single call."""
    out = foresting.reconstruction(seed, mask, "dilation" if dilate else "erosion")
    return out.astype(dtype, copy=False)


def _resume(state, mask, offers, dilate, dtype):
    """One chunk's reconstruction carried on from its last state, its faces
    raised (or lowered) by what the neighbouring chunks offer across them:
    only the pixels that change are visited."""
    s = np.array(state, np.int32)
    apply_offers(s, mask, offers, dilate)
    h, w = s.shape
    faces = np.unique(np.concatenate([np.arange(w), (h - 1) * w + np.arange(w),
                                      np.arange(h) * w, np.arange(h) * w + w - 1]))
    starts = faces[s.ravel()[faces] != np.asarray(state).ravel()[faces]].astype(np.int64)
    out = _foresting.propagate(s, np.ascontiguousarray(mask, np.int32), starts, dilate)
    return out.astype(dtype, copy=False)


def reconstruction(seed, mask, method="dilation", halo=None):
    """Grey-level reconstruction of `seed` under (or above) `mask`, over all
    chunks.

    Parameters
    ----------
    seed, mask : dask.array.Array or numpy.ndarray
        2-D integer images of one size, values 0 and above; the seed is
        rechunked as the mask.
    method : {'dilation', 'erosion'}
    halo : int, optional
        Pixels around each chunk that the first round also reconstructs
        (then drops): a larger halo costs more in that round and may save
        later rounds. By default none, since later rounds cost little. The
        result does not depend on it.

    Returns
    -------
    dask.array.Array
        Equal to ``foresting.reconstruction(seed, mask, method)``, in the
        mask's dtype.

    Notes
    -----
    The first round reconstructs every chunk on its own (with `halo`
    pixels of its neighbours around it), one call per chunk. Each further
    round hands every chunk the faces of its neighbours (corners included)
    as extra seeds, on the chunks where these raise (lower) a face pixel,
    and carries their reconstruction on from those pixels only, at a cost
    that follows the pixels that change. The result of each pixel is
    unique, so when no face changes the chunks hold the reconstruction of
    the whole image. A path that crosses chunk faces k times needs k + 1
    rounds. The number of rounds depends on the data, so they run when this
    function is called: each one persists the changed chunks (on the
    cluster when a ``distributed.Client`` is the scheduler) and computes
    their faces only; the result is a dask array over the persisted chunks.

    Examples
    --------
    >>> import numpy as np, foresting, foresting.chunked as fc
    >>> mask = np.random.default_rng(6).integers(0, 9, (30, 30), dtype=np.uint8)
    >>> seed = np.zeros_like(mask); seed[0, 0] = mask[0, 0]
    >>> out = fc.reconstruction(fc.da.from_array(seed, 8), fc.da.from_array(mask, 8))
    >>> bool((out.compute() == foresting.reconstruction(seed, mask)).all())
    True
    """
    if method not in ("dilation", "erosion"):
        raise ValueError(f"method must be 'dilation' or 'erosion', not {method!r}")
    if halo is not None:
        halo = int_arg(halo, "halo", 0)
    dilate = method == "dilation"
    m = _as_dask(mask, "mask")
    s = _as_dask(seed, "seed")
    if s.shape != m.shape:
        raise ValueError(f"seed {s.shape} does not have the size of mask {m.shape}")
    if s.chunks != m.chunks:
        s = s.rechunk(m.chunks)
    dtype = _out_dtype(lambda x: foresting.reconstruction(x, x, method), m.dtype)
    if not dilate and not np.can_cast(s.dtype, dtype):
        # as the single call: int32 when a seed value does not fit the mask's dtype
        if int(s.max().compute()) > np.iinfo(dtype).max:
            dtype = np.dtype(np.int32)
    (m,) = dask.persist(m)
    mblocks = _grid(m)
    ni, nj = mblocks.shape
    if halo is None:
        halo = 0
    depth = {0: min(halo, min(m.chunks[0])) if ni > 1 else 0,
             1: min(halo, min(m.chunks[1])) if nj > 1 else 0}
    first = da.map_overlap(lambda x, y: _rebuild(x, y, dilate, dtype), s, m, depth=depth,
                           boundary="none", trim=True, dtype=dtype, align_arrays=False)
    state = first.to_delayed()
    state = [[state[i, j] for j in range(nj)] for i in range(ni)]
    mask_faces = dask.compute([[dask.delayed(Faces.of)(mblocks[i, j]) for j in range(nj)]
                               for i in range(ni)])[0]
    todo = [(i, j) for i in range(ni) for j in range(nj)]
    faces = [[None] * nj for _ in range(ni)]
    while todo:
        persisted = dask.persist(*[state[i][j] for i, j in todo])
        for (i, j), p in zip(todo, persisted):
            state[i][j] = p
        computed = dask.compute(*[dask.delayed(Faces.of)(state[i][j]) for i, j in todo])
        for (i, j), f in zip(todo, computed):
            faces[i][j] = f
        nxt = []
        for i in range(ni):
            for j in range(nj):
                offers = face_offers(faces, i, j, dilate)
                if offers.improves(faces[i][j], mask_faces[i][j], dilate):
                    nxt.append((i, j, offers))
        for i, j, offers in nxt:
            state[i][j] = dask.delayed(_resume, pure=True)(state[i][j], mblocks[i, j], offers,
                                                            dilate, dtype)
        todo = [(i, j) for i, j, _ in nxt]
    return _assemble(state, m.chunks, dtype)
