'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { timeline: T } = require('../../report/html/timeline.js');

// A lane from [start, end, depth] in lane order; parents found by a stack.
function lane(spans) {
  const n = spans.length;
  const l = { count: n, start: new Float64Array(n), end: new Float64Array(n), depth: new Uint16Array(n),
    parent: new Int32Array(n), self: new Float64Array(n), section: new Uint32Array(n) };
  const open = [];
  spans.forEach(([a, b, d], i) => {
    open.length = d;
    Object.assign(open, { [d]: i });
    l.start[i] = a; l.end[i] = b; l.depth[i] = d; l.parent[i] = d ? open[d - 1] : -1;
  });
  return l;
}

// Random nested spans: each span's children packed inside it, some tiny.
function randomLane(seed, roots) {
  let x = seed;
  const rnd = () => ((x = (x * 1103515245 + 12345) % 2147483648) / 2147483648);
  const spans = [];
  const grow = (a, b, d) => {
    spans.push([a, b, d]);
    let t = a;
    while (d < 5 && rnd() < 0.7) {
      const w = (b - t) * rnd() * (rnd() < 0.5 ? 0.02 : 0.5);
      const gap = (b - t) * rnd() * 0.1;
      if (t + gap + w > b) break;
      grow(t + gap, t + gap + w, d + 1);
      t += gap + w;
    }
  };
  for (let r = 0, t = 0; r < roots; r++, t += 1000) grow(t, t + 400 + 500 * rnd(), 0);
  return lane(spans);
}

test('ticks are 1, 2 or 5 times a power of ten, labelled in the unit of the view', () => {
  for (const [usPerPx, step] of [[1, 100], [3, 500], [0.01, 1], [0.03, 5], [1000, 100000], [2e4, 2e6]]) {
    assert.equal(T.tickStep(usPerPx, 90), step, String(usPerPx));
  }
  for (const [t, step, far, text] of [[1200000, 200000, 5e6, '1.2 s'], [52000001, 1, 6e7, '52.000001 s'],
    [1500, 500, 2000, '1.5 ms'], [40, 10, 900, '40 us'], [0.5, 0.5, 10, '0.5 us']]) {
    assert.equal(T.tickLabel(t, step, far), text);
  }
});

test('levels list each depth in start order', () => {
  const l = lane([[0, 10, 0], [1, 4, 1], [2, 3, 2], [5, 9, 1], [20, 30, 0]]);
  assert.deepEqual(T.levels(l).map((v) => [...v]), [[0, 4], [1, 3], [2]]);
});

// The same blocks by a plain walk: spans grouped by the column they start in.
function reference(l, level, from, to, upp) {
  const out = [];
  let p = 0;
  while (p < level.length && l.end[level[p]] < from) p++;
  while (p < level.length && l.start[level[p]] <= to) {
    const limit = (Math.floor(l.start[level[p]] / upp) + 1) * upp;
    let q = p + 1;
    while (q < level.length && l.start[level[q]] < limit) q++;
    const last = level[q - 1];
    if (q - p > 1 && l.end[last] - l.start[last] >= 2 * upp) out.push([p, q - 1 - p], [q - 1, 1]);
    else out.push([p, q - p]);
    p = q;
  }
  return out.filter(([, count]) => count > 0);
}

// Checks one row's blocks against the level they came from.
function check(l, level, from, to, upp) {
  const b = T.runs(l, level, from, to, upp);
  assert.deepEqual(Array.from({ length: b.length }, (_, i) => [b.first[i], b.count[i]]), reference(l, level, from, to, upp));
  assert.ok(b.length <= Math.ceil((to - from) / upp) + 2, `${b.length} blocks for ${(to - from) / upp} px`);
  let next = -1;
  for (let i = 0; i < b.length; i++) {
    assert.ok(b.first[i] > next, 'blocks ascend and do not share spans');
    next = b.first[i] + b.count[i] - 1;
    assert.equal(b.span[i] >= 0, b.count[i] === 1);
    if (b.span[i] >= 0) assert.equal(b.span[i], level[b.first[i]]);
    assert.equal(b.x0[i], l.start[level[b.first[i]]]);
    assert.equal(b.x1[i], l.end[level[next]]);
    for (let p = b.first[i]; p < next; p++) assert.ok(l.end[level[p]] - l.start[level[p]] < upp, 'merged spans are narrow');
  }
  const covered = new Set();
  for (let i = 0; i < b.length; i++) for (let p = 0; p < b.count[i]; p++) covered.add(b.first[i] + p);
  level.forEach((s, p) => {
    if (l.end[s] >= from && l.start[s] <= to) assert.ok(covered.has(p), `span ${s} in range is lost`);
  });
  return b;
}

