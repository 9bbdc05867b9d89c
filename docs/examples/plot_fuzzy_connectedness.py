"""
Fuzzy connectedness
===================

Fuzzy connectedness describes each object by the mean and variance of its grey levels: an arc is
cheap when both its pixels look like the object, and a path is as weak as its weakest arc.
:func:`foresting.fuzzy_connectedness` grows one such IFT per object from its seeds; every pixel
goes to the object it is most strongly connected to. It segments objects that differ by their
level rather than by a sharp edge.

A cell under the microscope and its background, each with a few seeds: how strongly every pixel
is connected to each of them (255 minus the path cost), and the segmentation.
"""

import os
import tempfile

import matplotlib.pyplot as plt
import numpy as np

import foresting

data = os.environ.get("FORESTING_DATA", "data")
cell = foresting.read_image(os.path.join(data, "cell.pgm"))[::2, ::2]

coords = np.array([[187, 214], [180, 205], [195, 222],            # the cell
                   [60, 60], [280, 60], [60, 240], [300, 250]])   # background
labels = np.array([1, 1, 1, 2, 2, 2, 2])
seeds = foresting.Seeds(coords, labels, np.zeros(len(labels), np.int32))
# Each object's mean from its seeds' neighbourhoods; the variances are set wide
# (a spread of 60 grey levels for the cell, 30 for the background), so that
# the connectedness fades gradually away from what each object looks like.
means = [int(np.mean([cell[r - 3:r + 4, c - 3:c + 4] for r, c in coords[labels == k]]))
         for k in (1, 2)]
variances = [60**2, 30**2]

# The library writes debugging images at fixed names; keep them out of the way.
with tempfile.TemporaryDirectory() as folder:
    maps = []
    for k in (1, 2):
        _, costs = foresting.fuzzy_connectedness(
            cell, (coords[labels == k], 1), [means[k - 1]], [variances[k - 1]],
            workdir=folder)
        maps.append(255 - costs)
    objects, _ = foresting.fuzzy_connectedness(cell, seeds, means, variances,
                                               workdir=folder)

fig, axes = plt.subplots(2, 2, figsize=(8, 9))
axes[0, 0].imshow(cell, cmap="gray")
axes[0, 0].scatter(coords[:, 1], coords[:, 0], s=14,
                   c=np.where(labels == 1, "red", "cyan"))
axes[0, 0].set_title("cell and seeds")
axes[0, 1].imshow(maps[0], cmap="inferno", vmin=0, vmax=255)
axes[0, 1].set_title("connectedness to the cell")
axes[1, 0].imshow(maps[1], cmap="inferno", vmin=0, vmax=255)
axes[1, 0].set_title("connectedness to the background")
axes[1, 1].imshow(foresting.segmentation_borders(cell, objects))
axes[1, 1].set_title("segmentation")
for ax in axes.ravel():
    ax.axis("off")
fig.tight_layout()
plt.show()
