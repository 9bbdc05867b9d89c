"""foresting: image analysis by the image foresting transform, over numpy
arrays.

Images are integer arrays, (rows, columns) for grey and (rows, columns, 3)
for colour (red, green, blue); seeds are :class:`Seeds` records of (row,
column) coordinates with labels and costs, or label images of markers.
Results are new arrays. Bad input raises ValueError, files that cannot be
read or written OSError, memory that cannot be had MemoryError; the library's
fatal errors never end the interpreter. Long computations release the GIL.

Each operator family is one module whose public names are re-exported here
(some share their module's name, so the modules are reached through
``importlib`` or ``sys.modules`` as ``foresting.<family>``).
"""

import importlib as _importlib

_FAMILIES = ("io", "seeds", "reconstruction", "ift", "labelling", "morphology", "pixelwise",
             "distance", "fuzzy", "colour", "area", "variants", "graphs")
_FAMILIES += ("threads",)

__all__ = []
for _family in _FAMILIES:
    _module = _importlib.import_module(f".{_family}", __name__)
    for _name in _module.__all__:
        globals()[_name] = getattr(_module, _name)
    __all__ += _module.__all__
del _family, _module, _name

from ._foresting import __version__  # noqa: E402  (the CMake project's version)
from .settings import verbose  # noqa: E402
__all__ += ["verbose"]
