'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { flame } = require('../../report/html/flame.js');

const sections = ['a', 'b', 'c', 'd'].map((name, i) => ({ name, location: `x.cpp:${i}`, text: name }));

// A lane of spans in walk order: [section, parent row, start, end, duration, self].
function lane(rows, title = 'tid 1', group = 'r.json') {
  const column = (Type, k) => Type.from(rows, (r) => r[k]);
  const parent = column(Int32Array, 1);
  const depth = Uint16Array.from(parent, (p) => 0);
  parent.forEach((p, i) => (depth[i] = p < 0 ? 0 : depth[p] + 1));
  return {
    group, title, count: rows.length, section: column(Uint32Array, 0), parent, depth,
    start: column(Float64Array, 2), end: column(Float64Array, 3),
    duration: column(Float64Array, 4), self: column(Float64Array, 5),
  };
}

// The tree as lines "path spans total self", depth first in order.
function lines(tree) {
  const out = [];
  const stack = Array.from(tree.children(-1)).reverse().map((n) => [n, '']);
  while (stack.length > 0) {
    const [node, above] = stack.pop();
    const path = above + (above ? '>' : '') + tree.text(node);
    out.push(`${path} ${tree.spans[node]} ${tree.total[node]} ${tree.self[node]}`);
    stack.push(...Array.from(tree.children(node)).reverse().map((n) => [n, path]));
  }
  return out;
}

const nested = lane([[0, -1, 0, 10, 10, 4], [1, 0, 0, 3, 3, 3], [2, 0, 7, 10, 3, 3]]);
const cases = [
  ['children at the parent start and end', [nested], false, ['a 1 10 4', 'a>b 1 3 3', 'a>c 1 3 3']],
  ['siblings of a section merge, deeper ones not',
    [lane([[0, -1, 0, 9, 9, 2], [1, 0, 0, 2, 2, 2], [0, 0, 2, 5, 3, 3], [1, 0, 5, 7, 2, 2]])], false,
    ['a 1 9 2', 'a>b 2 4 4', 'a>a 1 3 3']],
  ['two lanes merged',
    [lane([[0, -1, 0, 5, 5, 1], [1, 0, 1, 5, 4, 4]]), lane([[0, -1, 0, 3, 3, 1], [2, 0, 0, 2, 2, 2]], 'tid 2')], false,
    ['a 2 8 2', 'a>b 1 4 4', 'a>c 1 2 2']],
  ['two lanes by thread',
    [lane([[0, -1, 0, 5, 5, 1], [1, 0, 1, 5, 4, 4]]), lane([[0, -1, 0, 3, 3, 1], [0, -1, 3, 9, 6, 6]], 'tid 2')], true,
    ['tid 2 2 9 0', 'tid 2>a 2 9 7', 'tid 1 2 5 0', 'tid 1>a 1 5 1', 'tid 1>a>b 1 4 4']],
  ['threads of two reports', [lane([[3, -1, 0, 1, 1, 1]], 'tid 1', 'p.json'), lane([[3, -1, 0, 1, 1, 1]])], true,
    ['p.json:tid 1 1 1 0', 'p.json:tid 1>d 1 1 1', 'r.json:tid 1 1 1 0', 'r.json:tid 1>d 1 1 1']],
  ['a negative duration: self held within the total, last',
    [lane([[1, -1, 5, 5, -3, 0], [0, -1, 5, 6, 1, 1], [1, -1, 6, 8, 2, 2]])], true,
    ['tid 1 3 0 0', 'tid 1>a 1 1 1', 'tid 1>b 2 -1 0']],
  ['equal totals by section, then first met',
    [lane([[2, -1, 0, 1, 1, 1], [1, -1, 1, 2, 1, 1], [3, -1, 2, 4, 2, 2]])], false, ['d 1 2 2', 'b 1 1 1', 'c 1 1 1']],
];
for (const [name, lanes, byThread, want] of cases) {
  test(`build: ${name}`, () => assert.deepEqual(lines(flame.build({ sections, lanes }, byThread)), want));
}