test('runs: bounded by the pixels, nothing in range lost, on random lanes', () => {
  for (const seed of [1, 7, 42, 99]) {
    const l = randomLane(seed, 30);
    const lv = T.levels(l);
    for (const [from, to, px] of [[0, 30000, 1000], [0, 30000, 37], [4000, 4100, 800], [-500, 50000, 3], [12345, 12346, 500]]) {
      for (const level of lv) check(l, level, from, to, (to - from) / px);
    }
  }
  // One long row, so that columns hold hundreds of spans.
  let t = 0;
  const flat = lane(Array.from({ length: 20000 }, (_, i) => {
    const w = i % 97 === 0 ? 50 : (i * 7919 % 13) / 10;
    return [t += (i * 104729 % 5) / 10, (t += w), 0];
  }));
  const [row] = T.levels(flat);
  for (const px of [3, 40, 700, 5000, 60000]) check(flat, row, 1000, flat.end[19990], (flat.end[19990] - 1000) / px);
});

test('runs: merged or not at the pixel boundary; empty and outside ranges', () => {
  const l = lane([[0, 0.4, 0], [0.5, 0.9, 0], [1, 1.5, 0], [3, 3.2, 0], [3.3, 3.4, 0], [3.5, 6, 0], [6, 9, 0]]);
  const [row] = T.levels(l);
  const blocks = (from, to, upp) => {
    const b = check(l, row, from, to, upp);
    return Array.from({ length: b.length }, (_, i) => [b.span[i], b.count[i]]);
  };
  for (const [from, to, upp, want] of [
    [0, 9, 1, [[-1, 2], [2, 1], [-1, 2], [5, 1], [6, 1]]],  // 5 shares a column but is 2.5 px wide
    [0, 9, 0.5, [[0, 1], [1, 1], [2, 1], [-1, 2], [5, 1], [6, 1]]],
    [0, 9, 2, [[-1, 3], [-1, 3], [6, 1]]],                 // 5 is 1.25 px: merged with its column
    [0, 9, 10, [[-1, 7]]],
    [1.6, 2.9, 1, []],
    [1.5, 2.9, 1, [[2, 1]]],                               // ends at from
    [1.6, 3, 1, [[-1, 2], [5, 1]]],                        // starts at to
    [20, 30, 1, []],
    [-30, -20, 1, []],
    [8, 100, 1, [[6, 1]]],
    [4, 3, 1, []],
  ]) {
    assert.deepEqual(blocks(from, to, upp), want, `${from}..${to} at ${upp}`);
  }
});

test('hit: start inclusive, end exclusive, a pixel of reach when zoomed out', () => {
  const l = lane([[10, 20, 0], [12, 13, 1], [20, 20, 0], [30, 40, 0]]);
  const lv = T.levels(l);
  for (const [depth, time, upp, want] of [[0, 10, 0, 0], [0, 19.99, 0, 0], [0, 20, 0, -1], [0, 9.99, 0, -1],
    [0, 25, 0, -1], [0, 40, 0, -1], [0, 40, 11, 3], [0, 20.5, 1, 2], [1, 12.5, 0, 1], [1, 13, 0, -1], [1, 13.5, 1, -1], [1, 13.5, 2, 1], [2, 12, 1, -1]]) {
    assert.equal(T.hit(l, lv, depth, time, upp), want, `depth ${depth} at ${time}, ${upp}`);
  }
});

test('descendants and children of a span', () => {
  const l = lane([[0, 10, 0], [1, 5, 1], [2, 3, 2], [3, 4, 2], [6, 9, 1], [7, 8, 2], [10, 20, 0], [11, 12, 1], [30, 31, 0]]);
  const lv = T.levels(l);
  for (const [span, from, to, kids] of [[0, 1, 6, [1, 4]], [1, 2, 4, [2, 3]], [4, 5, 6, [5]], [2, 3, 3, []],
    [6, 7, 8, [7]], [8, 9, 9, []]]) {
    assert.deepEqual(T.descendants(l, lv, span), { from, to }, `span ${span}`);
    assert.deepEqual([...T.children(l, lv, span)], kids, `children of ${span}`);
  }
});
