"""The bound operators: results against straightforward numpy versions on
random and real images, (row, column) and band order, output dtypes, and
every kind of bad input raising instead of ending the interpreter."""

import collections
import heapq
import threading

import numpy as np
import pytest

import foresting


def disc_filter(a, r2, reduce):
    """Max or min over the disc of squared radius r2, clipped at the border."""
    r = int(np.sqrt(r2))
    fill = np.iinfo(np.int64).min if reduce is np.maximum else np.iinfo(np.int64).max
    out = np.full(a.shape, fill, np.int64)
    rows, cols = a.shape[:2]
    for dy in range(-r, r + 1):
        for dx in range(-r, r + 1):
            if dx * dx + dy * dy > r2:
                continue
            shifted = np.full(a.shape, fill, np.int64)
            shifted[max(0, -dy):rows - max(0, dy), max(0, -dx):cols - max(0, dx)] = \
                a[max(0, dy):rows - max(0, -dy), max(0, dx):cols - max(0, -dx)]
            out = reduce(out, shifted)
    return out


@pytest.mark.parametrize("r2", [0, 1, 2, 5])
def test_morphology_matches_disc_reference_per_band(rng, coins, r2):
    grey = rng.integers(-40, 40, (9, 13)).astype(np.int16)
    colour = np.stack([coins[:20, :30], coins[40:60, :30], coins[80:100, :30]], axis=2)
    for a in (grey, colour, coins[:50, :60]):
        d, e = foresting.dilation(a, r2), foresting.erosion(a, r2)
        assert d.dtype == a.dtype and d.shape == a.shape
        np.testing.assert_array_equal(d, disc_filter(a, r2, np.maximum))
        np.testing.assert_array_equal(e, disc_filter(a, r2, np.minimum))
        np.testing.assert_array_equal(foresting.opening(a, r2), disc_filter(e, r2, np.maximum))
        np.testing.assert_array_equal(foresting.closing(a, r2), disc_filter(d, r2, np.minimum))
    g = foresting.gradient(colour)
    per_band = disc_filter(colour, 2, np.maximum) - disc_filter(colour, 2, np.minimum)
    assert g.shape == colour.shape[:2]
    np.testing.assert_array_equal(g, per_band.max(axis=2))


def test_alternating_filter_composes_openings_and_closings(coins):
    a = coins[:40, :50]
    expected = a
    for k in (1, 2):
        expected = foresting.closing(foresting.opening(expected, k), k)
    np.testing.assert_array_equal(foresting.alternating_filter(a, 2, "oc"), expected)


def plain_label(binary):
    """8-connected components numbered in raster order of first pixel."""
    labels = np.zeros(binary.shape, np.int32)
    n = 0
    rows, cols = binary.shape
    for y, x in zip(*np.nonzero(binary)):
        if labels[y, x]:
            continue
        n += 1
        labels[y, x] = n
        queue = collections.deque([(y, x)])
        while queue:
            cy, cx = queue.popleft()
            for dy in (-1, 0, 1):
                for dx in (-1, 0, 1):
                    ny, nx = cy + dy, cx + dx
                    if 0 <= ny < rows and 0 <= nx < cols and binary[ny, nx] and not labels[ny, nx]:
                        labels[ny, nx] = n
                        queue.append((ny, nx))
    return labels, n


def test_labelling_and_extrema_follow_rows_then_columns(rng, coins):
    binary = rng.random((17, 23)) < 0.4
    labels, count = foresting.label(binary)
    plain, plain_count = plain_label(binary)
    np.testing.assert_array_equal(labels, plain)
    assert count == plain_count
    a = np.zeros((3, 5), np.uint8)
    a[1, 3] = 9
    np.testing.assert_array_equal(np.argwhere(foresting.regional_maxima(a)), [[1, 3]])
    seeds = foresting.regional_maxima_seeds(a)
    np.testing.assert_array_equal(seeds.coords, [[1, 3]])
    assert seeds.costs.tolist() == [9]
    im = coins[:60, :70]
    np.testing.assert_array_equal(foresting.regional_minima(im), foresting.regional_maxima(255 - im))
    zones = foresting.seeded_flat_zones(a, [[0, 0]])
    np.testing.assert_array_equal(zones, a == 0)


def minimax_costs(img, seeds):
    """Dijkstra with max path cost, seed cost = given cost, 8-adjacency."""
    rows, cols = img.shape
    cost = np.full(img.shape, np.iinfo(np.int32).max, np.int64)
    heap = []
    for (y, x), c in zip(seeds.coords, seeds.costs):
        cost[y, x] = c
        heapq.heappush(heap, (c, y, x))
    while heap:
        c, y, x = heapq.heappop(heap)
        if c > cost[y, x]:
            continue
        for dy in (-1, 0, 1):
            for dx in (-1, 0, 1):
                ny, nx = y + dy, x + dx
                if (dy or dx) and 0 <= ny < rows and 0 <= nx < cols:
                    nc = max(c, int(img[ny, nx]))
                    if nc < cost[ny, nx]:
                        cost[ny, nx] = nc
                        heapq.heappush(heap, (nc, ny, nx))
    return cost


