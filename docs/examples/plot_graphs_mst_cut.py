"""
Spanning forests and their cuts
===============================

:func:`foresting.mst` grows the minimum spanning tree of the pixel graph by Prim's algorithm;
:func:`foresting.cut_mst` removes its arcs heavier than a fraction of the heaviest one, leaving a
forest whose trees are regions of similar pixels. A lower fraction cuts more arcs and gives more,
smaller regions. Region graphs (:func:`foresting.region_graph` and the functions that take a
:class:`foresting.Graph`) carry on from such label images.

The camera image cut at three fractions, each region painted with its mean grey level.
"""

import os

import matplotlib.pyplot as plt
import numpy as np

import foresting

data = os.environ.get("FORESTING_DATA", "data")
camera = foresting.read_image(os.path.join(data, "camera.pgm"))[::2, ::2]

costs, parents = foresting.mst(camera, adjacency=8, weight="euclidean")

fig, axes = plt.subplots(2, 2, figsize=(8, 8))
axes[0, 0].imshow(camera, cmap="gray", vmin=0, vmax=255)
axes[0, 0].set_title("camera")
for ax, fraction in zip(axes.ravel()[1:], (0.6, 0.35, 0.2)):
    roots = foresting.cut_mst(costs, parents, fraction)
    _, regions = np.unique(roots, return_inverse=True)
    regions = regions.reshape(roots.shape).astype(np.int32) + 1
    graph = foresting.region_graph(regions)
    means = foresting.region_mean_image(camera, regions)
    ax.imshow(means, cmap="gray", vmin=0, vmax=255)
    ax.set_title(f"cut at {fraction}: {graph.n_vertices - 1} regions")
for ax in axes.ravel():
    ax.axis("off")
fig.tight_layout()
plt.show()
