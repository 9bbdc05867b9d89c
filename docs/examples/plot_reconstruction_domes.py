"""
Cutting domes and filling basins
================================

Reconstruction from seeds is a connected filter: it removes whole structures and leaves the
others untouched, with no blur. :func:`foresting.cut_domes` (reconstruction by dilation) lowers
every bright dome that holds no seed to the pass that leads to one; :func:`foresting.fill_basins`
is its dual for dark basins. Use them to keep or remove objects by a marker instead of by shape.

Seeded on the regional maxima at or above 230, the cut keeps only the coins with a point that
bright; the difference shows what went. Seeded on the image frame, the fill raises every dark
hole that does not touch the border to the level of its rim.
"""

import os

import matplotlib.pyplot as plt

import foresting

data = os.environ.get("FORESTING_DATA", "data")
coins = foresting.read_image(os.path.join(data, "coins.pgm"))

maxima = foresting.regional_maxima_seeds(coins, 230, 255)
cut, _ = foresting.cut_domes(coins, maxima)

frame = foresting.frame_seeds(coins.shape)
levels = coins[frame.coords[:, 0], frame.coords[:, 1]]   # each starts at its level
filled, _ = foresting.fill_basins(coins, (frame.coords, frame.labels, levels))

fig, axes = plt.subplots(2, 2, figsize=(9, 7))
panels = (("coins.pgm", coins), ("domes cut (seeds: maxima >= 230)", cut),
          ("what the cut removed", coins - cut),
          ("basins filled (seeds: the frame)", filled))
for ax, (title, image) in zip(axes.ravel(), panels):
    ax.imshow(image, cmap="gray", vmin=0, vmax=255)
    ax.set_title(title, fontsize=10)
    ax.axis("off")
fig.tight_layout()
plt.show()
