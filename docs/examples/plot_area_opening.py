"""
Area opening, closing and levelings
===================================

:func:`foresting.area_opening` removes every bright structure smaller than an area, whatever
its shape: each regional maximum is lowered until the connected set around it holds that many
pixels. :func:`foresting.area_closing` does the same for dark structures. Unlike an opening with
a disc, thin but large structures survive. The levelings simplify an image towards a marker
without moving its contours: :func:`foresting.leveling_by_marker`.

The camera image after area openings at growing areas, an area closing, and a leveling towards a
strongly filtered marker.
"""

import os

import matplotlib.pyplot as plt

import foresting

data = os.environ.get("FORESTING_DATA", "data")
camera = foresting.read_image(os.path.join(data, "camera.pgm"))[::2, ::2]

panels = [("camera", camera)]
for area in (20, 200, 2000):
    opened, _ = foresting.area_opening(camera, area)
    panels.append((f"area opening, {area} pixels", opened))
closed, _ = foresting.area_closing(camera, 200)
panels.append(("area closing, 200 pixels", closed))
marker = foresting.alternating_filter(camera, 6)
panels.append(("leveling by marker", foresting.leveling_by_marker(camera, marker)))

fig, axes = plt.subplots(2, 3, figsize=(10, 7))
for ax, (title, image) in zip(axes.ravel(), panels):
    ax.imshow(image, cmap="gray", vmin=0, vmax=255)
    ax.set_title(title, fontsize=10)
    ax.axis("off")
fig.tight_layout()
plt.show()
