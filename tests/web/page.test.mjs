// The page in a real browser: Debian's chromium, headless, driven by Playwright. Every tree is
// compared with what `morv3d tree` prints for the same file; every damaged scene must give the
// desktop's message and leave the page working. Run by ctest (web.browser) after `make web`.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const SOURCE = process.env.MORV_SOURCE_DIR;
const WEB = process.env.MORV_WEB_DIR;
const CLI = process.env.MORV3D_CLI;
if (!WEB || !fs.existsSync(path.join(WEB, 'morv3d-viewer.html'))) {
  console.log(`web.browser: no page in ${WEB} (make web writes it); skipped`);
  process.exit(77);
}
const ORIGIN = 'http://morv3d.test';
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };

const temp = fs.mkdtempSync(path.join(os.tmpdir(), 'morv-web-'));
const written = path.join(temp, 'written');
fs.mkdirSync(written);
execFileSync(process.env.MORV_WEB_SCENE_WRITER, [], {
  env: { ...process.env, MORV_WEB_SCENES: written, MORV_WEB_LARGE_SCENE: path.join(temp, 'large.morv3d') },
});

// The rows of tests/data/web/trees.tsv as [file, flags[]] with every '*' expanded.
function sceneTable() {
  const rows = [];
  const seen = new Set();
  for (const line of fs.readFileSync(path.join(SOURCE, 'tests/data/web/trees.tsv'), 'utf8').split('\n')) {
    if (!line || line.startsWith('#')) continue;
    const [name, flagWords] = line.split('\t');
    const base = name.startsWith('written/') ? temp : SOURCE;
    const dir = path.join(base, path.dirname(name));
    const pattern = new RegExp(`^${path.basename(name).replace(/[.]/g, '\\.').replace(/\*/g, '.*')}$`);
    const files = fs.readdirSync(dir).filter((f) => pattern.test(f)).sort();
    assert.ok(files.length, `trees.tsv: ${name} matches no file`);
    for (const f of files) {
      const file = path.join(dir, f);
      if (seen.has(file)) continue;
      seen.add(file);
      rows.push([file, flagWords.split(' ')]);
    }
  }
  return rows;
}

// What the command line says of the file: the tree's text and the first failed pass.
function cliTree(file, flags) {
  const args = ['tree', file, ...(flags === '-' ? [] : ['--flags', flags])];
  const run = spawnSync(CLI, args, { encoding: 'utf8' });
  const failure = /could not be loaded completely: 0x([0-9A-F]{8}) \((.*)\)/.exec(run.stderr);
  // A folder or a file that is no scene is refused before anything loads.
  const refused = /cannot be opened: 0x([0-9A-F]{8}) \((.*)\)/.exec(run.stderr);
  return { text: run.stdout, status: run.status, hex: (failure ?? refused)?.[1],
    words: (failure ?? refused)?.[2], refused: refused !== null };
}

let browser;
let context;
const foreign = [];

async function newPage(query = '?lang=en', init = null) {
  const page = await context.newPage();
  if (init) await page.addInitScript(init);
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(String(e)));
  await page.route('**/*', (route) => {
    const url = new URL(route.request().url());
    if (url.origin !== ORIGIN) {
      foreign.push(url.href);
      return route.abort();
    }
    // The site: the page, the sample scenes under /examples/ for ?url=, the test's own files
    // under /temp/.
    const [root, rest] = url.pathname.startsWith('/examples/') ? [SOURCE, url.pathname]
      : url.pathname.startsWith('/temp/') ? [temp, url.pathname.slice(5)]
        : [WEB, url.pathname === '/' ? '/index.html' : url.pathname];
    const file = path.join(root, path.normalize(rest));
    if (!file.startsWith(root) || !fs.existsSync(file)) return route.fulfill({ status: 404 });
    return route.fulfill({ body: fs.readFileSync(file), contentType: TYPES[path.extname(file)] });
  });
  await page.goto(`${ORIGIN}/index.html${query}`);
  await page.evaluate(() => window.morv3dViewer.ready);
  return page;
}

// Opens files in the page through its API: [{name, data}] with data as base64.
function openFiles(page, files) {
  const payload = files.map((f) => ({ name: path.basename(f), data: fs.readFileSync(f).toString('base64') }));
  return page.evaluate((list) => window.morv3dViewer.open(list.map(({ name, data }) => ({
    name, data: Uint8Array.from(atob(data), (c) => c.charCodeAt(0)),
  }))), payload);
}

