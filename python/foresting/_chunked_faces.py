"""The joins of foresting.chunked: what one chunk shows its neighbours (the
pixels of its four faces), the pairs of 8-adjacent pixels across chunk faces
and corners, and a union-find over those pairs. Everything here works on
face data only, never on whole chunks."""

from typing import NamedTuple

import numpy as np

_LOW = np.int64(-1)          # no offer for a reconstruction by dilation (values are >= 0)
_HIGH = np.int64(2**31)      # no offer for a reconstruction by erosion


class Faces(NamedTuple):
    """The first and last row and column of a chunk (corners in both)."""

    top: np.ndarray
    bottom: np.ndarray
    left: np.ndarray
    right: np.ndarray

    @classmethod
    def of(cls, x):
        x = np.asarray(x)
        return cls(x[0].copy(), x[-1].copy(), x[:, 0].copy(), x[:, -1].copy())


def _shifted(a, b):
    """Pairs of 8-adjacent pixels between two facing lines of equal length."""
    return (np.concatenate([a, a[:-1], a[1:]]), np.concatenate([b, b[1:], b[:-1]]))


def face_pairs(grid):
    """Every pair (p, q) of 8-adjacent pixels in different chunks, as
    ``(chunk_p, values_p, chunk_q, values_q)`` where the values come from
    ``grid[i][j]``, a Faces per chunk, and chunks are numbered i * nj + j.
    The pairs come in the same order for every grid of the same chunking."""
    ni, nj = len(grid), len(grid[0])
    kp, vp, kq, vq = [], [], [], []

    def add(k1, a, k2, b):
        kp.append(np.full(len(a), k1, np.int64))
        kq.append(np.full(len(b), k2, np.int64))
        vp.append(a)
        vq.append(b)

    for i in range(ni):
        for j in range(nj):
            f, k = grid[i][j], i * nj + j
            if j + 1 < nj:
                a, b = _shifted(f.right, grid[i][j + 1].left)
                add(k, a, k + 1, b)
            if i + 1 < ni:
                a, b = _shifted(f.bottom, grid[i + 1][j].top)
                add(k, a, k + nj, b)
                if j + 1 < nj:
                    add(k, f.bottom[-1:], k + nj + 1, grid[i + 1][j + 1].top[:1])
                if j > 0:
                    add(k, f.bottom[:1], k + nj - 1, grid[i + 1][j - 1].top[-1:])
    if not kp:
        empty = np.zeros(0, np.int64)
        return empty, empty, empty, empty
    return (np.concatenate(kp), np.concatenate(vp).astype(np.int64),
            np.concatenate(kq), np.concatenate(vq).astype(np.int64))


def union_find(n, e0, e1):
    """Root (smallest member) of every node 0 .. n-1 after joining the
    edges e0[k] -- e1[k]."""
    parent = np.arange(n, dtype=np.int64)
    while len(e0):
        a, b = parent[e0], parent[e1]
        if (a == b).all():
            break
        low = np.minimum(a, b)
        np.minimum.at(parent, a, low)
        np.minimum.at(parent, b, low)
        while True:
            jumped = parent[parent]
            if (jumped == parent).all():
                break
            parent = jumped
    return parent


def first_rows(labels, count):
    """Row, in the chunk, of the first pixel of each label 1 .. count of a
    labelling numbered in raster order of first pixels: the first row whose
    running maximum reaches the label."""
    if count == 0:
        return np.zeros(0, np.int64)
    reached = np.maximum.accumulate(labels.max(axis=1))
    return np.searchsorted(reached, np.arange(1, count + 1), side="left").astype(np.int64)


