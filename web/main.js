// The page: opening (button, drop, ?url=), filters, search, properties, statistics, time,
// the language, and window.morv3dViewer for embedding and automation.
import { browserLanguage, getLanguage, setLanguage, t, tm, tn, translateDocument } from './i18n.js';
import { describeResult, loadEngine, openStaged, stage } from './engine.js';
import { TreeView } from './treeview.js';
import { View } from './view.js';

const $ = (id) => document.getElementById(id);
const ALL_FLAGS = 0xFFFFFFFF;
const E_OUTOFMEMORY = 0x8007000E;
const E_FAIL = 0x80004005;
// The desktop toolbar's toggles, in its order: bit and tooltip.
const FILTERS = [
  [0x01, 'Show nodes'], [0x08, 'Show dummies'], [0x04, 'Show animation'], [0x02, 'Show meshes'],
  [0x40, 'Show mesh animations'], [0x10, 'Show materials'], [0x20, 'Show material maps'],
];

// The view presets (CCamera's order) and overlays, with the desktop's menu words.
const VIEWS = [['&Vorne', 0], ['&Oben', 1], ['&Seite', 2], ['&Iso', 3]];
const OVERLAYS = ['&Drahtgitter', '&Hüllkugeln', '&Normalen', '&Bodengitter', '&Achsen'];

let engine = null;
let flags = ALL_FLAGS;
let tree = null;
let view = null;
const overlays = new Set();
let lastFrame = 0;

function showMessage(kind, text) {
  $('message').hidden = !text;
  $('message').className = kind;
  $('message-text').textContent = text;
}

function drawFilters() {
  const box = $('filters');
  box.replaceChildren(...FILTERS.map(([bit, tip]) => {
    const b = document.createElement('button');
    b.type = 'button';
    b.title = t(`${tip}\n${tip}`).split('\n')[0];
    b.textContent = b.title.replace(/^Show /, '');
    b.setAttribute('aria-pressed', String((flags & bit) !== 0));
    b.addEventListener('click', () => setFlags(flags ^ bit));
    return b;
  }));
}

function setFlags(newFlags) {
  flags = newFlags >>> 0;
  if (engine) {
    engine.doc.buildTree(flags);
    tree.load(engine.doc);
    applySearch();
    showProperties(-1);
  }
  drawFilters();
}

// A tree entry became current: its properties, its meshes highlighted.
function onEntry(i) {
  $('properties').textContent = i >= 0 && engine ? engine.doc.properties(i) : '';
  if (engine) {
    engine.doc.highlight(i);
    view.redraw();
  }
}
const showProperties = onEntry;

function onPicked(hit) {
  $('status').textContent = hit ? hit.path : '';
  if (hit && hit.entry >= 0) tree.select(hit.entry);
}

function drawViewButtons() {
  $('views').replaceChildren(...VIEWS.map(([word, preset]) => {
    const b = document.createElement('button');
    b.type = 'button';
    b.textContent = tm(word);
    b.addEventListener('click', () => { engine?.doc.setView(preset); view.redraw(); });
    return b;
  }));
  $('overlays').replaceChildren(...OVERLAYS.map((word) => {
    const b = document.createElement('button');
    b.type = 'button';
    b.textContent = tm(word);
    b.setAttribute('aria-pressed', String(overlays.has(word)));
    b.addEventListener('click', () => {
      if (overlays.has(word)) overlays.delete(word); else overlays.add(word);
      engine?.doc.setOverlays(...OVERLAYS.map((w) => overlays.has(w)));
      drawViewButtons();
      view.redraw();
    });
    return b;
  }));
}

function showStatistics() {
  if (!engine) return;
  const s = engine.doc.statistics();
  $('statistics').textContent = t('Materialien: %1\nMaps: %2\nKnoten: %3\nDummies: %4\nMeshes: %5\n'
    + 'Dreiecke: %6\nEckpunkte: %7\nMorph-Schlüssel: %8\nAnimationszeit: %9\n',
  s.materials, s.maps, s.nodes, s.dummies, s.meshes, s.triangles, s.vertices, s.morphKeys,
  s.animationTime) + missingTexturesText();
}

