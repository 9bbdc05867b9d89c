"""Binary P5/P6 files as dask arrays: read through a memory map chunk by
chunk, written chunk by chunk into a temporary file renamed into place. The
tasks carry the file's name, never its pixels."""

import os

import dask.array as da
from dask.base import tokenize

from .io import _write_atomically
import numpy as np

_WHITE = b" \t\n\r\v\f"
_LIMIT = 2**31 - 1


def _header(f, path):
    """(magic, rows, columns, max value, data offset) of a P5/P6 file; one
    comment line after any field is allowed."""
    head = f.read(4096)
    pos, words = 0, []
    while len(words) < 4:
        while pos < len(head) and head[pos:pos + 1] in _WHITE:
            pos += 1
        if pos < len(head) and head[pos:pos + 1] == b"#":
            end = head.find(b"\n", pos)
            if end < 0:
                break
            pos = end + 1
            continue
        start = pos
        while pos < len(head) and head[pos:pos + 1] not in _WHITE and head[pos:pos + 1] != b"#":
            pos += 1
        if pos == start or pos >= len(head):
            break
        words.append(head[start:pos])
    if len(words) < 4 or words[0] not in (b"P5", b"P6"):
        raise OSError(f"{path}: not a binary P5 or P6 image file")
    try:
        cols, rows, top = (int(w) for w in words[1:])
    except ValueError:
        raise OSError(f"{path}: the header's sizes are not numbers") from None
    if not (0 < cols <= _LIMIT and 0 < rows <= _LIMIT and 0 < top <= 65535):
        raise OSError(f"{path}: the header gives {cols} x {rows} pixels with maximum {top}")
    return words[0].decode(), rows, cols, top, pos + 1


class _FileArray:
    """The samples of an image file, indexable like an array; each access
    maps the file anew, so the object pickles as its name and geometry."""

    def __init__(self, path, offset, shape, dtype):
        self.path, self.offset, self.shape = path, offset, shape
        self.file_dtype = np.dtype(dtype)
        self.dtype = self.file_dtype.newbyteorder("=")
        self.ndim = len(shape)

    def __getitem__(self, index):
        m = np.memmap(self.path, self.file_dtype, "r", self.offset, self.shape)
        return np.array(m[index], dtype=self.dtype)


def read_image(path, chunks=(2048, 2048)):
    """Read a binary P5 (grey) or P6 (colour) file lazily.

    Parameters
    ----------
    path : str or os.PathLike
        The file: 8-bit samples (maximum value up to 255) or 16-bit ones,
        most significant byte first (maximum up to 65535).
    chunks : tuple of int or str
        Chunks of the rows and columns (the three colour bands stay in one
        chunk).

    Returns
    -------
    dask.array.Array
        (rows, columns) for P5, (rows, columns, 3) for P6, uint8 or uint16,
        equal to ``foresting.read_image(path)``. Each task maps the file and
        copies its own chunk, so no process holds the whole image.

    Examples
    --------
    >>> import os, tempfile, numpy as np, foresting, foresting.chunked as fc
    >>> folder = tempfile.mkdtemp()
    >>> im = np.arange(60, dtype=np.uint8).reshape(6, 10)
    >>> foresting.write_image(os.path.join(folder, "a.pgm"), im)
    >>> a = fc.read_image(os.path.join(folder, "a.pgm"), chunks=(4, 4))
    >>> a.chunks, bool((a.compute() == im).all())
    (((4, 2), (4, 4, 2)), True)

    Zarr stores go through dask's own functions (``dask.array.from_zarr``,
    ``dask.array.to_zarr``):

    >>> import dask.array as da
    >>> da.to_zarr(a, os.path.join(folder, "a.zarr"))
    >>> bool((da.from_zarr(os.path.join(folder, "a.zarr")).compute() == im).all())
    True
    """
    path = os.path.abspath(os.fspath(path))
    with open(path, "rb") as f:
        magic, rows, cols, top, offset = _header(f, path)
        size = os.fstat(f.fileno()).st_size
    bands = 3 if magic == "P6" else 1
    dtype = np.dtype(np.uint8) if top < 256 else np.dtype(">u2")
    if size < offset + rows * cols * bands * dtype.itemsize:
        raise OSError(f"{path}: the file is shorter than its {cols} x {rows} pixels")
    shape = (rows, cols, 3) if bands == 3 else (rows, cols)
    chunks = tuple(chunks) + ((3,) if bands == 3 and not isinstance(chunks, str) else ())
    stamp = os.stat(path)
    name = "read-image-" + tokenize(path, stamp.st_mtime_ns, stamp.st_size, chunks)
    return da.from_array(_FileArray(path, offset, shape, dtype), chunks=chunks, name=name,
                         asarray=True, fancy=False, meta=np.empty((0,) * len(shape), dtype.newbyteorder("=")))


