'use strict';
// The page spanmill-report html writes, read as the browser reads it: its
// spans, nested by the page, give summary's totals and self times.
const test = require('node:test');
const assert = require('node:assert');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const zlib = require('node:zlib');
const { nesting } = require('../../report/html/nesting.js');
const { data } = require('../../report/html/data.js');
const { format } = require('../../report/html/format.js');

const reporter = process.env.SPANMILL_REPORT;
const examples = path.join(__dirname, '../../examples');
const skip = reporter ? false : 'SPANMILL_REPORT names no spanmill-report';

function page(args) {
  const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'page-')), 'view.html');
  execFileSync(reporter, ['html', '-o', file, ...args]);
  return fs.readFileSync(file, 'utf8');
}

function element(html, id) {
  const open = html.indexOf('>', html.indexOf(`id="${id}"`)) + 1;
  return html.slice(open, html.indexOf('</script>', open));
}

const inflate = async (bytes) => zlib.inflateRawSync(bytes);

function load(html) {
  return data.load(element(html, 'spanmill-meta'), element(html, 'spanmill-spans'), nesting.nest, inflate);
}

test('the spans of the examples give summary numbers', { skip }, async () => {
  const files = ['frames.json', 'threads.json'].map((f) => path.join(examples, f));
  const model = await load(page(files));
  const summary = JSON.parse(execFileSync(reporter, ['summary', '--json', ...files]));
  assert.strictEqual(model.lanes.length, 5);
  assert.strictEqual(model.spans, summary.rows.reduce((n, row) => n + row.spans, 0));
  const bySection = new Map();
  for (const lane of model.lanes) {
    for (let i = 0; i < lane.count; ++i) {
      const text = model.sections[lane.section[i]].text;
      const sum = bySection.get(text) || { spans: 0, total: 0, self: 0 };
      sum.spans += 1;
      sum.total += lane.duration[i];
      sum.self += lane.self[i];
      bySection.set(text, sum);
    }
  }
  for (const row of summary.rows) {
    const text = row.location ? `${row.section} (${row.location})` : row.section;
    assert.deepStrictEqual(bySection.get(text), { spans: row.spans, total: row.total_us, self: row.self_us }, text);
  }
  // The table's cells are summary's own.
  const table = execFileSync(reporter, ['summary', ...files]).toString().split('\n')[1];
  const first = model.meta.summary.rows[0];
  assert.strictEqual(table.replace(/ {2,}/g, '|'), [model.sections[first.section].text, ...first.cells].join('|'));
  // The views write durations as the table does (the mean and share are
  // left out: their figures are rounded to thousandths).
  for (const row of model.meta.summary.rows) {
    for (const k of [1, 2, 4, 5, 6, 7]) {
      assert.strictEqual(format.duration(row.figures[k]), row.cells[k], model.sections[row.section].text);
    }
  }
});

test('a damaged page says so', { skip }, async () => {
  const html = page([path.join(examples, 'frames.json')]);
  const spans = element(html, 'spanmill-spans');
  const cut = html.replace(spans, spans.slice(0, spans.length - 8));
  await assert.rejects(load(cut));
});

test('names that end a script and numbers past 32 bits reach the page whole', { skip }, async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'page-'));
  const report = path.join(dir, 'odd.json');
  const names = ['</script><b>x</b>', 'line\u2028sep', 'é'];
  fs.writeFileSync(report, JSON.stringify({
    sections: names,
    pc: [['', 0], ['a.c:1', 1], ['', 2]],
    threads: { 7: { trace: [[0, 5000000000000, 0], [4000000.5, -3, 1], [4000000.5, 1, 2]] } },
  }));
  const model = await load(page([report]));
  assert.deepStrictEqual(model.sections.map((s) => s.name), names);
  const lane = model.lanes[0];
  assert.deepStrictEqual(Array.from(lane.duration), [5000000000000, 1, -3]);
  assert.deepStrictEqual(Array.from(lane.start), [0, 4000000500000, 4000000500000]);
});

test('a comparison carries diff and, for each row, the exact lower end of its interval', { skip }, async () => {
  const noise = (f) => path.join(__dirname, '../data/noise', f);
  const model = await load(page([noise('same.json'), '--', noise('doubled.json')]));
  const diff = JSON.parse(execFileSync(reporter, ['diff', '--json', noise('same.json'), '--', noise('doubled.json')]));
  const comparison = model.meta.comparison;
  assert.deepStrictEqual(comparison.diff.rows, diff.rows);
  assert.strictEqual(comparison.low_pct.length, diff.rows.length);
  comparison.low_pct.forEach((low, i) => {
    assert.ok(Math.abs(low - diff.rows[i].interval_pct[0]) < 1e-4, `${low} against ${diff.rows[i].interval_pct[0]}`);
  });
  assert.strictEqual(comparison.cells.length, diff.rows.length);
});
