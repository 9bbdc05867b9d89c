"""foresting.chunked: every operator equal to the single call on the whole
image, whatever the chunking."""

import os

import numpy as np
import pytest

da = pytest.importorskip("dask.array")
dask = pytest.importorskip("dask")
hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings, strategies as st  # noqa: E402

import foresting  # noqa: E402
import foresting.chunked as fc  # noqa: E402

settings.register_profile("chunked", max_examples=int(os.environ.get("FORESTING_EXAMPLES", 25)), deadline=None, derandomize=True,
                          suppress_health_check=[HealthCheck.too_slow])
settings.load_profile("chunked")


@pytest.fixture(autouse=True)
def synchronous():
    with dask.config.set(scheduler="synchronous"):
        yield


def spiral(h, w):
    """A one-pixel-wide path winding inwards, with walls between its turns."""
    out = np.zeros((h, w), np.uint8)
    top, left, bottom, right = 0, 0, h - 1, w - 1
    while top <= bottom and left <= right:
        out[top, left:right + 1] = 1
        out[top:bottom + 1, right] = 1
        if top + 2 <= bottom:
            out[bottom, left:right + 1] = 1
        if left + 2 <= right and top + 2 <= bottom:
            out[top + 2:bottom + 1, left] = 1
        top, left, bottom, right = top + 2, left + 2, bottom - 2, right - 2
        if top <= bottom and left <= right:
            out[top - 1, left - 1] = 1
    return out


def comb(h, w):
    out = np.zeros((h, w), np.uint8)
    out[0, :] = 1
    out[:, ::2] = 1
    return out


@st.composite
def images(draw, max_side=21, dtypes=(np.uint8, np.uint16, np.int32)):
    h = draw(st.integers(1, max_side))
    w = draw(st.integers(1, max_side))
    levels = draw(st.integers(2, 4))
    kind = draw(st.sampled_from(["noise", "spiral", "comb"]))
    seed = draw(st.integers(0, 2**16))
    rng = np.random.default_rng(seed)
    noise = rng.integers(0, levels, (h, w))
    if kind == "spiral":
        a = spiral(h, w) * (levels - 1) + (noise * (rng.random((h, w)) < 0.1))
    elif kind == "comb":
        a = comb(h, w) * (1 + noise)
    else:
        a = noise
    return a.astype(draw(st.sampled_from(dtypes)))


