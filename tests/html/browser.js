'use strict';
// The HTML page in headless Chromium and Firefox, driven by puppeteer-core
// (over CDP and WebDriver BiDi): the examples open with every thread and
// span and no console error, the summary table is summary's, a comparison
// shows diff's verdicts and the gate, the timeline zooms, selects and
// highlights, the flame graph zooms, and the page is not blank. A browser
// that is not installed is skipped; exits 77 (skipped) without any, or
// without puppeteer-core.
//   node tests/html/browser.js   (SPANMILL_REPORT, PUPPETEER set)
//   SCREENSHOTS=DIR also keeps a screenshot of each view there, from Chromium.
const { describe, test, before, after } = require('node:test');
const assert = require('node:assert');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const reporter = process.env.SPANMILL_REPORT;
const browsers = [
  { name: 'chromium', browser: 'chrome', paths: ['/usr/bin/chromium', '/usr/bin/chromium-browser'], args: ['--no-sandbox'] },
  { name: 'firefox', browser: 'firefox', paths: ['/usr/bin/firefox-esr', '/usr/bin/firefox'], args: [] },
].map((b) => ({ ...b, executablePath: b.paths.find((p) => fs.existsSync(p)) }));
let puppeteer;
try {
  puppeteer = require(path.resolve(process.env.PUPPETEER || '', 'node_modules/puppeteer-core'));
} catch (error) {
  puppeteer = null;
}
if (!reporter || !puppeteer || !browsers.some((b) => b.executablePath)) {
  console.log('skipped: needs SPANMILL_REPORT, chromium or firefox-esr, and puppeteer-core in $PUPPETEER');
  process.exit(77);
}

const root = path.join(__dirname, '../..');
const examples = ['frames.json', 'threads.json'].map((f) => path.join(root, 'examples', f));
const noise = (f) => path.join(root, 'tests/data/noise', f);
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'html-'));
const shots = process.env.SCREENSHOTS;
const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
after(() => fs.rmSync(scratch, { recursive: true, force: true }));

function write(name, args) {
  const file = path.join(scratch, name);
  execFileSync(reporter, ['html', '-o', file, ...args]);
  return file;
}

