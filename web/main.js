// The page: wires the controls to the board (canvas.js), the worker
// (protocol.js) and the files (files.js). After every stroke, undo or change
// of method the worker segments the image again; requests made while one is
// running collapse into one that starts when it ends.

import { Board, COLOURS } from './canvas.js';
import { download, labelsPng, readImageFile } from './files.js';
import { Engine } from './protocol.js';

const $ = (id) => document.getElementById(id);
const board = new Board($('image-layer'), $('label-layer'), $('seed-layer'));
const engine = new Engine();
const status = $('status');

let loaded = false;
let label = 1;
let labels = null;
let undoStack = [];
let running = null;   // the update in progress, a promise
let again = false;    // another update was asked for while one ran

function showMessage(text) {
  $('message').textContent = text;
  $('message').hidden = !text;
}

function setStatus(text, fields = {}) {
  status.textContent = text;
  Object.assign(status.dataset, fields);
}

function enable(on) {
  for (const id of ['export-png', 'export-p5', 'export-roots']) $(id).disabled = !on;
  $('undo').disabled = !on || undoStack.length === 0;
}

engine.onRestart = (message) => {
  loaded = false;
  labels = null;
  enable(false);
  showMessage(message);
};

async function runUpdate() {
  do {
    again = false;
    const start = performance.now();
    const seeds = board.seeds.slice();
    let seedCount = 0;
    for (let p = 0; p < seeds.length; p++) seedCount += seeds[p] !== 0;
    try {
      const r = await engine.request('segment', { method: $('method').value, seeds }, [seeds.buffer]);
      labels = r.labels;
      board.drawLabels(labels, $('opacity').value / 100);
      const total = performance.now() - start;
      const generation = Number(status.dataset.generation) + 1;
      setStatus(`Updated in ${total.toFixed(0)} ms (library ${r.ms.toFixed(0)} ms), ${seedCount} seed pixels.`, {
        generation, ms: total.toFixed(1), libraryMs: r.ms.toFixed(1),
      });
    } catch (e) {
      showMessage(e.message);
    }
  } while (again && loaded);
}

function update() {
  if (!loaded) return;
  if (running) {
    again = true;
    return;
  }
  status.dataset.busy = 'true';
  running = runUpdate().finally(() => {
    running = null;
    status.dataset.busy = 'false';
  });
}

const whenIdle = async () => {
  while (running) await running;
};

// No stroke or update starts while an image opens; a file that fails to open
// leaves the previous image in place, in the worker as on the page.
async function open(request, args, transfer) {
  showMessage('');
  setStatus('Opening…');
  const wasLoaded = loaded;
  loaded = false;
  try {
    const r = await engine.request(request, args, transfer);
    await whenIdle();
    board.setImage(r.width, r.height, r.rgba);
    loaded = true;
    labels = null;
    undoStack = [];
    enable(true);
    setStatus(`${r.width} × ${r.height} ${r.bands === 3 ? 'colour' : 'grey'} image: paint seeds in two labels or more.`);
  } catch (e) {
    loaded = wasLoaded && !e.restarted;
    showMessage(e.message);
    setStatus(loaded ? 'The previous image is still open.' : 'No image is open.');
  }
}

async function openFile(file) {
  try {
    const image = await readImageFile(file);
    if (image.netpbm) await open('loadNetpbm', { bytes: image.netpbm }, [image.netpbm.buffer]);
    else await open('loadPixels', image, [image.rgba.buffer]);
  } catch (e) {
    showMessage(e.message);
  }
}

function chooseLabel(k) {
  label = k;
  $('eraser').checked = false;
  for (const b of $('palette').children) b.setAttribute('aria-checked', String(Number(b.dataset.label) === k));
}

function undo() {
  if (!undoStack.length) return;
  board.setSeeds(undoStack.pop());
  enable(loaded);
  update();
}

