"""Every public function gives the same values for an array in the other byte
order, in Fortran order, as a negatively strided view or read-only as for a
native C-ordered copy, and its results come back in native byte order."""

import numpy as np
import pytest

import foresting as f

# Names that take no array: constants, record types, files read by path, the
# settings.
NO_ARRAY = {"WEIGHTS", "PATH_COSTS", "INFINITY_MIN", "INFINITY_MAX", "ARC_WEIGHTS", "CRITERIA",
            "GRAPH_DISTANCES", "Seeds", "Graph", "DistanceTransform", "ContourSeeds", "read_image",
            "read_roots", "frame_seeds", "verbose", "set_num_threads", "get_num_threads"}


def _reversed(a):
    flip = (slice(None, None, -1),) * a.ndim
    return a[flip].copy()[flip]


def _read_only(a):
    a = a.copy()
    a.flags.writeable = False
    return a


LAYOUTS = {
    "native": lambda a: a,
    "big-endian": lambda a: a.astype(a.dtype.newbyteorder(">")),
    "fortran": np.asfortranarray,
    "reversed": _reversed,
    "read-only": _read_only,
    "all at once": lambda a: _read_only(np.asfortranarray(_reversed(a.astype(a.dtype.newbyteorder(">"))))),
}


def _inputs():
    rng = np.random.default_rng(5)
    grey = rng.integers(0, 200, (9, 11)).astype(np.uint16)
    binary = np.zeros((9, 11), np.uint16)
    binary[2:7, 2:9] = 1
    binary[4, 5] = 0
    labels, _ = f.label(binary)
    colour = rng.integers(0, 256, (9, 11, 3)).astype(np.uint16)
    seeds = f.frame_seeds(grey.shape)
    one = f.Seeds(np.array([[4, 5]]), np.array([1]), np.array([120]))
    weights, displacements = f.arc_weights(grey)
    costs, parents = f.mst(grey)
    mosaic = f.label(f.threshold(grey, 0, 100))[0]
    graph = f.region_areas(f.region_graph(mosaic))
    return dict(g=grey, b=binary, lab=labels.astype(np.int32), c=colour, s=seeds, one=one, w=weights,
                d=displacements, costs=costs, parents=parents, graph=graph, mosaic=mosaic,
                hsv=f.rgb_to_hsv(colour), xyz=f.rgb_to_xyz(colour), lab_=f.rgb_to_lab(colour),
                luv=f.rgb_to_luv(colour), ycc=f.rgb_to_ycbcr(colour), skel=f.skeleton(binary)[0])


