// Browser tests of the seeded-segmentation page: the built site (build/web/site,
// or WEB_SITE) served on localhost and driven in Debian's headless Chromium.
// The labels the page exports must equal, byte for byte, those the native
// library gives for the page's own exported seeds (reference.py through the
// release build's Python package, FORESTING_PYTHONPATH or build/release/python).
//
//   node page.test.mjs            the tests; the screenshot goes to ARTEFACTS
//   node page.test.mjs --speed    update times after strokes on 1024 x 1024,
//                                 then on 4096 x 4096 (--side=N: on N x N
//                                 only, N a multiple of 256 from 1024 on)

import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { dirname, extname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = dirname(fileURLToPath(import.meta.url));
const root = resolve(here, '..', '..');
const site = resolve(process.env.WEB_SITE || join(root, 'build', 'web', 'site'));
const pythonPath = resolve(process.env.FORESTING_PYTHONPATH || join(root, 'build', 'release', 'python'));
const artefacts = resolve(process.env.ARTEFACTS || join(root, 'build', 'web', 'artefacts'));
const speed = process.argv.includes('--speed');
const sideArgument = process.argv.find((a) => a.startsWith('--side='));
const sides = sideArgument ? [Number(sideArgument.slice(7))] : [1024, 4096];

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };

function serve() {
  const server = createServer((req, res) => {
    const path = join(site, decodeURIComponent(new URL(req.url, 'http://x').pathname).replace(/^\/$/, '/index.html'));
    if (!path.startsWith(site) || !existsSync(path)) {
      res.writeHead(404).end();
      return;
    }
    res.writeHead(200, { 'Content-Type': TYPES[extname(path)] || 'application/octet-stream' });
    res.end(readFileSync(path));
  });
  return new Promise((ok) => server.listen(0, '127.0.0.1', () => ok(server)));
}

const scratch = mkdtempSync(join(tmpdir(), 'ift-web-'));
const server = await serve();
const context = await chromium.launchPersistentContext(join(scratch, 'profile'), {
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  acceptDownloads: true,
  viewport: { width: 1280, height: 1100 },
});
const page = context.pages()[0] || (await context.newPage());
const problems = [];
page.on('pageerror', (e) => problems.push(String(e)));

async function generation() {
  return Number(await page.getAttribute('#status', 'data-generation'));
}

// Waits for the overlay of an update started after generation `before`.
async function updated(before) {
  await page.waitForFunction((b) => {
    const s = document.getElementById('status');
    return Number(s.dataset.generation) > b && s.dataset.busy === 'false';
  }, before, { timeout: 60000 });
}

// Drags the brush through image points [x, y] in the given label (0: the eraser).
async function stroke(labelNumber, points) {
  if (labelNumber) await page.click(`#palette button[data-label="${labelNumber}"]`);
  else await page.check('#eraser');
  const box = await page.locator('#seed-layer').boundingBox();
  const size = await page.evaluate(() => [document.getElementById('seed-layer').width, document.getElementById('seed-layer').height]);
  const at = ([x, y]) => [box.x + ((x + 0.5) * box.width) / size[0], box.y + ((y + 0.5) * box.height) / size[1]];
  const before = await generation();
  await page.mouse.move(...at(points[0]));
  await page.mouse.down();
  for (const p of points.slice(1)) await page.mouse.move(...at(p), { steps: 8 });
  await page.mouse.up();
  await updated(before);
}

async function exported(button) {
  const [file] = await Promise.all([page.waitForEvent('download'), page.click(button)]);
  const path = join(scratch, `${Date.now()}-${file.suggestedFilename()}`);
  await file.saveAs(path);
  return path;
}

// The page's P5 labels against the native library's for the page's seeds.
async function checkAgainstNative(image, method) {
  const labels = readFileSync(await exported('#export-p5'));
  const roots = await exported('#export-roots');
  const reference = join(scratch, `reference-${method}.pgm`);
  execFileSync('/usr/bin/python3', [join(here, 'reference.py'), image, roots, method, reference], {
    env: { ...process.env, PYTHONPATH: pythonPath, PYTHONDONTWRITEBYTECODE: '1' },
    stdio: ['ignore', 'ignore', 'inherit'],
  });
  assert.ok(labels.equals(readFileSync(reference)), `${method}: the page's labels differ from the native library's`);
  return labels;
}

async function chooseMethod(method) {
  const before = await generation();
  await page.selectOption('#method', method);
  await updated(before);
}

async function openFile(name, buffer) {
  await page.setInputFiles('#file', { name, mimeType: 'application/octet-stream', buffer });
}