function missingTexturesText() {
  const missing = engine.doc.missingTextures();
  return t('Fehlende Texturen: %1\n', missing.length)
    + missing.map((m) => `  ${m.name} (Material ${m.material}): ${m.reason}\n`).join('');
}

function applySearch() {
  const text = $('search').value;
  const matches = engine && text ? engine.doc.find(text) : new Uint32Array(0);
  tree.matches = new Set(matches);
  tree.filter = $('search-only').checked && text && engine ? engine.doc.matchVisibility() : null;
  tree.refresh();
  $('search-count').textContent = text ? tn('%n Treffer', matches.length) : '';
}

function stepSearch(forward) {
  if (!engine) return;
  const i = forward ? engine.doc.nextMatch(tree.selected) : engine.doc.previousMatch(tree.selected);
  if (i >= 0) tree.select(i);
}

function showTime() {
  const time = engine ? engine.doc.time() : 0;
  $('time').max = engine ? engine.doc.endTime() : 0;
  $('time').value = time;
  $('time-value').textContent = String(Math.floor(time));
  $('play').textContent = engine?.doc.isPlaying() ? '⏸' : '▶';
}

// After any change of the time: the slider, the properties at that time, the picture.
function timeChanged() {
  showTime();
  $('properties').textContent = tree.selected >= 0 ? engine.doc.properties(tree.selected) : '';
  return view.redraw();
}

function setTime(value) {
  if (!engine) return;
  engine.doc.setTime(Number(value));
  timeChanged();
}

// While playing, each animation frame moves the clock on by the wall time since the last.
function playFrame(now) {
  if (!engine?.doc.isPlaying()) return;
  engine.doc.advance(lastFrame ? (now - lastFrame) / 1000 : 0);
  lastFrame = now;
  timeChanged();
  requestAnimationFrame(playFrame);
}

function togglePlay() {
  if (!engine) return;
  lastFrame = 0;
  if (engine.doc.togglePlay()) requestAnimationFrame(playFrame);
  showTime();
}

function transport(action) {
  if (!engine) return;
  action(engine.doc);
  timeChanged();
}

// Hands bytes to the browser as a download named after the scene.
function download(bytes, extension, type) {
  if (!bytes.length) return;
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([bytes], { type }));
  link.download = `${($('title').textContent || 'scene').replace(/\.morv3d$/i, '')}.${extension}`;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

// Resolves once the browser has drawn the page as it now is.
const painted = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));

// What an open is doing, shown over the view.
function progress(words, ...args) {
  $('progress').hidden = !words;
  $('progress').textContent = words ? t(words, ...args) : '';
}

async function toEntries(files) {
  let read = 0;
  progress('Dateien werden gelesen … %1 von %2', read, files.length);
  return Promise.all(Array.from(files, async (f) => {
    const entry = f instanceof Blob
      ? { name: f.webkitRelativePath || f.name, data: new Uint8Array(await f.arrayBuffer()) }
      : { name: String(f.name), data: f.data instanceof Uint8Array ? f.data : new Uint8Array(f.data) };
    read += 1;
    progress('Dateien werden gelesen … %1 von %2', read, files.length);
    return entry;
  }));
}

// A failure below the page's own checks: more than the browser gives the page (a buffer it
// cannot make, a file it cannot read into memory, a WebAssembly heap that cannot grow and the
// C++ allocation thrown through) is the desktop's out-of-memory message, anything else a failure.
function thrownResult(err, name) {
  const memory = err instanceof RangeError || err?.name === 'NotReadableError'
    || (typeof WebAssembly.Exception === 'function' && err instanceof WebAssembly.Exception);
  return { ok: false, opened: false,
    message: t('Die Datei %1 kann nicht geöffnet werden:\n%2.', t('„%1“', name),
      describeResult(engine.module, memory ? E_OUTOFMEMORY : E_FAIL, getLanguage())) };
}

