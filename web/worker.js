// The Web Worker that owns the compiled library: it keeps the open image, the
// seeds and the labels in the module's memory and answers the page's requests
// (protocol.js). A request that fails answers with the library's message.

import createModule from './ift.js';

const METHODS = { watershed: 0, maxarc: 1, fuzzy: 2 };
// After an abort (an assertion, memory that cannot grow) the module is
// unusable: the page is told so and starts a fresh worker.
let aborted = false;
const ready = createModule({
  print: () => {},
  printErr: (text) => console.warn(text),
  onAbort: () => {
    aborted = true;
  },
});

// A path in the module's file system as a C string; the caller frees it.
function cString(M, text) {
  const bytes = new TextEncoder().encode(text + '\0');
  const p = M._malloc(bytes.length);
  M.HEAPU8.set(bytes, p);
  return p;
}

function call(M, fn, path) {
  const p = cString(M, path);
  try {
    return fn(p);
  } finally {
    M._free(p);
  }
}

function check(M, status) {
  if (status !== 0) throw new Error(M.UTF8ToString(M._webMessage()));
}

function npixels(M) {
  return M._webWidth() * M._webHeight();
}

function describe(M) {
  const n = npixels(M);
  const p = M._malloc(4 * n);
  try {
    M._webDisplay(p);
    const rgba = M.HEAPU8.slice(p, p + 4 * n);
    return { width: M._webWidth(), height: M._webHeight(), bands: M._webBands(), rgba };
  } finally {
    M._free(p);
  }
}

function putSeeds(M, seeds) {
  if (seeds.length !== npixels(M)) throw new Error('The seeds do not fit the open image.');
  M.HEAPU8.set(seeds, M._webSeeds());
}

function readAndRemove(M, path, encoding) {
  const data = M.FS.readFile(path, encoding ? { encoding } : {});
  M.FS.unlink(path);
  return data;
}

const handlers = {
  loadPixels(M, { rgba, width, height }) {
    const p = M._malloc(rgba.length);
    try {
      M.HEAPU8.set(rgba, p);
      check(M, M._webLoadPixels(p, width, height));
    } finally {
      M._free(p);
    }
    return describe(M);
  },
  loadNetpbm(M, { bytes }) {
    M.FS.writeFile('/input.pnm', bytes);
    try {
      check(M, call(M, M._webLoadFile, '/input.pnm'));
    } finally {
      M.FS.unlink('/input.pnm');
    }
    return describe(M);
  },
  segment(M, { method, seeds }) {
    if (!(method in METHODS)) throw new Error(`Unknown method ${method}.`);
    putSeeds(M, seeds);
    const start = performance.now();
    check(M, M._webSegment(METHODS[method]));
    const ms = performance.now() - start;
    const p = M._webLabels();
    return { labels: M.HEAPU8.slice(p, p + npixels(M)), ms };
  },
  labelsP5(M) {
    check(M, call(M, M._webSaveLabels, '/labels.pgm'));
    return { bytes: readAndRemove(M, '/labels.pgm') };
  },
  roots(M, { seeds }) {
    putSeeds(M, seeds);
    check(M, call(M, M._webSaveRoots, '/seeds.txt'));
    return { text: readAndRemove(M, '/seeds.txt', 'utf8') };
  },
};

self.onmessage = async ({ data: { id, op, args } }) => {
  try {
    const M = await ready;
    if (!(op in handlers)) throw new Error(`Unknown request ${op}.`);
    const result = handlers[op](M, args || {});
    const transfer = [result.rgba, result.labels, result.bytes].filter(Boolean).map((a) => a.buffer);
    self.postMessage({ id, result }, transfer);
  } catch (e) {
    const dead = aborted || e instanceof WebAssembly.RuntimeError;
    self.postMessage({ id, error: String(e && e.message ? e.message : e), dead });
  }
};
