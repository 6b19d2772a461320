// Time from handing a page the geometry scene (200 meshes, 1,000,000 triangles, about 60 MB) to
// its first drawn picture: our page opening the .morv3d against three.js's GLTFLoader on the
// same geometry as .glb (written by morv3d export). Same browser, same canvas size, a fresh page
// per run, runs alternating; each side waits for its frame by reading one pixel back. Prints the
// medians and their ratio, the page's time against native `morv3d info` of the same file, and
// the WebAssembly heap after opening.
// Usage: node run.mjs BUILD_DIR WEB_DIR [RUNS]
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const HERE = path.dirname(fileURLToPath(import.meta.url));
const [build, web, runsArg] = process.argv.slice(2);
const runs = Number(runsArg || 5);
if (!build || !web || !fs.existsSync(path.join(web, 'index.html'))) {
  console.error('usage: node run.mjs BUILD_DIR WEB_DIR [RUNS] (make web writes WEB_DIR)');
  process.exit(2);
}
const cli = path.join(build, 'tools/morv3d/morv3d');
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'morv-web-bench-'));
process.on('exit', () => fs.rmSync(dir, { recursive: true, force: true }));
execFileSync(path.join(build, 'bench/bench_scene_writer'), [dir]);
const scene = path.join(dir, 'geometry.morv3d');
execFileSync(cli, ['export', scene, path.join(dir, 'geometry.glb')], { stdio: 'ignore' });

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor((values.length - 1) / 2)];
const MiB = 1024 * 1024;

// One origin serves everything: the page, three.js, the peer's page and the scenes; a request
// anywhere else fails the run.
const ORIGIN = 'http://bench.test';
const ROOTS = [['/viewer/', web], ['/three/', path.join(HERE, 'node_modules/three')], ['/scene/', dir]];
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };
const foreign = [];
async function serve(route) {
  const url = new URL(route.request().url());
  if (url.origin !== ORIGIN) {
    foreign.push(url.href);
    return route.abort();
  }
  let file = url.pathname === '/peer.html' ? path.join(HERE, 'three.html') : null;
  for (const [prefix, root] of ROOTS) {
    if (url.pathname.startsWith(prefix)) file = path.join(root, path.normalize(url.pathname.slice(prefix.length)));
  }
  if (!file || !fs.existsSync(file)) return route.fulfill({ status: 404 });
  return route.fulfill({ body: fs.readFileSync(file), contentType: TYPES[path.extname(file)] ?? 'application/octet-stream' });
}

const browser = await chromium.launch({
  executablePath: process.env.MORV_CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
    '--disable-background-networking', '--disable-component-update', '--no-first-run'],
});
const context = await browser.newContext({ viewport: { width: 1280, height: 720 } });
await context.route('**/*', serve);

// Fetches the scene into the page (not timed), then times open() up to the drawn frame.
async function timeOpen(url, file, open) {
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(url);
  await page.evaluate(async (f) => {
    await window.morv3dViewer?.ready;
    window.benchBytes = new Uint8Array(await (await fetch(`/scene/${f}`)).arrayBuffer());
  }, file);
  const result = await page.evaluate(open);
  await page.close();
  if (errors.length) throw new Error(errors.join('\n'));
  return result;
}

const ours = [];
const peer = [];
const heaps = [];
let size = null;
for (let i = 0; i < runs; i++) {
  const run = await timeOpen(`${ORIGIN}/viewer/index.html?lang=en`, 'geometry.morv3d', async () => {
    const canvas = document.getElementById('view');
    const start = performance.now();
    const result = await window.morv3dViewer.open([{ name: 'geometry.morv3d', data: window.benchBytes }]);
    canvas.getContext('webgl2').readPixels(0, 0, 1, 1, 0x1908, 0x1401, new Uint8Array(4));
    const ms = performance.now() - start;
    if (!result.ok) throw new Error(result.message);
    return { ms, heap: window.morv3dViewer.memory(), width: canvas.width, height: canvas.height };
  });
  ours.push(run.ms);
  heaps.push(run.heap);
  size = `${run.width}x${run.height}`;
  peer.push((await timeOpen(`${ORIGIN}/peer.html?width=${run.width}&height=${run.height}`, 'geometry.glb', async () => {
    const canvas = document.getElementById('view');
    const start = performance.now();
    await window.peer.open(window.benchBytes);
    canvas.getContext('webgl2').readPixels(0, 0, 1, 1, 0x1908, 0x1401, new Uint8Array(4));
    return performance.now() - start;
  })).valueOf());
  console.log(`run ${i + 1}: page ${ours[i].toFixed(0)} ms, three.js ${peer[i].toFixed(0)} ms`);
}
await browser.close();
if (foreign.length) {
  console.error(`requests that left the origin: ${foreign.join(' ')}`);
  process.exit(1);
}

const native = [];
for (let i = 0; i < runs; i++) {
  const start = process.hrtime.bigint();
  const status = spawnSync(cli, ['info', scene], { stdio: 'ignore' }).status;
  native.push(Number(process.hrtime.bigint() - start) / 1e6);
  if (status !== 0) throw new Error(`morv3d info failed (${status})`);
}

const fileBytes = fs.statSync(scene).size;
const [o, p, n, heap] = [median(ours), median(peer), median(native), median(heaps)];
const budget = 1.5 * fileBytes + 32 * MiB;
console.log(`canvas ${size}, ${runs} runs each, medians:`);
console.log(`page (open to first picture):     ${o.toFixed(0)} ms`);
console.log(`three.js (GLTFLoader, one frame): ${p.toFixed(0)} ms (.glb ${(fs.statSync(path.join(dir, 'geometry.glb')).size / MiB).toFixed(1)} MiB)`);
console.log(`morv3d info (native process):     ${n.toFixed(0)} ms`);
console.log(`time ratio page/three.js ${(o / p).toFixed(2)} (target 0.5), page/native info ${(o / n).toFixed(2)}`);
console.log(`WebAssembly heap after opening ${(heap / MiB).toFixed(0)} MiB for a ${(fileBytes / MiB).toFixed(1)} MiB file: `
  + `${(heap / budget).toFixed(2)} of the budget 1.5x file + 32 MiB (${(budget / MiB).toFixed(0)} MiB)`);