// Reading (the browser paints meanwhile), then staging and loading, each shown; the last two run
// on the main thread, where the WebAssembly document and its WebGL2 context live, so the browser
// is given a frame to show that first.
async function openNow(files) {
  await ready;
  const list = Array.from(files || []);
  const firstName = list.length ? String(list[0].name).split('/').pop() : '';
  let result;
  try {
    const entries = await toEntries(list);
    const scene = entries.find((e) => /\.morv3d$/i.test(e.name));
    if (scene) {
      progress('%1 wird geladen …', t('„%1“', scene.name.split('/').pop()));
      await painted();
    }
    const staged = stage(engine.module, entries);
    if (!entries.length) {
      result = { ok: false, opened: false, message: t('Keine Datei gewählt.') };
    } else if (!staged) {
      result = { ok: false, opened: false,
        message: t('Die Datei %1 ist keine .morv3d-Datei: die Seite liest nur .morv3d-Szenen.', t('„%1“', firstName)) };
    } else {
      const name = staged.split('/').pop();
      result = openStaged(engine, staged, name, getLanguage());
      if (result.opened) {
        $('title').textContent = name;
        engine.doc.buildTree(flags);
        tree.load(engine.doc);
        applySearch();
        showProperties(-1);
        showTime();
      }
    }
  } catch (err) {
    result = thrownResult(err, firstName);
  }
  progress('');
  showMessage(result.opened ? 'warning' : 'error', result.message);
  await (view.error ? painted() : view.redraw());
  if (!$('statistics').hidden) showStatistics(); // the textures are known once drawn
  return { ok: result.ok, message: result.message };
}

// One open at a time: a second one waits for the first.
let opening = Promise.resolve();
function open(files) {
  const run = opening.then(() => openNow(files));
  opening = run.catch(() => {});
  return run;
}

