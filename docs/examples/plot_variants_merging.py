"""
Arc-weight images, masks and region merging
===========================================

The IFT variants work on arcs computed once: :func:`foresting.arc_weights` gives the weight of
every arc of the neighbourhood, and :func:`foresting.ift_arc_weights` runs the IFT over them, if
asked only inside a mask. :func:`foresting.ift_merging` merges the regions it grows at their
first contact and returns the graph of the labels that met, each edge weighted by a criterion
(here the smaller of the two areas).

The strongest arc at each pixel of the coins; the forest grown inside the coins' mask from one
seed at the centre of each coin, its path costs and its trees; and the graph of the regions grown
from the minima of a smoothed gradient, drawn between the regions' centres (thicker edges join
larger regions).
"""

import os

import matplotlib.pyplot as plt
import numpy as np

import foresting

data = os.environ.get("FORESTING_DATA", "data")
coins = foresting.read_image(os.path.join(data, "coins.pgm"))[::2, ::2]

weights, displacements = foresting.arc_weights(coins, 8, "euclidean")

# One seed per coin, at its pixel farthest from the background.
mask = foresting.opening(foresting.threshold(coins, 110, 255), 2)
components, count = foresting.label(mask)
depth = foresting.distance_transform(mask).distances
order = np.lexsort((-depth.ravel(), components.ravel()))
first = order[np.searchsorted(components.ravel()[order], np.arange(1, count + 1))]
centres = np.stack(np.unravel_index(first, coins.shape), axis=1)
forest, costs, _ = foresting.ift_arc_weights(coins, centres, weights, displacements,
                                             path_cost="sum", mask=mask)

relief, _ = foresting.area_closing(
    foresting.gradient(foresting.alternating_filter(coins, 3)), 100)
minima = foresting.regional_minima_seeds(relief)
regions, _, _, edges, edge_weights, _ = foresting.ift_merging(relief, minima)
area = np.maximum(np.bincount(regions.ravel()), 1)
rows, cols = np.indices(regions.shape)
centre_r = np.bincount(regions.ravel(), rows.ravel()) / area
centre_c = np.bincount(regions.ravel(), cols.ravel()) / area

fig, axes = plt.subplots(2, 2, figsize=(9, 7.5))
axes[0, 0].imshow(weights.max(axis=2), cmap="magma")
axes[0, 0].set_title("strongest arc weight")
axes[0, 1].imshow(np.where(mask, costs, 0), cmap="viridis")
axes[0, 1].plot(centres[:, 1], centres[:, 0], "r.", ms=4)
axes[0, 1].set_title(f"masked IFT from {count} seeds: path costs")
axes[1, 0].imshow(forest, cmap="nipy_spectral", interpolation="nearest")
axes[1, 0].set_title("its trees")
axes[1, 1].imshow(foresting.segmentation_borders(coins, regions, (255, 255, 0)))
for (u, v), w in zip(edges, edge_weights):
    axes[1, 1].plot([centre_c[u], centre_c[v]], [centre_r[u], centre_r[v]], "c-",
                    linewidth=0.3 + 2.5 * w / max(edge_weights.max(), 1))
n_minima = len(np.unique(minima.labels))
axes[1, 1].set_title(f"merging IFT from {n_minima} minima: {len(edges)} edges")
for ax in axes.ravel():
    ax.axis("off")
fig.tight_layout()
plt.show()