def _first_columns(labels, rows, wanted):
    """Column of the first pixel of each wanted label on its first row."""
    cols = np.zeros(len(wanted), np.int64)
    step = max(1, 2**22 // labels.shape[1])  # rows compared at once
    for k in range(0, len(wanted), step):
        part = slice(k, k + step)
        cols[part] = np.argmax(labels[rows[part]] == wanted[part, None], axis=1)
    return cols


def _face_labels(faces):
    values = np.concatenate([faces.top, faces.bottom, faces.left, faces.right])
    values = np.unique(values)
    return values[values > 0].astype(np.int64)


def label_summary(labels, count, rows):
    """What the join needs from one labelled chunk: its faces, its label
    count, how many labels start on each of its rows, and the labels on its
    faces with the raster index of their first pixels."""
    faces = Faces.of(labels)
    height, width = labels.shape
    on_faces = _face_labels(faces)
    face_rows = rows[on_faces - 1]
    firsts = face_rows * width + _first_columns(labels, face_rows, on_faces)
    return faces, int(count), np.bincount(rows, minlength=height), on_faces, firsts


def join_label_faces(summaries, chunks):
    """Joins the per-chunk labels across faces and numbers every component
    by its first pixel in raster order of the whole image.

    Returns, per chunk, ``(row_base, moved, moved_to)``: the global number
    of a label l of the chunk whose first pixel lies on local row r and
    that starts its component is ``1 + row_base[r] + (l - 1 - #moved < l)``;
    the labels in ``moved`` continue a component that starts elsewhere and
    take the numbers ``moved_to``. Also returns the number of components."""
    ni, nj = len(summaries), len(summaries[0])
    r0 = np.concatenate([[0], np.cumsum(chunks[0])]).astype(np.int64)
    c0 = np.concatenate([[0], np.cumsum(chunks[1])]).astype(np.int64)
    width = int(c0[-1])
    flat = [summaries[i][j] for i in range(ni) for j in range(nj)]
    counts = np.array([s[1] for s in flat], np.int64)
    offsets = np.concatenate([[0], np.cumsum(counts)])
    # The face labels of all chunks, as compact nodes.
    gids = np.concatenate([s[3] + offsets[k] for k, s in enumerate(flat)] + [np.zeros(0, np.int64)])
    keys = []
    for k, s in enumerate(flat):
        i, j = divmod(k, nj)
        w = chunks[1][j]
        keys.append((r0[i] + s[4] // w) * width + c0[j] + s[4] % w)
    keys = np.concatenate(keys + [np.zeros(0, np.int64)])
    kp, vp, kq, vq = face_pairs([[summaries[i][j][0] for j in range(nj)] for i in range(ni)])
    both = (vp > 0) & (vq > 0)
    e0 = np.searchsorted(gids, vp[both] + offsets[kp[both]])
    e1 = np.searchsorted(gids, vq[both] + offsets[kq[both]])
    root = union_find(len(gids), e0, e1)
    first = np.full(len(gids), np.iinfo(np.int64).max)
    np.minimum.at(first, root, keys)
    starts = keys == first[root]
    # Labels starting per row, without those that continue a component.
    node_chunk = np.repeat(np.arange(len(flat)), [len(s[3]) for s in flat])
    starts_per_row = []
    for k, s in enumerate(flat):
        hist = s[2].astype(np.int64).copy()
        mine = node_chunk == k
        w = chunks[1][k % nj]
        rows = s[4][~starts[mine]] // w
        np.subtract.at(hist, rows, 1)
        starts_per_row.append(hist)
    # Components starting before each row of each chunk.
    bases = [[None] * nj for _ in range(ni)]
    done = 0
    for i in range(ni):
        before = np.stack([np.concatenate([[0], np.cumsum(starts_per_row[i * nj + j])])
                           for j in range(nj)])
        # chunks to the left count their row r too, those to the right do not
        left = np.cumsum(before[:, 1:], axis=0) - before[:, 1:]
        right = np.cumsum(before[::-1, :-1], axis=0)[::-1] - before[:, :-1]
        for j in range(nj):
            bases[i][j] = done + left[j] + right[j]
        done += int(before[:, -1].sum())
    # Numbers of the face labels that start a component, then of the others.
    number = np.zeros(len(gids), np.int64)
    moved = []
    for k, s in enumerate(flat):
        i, j = divmod(k, nj)
        mine = np.flatnonzero(node_chunk == k)
        labels = s[3]
        not_start = labels[~starts[mine]]
        rank = labels - 1 - np.searchsorted(not_start, labels)
        rows = s[4] // chunks[1][j]
        number[mine] = 1 + rank + bases[i][j][rows]
        moved.append((mine, not_start))
    component = np.zeros(len(gids), np.int64)
    component[root[starts]] = number[starts]
    tables = [[None] * nj for _ in range(ni)]
    for k, (mine, not_start) in enumerate(moved):
        i, j = divmod(k, nj)
        tables[i][j] = (bases[i][j], not_start, component[root[mine[~starts[mine]]]])
    return tables, done


def label_table(count, rows, table):
    """The lookup table 0 .. count of one chunk from its part of the join."""
    base, moved, moved_to = table
    out = np.zeros(count + 1, np.int32)
    labels = np.arange(1, count + 1, dtype=np.int64)
    rank = labels - 1 - np.searchsorted(moved, labels)
    out[1:] = 1 + rank + base[rows]
    out[moved] = moved_to
    return out


def join_extrema_faces(summaries, maxima):
    """Per chunk, the local extrema labels that are not extrema of the whole
    image: those joined across a face to a pixel of the same value outside
    any extremum of its chunk, or facing a higher (lower) pixel, and those
    joined through equal pixels to one of them."""
    ni, nj = len(summaries), len(summaries[0])
    flat = [summaries[i][j] for i in range(ni) for j in range(nj)]
    counts = np.array([s[2] for s in flat], np.int64)
    offsets = np.concatenate([[0], np.cumsum(counts)])
    kp, vp, kq, vq = face_pairs([[summaries[i][j][0] for j in range(nj)] for i in range(ni)])
    _, lp, _, lq = face_pairs([[summaries[i][j][1] for j in range(nj)] for i in range(ni)])
    gp, gq = lp + offsets[kp], lq + offsets[kq]
    nodes = np.unique(np.concatenate([gp[lp > 0], gq[lq > 0]]))
    equal = vp == vq
    joined = equal & (lp > 0) & (lq > 0)
    root = union_find(len(nodes), np.searchsorted(nodes, gp[joined]),
                      np.searchsorted(nodes, gq[joined]))
    better_q = (vq > vp) if maxima else (vq < vp)
    better_p = (vp > vq) if maxima else (vp < vq)
    bad_p = (lp > 0) & (better_q | (equal & (lq == 0)))
    bad_q = (lq > 0) & (better_p | (equal & (lp == 0)))
    bad = np.zeros(len(nodes), bool)
    bad[root[np.searchsorted(nodes, gp[bad_p])]] = True
    bad[root[np.searchsorted(nodes, gq[bad_q])]] = True
    bad = bad[root]
    node_chunk = np.searchsorted(offsets, nodes, side="left") - 1
    out = [[None] * nj for _ in range(ni)]
    for k in range(len(flat)):
        mine = (node_chunk == k) & bad
        out[k // nj][k % nj] = nodes[mine] - offsets[k]
    return out


class Offers(NamedTuple):
    """The best value a chunk's face pixels are offered by the 8-adjacent
    pixels of the neighbouring chunks."""

    top: np.ndarray
    bottom: np.ndarray
    left: np.ndarray
    right: np.ndarray

    def improves(self, faces, mask_faces, dilate):
        for offer, cur, m in zip(self, faces, mask_faces):
            cur = cur.astype(np.int64)
            if dilate and (np.minimum(offer, m) > cur).any():
                return True
            if not dilate and (np.maximum(offer, m) < cur).any():
                return True
        return False


def _window(ring, dilate):
    best = np.maximum if dilate else np.minimum
    return best(best(ring[:-2], ring[1:-1]), ring[2:])


def face_offers(faces, i, j, dilate):
    """Offers to chunk (i, j) from the faces of its eight neighbours."""
    ni, nj = len(faces), len(faces[0])
    none = _LOW if dilate else _HIGH
    h, w = len(faces[i][j].left), len(faces[i][j].top)

    def line(ii, jj, side, n):
        if 0 <= ii < ni and 0 <= jj < nj:
            return getattr(faces[ii][jj], side).astype(np.int64)
        return np.full(n, none)

    def pixel(ii, jj, side, end):
        if 0 <= ii < ni and 0 <= jj < nj:
            return getattr(faces[ii][jj], side)[end:][:1].astype(np.int64)
        return np.array([none])

    tl, tr = pixel(i - 1, j - 1, "bottom", -1), pixel(i - 1, j + 1, "bottom", 0)
    bl, br = pixel(i + 1, j - 1, "top", -1), pixel(i + 1, j + 1, "top", 0)
    top = np.concatenate([tl, line(i - 1, j, "bottom", w), tr])
    bottom = np.concatenate([bl, line(i + 1, j, "top", w), br])
    left = np.concatenate([tl, line(i, j - 1, "right", h), bl])
    right = np.concatenate([tr, line(i, j + 1, "left", h), br])
    return Offers(*(_window(r, dilate) for r in (top, bottom, left, right)))


def apply_offers(seed, mask, offers, dilate):
    """Raises (lowers) the face pixels of `seed` in place to what the
    neighbours offer, within the mask."""
    for offer, where in zip(offers, (np.s_[0, :], np.s_[-1, :], np.s_[:, 0], np.s_[:, -1])):
        m = mask[where].astype(np.int64)
        cur = seed[where].astype(np.int64)
        if dilate:
            seed[where] = np.maximum(cur, np.minimum(offer, m))
        else:
            seed[where] = np.minimum(cur, np.maximum(offer, m))