before(async () => {
  browser = await chromium.launch({
    executablePath: process.env.MORV_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--no-first-run'],
  });
  context = await browser.newContext({ locale: 'en-US' });
});

after(async () => {
  await browser?.close();
  fs.rmSync(temp, { recursive: true, force: true });
  assert.deepEqual(foreign, [], 'requests that left the page\'s origin');
});

const SAMPLE = () => path.join(SOURCE, 'examples/sample.morv3d');

describe('the tree and messages of every scene', () => {
  test('equal what morv3d tree prints, and damaged files leave the page working', async (t) => {
    const page = await newPage();
    const sample = cliTree(SAMPLE(), '-');
    const table = sceneTable();
    let trees = 0;
    let damaged = 0;
    for (const [file, flagsList] of table) {
      const name = path.basename(file);
      const result = await openFiles(page, [file]);
      const first = cliTree(file, '-');
      if (first.refused) {
        // What is no scene is refused before it loads, with the command line's words.
        assert.equal(result.message, `The file “${name}” cannot be opened:\n`
          + `${first.words[0].toUpperCase()}${first.words.slice(1)} (0x${first.hex}).`, name);
        damaged += 1;
        assert.deepEqual(await openFiles(page, [SAMPLE()]), { ok: true, message: '' }, `sample after ${name}`);
        continue;
      }
      if (first.status === 0) {
        assert.deepEqual(result, { ok: true, message: '' }, name);
      } else {
        assert.equal(result.ok, false, name);
        assert.equal(result.message, `The file “${name}” was not loaded completely:\n`
          + `${first.words[0].toUpperCase()}${first.words.slice(1)} (0x${first.hex}).\n`
          + 'Shown is what could be loaded.', name);
      }
      for (const flags of flagsList) {
        const expected = flags === '-' ? first : cliTree(file, flags);
        const text = await page.evaluate((f) => window.morv3dViewer.tree(f),
          flags === '-' ? undefined : parseInt(flags, 16));
        assert.equal(text, expected.text, `${name} --flags ${flags}`);
        trees += 1;
      }
      if (first.status !== 0) {
        damaged += 1;
        assert.deepEqual(await openFiles(page, [SAMPLE()]), { ok: true, message: '' }, `sample after ${name}`);
        assert.equal(await page.evaluate(() => window.morv3dViewer.tree()), sample.text);
      }
    }
    t.diagnostic(`${trees} trees of ${table.length} scenes, ${damaged} of them loading in part`);
    assert.deepEqual(page.errors, []);
    await page.close();
  });
});

