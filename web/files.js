// File import and export. PNG and JPEG files are decoded by the browser;
// Netpbm files (P2, P5, P6) go as bytes to the library's reader in the worker.
// Images wider or taller than LARGEST_SIDE are refused before they are read.

export const LARGEST_SIDE = 4096;

const tooLarge = (w, h) =>
  `The image is ${w} x ${h} pixels; this page takes at most ${LARGEST_SIDE} x ${LARGEST_SIDE}.`;

function startsWith(bytes, magic) {
  return magic.every((b, i) => bytes[i] === b);
}

// Width and height from a Netpbm header, or null when the header cannot be
// read (the library then says what is wrong with it).
function netpbmSize(bytes) {
  let i = 2;
  const fields = [];
  while (fields.length < 2 && i < bytes.length) {
    const c = bytes[i];
    if (c === 0x23) {
      while (i < bytes.length && bytes[i] !== 0x0a && bytes[i] !== 0x0d) i++;
    } else if (c >= 0x30 && c <= 0x39) {
      let v = 0;
      while (i < bytes.length && bytes[i] >= 0x30 && bytes[i] <= 0x39) v = Math.min(v * 10 + bytes[i++] - 0x30, 1e9);
      fields.push(v);
    } else if (c === 0x20 || (c >= 0x09 && c <= 0x0d)) {
      i++;
    } else {
      return null;
    }
  }
  return fields.length === 2 ? fields : null;
}

// What the worker needs to open the file: {netpbm: bytes} or {rgba, width, height}.
export async function readImageFile(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  if (bytes.length >= 2 && bytes[0] === 0x50 && [0x32, 0x35, 0x36].includes(bytes[1])) {
    const size = netpbmSize(bytes);
    if (size && (size[0] > LARGEST_SIDE || size[1] > LARGEST_SIDE)) throw new Error(tooLarge(size[0], size[1]));
    return { netpbm: bytes };
  }
  const png = startsWith(bytes, [0x89, 0x50, 0x4e, 0x47]);
  const jpeg = startsWith(bytes, [0xff, 0xd8, 0xff]);
  if (!png && !jpeg) throw new Error(`${file.name} is not a PNG, JPEG, P2, P5 or P6 image.`);
  let bitmap;
  try {
    bitmap = await createImageBitmap(new Blob([bytes]), { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
  } catch {
    throw new Error(`${file.name} could not be decoded: the file is damaged or incomplete.`);
  }
  const { width, height } = bitmap;
  if (width > LARGEST_SIDE || height > LARGEST_SIDE) {
    bitmap.close();
    throw new Error(tooLarge(width, height));
  }
  const canvas = new OffscreenCanvas(width, height);
  const ctx = canvas.getContext('2d');
  ctx.drawImage(bitmap, 0, 0);
  bitmap.close();
  return { rgba: new Uint8Array(ctx.getImageData(0, 0, width, height).data.buffer), width, height };
}

export function download(name, data, type) {
  const blob = data instanceof Blob ? data : new Blob([data], { type });
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 10000);
}

// The labels as an opaque PNG: each label in its colour, 0 in black.
export function labelsPng(labels, width, height, colours) {
  const canvas = new OffscreenCanvas(width, height);
  const ctx = canvas.getContext('2d');
  const image = ctx.createImageData(width, height);
  const out = image.data;
  for (let p = 0; p < labels.length; p++) {
    const c = labels[p] ? colours[labels[p] - 1] : [0, 0, 0];
    out[4 * p] = c[0];
    out[4 * p + 1] = c[1];
    out[4 * p + 2] = c[2];
    out[4 * p + 3] = 255;
  }
  ctx.putImageData(image, 0, 0);
  return canvas.convertToBlob({ type: 'image/png' });
}