// Every file below a dropped folder: a folder reader hands out its entries in batches, so it
// is read until a batch comes back empty.
async function readEntry(entry, out) {
  if (entry.isFile) {
    const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
    out.push({ name: entry.fullPath.replace(/^\//, ''), data: new Uint8Array(await file.arrayBuffer()) });
  } else if (entry.isDirectory) {
    const reader = entry.createReader();
    for (;;) {
      const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
      if (!batch.length) break;
      for (const child of batch) await readEntry(child, out);
    }
  }
}

async function onDrop(e) {
  e.preventDefault();
  document.body.classList.remove('dragging');
  const items = Array.from(e.dataTransfer.items || []);
  const roots = items.map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry()).filter(Boolean);
  if (!roots.length) return open(e.dataTransfer.files);
  const files = [];
  for (const root of roots) await readEntry(root, files);
  return open(files);
}

// A scene named by ?url= or #url=, from this site only.
async function openFromAddress() {
  const params = new URLSearchParams(location.search || location.hash.slice(1));
  const address = params.get('url') || new URLSearchParams(location.hash.slice(1)).get('url');
  if (!address) return;
  const url = new URL(address, location.href);
  if (url.origin !== location.origin || location.origin === 'null') {
    showMessage('error', t('Die Adresse %1 liegt nicht auf dieser Website.', t('„%1“', address)));
    return;
  }
  try {
    const response = await fetch(url, { credentials: 'same-origin' });
    if (!response.ok) throw new Error(String(response.status));
    const name = decodeURIComponent(url.pathname.split('/').pop() || 'scene.morv3d');
    await open([{ name, data: new Uint8Array(await response.arrayBuffer()) }]);
  } catch (err) {
    showMessage('error', t('Die Adresse %1 kann nicht geladen werden (%2).', t('„%1“', address), err.message));
  }
}

function applyLanguage(lang) {
  setLanguage(lang);
  $('language').value = getLanguage();
  translateDocument(document);
  drawFilters();
  drawViewButtons();
  applySearch();
  if (!$('statistics').hidden) showStatistics();
}

function onKey(e) {
  const ctrl = e.ctrlKey || e.metaKey;
  if (ctrl && e.key.toLowerCase() === 'f') {
    $('search').focus();
  } else if (ctrl && e.key.toLowerCase() === 'o') {
    $('open-files').click();
  } else if (e.key === 'F3') {
    stepSearch(!e.shiftKey);
  } else if (e.target.tagName === 'INPUT' || e.target.tagName === 'SELECT') {
    return;
  } else if (e.key === ' ') {
    togglePlay();
  } else if ((e.key === 'f' || e.key === 'F' || e.key === 'Home') && !ctrl) {
    engine?.doc.fit();
    view.redraw();
  } else {
    return;
  }
  e.preventDefault();
}

function wire() {
  tree = new TreeView($('tree'), $('tree-spacer'), onEntry);
  view = new View($('view'), onPicked);
  $('fit').addEventListener('click', () => { engine?.doc.fit(); view.redraw(); });
  $('save-picture').addEventListener('click', () => engine && download(engine.doc.picture(), 'png', 'image/png'));
  $('download-glb').addEventListener('click', () => engine && download(engine.doc.exportGlb(), 'glb', 'model/gltf-binary'));
  $('play').addEventListener('click', togglePlay);
  $('stop').addEventListener('click', () => transport((d) => d.stop()));
  $('step-back').addEventListener('click', () => transport((d) => d.step(-1)));
  $('step-forward').addEventListener('click', () => transport((d) => d.step(1)));
  $('previous-key').addEventListener('click', () => transport((d) => d.jumpToKey(tree.selected, false)));
  $('next-key').addEventListener('click', () => transport((d) => d.jumpToKey(tree.selected, true)));
  $('speed').addEventListener('change', (e) => engine?.doc.setSpeed(Number(e.target.value)));
  $('loop').addEventListener('change', (e) => engine?.doc.setLoop(e.target.checked));
  $('open-files').addEventListener('change', (e) => open(e.target.files));
  $('message-close').addEventListener('click', () => showMessage('', ''));
  $('search').addEventListener('input', applySearch);
  $('search').addEventListener('keydown', (e) => {
    if (e.key === 'Enter') stepSearch(!e.shiftKey);
  });
  $('search-only').addEventListener('change', applySearch);
  $('search-next').addEventListener('click', () => stepSearch(true));
  $('search-previous').addEventListener('click', () => stepSearch(false));
  $('time').addEventListener('input', (e) => setTime(e.target.value));
  $('statistics-button').addEventListener('click', () => {
    const hidden = !$('statistics').hidden;
    $('statistics').hidden = hidden;
    $('statistics-title').hidden = hidden;
    if (!hidden) showStatistics();
  });
  $('language').addEventListener('change', (e) => applyLanguage(e.target.value));
  document.addEventListener('keydown', onKey);
  document.addEventListener('dragover', (e) => {
    e.preventDefault();
    document.body.classList.add('dragging');
  });
  document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
  document.addEventListener('drop', onDrop);
}

wire();
applyLanguage(new URLSearchParams(location.search).get('lang') || browserLanguage(navigator.languages));

const ready = loadEngine(globalThis.MORV3D_WASM_BASE64).then((e) => {
  engine = e;
  const error = view.start(engine.doc);
  $('view-error').textContent = error;
  $('view-error').hidden = !error;
});

window.morv3dViewer = {
  open,
  async tree(treeFlags) {
    await ready;
    setFlags(treeFlags === undefined ? ALL_FLAGS : treeFlags);
    return engine.doc.treeText(false);
  },
  async setTime(value) {
    await ready;
    setTime(value);
    await view.redraw();
    return engine.doc.time();
  },
  time: () => (engine ? engine.doc.time() : 0),
  // The path `morv3d pick` prints for the object under canvas pixel (x, y), or null.
  pick(x, y) { return engine?.doc.pick(x, y)?.path ?? null; },
  // Makes the object at path current (tree, properties, highlight); false when there is none.
  async select(path) {
    const entry = engine ? engine.doc.entryOfPath(String(path)) : -1;
    if (entry >= 0) tree.select(entry);
    await view.redraw();
    return entry >= 0;
  },
  // 'front', 'top', 'side' or 'iso', fitted to the scene.
  async setView(name) {
    engine.doc.setView(['front', 'top', 'side', 'iso'].indexOf(name));
    await view.redraw();
  },
  picture: () => engine.doc.picture(),
  // The bytes `morv3d export FILE OUT.glb` writes.
  exportGlb: () => engine.doc.exportGlb(),
  language: (lang) => { if (lang) applyLanguage(lang); return getLanguage(); },
  // The WebAssembly heap's size in bytes: it grows as scenes need it and never shrinks.
  memory: () => (engine ? engine.module.HEAP8.length : 0),
  ready,
};

ready.then(openFromAddress);