def split(n, draw):
    kind = draw(st.sampled_from(["one", "single", "prime", "random"]))
    if kind == "one" and n <= 9:
        return (1,) * n
    if kind == "prime":
        p = draw(st.sampled_from([2, 3, 5, 7]))
        return (p,) * (n // p) + ((n % p,) if n % p else ())
    if kind == "random":
        cuts = sorted(set(draw(st.lists(st.integers(1, max(n - 1, 1)), max_size=4))) - {n})
        edges = [0] + cuts + [n]
        return tuple(b - a for a, b in zip(edges, edges[1:]) if b > a)
    return (n,)


@st.composite
def chunked(draw, **kw):
    a = draw(images(**kw))
    chunks = (split(a.shape[0], draw), split(a.shape[1], draw))
    return a, da.from_array(a, chunks=chunks)


@given(chunked())
def test_label_and_extrema_equal_the_single_call(case):
    a, d = case
    labels, count = fc.label(d)
    expected, n = foresting.label(a)
    got = labels.compute()
    assert got.dtype == expected.dtype and int(count.compute()) == n
    np.testing.assert_array_equal(got, expected)
    for chunked_op, op in ((fc.regional_maxima, foresting.regional_maxima),
                           (fc.regional_minima, foresting.regional_minima)):
        got, expected = chunked_op(d).compute(), op(a)
        assert got.dtype == expected.dtype
        np.testing.assert_array_equal(got, expected)


@given(chunked(dtypes=(np.uint8, np.int32)), st.integers(0, 9), st.integers(0, 12))
def test_halo_operators_equal_the_single_call(case, r2, area):
    a, d = case
    for chunked_op, op in ((fc.dilation, foresting.dilation), (fc.erosion, foresting.erosion),
                           (fc.opening, foresting.opening), (fc.closing, foresting.closing)):
        got, expected = chunked_op(d, r2).compute(), op(a, r2)
        assert got.dtype == expected.dtype
        np.testing.assert_array_equal(got, expected, err_msg=op.__name__)
    got, expected = fc.gradient(d).compute(), foresting.gradient(a)
    assert got.dtype == expected.dtype
    np.testing.assert_array_equal(got, expected)
    for chunked_op, op in ((fc.area_opening, foresting.area_opening),
                           (fc.area_closing, foresting.area_closing)):
        got, expected = chunked_op(d, area).compute(), op(a, area)[0]
        assert got.dtype == expected.dtype
        np.testing.assert_array_equal(got, expected, err_msg=op.__name__)


@given(chunked(max_side=17, dtypes=(np.uint8, np.uint16)), st.data())
def test_reconstruction_equals_the_single_call(case, data):
    mask, d = case
    h, w = mask.shape
    # seeds on chunk faces and corners as well as anywhere
    rows = np.cumsum((0,) + d.chunks[0])
    cols = np.cumsum((0,) + d.chunks[1])
    near = st.tuples(st.sampled_from(sorted({max(min(r + o, h - 1), 0) for r in rows for o in (-1, 0)})),
                     st.sampled_from(sorted({max(min(c + o, w - 1), 0) for c in cols for o in (-1, 0)})))
    anywhere = st.tuples(st.integers(0, h - 1), st.integers(0, w - 1))
    points = data.draw(st.lists(st.one_of(near, anywhere), min_size=1, max_size=4))
    r, c = np.array(points).T
    below = np.zeros_like(mask)
    below[r, c] = mask[r, c]
    above = np.full_like(mask, mask.max())
    above[r, c] = mask[r, c]
    for seed, method in ((below, "dilation"), (above, "erosion")):
        out = fc.reconstruction(da.from_array(seed, chunks=3), d, method,
                                halo=data.draw(st.sampled_from([None, 0, 1, 3])))
        expected = foresting.reconstruction(seed, mask, method)
        got = out.compute()
        assert got.dtype == expected.dtype
        np.testing.assert_array_equal(got, expected, err_msg=method)


def test_bad_input_fails_as_the_single_call_does():
    a = np.zeros((4, 4), np.uint8)
    with pytest.raises(ValueError):
        fc.label(np.zeros((2, 2, 2, 2), np.uint8))
    with pytest.raises(ValueError):
        fc.dilation(np.zeros((4, 4)), 1)
    with pytest.raises(ValueError):
        fc.reconstruction(a, np.zeros((4, 5), np.uint8))
    seed = a.copy()
    seed[1, 1] = 3
    with pytest.raises(ValueError):
        fc.reconstruction(seed, a).compute()
    wide = np.zeros((4, 4), np.int32)
    wide[0, 0] = 300  # wraps in uint8: must not pass for 44
    with pytest.raises(ValueError):
        fc.reconstruction(da.from_array(wide, 2), a).compute()
    # a seed above the mask's dtype: int32, as the single call returns
    high = np.full((4, 4), 999, np.int32)
    high[3, 3] = 0
    expected = foresting.reconstruction(high, a, "erosion")
    got = fc.reconstruction(da.from_array(high, 2), a, "erosion").compute()
    assert got.dtype == expected.dtype
    np.testing.assert_array_equal(got, expected)
    # the renumbering of chunk labels reads only inside its table
    for bad in (-1, 3):
        with pytest.raises(ValueError):
            foresting._foresting.remap(np.array([[0, bad]], np.int32), np.arange(3, dtype=np.int32))
    # and a resumed reconstruction only from pixels of its state
    state = np.zeros((3, 3), np.int32)
    for starts, m in (([9], state), ([-1], state), ([0], np.zeros((3, 4), np.int32))):
        with pytest.raises(ValueError):
            foresting._foresting.propagate(state, m, np.array(starts, np.int64), True)


def test_image_files_round_trip_lazily(tmp_path):
    rng = np.random.default_rng(1)
    grey = rng.integers(0, 256, (37, 29), dtype=np.uint8)
    deep = rng.integers(0, 65536, (23, 31), dtype=np.uint16)
    colour = rng.integers(0, 256, (11, 13, 3), dtype=np.uint8)
    for name, im in (("g.pgm", grey), ("d.pgm", deep), ("c.ppm", colour)):
        foresting.write_image(tmp_path / name, im)
        a = fc.read_image(tmp_path / name, chunks=(8, 5))
        assert a.dtype == im.dtype and a.shape == im.shape
        np.testing.assert_array_equal(a.compute(), foresting.read_image(tmp_path / name))
        fc.write_image(tmp_path / ("again-" + name), a.rechunk((7, 3) + im.shape[2:]))
        assert (tmp_path / ("again-" + name)).read_bytes() == (tmp_path / name).read_bytes()
        if im.ndim == 3:  # bands in chunks of their own
            fc.write_image(tmp_path / ("bands-" + name), a.rechunk((4, 5, 1)))
            assert (tmp_path / ("bands-" + name)).read_bytes() == (tmp_path / name).read_bytes()
    (tmp_path / "short.pgm").write_bytes(b"P5\n10 10\n255\n" + bytes(99))
    (tmp_path / "text.pgm").write_bytes(b"P2\n1 1\n255\n7\n")
    for name in ("short.pgm", "text.pgm"):
        with pytest.raises(OSError):
            fc.read_image(tmp_path / name)
    with pytest.raises(ValueError):
        fc.write_image(tmp_path / "x.pgm", np.zeros((3, 3), np.int32))
    assert sorted(p.name for p in tmp_path.iterdir() if p.name.startswith(".")) == []


def test_on_a_cluster_of_two_worker_processes():
    distributed = pytest.importorskip("distributed")
    a = (spiral(96, 80) * 3 + np.random.default_rng(2).integers(0, 2, (96, 80))).astype(np.uint8)
    seed = np.zeros_like(a)
    seed[0, 0] = a[0, 0]
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        with dask.config.set(scheduler=client):
            d = da.from_array(a, chunks=(23, 17))
            labels, count = fc.label(d)
            got = dask.compute(labels, count, fc.regional_maxima(d), fc.area_opening(d, 9))
            rec = fc.reconstruction(da.from_array(seed, chunks=(23, 17)), d).compute()
    expected, n = foresting.label(a)
    np.testing.assert_array_equal(got[0], expected)
    assert int(got[1]) == n
    np.testing.assert_array_equal(got[2], foresting.regional_maxima(a))
    np.testing.assert_array_equal(got[3], foresting.area_opening(a, 9)[0])
    np.testing.assert_array_equal(rec, foresting.reconstruction(seed, a))