async function message() {
  await page.waitForSelector('#message:not([hidden])', { timeout: 30000 });
  const text = await page.textContent('#message');
  await page.evaluate(() => { document.getElementById('message').hidden = true; });
  return text;
}

async function refused(name, buffer) {
  await openFile(name, buffer);
  return message();
}

// Two tinted discs and a band on a noisy background, colour channels unequal.
function syntheticP6(width, height) {
  const header = Buffer.from(`P6\n${width} ${height}\n255\n`);
  const body = Buffer.alloc(3 * width * height);
  for (let y = 0, p = 0; y < height; y++) {
    for (let x = 0; x < width; x++, p++) {
      const noise = (x * 31 + y * 17 + ((x * y) % 7)) % 23;
      let rgb = [40 + noise, 60, 50 + (noise >> 1)];
      if ((x - 25) ** 2 + (y - 25) ** 2 < 300) rgb = [200 - noise, 90 + noise, 40];
      else if ((x - 90) ** 2 + (y - 25) ** 2 < 250) rgb = [60, 120 + noise, 210];
      else if (y > 60 && y < 85 && x > 40 && x < 80) rgb = [150 + noise, 150, 150 - noise];
      body.set(rgb, 3 * p);
    }
  }
  return Buffer.concat([header, body]);
}

// 16-bit plateaus (ties everywhere) beside a finely textured half.
function syntheticDeepP5(width, height) {
  const header = Buffer.from(`P5\n${width} ${height}\n65535\n`);
  const body = Buffer.alloc(2 * width * height);
  for (let y = 0, p = 0; y < height; y++) {
    for (let x = 0; x < width; x++, p++) {
      const plateau = (((x >> 3) * 7 + (y >> 3) * 13) % 11) * 5957;
      body.writeUInt16BE(2 * x > width ? plateau : (plateau + ((x * y * 31 + x * 17) % 2003)) % 65536, 2 * p);
    }
  }
  return Buffer.concat([header, body]);
}

// A 16-bit checkerboard of dark and bright squares, lightly textured.
function syntheticCheckerP5(side) {
  const header = Buffer.from(`P5\n${side} ${side}\n65535\n`);
  const body = Buffer.alloc(2 * side * side);
  for (let y = 0, p = 0; y < side; y++) {
    for (let x = 0; x < side; x++, p++) {
      body.writeUInt16BE((((x >> 5) + (y >> 5)) % 2 ? 60000 : 5000) + ((x * 37 + y * 91) % 1000), 2 * p);
    }
  }
  return Buffer.concat([header, body]);
}

// Rounds of random strokes in all eight labels, and one erasure, on the open
// image; after each round every method must match the native library.
async function randomStrokes(image, width, height, rounds, state) {
  const brush = await page.inputValue('#brush');
  await page.fill('#brush', '3');
  const random = (n) => {
    state.seed = (state.seed * 1103515245 + 12345) % 2 ** 31;
    return state.seed % n;
  };
  const point = () => [random(width), random(height)];
  for (let round = 0; round < rounds; round++) {
    for (let i = 0; i < 5; i++) await stroke(1 + random(8), [point(), point()]);
    await stroke(0, [point(), point()]);
    for (const method of ['maxarc', 'fuzzy', 'watershed']) {
      await chooseMethod(method);
      await checkAgainstNative(image, method);
    }
  }
  await page.fill('#brush', brush);
}

function syntheticP5(side) {
  // Discs of different brightness on a textured background.
  const header = Buffer.from(`P5\n${side} ${side}\n255\n`);
  const body = Buffer.alloc(side * side);
  for (let y = 0; y < side; y++) {
    for (let x = 0; x < side; x++) {
      const cx = (x % 256) - 128, cy = (y % 256) - 128;
      const inside = cx * cx + cy * cy < 90 * 90;
      body[y * side + x] = (inside ? 160 + ((x >> 5) % 4) * 20 : 40) + ((x * 7 + y * 13) % 17);
    }
  }
  return Buffer.concat([header, body]);
}

