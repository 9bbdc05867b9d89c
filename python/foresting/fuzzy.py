"""Fuzzy connectedness: objects described by a mean and a variance of grey
level, grown from seeds by max-arc image foresting transforms.

The dissimilarity of an arc p-q for an object of mean ``mean`` and variance
``var`` is ``255 - trunc(255 exp(-m*m / var))`` with ``m = (v(p) + v(q)) // 2
- mean``, and a path costs its largest dissimilarity.

The library writes debugging images (``tmp1.pgm`` ...) into the working
directory. By default these functions let it write them into the current
directory; give ``workdir`` to have them written elsewhere (the process's
working directory is changed to it for the duration of the call and then
restored: this is process-wide, so do not use it while other threads rely on
the working directory).
"""


import numpy as np

from . import _foresting
from ._checks import connectivity_arg, grey_image, int_arg, seeds_for, working_directory

__all__ = ["fuzzy_connectedness", "fuzzy_weights"]



def _objects(means, variances):
    m = np.atleast_1d(np.asarray(means))
    v = np.atleast_1d(np.asarray(variances))
    if m.ndim != 1 or m.size < 1 or m.shape != v.shape:
        raise ValueError("means and variances must be two sequences of the same length, at least one")
    for name, x in (("means", m), ("variances", v)):
        if x.dtype.kind not in "ui":
            raise ValueError(f"{name} must be integers, not {x.dtype}")
        if int(x.min()) < -2**31 or int(x.max()) > 2**31 - 1:
            raise ValueError(f"{name} must fit in int32")
    if int(v.min()) <= 0:
        raise ValueError("every variance must be above 0")
    return np.ascontiguousarray(m, np.int32), np.ascontiguousarray(v, np.int32)




def fuzzy_connectedness(image, seeds, means, variances, connectivity=8, competitive=False, workdir=None):
    """Fuzzy-connected objects of the grey `image`; object k (1, 2, ...) has
    mean ``means[k-1]`` and variance ``variances[k-1]`` (above 0).

    Without `competitive`, one IFT per object from the seeds labelled k
    (other labels play no part); each pixel gets the cheapest cost over the
    objects and the object giving it (the lower number on a tie). The library
    writes ``tmp1.pgm`` and ``tmp2.pgm``.

    With `competitive`, one IFT from all seeds on the least dissimilarity
    over the objects; the library prints progress lines and writes
    ``obj1.pgm`` ... ``obj4.pgm``, ``fun1.pgm`` ... and ``tmp1.pgm`` ....

    Seed costs are ignored. Returns ``(labels, costs)``, int32; where no seed
    reaches, label 0 and cost ``2**31 - 1``. See the module's note on
    `workdir`."""
    a = grey_image(image)
    s = seeds_for(seeds, a.shape, costs=False)
    m, v = _objects(means, variances)
    c = connectivity_arg(connectivity)
    with working_directory(workdir):
        return _foresting.fuzzy(a, s.coords, s.labels, m, v, c, bool(competitive))


def fuzzy_weights(image, mean, variance, connectivity=8):
    """Arc dissimilarities for one object: a (rows, columns, n) int32 array
    whose [..., j] is, at each pixel, the dissimilarity of the arc to its
    neighbour under the j-th displacement of the neighbourhood (0 where that
    neighbour is outside the image). Nothing is written."""
    a = grey_image(image)
    m, v = _objects([int_arg(mean, "mean")], [int_arg(variance, "variance")])
    return _foresting.fuzzy_weights(a, connectivity_arg(connectivity), int(m[0]), int(v[0]))
