"""The coins image, its dome cut and its watershed zones side by side.

    PYTHONPATH=build/release/python /usr/bin/python3 examples/coins.py [out.png]

Needs matplotlib (Debian: python3-matplotlib); the package itself does not."""

import pathlib
import sys

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np

import foresting

root = pathlib.Path(__file__).resolve().parent.parent
out = sys.argv[1] if len(sys.argv) > 1 else root / "examples" / "coins.png"

coins = foresting.read_image(root / "data" / "coins.pgm")

# Dome cutting as the demo does it: the regional maxima in [230, 255] keep
# their domes, every other dome is cut at its pass.
maxima = foresting.regional_maxima_seeds(coins, 230, 255)
cut, _ = foresting.sieve(coins, coins, maxima, cut_domes=True, mode="global")

# Watershed zones of the gradient: one marker per coin (the eroded cores of
# the bright pixels) and one for the background: its dark pixels and the
# image frame.
cores = foresting.erosion(foresting.closing(foresting.threshold(coins, 120, 255), 16), 36)
objects, count = foresting.label(cores)
background = foresting.erosion(foresting.threshold(coins, 0, 75), 9)
markers = np.where(background, count + 1, objects)
frame = foresting.frame_seeds(coins.shape)
markers[frame.coords[:, 0], frame.coords[:, 1]] = count + 1
zones = foresting.watershed(foresting.gradient(coins), markers)
overlay = foresting.segmentation_borders(coins, zones, color=(255, 40, 40))

fig, axes = plt.subplots(1, 3, figsize=(12, 3.4))
for ax, image, title in zip(axes, (coins, cut, overlay),
                            ("coins.pgm", "domes cut (seeds: maxima in [230, 255])",
                             "watershed zones of the gradient")):
    ax.imshow(image, cmap="gray", vmin=0, vmax=255)
    ax.set_title(title, fontsize=10)
    ax.axis("off")
fig.tight_layout()
fig.savefig(out, dpi=80)
print(f"wrote {out}")
