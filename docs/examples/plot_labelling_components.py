"""
Connected components and regional extrema
=========================================

:func:`foresting.label` numbers the 8-connected components of the pixels above 0 in raster order
of their first pixel; :func:`foresting.regional_maxima` and :func:`foresting.regional_minima`
mark the flat zones with no higher (lower) neighbour, the natural markers for reconstructions
and watersheds.

The coins thresholded and labelled, and the regional maxima of the image after a light
smoothing, drawn in red.
"""

import os

import matplotlib.pyplot as plt

import foresting

data = os.environ.get("FORESTING_DATA", "data")
coins = foresting.read_image(os.path.join(data, "coins.pgm"))

bright = foresting.opening(foresting.threshold(coins, 110, 255), 4)
labels, count = foresting.label(bright)
maxima = foresting.regional_maxima(foresting.alternating_filter(coins, 2))

fig, axes = plt.subplots(1, 2, figsize=(9, 3.8))
axes[0].imshow(labels, cmap="nipy_spectral", interpolation="nearest")
axes[0].set_title(f"bright pixels labelled: {count} components")
axes[1].imshow(foresting.highlight(coins, foresting.dilation(maxima, 2)))
axes[1].set_title("regional maxima after an alternating filter")
for ax in axes:
    ax.axis("off")
fig.tight_layout()
plt.show()