@pytest.mark.parametrize("source", ["random", "coins"])
def test_ift_returns_consistent_labels_costs_and_predecessors(rng, coins, source):
    img = rng.integers(0, 50, (11, 16)).astype(np.uint8) if source == "random" else coins[100:140, 50:110]
    seeds = foresting.Seeds(np.array([[0, 0], [img.shape[0] - 1, 3], [4, img.shape[1] - 1]]),
                            np.array([5, 6, 7]), np.array([0, 0, 0]))
    labels, costs, preds = foresting.ift(img, seeds, adjacency=8, weight="watershed", path_cost="max")
    assert labels.dtype == costs.dtype == preds.dtype == np.int32
    np.testing.assert_array_equal(costs, minimax_costs(img, seeds))
    rows, cols = np.divmod(preds, img.shape[1])
    own = np.indices(img.shape)
    seeded = np.zeros(img.shape, bool)
    seeded[tuple(seeds.coords.T)] = True
    np.testing.assert_array_equal(preds == own[0] * img.shape[1] + own[1], seeded)
    assert (np.abs(rows - own[0]) <= 1).all() and (np.abs(cols - own[1]) <= 1).all()
    np.testing.assert_array_equal(labels, labels[rows, cols])
    expected = np.where(seeded, costs, np.maximum(costs[rows, cols], img))
    np.testing.assert_array_equal(costs, expected)
    np.testing.assert_array_equal(foresting.watershed(img, seeds), foresting.ift(
        img, foresting.Seeds(seeds.coords, seeds.labels, img[tuple(seeds.coords.T)]))[0])


def test_ift_reports_unreached_pixels_and_maximises(rng):
    img = np.array([[1, 9, 1]], np.uint8)
    labels, costs, _ = foresting.ift(img, [[0, 0]], adjacency=4, path_cost="max_local")
    assert labels.tolist() == [[1, 0, 0]]
    assert costs[0, 2] == foresting.INFINITY_MIN
    labels, costs, _ = foresting.ift(img, ([[0, 1]], [3], [9]), path_cost="min", maximize=True)
    assert labels.tolist() == [[3, 3, 3]] and costs.tolist() == [[1, 9, 1]]


def plain_reconstruction(seed, mask):
    current = np.minimum(seed, mask).astype(np.int64)
    while True:
        grown = np.minimum(disc_filter(current, 2, np.maximum), mask)
        if (grown == current).all():
            return current
        current = grown


def test_reconstructions_match_the_iterated_geodesic_dilation(coins):
    mask = coins[:60, :80]
    seed = np.zeros_like(mask)
    seed[30, 40] = mask[30, 40]
    seed[5, 70] = mask[5, 70]
    rebuilt = foresting.reconstruction(seed, mask)
    assert rebuilt.dtype == np.uint8
    np.testing.assert_array_equal(rebuilt, plain_reconstruction(seed, mask))
    filtered, labels = foresting.cut_domes(mask, foresting.Seeds(np.array([[30, 40], [5, 70]]), np.array([1, 2]),
                                                                 mask[[30, 5], [40, 70]]))
    np.testing.assert_array_equal(filtered, rebuilt)
    assert set(np.unique(labels)) == {1, 2}
    inverse = 255 - mask
    np.testing.assert_array_equal(foresting.reconstruction(255 - seed, inverse, "erosion"),
                                  255 - plain_reconstruction(seed, mask))
    # Every pixel a seed: the same as that seed set given as arrays, in value
    # and dtype, on masks of several dtypes and seeds above their range.
    rng = np.random.default_rng(8)
    for dtype, top in ((np.uint8, 256), (np.uint16, 3000), (np.int32, 10**6), (bool, 2)):
        m = rng.integers(0, top, (23, 31)).astype(dtype)
        for method, s in (("dilation", (m * rng.integers(0, 2, m.shape)).astype(m.dtype)),
                          ("erosion", m.astype(np.int32) + rng.integers(0, 300, m.shape))):
            rows, cols = np.indices(m.shape)
            every = foresting.Seeds(np.stack([rows.ravel(), cols.ravel()], 1), np.ones(m.size, np.int32),
                                    s.ravel().astype(np.int64))
            route = foresting.cut_domes if method == "dilation" else foresting.fill_basins
            expected = route(m, every)[0]
            got = foresting.reconstruction(s, m, method)
            assert got.dtype == expected.dtype
            np.testing.assert_array_equal(got, expected)


