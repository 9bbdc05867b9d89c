// The three stacked canvases: the image, the labels over it, and the seeds on
// top, which takes the pointer. Seeds live in a Uint8Array (0 or a label 1..8
// per pixel) painted with a round brush; the labels come from the worker.

export const COLOURS = [
  [230, 25, 75], [60, 180, 75], [67, 99, 216], [255, 225, 25],
  [245, 130, 49], [145, 30, 180], [66, 212, 244], [240, 50, 230],
];
const BORDER = [255, 255, 255];

export class Board {
  constructor(imageCanvas, labelCanvas, seedCanvas) {
    this.canvases = [imageCanvas, labelCanvas, seedCanvas];
    this.seedCanvas = seedCanvas;
    this.width = 0;
    this.height = 0;
    this.seeds = new Uint8Array(0);
  }

  setImage(width, height, rgba) {
    this.width = width;
    this.height = height;
    for (const c of this.canvases) {
      c.width = width;
      c.height = height;
    }
    const [imageCtx, labelCtx, seedCtx] = this.canvases.map((c) => c.getContext('2d'));
    imageCtx.putImageData(new ImageData(new Uint8ClampedArray(rgba.buffer, rgba.byteOffset, rgba.length), width, height), 0, 0);
    labelCtx.clearRect(0, 0, width, height);
    this.fit();
    this.seedCtx = seedCtx;
    this.seedPixels = seedCtx.createImageData(width, height);
    this.setSeeds(new Uint8Array(width * height));
  }

  // Shows the image as large as the window below the controls allows, small
  // ones enlarged up to four times; the upper canvases follow the lowest.
  fit() {
    if (!this.width) return;
    const top = this.canvases[0].getBoundingClientRect().top + window.scrollY;
    const across = Math.min(window.innerWidth - 32, 1160);
    const down = Math.max(window.innerHeight - top - 16, 0.5 * window.innerHeight);
    const scale = Math.min(across / this.width, down / this.height, 4);
    this.canvases[0].style.width = `${Math.floor(this.width * scale)}px`;
    this.canvases[0].style.height = `${Math.floor(this.height * scale)}px`;
  }

  setSeeds(seeds) {
    this.seeds = seeds;
    this.redrawSeeds(0, 0, this.width - 1, this.height - 1);
  }

  // The pixel under a pointer event, in image coordinates.
  pixelAt(event) {
    const r = this.seedCanvas.getBoundingClientRect();
    return {
      x: Math.floor(((event.clientX - r.left) * this.width) / r.width),
      y: Math.floor(((event.clientY - r.top) * this.height) / r.height),
    };
  }

  // Stamps discs of the given diameter along the segment from (x0, y0) to
  // (x1, y1), setting value (0 erases).
  stroke(x0, y0, x1, y1, diameter, value) {
    const r = Math.max(diameter, 1) / 2;
    const steps = Math.max(1, Math.ceil(Math.hypot(x1 - x0, y1 - y0) / Math.max(1, r / 2)));
    let left = Infinity, top = Infinity, right = -Infinity, bottom = -Infinity;
    for (let s = 0; s <= steps; s++) {
      const cx = x0 + ((x1 - x0) * s) / steps + 0.5;
      const cy = y0 + ((y1 - y0) * s) / steps + 0.5;
      const xa = Math.max(0, Math.floor(cx - r)), xb = Math.min(this.width - 1, Math.ceil(cx + r));
      const ya = Math.max(0, Math.floor(cy - r)), yb = Math.min(this.height - 1, Math.ceil(cy + r));
      for (let y = ya; y <= yb; y++) {
        for (let x = xa; x <= xb; x++) {
          const dx = x + 0.5 - cx, dy = y + 0.5 - cy;
          if (dx * dx + dy * dy <= r * r) this.seeds[y * this.width + x] = value;
        }
      }
      left = Math.min(left, xa); right = Math.max(right, xb);
      top = Math.min(top, ya); bottom = Math.max(bottom, yb);
    }
    if (left <= right && top <= bottom) this.redrawSeeds(left, top, right, bottom);
  }

  redrawSeeds(left, top, right, bottom) {
    const out = this.seedPixels.data;
    for (let y = top; y <= bottom; y++) {
      for (let x = left; x <= right; x++) {
        const p = y * this.width + x, s = this.seeds[p];
        const c = s ? COLOURS[s - 1] : BORDER;
        out[4 * p] = c[0];
        out[4 * p + 1] = c[1];
        out[4 * p + 2] = c[2];
        out[4 * p + 3] = s ? 255 : 0;
      }
    }
    this.seedCtx.putImageData(this.seedPixels, 0, 0, left, top, right - left + 1, bottom - top + 1);
  }

  // Labels in their colours at the given opacity (0..1), with the pixels
  // that touch another label (4-neighbours) drawn opaque as the border.
  // Pixels are written as whole RGBA words, each colour's word made once.
  drawLabels(labels, opacity) {
    const { width, height } = this;
    const ctx = this.canvases[1].getContext('2d');
    if (!this.labelPixels || this.labelPixels.width !== width || this.labelPixels.height !== height) {
      this.labelPixels = ctx.createImageData(width, height);
    }
    const out = new Uint32Array(this.labelPixels.data.buffer);
    const alpha = Math.round(opacity * 255);
    const word = (rgba) => new Uint32Array(Uint8ClampedArray.from(rgba).buffer)[0];
    const fill = Uint32Array.from([0, ...COLOURS.map((c) => word([...c, alpha]))]);
    const border = word([...BORDER, 255]);
    for (let y = 0, p = 0; y < height; y++) {
      // Rows beyond the image compare a pixel with itself.
      const up = y > 0 ? -width : 0, down = y + 1 < height ? width : 0;
      for (let x = 0; x < width; x++, p++) {
        const l = labels[p];
        const edge = labels[p + up] !== l || labels[p + down] !== l ||
          (x > 0 && labels[p - 1] !== l) || (x + 1 < width && labels[p + 1] !== l);
        out[p] = edge ? border : fill[l];
      }
    }
    ctx.putImageData(this.labelPixels, 0, 0);
  }
}
