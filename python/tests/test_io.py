"""Image and roots files from Python: dtypes, (row, column) and band order,
and failures that raise without leaving files behind."""

import numpy as np
import pytest

import foresting


@pytest.mark.parametrize("dtype, shape, magic", [
    (np.uint8, (3, 5), b"P5\n"), (np.uint16, (3, 5), b"P5\n"), (np.int32, (3, 5), b"P2\n"),
    (np.uint8, (3, 5, 3), b"P6\n"), (np.uint16, (3, 5, 3), b"P6\n")])
def test_images_round_trip_with_their_dtype_and_shape(tmp_path, rng, dtype, shape, magic):
    top = 1000 if dtype == np.uint16 else 200
    low = -50 if dtype == np.int32 else 0
    a = rng.integers(low, top, shape).astype(dtype)
    a[0, 0] = top  # a 16-bit file needs a sample above 255
    foresting.write_image(tmp_path / "a", a)
    data = (tmp_path / "a").read_bytes()
    assert data.startswith(magic)
    assert data.split()[1:3] == [b"5", b"3"]  # columns, then rows
    b = foresting.read_image(tmp_path / "a")
    assert b.dtype == dtype and b.shape == shape
    np.testing.assert_array_equal(a, b)


def test_colour_bands_are_red_green_blue_in_the_file(tmp_path):
    a = np.zeros((2, 3, 3), np.uint8)
    a[0, 1] = (10, 20, 30)
    foresting.write_image(tmp_path / "c.ppm", a)
    body = (tmp_path / "c.ppm").read_bytes()[-18:]
    assert body[3:6] == bytes([10, 20, 30])


def test_reading_matches_a_plain_parse_of_the_file(data):
    raw = (data / "coins.pgm").read_bytes()
    header = raw.split(maxsplit=4)
    cols, rows = int(header[1]), int(header[2])
    plain = np.frombuffer(raw[-rows * cols:], np.uint8).reshape(rows, cols)
    im, top = foresting.read_image(data / "coins.pgm", with_max=True)
    np.testing.assert_array_equal(im, plain)
    assert top == 255


def test_roots_files_store_column_row_label(tmp_path):
    seeds = foresting.Seeds(np.array([[1, 4], [0, 2]]), np.array([7, -3]), np.array([0, 0]))
    foresting.write_roots(tmp_path / "r.txt", seeds, (2, 5))
    assert (tmp_path / "r.txt").read_text() == "2\n4 1 7\n2 0 -3\n"
    back = foresting.read_roots(tmp_path / "r.txt", (2, 5))
    np.testing.assert_array_equal(back.coords, seeds.coords)
    np.testing.assert_array_equal(back.labels, seeds.labels)


@pytest.mark.parametrize("content", [b"P5\n3 2\n255\nab", b"P7\n1 1\n1\n0", b"P5\n0 2\n255\n", b""])
def test_unreadable_images_raise_oserror(tmp_path, content):
    (tmp_path / "bad.pgm").write_bytes(content)
    with pytest.raises(OSError):
        foresting.read_image(tmp_path / "bad.pgm")
    with pytest.raises(OSError, match="could not open"):
        foresting.read_image(tmp_path / "missing.pgm")


@pytest.mark.parametrize("content", ["2\n0 0 1\n", "1\n9 0 1\n", "0\n", "1\n0 x 1\n"])
def test_bad_roots_files_raise_oserror(tmp_path, content):
    (tmp_path / "r.txt").write_text(content)
    with pytest.raises(OSError):
        foresting.read_roots(tmp_path / "r.txt", (2, 5))


def test_failed_writes_raise_and_leave_nothing(tmp_path):
    a = np.ones((2, 2), np.uint8)
    with pytest.raises(OSError):
        foresting.write_image("/dev/full", a)
    with pytest.raises(OSError):
        foresting.write_image(tmp_path / "no" / "such.pgm", a)
    with pytest.raises(ValueError):
        foresting.write_image(tmp_path / "f.pgm", a.astype(np.float32))
    with pytest.raises(ValueError):
        foresting.write_image(tmp_path / "c.ppm", np.ones((2, 2, 3), np.int32))
    with pytest.raises(ValueError, match="outside"):
        foresting.write_roots(tmp_path / "r.txt", np.array([[2, 0]]), (2, 2))
    assert list(tmp_path.iterdir()) == []
    (tmp_path / "keep.pgm").write_bytes(b"old")
    with pytest.raises(ValueError):
        foresting.write_image(tmp_path / "keep.pgm", np.ones((2, 2, 2), np.uint8))
    assert (tmp_path / "keep.pgm").read_bytes() == b"old"
