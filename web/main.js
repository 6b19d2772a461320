// The page: opening (button, drop, ?url=), filters, search, properties, statistics, time,
// the language, and window.morv3dViewer for embedding and automation.
import { browserLanguage, getLanguage, setLanguage, t, tn, translateDocument } from './i18n.js';
import { loadEngine, openStaged, stage } from './engine.js';
import { TreeView } from './treeview.js';

const $ = (id) => document.getElementById(id);
const ALL_FLAGS = 0xFFFFFFFF;
// The desktop toolbar's toggles, in its order: bit and tooltip.
const FILTERS = [
  [0x01, 'Show nodes'], [0x08, 'Show dummies'], [0x04, 'Show animation'], [0x02, 'Show meshes'],
  [0x40, 'Show mesh animations'], [0x10, 'Show materials'], [0x20, 'Show material maps'],
];

let engine = null;
let flags = ALL_FLAGS;
let tree = null;

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

function showProperties(i) {
  $('properties').textContent = i >= 0 && engine ? engine.doc.properties(i) : '';
}

function showStatistics() {
  if (!engine) return;
  const s = engine.doc.statistics();
  $('statistics').textContent = t('Materialien: %1\nMaps: %2\nKnoten: %3\nDummies: %4\nMeshes: %5\n'
    + 'Dreiecke: %6\nEckpunkte: %7\nMorph-Schlüssel: %8\nAnimationszeit: %9\n',
  s.materials, s.maps, s.nodes, s.dummies, s.meshes, s.triangles, s.vertices, s.morphKeys,
  s.animationTime);
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
  $('time-value').textContent = String(time);
}

function setTime(value) {
  if (!engine) return;
  engine.doc.setTime(Number(value));
  showTime();
  showProperties(tree.selected);
}

// Resolves once the browser has drawn the page as it now is.
const painted = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));

async function toEntries(files) {
  return Promise.all(Array.from(files, async (f) => {
    if (f instanceof Blob) {
      return { name: f.webkitRelativePath || f.name, data: new Uint8Array(await f.arrayBuffer()) };
    }
    return { name: String(f.name), data: f.data instanceof Uint8Array ? f.data : new Uint8Array(f.data) };
  }));
}

async function open(files) {
  await ready;
  const entries = await toEntries(files || []);
  const staged = stage(engine.module, entries);
  let result;
  if (!entries.length) {
    result = { ok: false, opened: false, message: t('Keine Datei gewählt.') };
  } else if (!staged) {
    const name = entries[0].name.split('/').pop();
    result = { ok: false, opened: false,
      message: t('Die Datei %1 ist keine .morv3d-Datei: die Seite liest nur .morv3d-Szenen.', t('„%1“', name)) };
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
      if (!$('statistics').hidden) showStatistics();
    }
  }
  showMessage(result.opened ? 'warning' : 'error', result.message);
  await painted();
  return { ok: result.ok, message: result.message };
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
  } else {
    return;
  }
  e.preventDefault();
}

function wire() {
  tree = new TreeView($('tree'), $('tree-spacer'), showProperties);
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

const ready = loadEngine(globalThis.MORV3D_WASM_BASE64).then((e) => { engine = e; });

window.morv3dViewer = {
  open,
  async tree(treeFlags) {
    await ready;
    setFlags(treeFlags === undefined ? ALL_FLAGS : treeFlags);
    return engine.doc.treeText(false);
  },
  setTime(value) { setTime(value); return engine ? engine.doc.time() : 0; },
  time: () => (engine ? engine.doc.time() : 0),
  language: (lang) => { if (lang) applyLanguage(lang); return getLanguage(); },
  ready,
};

ready.then(openFromAddress);