class _FileTarget:
    """Writes blocks into the samples of a file already sized, starting at
    byte `offset` and laid out in C order: one write per row of a block (one
    per block when it spans whole rows), straight into the file, so a block
    costs no page mapping and no synchronous flush."""

    def __init__(self, path, offset, shape, dtype):
        self.path, self.offset, self.shape, self.dtype = path, offset, shape, np.dtype(dtype)

    def __setitem__(self, index, block):
        rows, cols = index[0], index[1]
        data = np.ascontiguousarray(block, self.dtype)
        pixel = data.itemsize * (self.shape[2] if len(self.shape) == 3 else 1)
        fd = os.open(self.path, os.O_WRONLY)
        try:
            if cols.start == 0 and cols.stop == self.shape[1]:
                _write_all(fd, data, self.offset + rows.start * self.shape[1] * pixel)
            else:
                for k in range(data.shape[0]):
                    at = ((rows.start + k) * self.shape[1] + cols.start) * pixel
                    _write_all(fd, data[k], self.offset + at)
        finally:
            os.close(fd)


def _write_all(fd, data, at):
    view = memoryview(data).cast("B")
    while len(view):
        done = os.pwrite(fd, view, at)
        view, at = view[done:], at + done


def write_image(path, image):
    """Write a uint8 or uint16 array chunk by chunk as a binary P5 (2-D) or
    P6 ((rows, columns, 3)) file.

    The file is written under a temporary name in the same folder and
    renamed into place once every chunk is in, so a failure leaves nothing
    at `path`. The file is byte for byte what :func:`foresting.write_image`
    writes: header maximum 255 for uint8 (and bool), the largest sample (at
    least 256) for uint16, which costs one more pass over the array. The workers must
    see the folder (one machine, or a shared file system).

    Examples
    --------
    >>> import os, tempfile, numpy as np, foresting, foresting.chunked as fc
    >>> path = os.path.join(tempfile.mkdtemp(), "b.pgm")
    >>> im = np.arange(60, dtype=np.uint16).reshape(6, 10) * 1000
    >>> fc.write_image(path, fc.da.from_array(im, 4))
    >>> bool((foresting.read_image(path) == im).all())
    True
    """
    a = image if isinstance(image, da.Array) else da.asarray(np.asarray(image))
    if a.dtype == np.bool_:
        a = a.astype(np.uint8)
    if a.dtype not in (np.uint8, np.uint16):
        raise ValueError(f"a P5/P6 file holds uint8 or uint16 samples, not {a.dtype}")
    if not (a.ndim == 2 or (a.ndim == 3 and a.shape[2] == 3)):
        raise ValueError(f"image must be (rows, columns) or (rows, columns, 3), not {a.shape}")
    if a.shape[0] < 1 or a.shape[1] < 1:
        raise ValueError("image must have at least one row and one column")
    if a.ndim == 3 and len(a.chunks[2]) > 1:
        a = a.rechunk({2: -1})  # a block's rows are written as whole pixels
    path = os.path.abspath(os.fspath(path))
    # The header's maximum for 16-bit samples is the largest one (at least
    # 256, which keeps the file 16-bit): one pass more over the array.
    top = 255 if a.dtype == np.uint8 else max(256, int(a.max().compute()))
    header = f"{'P6' if a.ndim == 3 else 'P5'}\n{a.shape[1]} {a.shape[0]}\n{top}\n".encode()
    file_dtype = np.dtype(np.uint8) if a.dtype == np.uint8 else np.dtype(">u2")

    def write(name):
        with open(name, "wb") as f:
            f.write(header)
            f.truncate(len(header) + a.size * file_dtype.itemsize)
        da.store(a, _FileTarget(name, len(header), a.shape, file_dtype), lock=False)

    _write_atomically(path, write)