describe('the page', () => {
  test('German by the browser language or the switch, English from the translation', async () => {
    const page = await newPage('');
    assert.equal(await page.getAttribute('#search', 'placeholder'), 'Search (Ctrl+F)');
    await page.selectOption('#language', 'de');
    assert.equal(await page.getAttribute('#search', 'placeholder'), 'Suchen (Strg+F)');
    const missing = path.join(temp, 'missing.morv3d');
    fs.writeFileSync(missing, Buffer.from('not a scene'));
    const result = await openFiles(page, [missing]);
    assert.equal(result.message,
      'Die Datei „missing.morv3d“ kann nicht geöffnet werden:\nkeine .morv3d-Szenendatei (0x80044012).');
    const other = await openFiles(page, [path.join(SOURCE, 'tests/data/web/trees.tsv')]);
    assert.deepEqual(other, { ok: false, message: 'Die Datei „trees.tsv“ ist keine .morv3d-Datei: die Seite liest nur .morv3d-Szenen.' });
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('search counts and steps through the matches in display order', async () => {
    const page = await newPage();
    await openFiles(page, [SAMPLE()]);
    const table = fs.readFileSync(path.join(SOURCE, 'tests/data/viewer/sample_searches.tsv'), 'utf8');
    for (const line of table.split('\n')) {
      if (!line || line.startsWith('#')) continue;
      const [text, names] = line.split('\t');
      const expected = names ? names.split(' ') : [];
      await page.fill('#search', text);
      const count = text ? `${expected.length} ${expected.length === 1 ? 'match' : 'matches'}` : '';
      assert.equal(await page.textContent('#search-count'), count, text);
      const stepped = [];
      for (const _ of expected) {
        await page.press('#search', 'Enter');
        stepped.push((await page.textContent('.row.selected .label')).replace(/^[a-z]+: /, ''));
      }
      assert.deepEqual(stepped, expected, text);
    }
    await page.check('#search-only');
    await page.fill('#search', 'dmy');
    assert.deepEqual(await page.$$eval('.row.match .label', (rows) => rows.map((r) => r.textContent)),
      ['node: dmyPivot', 'node: dmyTip']);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('a large tree keeps only the rows in sight in the document', async () => {
    const page = await newPage();
    await openFiles(page, [SAMPLE()]);
    const rows = await page.$$eval('#tree .row', (r) => r.length);
    const entries = (await page.evaluate(() => window.morv3dViewer.tree())).split('\n').length - 1;
    assert.ok(rows > 0 && rows <= entries, `${rows} rows for ${entries} entries`);
    await page.close();
  });

  test('files dropped on the page open', async () => {
    const page = await newPage();
    const data = fs.readFileSync(SAMPLE()).toString('base64');
    await page.evaluate((bytes) => {
      const transfer = new DataTransfer();
      const raw = Uint8Array.from(atob(bytes), (c) => c.charCodeAt(0));
      transfer.items.add(new File([raw], 'sample.morv3d'));
      document.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true }));
    }, data);
    await page.waitForFunction(() => document.getElementById('title').textContent === 'sample.morv3d');
    assert.equal(await page.evaluate(() => window.morv3dViewer.tree()), cliTree(SAMPLE(), '-').text);
    if (process.env.MORV_WEB_SCREENSHOT) {
      // The README's picture of the page: an entry selected, the statistics shown.
      await page.setViewportSize({ width: 960, height: 540 });
      await page.fill('#search', 'arm');
      await page.press('#search', 'Enter');
      await page.click('#statistics-button');
      await page.screenshot({ path: process.env.MORV_WEB_SCREENSHOT });
    }
    await page.close();
  });

  test('a dropped folder is read batch by batch and its textures found; a missing one is listed', async () => {
    // Per case: the examples' textures left out of the dropped folder, so missing.
    const cases = [[], ['glass.tga'], ['stone.bmp', 'wood.bmp']];
    const examples = path.join(SOURCE, 'examples');
    const page = await newPage();
    await page.click('#statistics-button');
    for (const leftOut of cases) {
      const names = fs.readdirSync(examples).filter((f) => !leftOut.includes(f) && f !== 'sample.morv');
      // A drop cannot carry a folder here: the event's items give entries that behave as the
      // browser's, a folder's reader handing out one entry per batch, then an empty one.
      const files = names.map((f) => ({ name: f, data: fs.readFileSync(path.join(examples, f)).toString('base64') }));
      await page.evaluate((list) => {
        const file = ({ name, data }) => ({
          isFile: true, isDirectory: false, fullPath: `/examples/${name}`,
          file: (ok) => ok(new File([Uint8Array.from(atob(data), (c) => c.charCodeAt(0))], name)),
        });
        const folderEntry = { isFile: false, isDirectory: true, fullPath: '/examples', createReader() {
          const batches = list.map((f) => [file(f)]);
          return { readEntries: (ok) => setTimeout(() => ok(batches.shift() ?? []), 0) };
        } };
        const drop = new Event('drop', { bubbles: true, cancelable: true });
        drop.dataTransfer = { items: [{ webkitGetAsEntry: () => folderEntry }], files: [] };
        document.getElementById('title').textContent = '';
        document.getElementById('statistics').textContent = '';
        document.dispatchEvent(drop);
      }, files);
      await page.waitForFunction(() => document.getElementById('title').textContent === 'sample.morv3d');
      await page.waitForFunction(() => /Missing textures/.test(document.getElementById('statistics').textContent));
      const listed = [...(await page.textContent('#statistics')).matchAll(/^ {2}(\S+) \(Material/gm)].map((m) => m[1]);
      assert.deepEqual(listed.sort(), leftOut, leftOut.join(' '));
    }
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('what is beyond the browser\'s memory gets the desktop\'s message and the page goes on', async () => {
    // The browser's limits played: the heap grows no further than window.heapCap, and a file
    // named huge.morv3d cannot be read into memory.
    const page = await newPage('?lang=en', () => {
      const grow = WebAssembly.Memory.prototype.grow;
      WebAssembly.Memory.prototype.grow = function (pages) {
        if (this.buffer.byteLength + pages * 65536 > (window.heapCap ?? Infinity)) throw new RangeError('out of memory');
        return grow.call(this, pages);
      };
      const read = Blob.prototype.arrayBuffer;
      Blob.prototype.arrayBuffer = function () {
        return this.name === 'huge.morv3d' ? Promise.reject(new DOMException('cannot read', 'NotReadableError')) : read.call(this);
      };
    });
    const openLarge = () => page.evaluate(async () => {
      window.heapCap = window.morv3dViewer.memory();
      const data = new Uint8Array(await (await fetch('/temp/large.morv3d')).arrayBuffer());
      return window.morv3dViewer.open([{ name: 'large.morv3d', data }]);
    });
    // The heap runs out while loading: what was loaded is shown, as on the desktop.
    assert.deepEqual(await openLarge(), { ok: false, message: 'The file “large.morv3d” was not loaded completely:\n'
      + 'Out of memory (0x8007000E).\nShown is what could be loaded.' });
    assert.deepEqual(await page.evaluate(() => window.morv3dViewer.open([new File([], 'huge.morv3d')])),
      { ok: false, message: 'The file “huge.morv3d” cannot be opened:\nOut of memory (0x8007000E).' });
    assert.deepEqual(await openFiles(page, [SAMPLE()]), { ok: true, message: '' });
    assert.equal(await page.evaluate(() => window.morv3dViewer.tree()), cliTree(SAMPLE(), '-').text);
    assert.equal(await page.isHidden('#progress'), true);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('the file button takes several files; ?url= and #url= open a scene of the same site only', async () => {
    const page = await newPage();
    await page.setInputFiles('#open-files', [SAMPLE(), path.join(SOURCE, 'examples/stone.bmp')]);
    await page.waitForFunction(() => document.getElementById('title').textContent === 'sample.morv3d');
    const cases = [
      ['?lang=en&url=/examples/sample.morv3d', 'sample.morv3d', ''],
      ['?lang=en#url=examples/sample.morv3d', 'sample.morv3d', ''],
      ['?lang=en&url=/examples/none.morv3d', '', 'The address “/examples/none.morv3d” cannot be loaded (404).'],
      ['?lang=en&url=http://elsewhere.test/a.morv3d', '', 'The address “http://elsewhere.test/a.morv3d” is not on this site.'],
    ];
    for (const [query, title, message] of cases) {
      const other = await newPage(query);
      await other.waitForFunction(() => document.getElementById('title').textContent
        || !document.getElementById('message').hidden);
      assert.equal(await other.textContent('#title'), title, query);
      assert.equal(await other.textContent('#message-text'), message, query);
      await other.close();
    }
    await page.close();
  });

  test('pictures, picks and selection agree with morv3d render and pick', async (t) => {
    const page = await newPage();
    const rows = fs.readFileSync(path.join(SOURCE, 'tests/data/web/views.tsv'), 'utf8')
      .split('\n').filter((l) => l && !l.startsWith('#')).map((l) => l.split('\t'));
    for (const [scene, time, view] of rows) {
      const file = path.join(SOURCE, scene);
      const folder = fs.readdirSync(path.dirname(file)).filter((f) => f !== path.basename(file))
        .map((f) => path.join(path.dirname(file), f)).filter((f) => fs.statSync(f).isFile());
      assert.equal((await openFiles(page, [file, ...folder])).ok, true, scene);
      // The view is fitted to the scene at the time set, as morv3d render fits it.
      await page.evaluate(async ([v, tm]) => {
        await window.morv3dViewer.setTime(tm);
        await window.morv3dViewer.setView(v);
      }, [view, Number(time)]);
      const { width, height } = await page.$eval('#view', (c) => ({ width: c.width, height: c.height }));
      const size = `${width}x${height}`;
      const expectedPng = path.join(temp, 'expected.png');
      spawnSync(CLI, ['render', file, expectedPng, '--size', size, '--time', time, '--view', view]);
      const share = await page.evaluate(async (expected) => {
        const decode = async (bytes) => {
          const bitmap = await createImageBitmap(new Blob([bytes], { type: 'image/png' }));
          const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
          const context = canvas.getContext('2d');
          context.drawImage(bitmap, 0, 0);
          return context.getImageData(0, 0, bitmap.width, bitmap.height);
        };
        const a = await decode(window.morv3dViewer.picture());
        const b = await decode(Uint8Array.from(atob(expected), (c) => c.charCodeAt(0)));
        if (a.width !== b.width || a.height !== b.height) return 1;
        let differing = 0;
        for (let i = 0; i < a.data.length; i += 4) {
          for (let k = 0; k < 3; k++) {
            if (Math.abs(a.data[i + k] - b.data[i + k]) > 24) { differing += 1; break; }
          }
        }
        return differing / (a.width * a.height);
      }, fs.readFileSync(expectedPng).toString('base64'));
      t.diagnostic(`${scene} at ${time} ${view} ${size}: ${(share * 100).toFixed(3)}% of the pixels differ`);
      assert.ok(share <= 0.005, `${scene} at ${time} ${view}: ${share}`);
      // Picks on a grid of pixels name what morv3d pick names first.
      for (let y = height / 8; y < height; y += height / 4) {
        for (let x = width / 8; x < width; x += width / 4) {
          const [px, py] = [Math.floor(x), Math.floor(y)];
          const run = spawnSync(CLI, ['pick', file, '--at', `${px},${py}`, '--size', size, '--time', time, '--view', view], { encoding: 'utf8' });
          const expected = run.stdout ? run.stdout.split('\t')[0] : null;
          assert.equal(await page.evaluate(([a, b]) => window.morv3dViewer.pick(a, b), [px, py]), expected, `${scene} ${px},${py}`);
          if (expected) {
            assert.equal(await page.evaluate((p) => window.morv3dViewer.select(p), expected), true);
            const label = await page.textContent('.row.selected .label');
            assert.match(label, /^(mesh|node|object): /, expected);
          }
        }
      }
    }
    assert.equal(await page.evaluate(() => window.morv3dViewer.select('scene/nothing')), false);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('Download .glb gives the bytes morv3d export writes', async () => {
    const page = await newPage();
    const scenes = [SAMPLE(), ...fs.readdirSync(path.join(SOURCE, 'tests/data/interchange/scenes'))
      .filter((f) => f.endsWith('.morv3d')).map((f) => path.join(SOURCE, 'tests/data/interchange/scenes', f))];
    for (const file of scenes) {
      const folder = fs.readdirSync(path.dirname(file)).map((f) => path.join(path.dirname(file), f))
        .filter((f) => f !== file && fs.statSync(f).isFile());
      await openFiles(page, [file, ...folder]);
      await page.evaluate(() => window.morv3dViewer.setTime(40));
      const bytes = Buffer.from(await page.evaluate(() => btoa(String.fromCharCode(...window.morv3dViewer.exportGlb()))), 'base64');
      const out = path.join(temp, 'expected.glb');
      fs.rmSync(out, { force: true });
      spawnSync(CLI, ['export', file, out]);
      assert.ok(fs.existsSync(out) ? bytes.equals(fs.readFileSync(out)) : bytes.length === 0, path.basename(file));
    }
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('the transport: steps, keys of the selected object, playing moves the time on', async () => {
    const page = await newPage();
    await openFiles(page, [SAMPLE()]);
    assert.equal(await page.evaluate(() => window.morv3dViewer.select('scene/dmyPivot/arm')), true);
    const time = () => page.evaluate(() => window.morv3dViewer.time());
    await page.click('#step-forward');
    assert.equal(await time(), 1);
    await page.click('#next-key');
    const key = await time();
    assert.ok(key > 1, `next key ${key}`);
    await page.click('#previous-key');
    assert.ok(await time() < key);
    await page.click('#stop');
    assert.equal(await time(), 0);
    await page.click('#play');
    await page.waitForFunction(() => window.morv3dViewer.time() >= 3);
    await page.click('#play');
    const paused = await time();
    await page.waitForTimeout(200);
    assert.equal(await time(), paused);
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('the single file works from disk and asks for nothing', async () => {
    const page = await context.newPage();
    const requests = [];
    page.on('request', (r) => requests.push(r.url()));
    const errors = [];
    page.on('pageerror', (e) => errors.push(String(e)));
    const url = `file://${path.join(WEB, 'morv3d-viewer.html')}`;
    await page.goto(url);
    await page.evaluate(() => window.morv3dViewer.ready);
    assert.deepEqual(await openFiles(page, [SAMPLE()]), { ok: true, message: '' });
    assert.equal(await page.evaluate(() => window.morv3dViewer.tree(0x7F)), cliTree(SAMPLE(), '7F').text);
    assert.deepEqual(requests, [url]);
    assert.deepEqual(errors, []);
    await page.close();
  });
});
