"""
Colour spaces
=============

The ``colour`` family converts ``(rows, columns, 3)`` images between RGB and HSV, XYZ, L*a*b*,
L*u*v* and YCbCr, in integers (HSV's saturation and value and XYZ with 16384 as 1.0, hue in
degrees with 361 for greys). Segmenting in a perceptual space such as L*a*b*, or on the hue
alone, often separates what RGB mixes up.

The bands of the cat in three spaces, and the image converted back to RGB from each.
"""

import os

import matplotlib.pyplot as plt
import numpy as np

import foresting

data = os.environ.get("FORESTING_DATA", "data")
cat = foresting.read_image(os.path.join(data, "chelsea.ppm"))[::2, ::2]

spaces = (("HSV", "H S V", foresting.rgb_to_hsv, foresting.hsv_to_rgb),
          ("L*a*b*", "L* a* b*", foresting.rgb_to_lab, foresting.lab_to_rgb),
          ("YCbCr", "Y Cb Cr", foresting.rgb_to_ycbcr, foresting.ycbcr_to_rgb))

fig, axes = plt.subplots(3, 4, figsize=(11, 6))
for row, (space, names, forward, back) in zip(axes, spaces):
    converted = forward(cat)
    for ax, k, name in zip(row, range(3), names.split()):
        ax.imshow(converted[..., k], cmap="gray")
        ax.set_title(f"{space}: {name}", fontsize=9)
    row[3].imshow(np.clip(back(converted), 0, 255).astype(np.uint8))
    row[3].set_title(f"{space} back to RGB", fontsize=9)
for ax in axes.ravel():
    ax.axis("off")
fig.tight_layout()
plt.show()