for (const kind of browsers) {
  describe(kind.name, { skip: kind.executablePath ? false : `no ${kind.paths.join(' or ')}` }, () => {
    let browser;
    before(async () => {
      browser = await puppeteer.launch({
        browser: kind.browser,
        executablePath: kind.executablePath,
        args: kind.args,
        defaultViewport: { width: 1280, height: 800 },
      });
    });
    after(() => browser && browser.close());

    // Opens a page and waits until it is ready; collects console errors
    // and every request it makes.
    async function open(file, hash = '') {
      const page = await browser.newPage();
      const errors = [];
      const requests = [];
      page.on('console', (m) => m.type() === 'error' && errors.push(m.text()));
      page.on('pageerror', (e) => errors.push(String(e.message || e)));
      page.on('request', (r) => requests.push(r.url()));
      await page.goto('file://' + file + hash);
      await page.waitForSelector('html[data-ready="1"], html[data-error]', { timeout: 60000 });
      return { page, errors, requests };
    }

    // Whether a screenshot holds more than a few colours: a blank or broken
    // page does not. The README's screenshots are Chromium's.
    async function notBlank(page, name) {
      const keep = shots && kind.name === 'chromium';
      const png = await page.screenshot(keep ? { path: path.join(shots, name) } : {});
      const colours = await page.evaluate(async (base64) => {
        const image = await createImageBitmap(await (await fetch('data:image/png;base64,' + base64)).blob());
        const canvas = new OffscreenCanvas(image.width, image.height);
        const context = canvas.getContext('2d');
        context.drawImage(image, 0, 0);
        const pixels = context.getImageData(0, 0, image.width, image.height).data;
        const seen = new Set();
        for (let i = 0; i < pixels.length && seen.size < 64; i += 4 * 97) {
          seen.add((pixels[i] << 16) | (pixels[i + 1] << 8) | pixels[i + 2]);
        }
        return seen.size;
      }, Buffer.from(png).toString('base64'));
      assert.ok(colours >= 8, `${name}: only ${colours} colours`);
    }

    test('the examples open offline with every thread, span and section', async () => {
      const file = write('view.html', examples);
      const { page, errors, requests } = await open(file, '#summary');
      const summary = JSON.parse(execFileSync(reporter, ['summary', '--json', ...examples]));
      const spans = summary.rows.reduce((n, row) => n + row.spans, 0);
      const at = await page.evaluate(() => ({ ...document.documentElement.dataset }));
      assert.deepStrictEqual([at.ready, at.threads, at.spans, at.error], ['1', '5', String(spans), undefined]);
      const table = execFileSync(reporter, ['summary', ...examples]).toString().trim().split('\n').slice(1);
      const rows = await page.$$eval('#summary-table tbody tr', (trs) =>
        trs.map((tr) => Array.from(tr.cells, (td) => td.textContent).join('|')));
      assert.deepStrictEqual(rows, table.map((line) => line.replace(/ {2,}/g, '|')));
      assert.deepStrictEqual(errors, []);
      // Firefox reports no request for a file: address, Chromium the page's.
      assert.deepStrictEqual(requests.filter((url) => url !== 'file://' + file + '#summary'), []);
      assert.deepStrictEqual(await page.evaluate(() => performance.getEntriesByType('resource').length), 0);
      await notBlank(page, 'summary.png');
      await page.close();
    });

    test('a comparison shows the verdicts, and the gate follows its threshold', async () => {
      const file = write('compare.html', [noise('same.json'), '--', noise('doubled.json')]);
      const { page, errors } = await open(file);
      const verdicts = await page.$$eval('#comparison-table tbody tr', (trs) =>
        Object.fromEntries(trs.map((tr) => [tr.cells[0].textContent, tr.cells[3].textContent])));
      assert.strictEqual(verdicts.draw, '~');
      assert.match(verdicts.layout, /^\+\d+\.\d%$/);
      assert.strictEqual(await page.$eval('#gate', (g) => g.dataset.outcome), 'slower');
      await page.locator('#threshold').fill('200');
      assert.strictEqual(await page.$eval('#gate', (g) => g.dataset.outcome), 'passed');
      await page.locator('#threshold').fill('5');
      await notBlank(page, 'comparison.png');
      assert.deepStrictEqual(errors, []);
      await page.close();
      // Identical code: the first ten runs of the unchanged program against
      // the other ten, every section "~".
      const pieces = fs.readFileSync(noise('same.json'), 'utf8').split('}{"sections"');
      const runs = pieces.map((p, i) => (i > 0 ? '{"sections"' : '') + p + (i < pieces.length - 1 ? '}' : ''));
      const half = (from, to) => {
        const name = path.join(scratch, `runs-${from}.json`);
        fs.writeFileSync(name, runs.slice(from, to).join(''));
        return name;
      };
      const same = await open(write('same.html', [half(0, 10), '--', half(10, 20)]));
      const changes = await same.page.$$eval('#comparison-table tbody tr', (trs) => trs.map((tr) => tr.cells[3].textContent));
      assert.deepStrictEqual(changes, ['~', '~', '~']);
      await same.page.close();
    });

    test('on the timeline a zoom and a click show the span under the pointer', async () => {
      const { page, errors } = await open(write('timeline.html', examples), '#timeline');
      const box = await (await page.$('#view-timeline canvas')).boundingBox();
      // The first doFrame of frames.json's first thread, in the full view:
      // its row is the first under the report's header; it begins at 0.
      const x = box.x + 160;
      const y = box.y + 52;
      await page.mouse.move(x, y);
      const shown = () => page.evaluate(() => spanmill.views.timeline.view());
      const before = await shown();
      for (let i = 0; i < 5; ++i) {
        await page.mouse.wheel({ deltaY: -240 });
      }
      await pause(100);
      const after = await shown();
      assert.ok(after.to - after.from < (before.to - before.from) / 2, 'zoomed in');
      await page.mouse.click(x, y);
      const panel = await page.$eval('.sm-tl-panel', (p) => (p.hidden ? '' : p.textContent));
      assert.match(panel, /doFrame/);
      assert.match(panel, /measure/);  // nested in it
      await notBlank(page, 'timeline.png');
      assert.deepStrictEqual(errors, []);
      await page.close();
    });

    test('the timeline\'s search highlights the spans of the section typed', async () => {
      const { page, errors } = await open(write('search.html', examples), '#timeline');
      // The sections whose colour the timeline's canvas shows in full and
      // those it shows faded, by the colours of spanmill.timeline.
      const drawn = () => page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(() => {
        const sections = JSON.parse(document.getElementById('spanmill-meta').textContent).sections;
        const probe = document.createElement('canvas').getContext('2d', { willReadFrequently: true });
        // A colour as the canvas shows it: faded ones drawn see-through over
        // the timeline's background.
        const background = getComputedStyle(document.querySelector('#view-timeline')).getPropertyValue('--bg');
        const rgb = (css, alpha) => {
          probe.globalAlpha = 1;
          probe.fillStyle = background;
          probe.fillRect(0, 0, 1, 1);
          probe.globalAlpha = alpha;
          probe.fillStyle = css;
          probe.fillRect(0, 0, 1, 1);
          const [r, g, b] = probe.getImageData(0, 0, 1, 1).data;
          return (r << 16) | (g << 8) | b;
        };
        const named = new Map();
        sections.forEach((s, i) => {
          const colour = spanmill.timeline.sectionColor(i);
          named.set(rgb(colour, 1), ['lit', s.text]);
          named.set(rgb(colour, spanmill.timeline.FADED), ['faded', s.text]);
        });
        const canvas = document.querySelector('#view-timeline canvas');
        const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
        // Pixels by colour; a section counts as lit from 20 pixels on, past
        // the few that the edges of other spans blend into its colour.
        const counts = { lit: new Map(), faded: new Map() };
        for (let i = 0; i < pixels.length; i += 4) {
          const hit = named.get((pixels[i] << 16) | (pixels[i + 1] << 8) | pixels[i + 2]);
          if (hit) {
            counts[hit[0]].set(hit[1], (counts[hit[0]].get(hit[1]) || 0) + 1);
          }
        }
        const total = (kind) => [...counts[kind].values()].reduce((n, m) => n + m, 0);
        const lit = [...counts.lit].filter(([, n]) => n >= 20).map(([text]) => text).sort();
        resolve({ lit, litPixels: total('lit'), fadedPixels: total('faded') });
      }))));
      const all = await drawn();
      assert.ok(all.lit.includes('doFrame') && all.lit.length > 3 && all.fadedPixels * 50 < all.litPixels,
        JSON.stringify(all));
      await page.type('#timeline-search', 'doframe');
      const one = await drawn();
      assert.deepStrictEqual(one.lit, ['doFrame']);
      assert.ok(one.fadedPixels * 4 > all.litPixels - one.litPixels, JSON.stringify(one));
      const count = await page.$eval('#view-timeline .count', (c) => c.textContent);
      assert.match(count, /^1 of \d+ sections$/);
      await page.$eval('#timeline-search', (search) => search.select());
      await page.keyboard.press('Backspace');
      assert.deepStrictEqual(await drawn(), all);
      assert.deepStrictEqual(errors, []);
      await page.close();
    });

    test('the call tree lists the paths spanmill-report tree prints', async () => {
      const { page, errors } = await open(write('tree.html', examples), '#tree');
      const tree = execFileSync(reporter, ['tree', '--min-share', '0', ...examples]).toString();
      const roots = tree.split('\n').slice(1).filter((line) => /^\S/.test(line)).map((line) => line.split(/ {2,}/)[0]);
      const listed = await page.$$eval('#view-tree table tbody tr', (trs) => trs.map((tr) => tr.cells[0].textContent));
      assert.deepStrictEqual(listed, roots);
      await notBlank(page, 'tree.png');
      assert.deepStrictEqual(errors, []);
      await page.close();
    });

    test('a click on a frame of the flame graph zooms into it, and Escape zooms out', async () => {
      const { page, errors } = await open(write('flame.html', examples), '#tree');
      // The widest frame below a root, and what is drawn full width.
      const state = () => page.evaluate(() => {
        const view = spanmill.views.tree;
        const wide = view.frames.filter((f) => f.depth === 1).sort((a, b) => b.width - a.width)[0];
        const most = Math.max(...view.frames.map((f) => f.width));
        const full = view.frames.filter((f) => f.x === 0 && f.width === most).map((f) => f.node);
        return { wide, text: view.tree.text(wide.node), parent: view.tree.parent[wide.node], zoomed: view.zoomed,
          full, path: document.querySelector('.flame-path').textContent };
      });
      const start = await state();
      assert.strictEqual(start.zoomed, -1);
      const box = await (await page.$('#view-tree canvas')).boundingBox();
      const row = await page.evaluate(() => spanmill.flame.ROW);
      await page.mouse.click(box.x + start.wide.x + start.wide.width / 2, box.y + (start.wide.depth + 0.5) * row);
      const zoomed = await state();
      assert.strictEqual(zoomed.zoomed, start.wide.node);
      assert.deepStrictEqual(zoomed.full.slice(0, 2), [start.parent, start.wide.node]);
      assert.ok(zoomed.path.startsWith('All call paths › ') && zoomed.path.endsWith(' › ' + start.text), zoomed.path);
      await page.keyboard.press('Escape');
      assert.strictEqual((await state()).zoomed, start.parent);
      await page.keyboard.press('Escape');
      const out = await state();
      assert.deepStrictEqual([out.zoomed, out.path], [-1, 'All call paths']);
      assert.deepStrictEqual(errors, []);
      await page.close();
    });
  });
}
