"""
Seed generators
===============

Every IFT grows from seeds: pixels with a label and an initial cost. The functions of the
``seeds`` family compute them as the ``sower`` program does: the regional maxima (or minima)
whose level lies in a range, the contour border of a binary image, the image frame, the pixels of
a label image, or the seeds for extracting cells. They return :class:`foresting.Seeds` records
whose order is the order in which an IFT enters them.

Four of them: the maxima of the coins at or above 230, the border of the horse with one label
per pixel (coloured along the contour), the frame of the image, and the pixels of a label image
(the coins thresholded and labelled), each labelled with its coin's number.
"""

import os

import matplotlib.pyplot as plt

import foresting

data = os.environ.get("FORESTING_DATA", "data")
coins = foresting.read_image(os.path.join(data, "coins.pgm"))
horse = foresting.read_image(os.path.join(data, "horse.pgm"))

maxima = foresting.regional_maxima_seeds(coins, 230, 255)
border = foresting.contour_seeds(horse, per_pixel=True)
frame = foresting.frame_seeds(horse.shape)
labels, _ = foresting.label(foresting.threshold(coins, 180, 255))
marked = foresting.label_seeds(labels)

fig, axes = plt.subplots(2, 2, figsize=(9, 7))
panels = ((coins, maxima, f"maxima in [230, 255]: {len(maxima)} seeds"),
          (horse, border, f"contour border: {len(border)} seeds"),
          (horse, frame, f"image frame: {len(frame)} seeds"),
          (coins, marked, f"label image: {len(marked)} seeds"))
for ax, (image, seeds, title) in zip(axes.ravel(), panels):
    ax.imshow(image, cmap="gray")
    ax.scatter(seeds.coords[:, 1], seeds.coords[:, 0], c=seeds.labels,
               cmap="turbo", s=2)
    ax.set_title(title, fontsize=10)
    ax.axis("off")
fig.tight_layout()
plt.show()