async function measure(side) {
  const image = join(scratch, 'synthetic.pgm');
  writeFileSync(image, syntheticP5(side));
  await openFile('synthetic.pgm', readFileSync(image));
  await page.waitForFunction(() => /grey image/.test(document.getElementById('status').textContent), null, { timeout: 120000 });
  await page.fill('#brush', '15');
  const figures = {};
  for (const method of ['watershed', 'maxarc', 'fuzzy']) {
    await page.selectOption('#method', method);
    const total = [], library = [];
    // Short strokes inside the discs (label 1) and across the background
    // (label 2), alternately, each followed by its update.
    for (let i = 0; i < 16; i++) {
      const k = i >> 1, cx = 128 + 256 * (k % 4), cy = 128 + 256 * ((k >> 2) % 4);
      const across = side / 4;
      if (i % 2 === 0) await stroke(1, [[cx - 20, cy - 10 + k], [cx + 20, cy + 10]]);
      else await stroke(2, [[5 + 2 * k, across * (k % 4) + 5], [side - 24, across * (k % 4) + 20]]);
      total.push(Number(await page.getAttribute('#status', 'data-ms')));
      library.push(Number(await page.getAttribute('#status', 'data-library-ms')));
    }
    const median = (a) => [...a].sort((p, q) => p - q)[a.length >> 1];
    // The native fuzzy call also writes a dozen text images of the input's
    // size, which on large images would take minutes: timed up to 2048 x 2048.
    const native = method === 'fuzzy' && side > 2048 ? NaN : Number(execFileSync('/usr/bin/python3', [
      join(here, 'reference.py'), '--time', image, await exported('#export-roots'), method, side > 2048 ? '3' : '9',
    ], { env: { ...process.env, PYTHONPATH: pythonPath }, maxBuffer: 1 << 28 }).toString().trim().split('\n').pop());
    if (!(method === 'fuzzy' && side > 2048)) await checkAgainstNative(image, method);
    figures[method] = {
      median: [median(total), median(library)], least: [Math.min(...total), Math.min(...library)], native,
    };
  }
  // Wall-clock times: on a machine shared with other work the least is the
  // better estimate of the page's own cost, the median the typical one.
  console.log(`update after a stroke on ${side} x ${side}, ms (16 strokes per method): median / least`);
  for (const [m, f] of Object.entries(figures)) {
    console.log(`  ${m.padEnd(9)} to the overlay ${f.median[0].toFixed(0)} / ${f.least[0].toFixed(0)}, ` +
      `in the library ${f.median[1].toFixed(0)} / ${f.least[1].toFixed(0)}; ` +
      (Number.isNaN(f.native) ? 'native call not timed'
        : `native call right after: ${f.native.toFixed(0)} (library / native ${(f.median[1] / f.native).toFixed(2)})`));
  }
}

