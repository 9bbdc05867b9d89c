"""
The image foresting transform and the watershed
===============================================

:func:`foresting.ift` grows a forest of best paths from seeds over the pixel graph: every pixel
gets the label of the seed that reaches it most cheaply, the cost of that path and its
predecessor. The arc weight and the path cost choose the operator: the highest level crossed
(``path_cost="max"``) on a gradient gives the watershed, the sum of grey differences gives
geodesic distances. :func:`foresting.watershed` is the first one from a label image of markers.

Two seeds on the camera image, one on the coat and one in the sky: the cost of the cheapest path
by summed grey differences, the zones the two seeds conquer, and the watershed of the gradient
from two markers at the same places.
"""

import os

import matplotlib.pyplot as plt
import numpy as np

import foresting

data = os.environ.get("FORESTING_DATA", "data")
camera = foresting.read_image(os.path.join(data, "camera.pgm"))[::2, ::2]

seeds = foresting.Seeds(np.array([[150, 90], [40, 200]]), np.array([1, 2]),
                        np.array([0, 0]))
labels, costs, _ = foresting.ift(camera, seeds, weight="euclidean",
                                 path_cost="sum")

markers = np.zeros(camera.shape, np.int32)
markers[140:160, 80:100] = 1
markers[20:60, 180:220] = 2
zones = foresting.watershed(foresting.gradient(camera), markers)

fig, axes = plt.subplots(2, 2, figsize=(8, 8))
axes[0, 0].imshow(camera, cmap="gray")
axes[0, 0].plot(seeds.coords[:, 1], seeds.coords[:, 0], "r+", ms=12, mew=2)
axes[0, 0].set_title("camera and two seeds")
axes[0, 1].imshow(costs, cmap="magma")
axes[0, 1].set_title("path costs (sum of differences)")
axes[1, 0].imshow(labels, cmap="coolwarm")
axes[1, 0].set_title("labels of the IFT")
axes[1, 1].imshow(foresting.segmentation_borders(camera, zones))
axes[1, 1].set_title("watershed of the gradient")
for ax in axes.ravel():
    ax.axis("off")
fig.tight_layout()
plt.show()