def _calls(x, tmp):
    def S(L, s=None):
        s = x["s"] if s is None else s
        return f.Seeds(L(np.asarray(s.coords)), L(np.asarray(s.labels)), L(np.asarray(s.costs)))

    def G(L):
        g = x["graph"]
        return f.Graph(L(g.arcs), L(g.weights), L(g.features), L(g.labels))

    def T(L):
        t = f.graph_mst(x["graph"])
        return f.Graph(L(t.arcs), L(t.weights), L(t.features), L(t.labels))

    def written(path, call):
        call()
        return path.read_bytes()

    g, b, lab, c = x["g"], x["b"], x["lab"], x["c"]
    return {
        "write_image": lambda L: written(tmp / "w.pgm", lambda: f.write_image(tmp / "w.pgm", L(g))),
        "write_roots": lambda L: written(tmp / "r.txt", lambda: f.write_roots(tmp / "r.txt", S(L), g.shape)),
        "regional_maxima_seeds": lambda L: f.regional_maxima_seeds(L(g), 10, 150),
        "regional_minima_seeds": lambda L: f.regional_minima_seeds(L(g)),
        "contour_seeds": lambda L: f.contour_seeds(L(b)),
        "label_seeds": lambda L: f.label_seeds(L(lab)),
        "cell_seeds": lambda L: f.cell_seeds(L(g), 2),
        "join_seeds": lambda L: f.join_seeds(S(L), S(L, x["one"])),
        "cut_domes": lambda L: f.cut_domes(L(g), S(L)),
        "fill_basins": lambda L: f.fill_basins(L(g), S(L)),
        "sieve": lambda L: f.sieve(L(g), L(g // 2), S(L)),
        "reconstruction": lambda L: f.reconstruction(L(np.minimum(g, 90)), L(g)),
        "ift": lambda L: f.ift(L(g), S(L)),
        "watershed": lambda L: f.watershed(L(g), L(lab)),
        "regional_minima": lambda L: f.regional_minima(L(g)),
        "regional_maxima": lambda L: f.regional_maxima(L(g)),
        "label": lambda L: f.label(L(b)),
        "seeded_flat_zones": lambda L: f.seeded_flat_zones(L(g // 50), S(L)),
        "dilation": lambda L: f.dilation(L(g), 2),
        "erosion": lambda L: f.erosion(L(g), 2),
        "opening": lambda L: f.opening(L(g), 2),
        "closing": lambda L: f.closing(L(g), 2),
        "alternating_filter": lambda L: f.alternating_filter(L(g), 2),
        "gradient": lambda L: f.gradient(L(c)),
        "threshold": lambda L: f.threshold(L(g), 50, 150),
        "band_pass": lambda L: f.band_pass(L(g), 50, 150),
        "negative": lambda L: f.negative(L(g)),
        "highlight": lambda L: f.highlight(L(g), L(b)),
        "segmentation_borders": lambda L: f.segmentation_borders(L(g), L(lab)),
        "add_border": lambda L: f.add_border(L(g), 2),
        "remove_border": lambda L: f.remove_border(L(g), 1),
        "histogram": lambda L: f.histogram(L(g), L(b)),
        "distance_transform": lambda L: f.distance_transform(L(b)),
        "distance_transform_edt": lambda L: f.distance_transform_edt(L(b), return_indices=True, return_labels=True),
        "skeleton": lambda L: f.skeleton(L(b)),
        "skeleton_reconstruction": lambda L: f.skeleton_reconstruction(L(x["skel"])),
        "inner_contour_seeds": lambda L: f.inner_contour_seeds(L(b)),
        "contour_following": lambda L: f.contour_following(L(b)),
        "contour_propagation": lambda L: f.contour_propagation(L(b)),
        "euclidean_skeleton": lambda L: f.euclidean_skeleton(L(b), f.contour_seeds(L(b))),
        "skeleton_ift": lambda L: f.skeleton_ift(L(b), f.contour_seeds(L(b))),
        "euclidean_shortest_path": lambda L: f.euclidean_shortest_path(L(b), (3, 3), (5, 7)),
        "histogram_by_skeleton": lambda L: f.histogram_by_skeleton(L(b), 50, workdir=tmp),
        "fuzzy_connectedness": lambda L: f.fuzzy_connectedness(L(g), S(L, x["one"]), [100], [400], workdir=tmp),
        "fuzzy_weights": lambda L: f.fuzzy_weights(L(g), 100, 400),
        "rgb_to_hsv": lambda L: f.rgb_to_hsv(L(c)),
        "hsv_to_rgb": lambda L: f.hsv_to_rgb(L(x["hsv"])),
        "rgb_to_xyz": lambda L: f.rgb_to_xyz(L(c)),
        "xyz_to_rgb": lambda L: f.xyz_to_rgb(L(x["xyz"])),
        "xyz_to_lab": lambda L: f.xyz_to_lab(L(x["xyz"])),
        "lab_to_xyz": lambda L: f.lab_to_xyz(L(x["lab_"])),
        "xyz_to_luv": lambda L: f.xyz_to_luv(L(x["xyz"])),
        "luv_to_xyz": lambda L: f.luv_to_xyz(L(x["luv"])),
        "rgb_to_lab": lambda L: f.rgb_to_lab(L(c)),
        "lab_to_rgb": lambda L: f.lab_to_rgb(L(x["lab_"])),
        "rgb_to_luv": lambda L: f.rgb_to_luv(L(c)),
        "luv_to_rgb": lambda L: f.luv_to_rgb(L(x["luv"])),
        "rgb_to_ycbcr": lambda L: f.rgb_to_ycbcr(L(c)),
        "ycbcr_to_rgb": lambda L: f.ycbcr_to_rgb(L(x["ycc"])),
        "area_opening": lambda L: f.area_opening(L(g), 5),
        "area_closing": lambda L: f.area_closing(L(g), 5),
        "leveling": lambda L: f.leveling(L(g), L(g // 2), S(L, x["one"])),
        "leveling_by_marker": lambda L: f.leveling_by_marker(L(g), L(f.erosion(g, 2))),
        "ift_normalized": lambda L: f.ift_normalized(L(g), S(L)),
        "ift_arc_weights": lambda L: f.ift_arc_weights(L(g), S(L), L(x["w"]), L(x["d"])),
        "ift_merging": lambda L: f.ift_merging(L(g), S(L)),
        "arc_weights": lambda L: f.arc_weights(L(g)),
        "region_graph": lambda L: f.region_graph(L(x["mosaic"])),
        "eliminate_small_regions": lambda L: f.eliminate_small_regions(G(L), 3, 2),
        "region_areas": lambda L: f.region_areas(G(L)),
        "region_volumes": lambda L: f.region_volumes(G(L), L(g)),
        "region_mean_colours": lambda L: f.region_mean_colours(G(L), L(c)),
        "normalize_features": lambda L: f.normalize_features(G(L)),
        "graph_gradient": lambda L: f.graph_gradient(G(L)),
        "collapse_graph": lambda L: f.collapse_graph(G(L)),
        "graph_mst": lambda L: f.graph_mst(G(L)),
        "graph_ift": lambda L: f.graph_ift(G(L), (L(np.array([1, 2])), L(np.array([5, 9])))),
        "cut_tree": lambda L: f.cut_tree(T(L), 3),
        "cut_tree_regions": lambda L: f.cut_tree_regions(T(L), 2),
        "cut_forest": lambda L: f.cut_forest(f.graph_ift(G(L), ([1], [5])), 0.5),
        "mst": lambda L: f.mst(L(g)),
        "mst_arc_weights": lambda L: f.mst_arc_weights(L(x["w"]), L(x["d"])),
        "cut_mst": lambda L: f.cut_mst(L(x["costs"]), L(x["parents"]), 0.5),
        "features_image": lambda L: f.features_image(G(L)),
        "region_mean_image": lambda L: f.region_mean_image(L(c), L(lab)),
        "normalize_bands": lambda L: f.normalize_bands(L(c)),
    }


def _assert_same(got, want, where="result"):
    if isinstance(want, np.ndarray):
        assert isinstance(got, np.ndarray), where
        assert got.dtype.isnative, f"{where}: {got.dtype} is not in native byte order"
        assert got.dtype == want.dtype and got.shape == want.shape, where
        np.testing.assert_array_equal(got, want, err_msg=where)
    elif isinstance(want, (tuple, list)):
        assert type(got) is type(want) and len(got) == len(want), where
        for i, (a, b) in enumerate(zip(got, want)):
            _assert_same(a, b, f"{where}[{i}]")
    else:
        assert got == want, where


def test_every_public_function_is_covered(tmp_path):
    covered = set(_calls(_inputs(), tmp_path)) | NO_ARRAY
    assert set(f.__all__) <= covered, sorted(set(f.__all__) - covered)


@pytest.mark.parametrize("layout", [k for k in LAYOUTS if k != "native"])
@pytest.mark.parametrize("name", sorted(set(f.__all__) - NO_ARRAY))
def test_any_layout_gives_the_native_values(name, layout, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # cell_seeds writes labeled.pgm where it runs
    x = _inputs()
    call = _calls(x, tmp_path)[name]
    want = call(LAYOUTS["native"])
    _assert_same(call(LAYOUTS[layout]), want)
