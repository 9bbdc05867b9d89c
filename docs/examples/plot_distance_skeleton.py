"""
Distance transform and skeletons
================================

:func:`foresting.distance_transform` propagates the squared Euclidean distance from seeds (by
default the background pixels) with an IFT, and names for every pixel its nearest seed.
:func:`foresting.skeleton` keeps the pixels where the contour labels of the propagation from the
object's border differ by at least a threshold: a larger threshold prunes the shorter branches,
so one call gives the skeleton at every scale. :func:`foresting.skeleton_reconstruction` gives
the shape back as the union of the discs centred on a skeleton.

The horse's distance map, its inner skeleton over the shape at two thresholds, and the shape
rebuilt from the pruned skeleton.
"""

import os

import matplotlib.pyplot as plt
import numpy as np

import foresting

data = os.environ.get("FORESTING_DATA", "data")
horse = foresting.read_image(os.path.join(data, "horse.pgm"))

distances = foresting.distance_transform(horse).distances
fine, largest = foresting.skeleton(horse, "inside", threshold=20)
coarse, _ = foresting.skeleton(horse, "inside", threshold=largest // 4)
rebuilt = foresting.skeleton_reconstruction(coarse)

fig, axes = plt.subplots(2, 2, figsize=(9, 7.5))
axes[0, 0].imshow(np.sqrt(distances), cmap="viridis")
axes[0, 0].set_title("distance to the background")
for ax, skel, title in ((axes[0, 1], fine, "skeleton, threshold 20"),
                        (axes[1, 0], coarse, f"threshold {largest // 4}")):
    ax.imshow(horse, cmap="gray", vmax=400)
    rows, cols = np.nonzero(skel)
    ax.scatter(cols, rows, s=1, c="red")
    ax.set_title(title)
axes[1, 1].imshow(horse // 2 + rebuilt * 100, cmap="gray")
axes[1, 1].set_title("discs of the pruned skeleton over the shape")
for ax in axes.ravel():
    ax.axis("off")
fig.tight_layout()
plt.show()
