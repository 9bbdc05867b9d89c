"""The number of threads the library's data-parallel operators use."""

from . import _foresting
from ._checks import int_arg

__all__ = ["set_num_threads", "get_num_threads"]

_MAX_THREADS = 256


def set_num_threads(n):
    """Set the number of threads of the data-parallel operators (labelling,
    regional extrema, the exact distance transform, ...) for the whole
    process; their results do not depend on it.

    Parameters
    ----------
    n : int or None
        1 to 256 threads (more reads as 256), or None or 0 to return to the
        default: the environment variable ``FORESTING_NUM_THREADS`` when it
        holds a positive integer, else the machine's hardware threads.

    Returns
    -------
    int
        The previous setting, 0 when it was the default, so that
        ``set_num_threads(previous)`` restores it.

    Examples
    --------
    >>> import foresting
    >>> previous = foresting.set_num_threads(2)
    >>> foresting.get_num_threads()
    2
    >>> _ = foresting.set_num_threads(previous)
    """
    n = 0 if n is None else int_arg(n, "n", 0)
    return _foresting.set_num_threads(min(n, _MAX_THREADS))


def get_num_threads():
    """The number of threads the data-parallel operators use now (1 to 256).

    Examples
    --------
    >>> import foresting
    >>> foresting.get_num_threads() >= 1
    True
    """
    return _foresting.get_num_threads()
