// The WebAssembly document and the in-memory folder the scene and its companions are staged
// in. Every rule about the scene (labels, order, texts) is in the C++ layers.
import { t } from './i18n.js';

const STAGE = '/staged';
const FAILED = (hr) => (hr >>> 0) >= 0x80000000;

// The module from morv3d_web.js; wasmBase64 given in the single-file page, otherwise the
// .wasm beside the script is fetched.
export async function loadEngine(wasmBase64) {
  const options = {};
  if (wasmBase64) {
    options.wasmBinary = Uint8Array.from(atob(wasmBase64), (c) => c.charCodeAt(0));
  }
  // eslint-disable-next-line no-undef
  const module = await createMorv3d(options);
  return { module, doc: new module.Document() };
}

// A dropped or chosen file's path inside the staging folder: no empty, "." or ".." parts, so
// nothing lands outside it.
export function safeParts(name) {
  return String(name).split(/[\\/]+/).filter((p) => p && p !== '.' && p !== '..');
}

function removeTree(FS, path) {
  for (const name of FS.readdir(path)) {
    if (name === '.' || name === '..') continue;
    const child = `${path}/${name}`;
    if (FS.isDir(FS.stat(child).mode)) removeTree(FS, child);
    else FS.unlink(child);
  }
  FS.rmdir(path);
}

// files: [{name, data: Uint8Array}] in the order given; the first .morv3d file is the scene.
// Returns its staged path, or null when there is none.
export function stage(module, files) {
  const { FS } = module;
  if (FS.analyzePath(STAGE).exists) removeTree(FS, STAGE);
  FS.mkdir(STAGE);
  let scene = null;
  for (const { name, data } of files) {
    const parts = safeParts(name);
    if (parts.length === 0) continue;
    let dir = STAGE;
    for (const part of parts.slice(0, -1)) {
      dir += `/${part}`;
      if (!FS.analyzePath(dir).exists) FS.mkdir(dir);
    }
    const path = `${dir}/${parts[parts.length - 1]}`;
    if (FS.analyzePath(path).exists && FS.isDir(FS.stat(path).mode)) continue;
    FS.writeFile(path, data);
    if (scene === null && /\.morv3d$/i.test(path)) scene = path;
  }
  return scene;
}

// The desktop's words for a result: the text and its code, "Text (0x80004005)".
export function describeResult(module, hr, language) {
  let words = module.resultWords(hr >>> 0, language !== 'en');
  if (language === 'en' && words) words = words[0].toUpperCase() + words.slice(1);
  return `${words} (0x${(hr >>> 0).toString(16).toUpperCase().padStart(8, '0')})`;
}

// Opens the staged scene: {ok, opened, message} with the desktop's message for a refused
// or partly loaded file.
export function openStaged(engine, path, displayName, language) {
  const { module, doc } = engine;
  const quoted = t('„%1“', displayName);
  if (!doc.open(path)) {
    const hr = doc.openResult();
    return {
      ok: false,
      opened: false,
      message: t('Die Datei %1 kann nicht geöffnet werden:\n%2.', quoted,
        describeResult(module, hr, language)),
    };
  }
  if (!doc.loadedCompletely()) {
    return {
      ok: false,
      opened: true,
      message: t('Die Datei %1 wurde nicht vollständig geladen:\n%2.\n'
        + 'Angezeigt wird, was geladen werden konnte.', quoted,
      describeResult(module, doc.loadResult(), language)),
    };
  }
  return { ok: true, opened: true, message: '' };
}

export { FAILED };
