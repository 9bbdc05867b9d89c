"""
Pixel-wise operations and overlays
==================================

The small tools around the operators: :func:`foresting.threshold` (a mask of a level range),
:func:`foresting.band_pass` (the values in a range, 0 elsewhere), :func:`foresting.negative`,
:func:`foresting.histogram` (optionally under a mask), and the overlays that draw results over an
image: :func:`foresting.highlight` paints a mask, :func:`foresting.segmentation_borders` the
borders between labels.
"""

import os

import matplotlib.pyplot as plt

import foresting

data = os.environ.get("FORESTING_DATA", "data")
coins = foresting.read_image(os.path.join(data, "coins.pgm"))

mask = foresting.threshold(coins, 150, 255)
counts = foresting.histogram(coins)
under_mask = foresting.histogram(coins, mask)

fig, axes = plt.subplots(2, 2, figsize=(9, 6.5))
axes[0, 0].imshow(foresting.band_pass(coins, 100, 200), cmap="gray")
axes[0, 0].set_title("band_pass 100 .. 200")
axes[0, 1].imshow(foresting.negative(coins), cmap="gray")
axes[0, 1].set_title("negative")
axes[1, 0].imshow(foresting.highlight(coins, mask, color=(0, 200, 255)))
axes[1, 0].set_title("highlight of threshold 150 .. 255")
for ax in (axes[0, 0], axes[0, 1], axes[1, 0]):
    ax.axis("off")
axes[1, 1].bar(range(len(counts)), counts, width=1, color="0.6",
               label="every pixel")
axes[1, 1].bar(range(len(under_mask)), under_mask, width=1, color="tab:blue",
               label="under the mask")
axes[1, 1].set_title("histogram")
axes[1, 1].legend(fontsize=8)
fig.tight_layout()
plt.show()
