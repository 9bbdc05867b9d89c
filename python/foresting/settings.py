"""Switches that hold for the calling thread across the package's calls."""

from . import _foresting

__all__ = ["verbose"]


class verbose:
    """Shows or hides the library's progress lines ("in ifLabelImage",
    "There are N regional maxima", ...) for the calling thread.

    They are hidden by default. ``foresting.verbose(True)`` writes them on
    ``sys.stdout`` (so a notebook shows them in the cell) when each call
    ends, until ``foresting.verbose(False)``. Used as a context manager, the
    switch holds for the block only and the previous setting comes back after
    it::

        with foresting.verbose():
            foresting.area_opening(image, 50)   # prints "There are N regional maxima"

    ``foresting.verbose.enabled()`` tells the current setting.
    """

    def __init__(self, on=True):
        self._previous = _foresting.verbose()
        _foresting.set_verbose(bool(on))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        _foresting.set_verbose(self._previous)
        return False

    @staticmethod
    def enabled():
        """Whether progress lines are shown on the calling thread."""
        return _foresting.verbose()
