"""
Images and roots files
======================

:func:`foresting.read_image` reads Netpbm files (P2, P5 and P6, 8- or 16-bit) into numpy
arrays: ``(rows, columns)`` for grey images, ``(rows, columns, 3)`` in red, green, blue order for
colour ones. :func:`foresting.write_image` writes an array back in the format its dtype calls
for. Seed sets travel as *roots files*, the plain-text format that the ``sower`` and ``sieve``
programs exchange: :func:`foresting.write_roots` and :func:`foresting.read_roots`.

Here the seeds on the brightest regional maxima of the coins make the round trip through a roots
file; the costs are not stored, the pixels and labels come back unchanged.
"""

import os
import tempfile

import matplotlib.pyplot as plt

import foresting

data = os.environ.get("FORESTING_DATA", "data")  # the repository's data/ folder
coins = foresting.read_image(os.path.join(data, "coins.pgm"))
cat = foresting.read_image(os.path.join(data, "chelsea.ppm"))

seeds = foresting.regional_maxima_seeds(coins, 230, 255)
with tempfile.TemporaryDirectory() as folder:
    path = os.path.join(folder, "maxima.txt")
    foresting.write_roots(path, seeds, coins.shape)
    with open(path) as f:
        head = f.read().splitlines()[:4]
    back = foresting.read_roots(path, coins.shape)
assert (back.coords == seeds.coords).all()
assert (back.labels == seeds.labels).all()

fig, axes = plt.subplots(1, 2, figsize=(9, 4))
axes[0].imshow(cat)
axes[0].set_title(f"chelsea.ppm: {cat.shape}, {cat.dtype}")
axes[1].imshow(coins, cmap="gray")
axes[1].plot(back.coords[:, 1], back.coords[:, 0], "r.", markersize=3)
axes[1].set_title(f"coins.pgm and {len(back)} seeds read back")
axes[1].text(5, 295, "maxima.txt:\n" + "\n".join(head) + "\n...", color="yellow",
             fontsize=8, family="monospace", va="bottom")
for ax in axes:
    ax.axis("off")
fig.tight_layout()
plt.show()