async function tests() {
  const coins = join(root, 'data', 'coins.pgm');
  await page.click('#coins');
  await page.waitForFunction(() => /384 × 303 grey image/.test(document.getElementById('status').textContent));

  // Two labels: a short stroke inside every coin, and lines across the
  // background between the rows and along the frame.
  const coinCentres = [[45, 55], [100, 55], [155, 50], [215, 50], [275, 50], [345, 45],
    [45, 125], [100, 125], [153, 128], [205, 125], [270, 118], [335, 123],
    [45, 197], [102, 195], [155, 197], [213, 193], [273, 193], [348, 187],
    [45, 260], [113, 265], [170, 262], [245, 265], [300, 262], [355, 268]];
  for (const [x, y] of coinCentres) await stroke(1, [[x - 8, y], [x + 8, y]]);
  for (const y of [4, 90, 160, 228, 298]) await stroke(2, [[3, y], [380, y]]);
  await stroke(2, [[3, 4], [3, 298]]);
  await stroke(2, [[380, 4], [380, 298]]);
  await checkAgainstNative(coins, 'watershed');

  // Undo brings back the labels before the last stroke, byte for byte.
  const beforeStroke = readFileSync(await exported('#export-p5'));
  await stroke(2, [[20, 20], [60, 80]]);
  const afterStroke = readFileSync(await exported('#export-p5'));
  assert.ok(!afterStroke.equals(beforeStroke), 'a stroke across a coin did not change the labels');
  let before = await generation();
  await page.click('#undo');
  await updated(before);
  assert.ok(readFileSync(await exported('#export-p5')).equals(beforeStroke), 'undo did not restore the labels');

  await chooseMethod('maxarc');
  await checkAgainstNative(coins, 'maxarc');
  await chooseMethod('fuzzy');
  await checkAgainstNative(coins, 'fuzzy');

  // The eraser takes seeds away; the labels still match the native result.
  const seedsBefore = readFileSync(await exported('#export-roots'), 'utf8');
  await stroke(0, [[200, 90], [250, 90]]);
  const seedsAfter = readFileSync(await exported('#export-roots'), 'utf8');
  assert.ok(parseInt(seedsAfter, 10) < parseInt(seedsBefore, 10), 'the eraser took no seed away');
  await chooseMethod('watershed');
  await checkAgainstNative(coins, 'watershed');

  // The label PNG has the page's size and is a real PNG.
  const png = readFileSync(await exported('#export-png'));
  assert.equal(png.subarray(1, 4).toString(), 'PNG');
  assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], [384, 303]);

  mkdirSync(artefacts, { recursive: true });
  await page.locator('#stage').screenshot({ path: join(artefacts, 'segmentation.png') });
  await page.screenshot({ path: join(artefacts, 'page.png') });

  // Bad files give a message and leave the open image and its labels alone.
  const kept = readFileSync(await exported('#export-p5'));
  assert.match(await refused('cut.pgm', Buffer.from('P5\n40 40\n255\nshort')), /expecting 1600 pixels/);
  assert.match(await refused('bad.pgm', Buffer.from('P5\n-3 x\n255\n')), /\S/);
  assert.match(await refused('big.pgm', Buffer.from('P5\n5000 20\n255\n')), /at most 4096 x 4096/);
  assert.match(await refused('deep.pgm', Buffer.from('P2\n2 1\n9\n3 70000\n')), /outside 0 \.\. 65535/);
  const brokenPng = Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), Buffer.alloc(40, 7)]);
  assert.match(await message.call(null, await openFile('broken.png', brokenPng)), /could not be decoded/);
  assert.match(await refused('notes.txt', Buffer.from('hello')), /not a PNG, JPEG, P2, P5 or P6/);
  assert.ok(readFileSync(await exported('#export-p5')).equals(kept), 'a bad file changed the open image');

  // A colour P6 file through the library's reader, three labels, every method.
  const colour = join(scratch, 'colour.ppm');
  writeFileSync(colour, syntheticP6(120, 90));
  await openFile('colour.ppm', readFileSync(colour));
  await page.waitForFunction(() => /120 × 90 colour image/.test(document.getElementById('status').textContent));
  await stroke(1, [[20, 20], [30, 30]]);
  await stroke(2, [[80, 20], [100, 25]]);
  await stroke(3, [[60, 70], [62, 80]]);
  await stroke(3, [[2, 50], [118, 50]]);
  for (const method of ['fuzzy', 'maxarc', 'watershed']) {
    await chooseMethod(method);
    await checkAgainstNative(colour, method);
  }
  const strokes = { seed: 24 };
  await randomStrokes(colour, 120, 90, 2, strokes);
  const deep = join(scratch, 'deep.pgm');
  writeFileSync(deep, syntheticDeepP5(97, 61));
  await openFile('deep.pgm', readFileSync(deep));
  await page.waitForFunction(() => /97 × 61 grey image/.test(document.getElementById('status').textContent));
  await randomStrokes(deep, 97, 61, 3, strokes);

  // A 16-bit image seeded over three quarters in one label whose values lie
  // far apart: the seeds' count squared times their variance passes 64 bits.
  const checker = join(scratch, 'checker.pgm');
  writeFileSync(checker, syntheticCheckerP5(512));
  await openFile('checker.pgm', readFileSync(checker));
  await page.waitForFunction(() => /512 × 512 grey image/.test(document.getElementById('status').textContent));
  await page.fill('#brush', '64');
  for (let y = 16; y < 384; y += 32) await stroke(1, [[0, y], [511, y]]);
  await stroke(2, [[100, 470], [140, 470]]);
  await chooseMethod('fuzzy');
  await checkAgainstNative(checker, 'fuzzy');
  await page.fill('#brush', '9');

  // A colour PNG through the browser's decoder.
  const rgbPng = Buffer.from(await page.evaluate(async () => {
    const c = new OffscreenCanvas(64, 48);
    const g = c.getContext('2d');
    g.fillStyle = '#203040';
    g.fillRect(0, 0, 64, 48);
    g.fillStyle = '#e0c020';
    g.fillRect(16, 12, 30, 20);
    return [...new Uint8Array(await (await c.convertToBlob()).arrayBuffer())];
  }));
  await openFile('colour.png', rgbPng);
  await page.waitForFunction(() => /64 × 48 colour image/.test(document.getElementById('status').textContent));
  await stroke(1, [[30, 20], [32, 22]]);
  await stroke(2, [[2, 2], [60, 2]]);
  const labels = readFileSync(await exported('#export-p5'));
  const body = labels.subarray(labels.length - 64 * 48);
  assert.equal(body[20 * 64 + 30], 1);
  assert.equal(body[40 * 64 + 5], 2);
  assert.equal(body.filter((v) => v === 1).length, 30 * 20, 'the yellow rectangle is not one label');
}

try {
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  if (speed) for (const side of sides) await measure(side);
  else await tests();
  assert.deepEqual(problems, [], 'the page raised errors');
  console.log(speed ? 'done' : 'web page tests passed');
} finally {
  await context.close();
  server.close();
  rmSync(scratch, { recursive: true, force: true });
}
