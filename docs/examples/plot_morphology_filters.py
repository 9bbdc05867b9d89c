"""
Flat morphology with discs
==========================

Dilation, erosion, opening and closing with a disc given by its squared radius (1: the cross of
the 4-neighbourhood, 2: the 3 x 3 square, larger: rounder discs), the alternating sequential
filter (an opening and a closing at each radius up to ``steps``) and the morphological gradient.
Every band of a colour image is filtered; near the border only the part of the disc inside the
image counts.
"""

import os

import matplotlib.pyplot as plt

import foresting

data = os.environ.get("FORESTING_DATA", "data")
camera = foresting.read_image(os.path.join(data, "camera.pgm"))[::2, ::2]

panels = (("camera", camera),
          ("dilation, r² = 9", foresting.dilation(camera, 9)),
          ("erosion, r² = 9", foresting.erosion(camera, 9)),
          ("gradient", foresting.gradient(camera)),
          ("opening, r² = 9", foresting.opening(camera, 9)),
          ("closing, r² = 9", foresting.closing(camera, 9)),
          ("alternating filter, 4 steps", foresting.alternating_filter(camera, 4)),
          ("closing-opening filter, 4 steps",
           foresting.alternating_filter(camera, 4, order="co")))

fig, axes = plt.subplots(2, 4, figsize=(11, 6))
for ax, (title, image) in zip(axes.ravel(), panels):
    ax.imshow(image, cmap="gray")
    ax.set_title(title, fontsize=9)
    ax.axis("off")
fig.tight_layout()
plt.show()