// A random walk of n spans of 4 sections, at most 6 deep.
function randomLane(n, seed) {
  let s = seed;
  const rnd = () => (s = (Math.imul(s, 1664525) + 1013904223) >>> 0) / 2 ** 32;
  const rows = [];
  const open = [];
  for (let i = 0; i < n; ++i) {
    while (open.length > 0 && (open.length > 5 || rnd() < 0.4)) open.pop();
    const d = Math.floor(rnd() * 50);
    rows.push([Math.floor(rnd() * 4), open.length ? open[open.length - 1] : -1, 0, 0, d, Math.floor(d * rnd())]);
    open.push(i);
  }
  return lane(rows, `tid ${seed}`);
}

test('build: paths hold every span and all the self time', () => {
  const lanes = [randomLane(3000, 1), randomLane(2000, 2)];
  const laneSelf = lanes.reduce((t, l) => t + l.self.reduce((a, b) => a + b, 0), 0);
  for (const byThread of [false, true]) {
    const tree = flame.build({ sections, lanes }, byThread);
    let spans = 0;
    let self = 0;
    for (let i = 0; i < tree.count; ++i) {
      spans += tree.section[i] >= 0 ? tree.spans[i] : 0;
      self += tree.self[i];
      assert.ok(tree.parent[i] < i);
      const kids = tree.children(i);
      for (let k = 1; k < kids.length; ++k) assert.ok(tree.total[kids[k - 1]] >= tree.total[kids[k]]);
    }
    assert.deepEqual([spans, self, tree.whole], [5000, laneSelf, laneSelf]);
  }
});

test('build and layout: a path 100 000 deep', () => {
  const rows = Array.from({ length: 100000 }, (_, i) => [i % 4, i - 1, i, 200000, 200000 - i, 1]);
  const tree = flame.build({ sections, lanes: [lane(rows)] }, false);
  assert.equal(tree.maxDepth, 99999);
  assert.equal(flame.layout(tree, 50000, 800).length, 100000);
});

// a 60 holds b 30 (which holds d 15) and c 20; and b 40 on its own.
const small = flame.build({ sections, lanes: [lane([
  [0, -1, 0, 60, 60, 10], [1, 0, 0, 30, 30, 15], [3, 1, 0, 15, 15, 15], [2, 0, 30, 50, 20, 20],
  [1, -1, 60, 100, 40, 40]])] }, false);
const round = (v) => Math.round(v * 1e6) / 1e6;
const named = (frames) => frames.map((f) => [small.text(f.node), round(f.x), round(f.width), f.depth]);

test('layout: widths by total, the zoomed node full width below its ancestors', () => {
  assert.deepEqual(named(flame.layout(small, -1, 1000)),
    [['a', 0, 600, 0], ['b', 600, 400, 0], ['b', 0, 300, 1], ['c', 300, 200, 1], ['d', 0, 150, 2]]);
  const b = small.children(small.roots[0])[0];
  assert.deepEqual(named(flame.layout(small, b, 1000)),
    [['a', 0, 1000, 0], ['b', 0, 1000, 1], ['d', 0, 500, 2]]);
  // d (15 of 100) is narrower than 2 px on 12 px, c (2.4 px) is not.
  assert.deepEqual(named(flame.layout(small, -1, 12, 2)).map((f) => f[0]), ['a', 'b', 'b', 'c']);
});

test('layout: children never overflow their parent, none narrower than 1 px', () => {
  const tree = flame.build({ sections, lanes: [randomLane(5000, 3)] }, true);
  const frames = flame.layout(tree, -1, 700);
  const at = new Map(frames.map((f) => [f.node, f]));
  for (const f of frames) {
    assert.ok(f.width >= flame.MIN_WIDTH);
    const up = at.get(tree.parent[f.node]);
    if (up) assert.ok(f.x >= up.x - 1e-9 && f.x + f.width <= up.x + up.width + 1e-9);
  }
});

test('hit', () => {
  const frames = flame.layout(small, -1, 1000);
  for (const [x, depth, want] of [[0, 0, 'a'], [599.9, 0, 'a'], [600, 0, 'b'], [999, 0, 'b'], [1000, 0, null],
    [499, 1, 'c'], [500, 1, null], [10, 2, 'd'], [200, 2, null], [10, 3, null], [-1, 0, null]]) {
    const f = flame.hit(frames, x, depth);
    assert.equal(f && small.text(f.node), want, `${x} on row ${depth}`);
  }
});