def test_pixelwise_operations(coins):
    a = coins[:20, :30]
    np.testing.assert_array_equal(foresting.threshold(a, 100, 200), (a >= 100) & (a <= 200))
    np.testing.assert_array_equal(foresting.band_pass(a, 100, 200), np.where((a >= 100) & (a <= 200), a, 0))
    np.testing.assert_array_equal(foresting.negative(a), 255 - a)
    assert foresting.negative(np.array([[3, 7]], np.int32)).tolist() == [[4, 0]]
    framed = foresting.add_border(a, 2)
    assert framed.shape == (24, 34) and framed[0].sum() == 0
    np.testing.assert_array_equal(foresting.remove_border(framed, 2), a)
    marked = foresting.highlight(a, a > 200, (1, 2, 3))
    assert marked.shape == (20, 30, 3)
    np.testing.assert_array_equal(marked[a > 200], np.tile([1, 2, 3], ((a > 200).sum(), 1)))
    np.testing.assert_array_equal(marked[a <= 200], np.repeat(a[a <= 200], 3).reshape(-1, 3))
    np.testing.assert_array_equal(foresting.histogram(a), np.bincount(a.ravel()))
    borders = foresting.segmentation_borders(a, np.arange(30)[None, :].repeat(20, 0) // 15 + 1)
    assert (borders[:, 14] == [255, 0, 0]).all() and (borders[:, 15, 0] == a[:, 15]).all()


def test_input_dtypes_and_strides_are_taken_as_they_are(coins):
    a = coins[:30, :40]
    expected = foresting.dilation(a, 2)
    for variant in (a.astype(np.int64), a.astype(np.uint16), a.T.copy().T, np.asfortranarray(a),
                    coins[:60:2, :80:2][:30, :40] * 0 + a):
        np.testing.assert_array_equal(foresting.dilation(variant, 2), expected)
    assert foresting.dilation(a.astype(np.int64), 2).dtype == np.int32


BAD_CALLS = [
    (ValueError, lambda im: foresting.dilation(im.astype(np.float32))),
    (ValueError, lambda im: foresting.dilation(im[None])),
    (ValueError, lambda im: foresting.dilation(im[:0])),
    (ValueError, lambda im: foresting.dilation(im, -1)),
    (ValueError, lambda im: foresting.dilation(im.astype(np.int64) + 2**31)),
    (ValueError, lambda im: foresting.label(np.dstack([im, im, im]))),
    (ValueError, lambda im: foresting.cut_domes(im, [[0, im.shape[1]]])),
    (ValueError, lambda im: foresting.cut_domes(im, [[-1, 0]])),
    (ValueError, lambda im: foresting.cut_domes(im, ([[0, 0]], [1], [-5]))),
    (ValueError, lambda im: foresting.cut_domes(im.astype(np.int32) - 300, [[0, 0]])),
    (ValueError, lambda im: foresting.cut_domes(im, np.zeros((0, 2), int))),
    (ValueError, lambda im: foresting.cut_domes(im, [[0, 0]], mode="everywhere")),
    (ValueError, lambda im: foresting.sieve(im, im[:-1], [[0, 0]])),
    (ValueError, lambda im: foresting.ift(im, [[0, 0]], adjacency=6)),
    (ValueError, lambda im: foresting.ift(im, [[0, 0]], weight="manhattan")),
    (ValueError, lambda im: foresting.ift(im, [[0, 0]], path_cost="avg")),
    (ValueError, lambda im: foresting.ift(im, [[0, 0]], max_cost=-1)),
    (ValueError, lambda im: foresting.ift(im, ([[0, 0], [1, 1]], [1, 2, 3]))),
    (ValueError, lambda im: foresting.watershed(im, np.zeros_like(im))),
    (ValueError, lambda im: foresting.cell_seeds(im.astype(np.int32) - 300, 1)),
    (ValueError, lambda im: foresting.remove_border(im, 10)),
    (ValueError, lambda im: foresting.highlight(im, im[:-1])),
    (ValueError, lambda im: foresting.frame_seeds((0, 3))),
    (MemoryError, lambda im: foresting.histogram(np.array([[2**31 - 1]], np.int32))),
]


@pytest.mark.parametrize("error, call", BAD_CALLS)
def test_bad_input_raises_and_the_interpreter_goes_on(coins, error, call):
    with pytest.raises(error):
        call(coins[:10, :12])
    assert foresting.dilation(coins[:3, :3]).shape == (3, 3)


def test_calls_from_threads_agree(coins):
    seeds = foresting.frame_seeds(coins.shape)
    expected = foresting.fill_basins(coins, seeds)[0]
    results, errors = [], []

    def work():
        results.append(foresting.fill_basins(coins, seeds)[0])
        try:
            foresting.read_image("/no/such/file.pgm")
        except OSError as e:
            errors.append(e)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(errors) == 4
    for r in results:
        np.testing.assert_array_equal(r, expected)


def test_no_two_families_export_the_same_name():
    # The package re-exports every family's names at the top; a clash would
    # silently hide one function behind another.
    import importlib
    owners = {}
    for family in foresting._FAMILIES:
        for name in importlib.import_module(f"foresting.{family}").__all__:
            assert name not in owners, f"{name} exported by {owners[name]} and {family}"
            owners[name] = family
