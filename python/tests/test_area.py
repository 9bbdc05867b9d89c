"""Area opening and closing and the levelings: results against a brute-force
area opening, dtypes, labels, and bad input."""

from collections import deque

import numpy as np
import pytest

import foresting


def component_sizes(mask):
    """For each pixel of mask, the size of its 8-connected component (0 off
    the mask), by a plain breadth-first search."""
    rows, cols = mask.shape
    size = np.zeros(mask.shape, np.int64)
    seen = np.zeros(mask.shape, bool)
    for start in zip(*np.nonzero(mask)):
        if seen[start]:
            continue
        seen[start] = True
        members, queue = [], deque([start])
        while queue:
            y, x = queue.popleft()
            members.append((y, x))
            for ny in range(max(y - 1, 0), min(y + 2, rows)):
                for nx in range(max(x - 1, 0), min(x + 2, cols)):
                    if mask[ny, nx] and not seen[ny, nx]:
                        seen[ny, nx] = True
                        queue.append((ny, nx))
        for m in members:
            size[m] = len(members)
    return size


def plain_area_opening(a, area):
    """At each pixel, the highest level t <= a[p] whose 8-connected
    component of a >= t around p holds `area` pixels (else the minimum)."""
    out = np.full(a.shape, a.min(), np.int64)
    for t in np.unique(a):
        big = component_sizes(a >= t) >= area
        out[big] = np.maximum(out[big], t)
    return out


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16, np.int32])
def test_area_opening_and_closing_match_brute_force(rng, coins, dtype):
    for a in (rng.integers(0, 6, (12, 15)).astype(dtype), coins[30:50, 40:70].astype(dtype)):
        for area in (1, 4, 20):
            opened, labels = foresting.area_opening(a, area)
            assert opened.dtype == a.dtype and labels.dtype == np.int32 and labels.shape == a.shape
            np.testing.assert_array_equal(opened, plain_area_opening(a, area))
            closed, _ = foresting.area_closing(a, area)
            top = 255 if dtype == np.uint8 else int(a.max())
            np.testing.assert_array_equal(closed, top - plain_area_opening(top - a.astype(np.int64), area))
    local, _ = foresting.area_opening(a, 20, local=True)
    assert local.shape == a.shape and (local <= a).all()


def test_levelings(rng, coins):
    a = coins[20:50, 30:70]
    np.testing.assert_array_equal(foresting.leveling_by_marker(a, a), a)
    out = foresting.leveling_by_marker(a, foresting.erosion(a, 2))
    assert out.dtype == a.dtype
    ref = np.full(a.shape, int(a.min()), np.uint8)
    levelled, labels = foresting.leveling(a, ref, ([(5, 7)], [2]))
    assert levelled.dtype == labels.dtype == np.int32
    assert labels[5, 7] == 2 and levelled[5, 7] == a[5, 7]
    assert (levelled <= a).all() and (levelled >= ref).all() and (labels == 2).any()
    np.testing.assert_array_equal(levelled[labels == 0], ref[labels == 0])
    explicit, _ = foresting.leveling(a, ref, ([(5, 7)], [2], [int(a[5, 7])]))
    np.testing.assert_array_equal(explicit, levelled)


@pytest.mark.parametrize("call, message", [
    (lambda a: foresting.area_opening(a - 1, 4), "below 0"),
    (lambda a: foresting.area_opening(a, -1), "area"),
    (lambda a: foresting.area_closing(a.astype(float), 4), "integers"),
    (lambda a: foresting.leveling(a, a[:3], ([(0, 0)], [1])), "size"),
    (lambda a: foresting.leveling(a, a, ([(0, 0)], [3])), "labelled 1"),
    (lambda a: foresting.leveling(a, a, ([(0, 4)], [1])), "outside"),
    (lambda a: foresting.leveling(a, a, ([(0, 0)], [1], [-1])), "costs"),
    (lambda a: foresting.leveling_by_marker(a, a - 1), "below 0"),
])
def test_bad_input_raises(call, message):
    with pytest.raises(ValueError, match=message):
        call(np.zeros((4, 4), np.int32))