// Undo keeps whole seed images, as many as fit in about 128 MB.
function pushUndo() {
  const depth = Math.max(1, Math.min(50, Math.floor(128e6 / board.seeds.length)));
  undoStack.push(board.seeds.slice());
  if (undoStack.length > depth) undoStack.shift();
  enable(loaded);
}

COLOURS.forEach(([r, g, b], i) => {
  const button = document.createElement('button');
  button.type = 'button';
  button.role = 'radio';
  button.dataset.label = String(i + 1);
  button.textContent = String(i + 1);
  button.title = `Label ${i + 1}`;
  button.style.background = `rgb(${r}, ${g}, ${b})`;
  button.addEventListener('click', () => chooseLabel(i + 1));
  $('palette').append(button);
});
chooseLabel(1);

let last = null;
const seedLayer = $('seed-layer');
seedLayer.addEventListener('pointerdown', (e) => {
  if (!loaded || e.button !== 0) return;
  seedLayer.setPointerCapture(e.pointerId);
  pushUndo();
  last = board.pixelAt(e);
  board.stroke(last.x, last.y, last.x, last.y, Number($('brush').value), $('eraser').checked ? 0 : label);
});
seedLayer.addEventListener('pointermove', (e) => {
  if (!last) return;
  const p = board.pixelAt(e);
  board.stroke(last.x, last.y, p.x, p.y, Number($('brush').value), $('eraser').checked ? 0 : label);
  last = p;
});
for (const type of ['pointerup', 'pointercancel']) {
  seedLayer.addEventListener(type, () => {
    if (!last) return;
    last = null;
    update();
  });
}

$('file').addEventListener('change', (e) => {
  const file = e.target.files[0];
  e.target.value = '';
  if (file) openFile(file);
});
$('coins').addEventListener('click', async () => {
  try {
    const response = await fetch('coins.pgm');
    if (!response.ok) throw new Error(`coins.pgm could not be fetched (${response.status}).`);
    const bytes = new Uint8Array(await response.arrayBuffer());
    await open('loadNetpbm', { bytes }, [bytes.buffer]);
  } catch (e) {
    showMessage(e.message);
  }
});
$('brush').addEventListener('input', () => {
  $('brush-size').value = $('brush').value;
});
$('eraser').addEventListener('change', () => {
  if ($('eraser').checked) for (const b of $('palette').children) b.setAttribute('aria-checked', 'false');
  else chooseLabel(label);
});
$('undo').addEventListener('click', undo);
$('method').addEventListener('change', update);
$('opacity').addEventListener('input', () => {
  if (labels) board.drawLabels(labels, $('opacity').value / 100);
});
document.addEventListener('keydown', (e) => {
  if ((e.ctrlKey || e.metaKey) && e.key === 'z') {
    e.preventDefault();
    undo();
  } else if (e.key >= '1' && e.key <= '8' && e.target.tagName !== 'INPUT') {
    chooseLabel(Number(e.key));
  }
});

$('export-png').addEventListener('click', async () => {
  await whenIdle();
  if (labels) download('labels.png', await labelsPng(labels, board.width, board.height, COLOURS));
});
$('export-p5').addEventListener('click', async () => {
  await whenIdle();
  try {
    const { bytes } = await engine.request('labelsP5');
    download('labels.pgm', bytes, 'image/x-portable-graymap');
  } catch (e) {
    showMessage(e.message);
  }
});
$('export-roots').addEventListener('click', async () => {
  if (!board.seeds.some((s) => s !== 0)) {
    showMessage('There are no seeds to export yet: paint some first.');
    return;
  }
  try {
    const { text } = await engine.request('roots', { seeds: board.seeds.slice() });
    download('seeds.txt', text, 'text/plain');
  } catch (e) {
    showMessage(e.message);
  }
});

window.addEventListener('resize', () => board.fit());

setStatus('Open an image or the coins to begin.', { busy: 'false' });
