'use strict';
// The page nests spans as spanmill-report does: the same cases as the C++
// walk's, self times by row.
const test = require('node:test');
const assert = require('node:assert');
const { nesting } = require('../../report/html/nesting.js');

function selfByRow(pairs) {
  const nested = nesting.nest(pairs.map((p) => p[0]), pairs.map((p) => p[1]));
  const self = new Array(pairs.length);
  nested.row.forEach((row, at) => (self[row] = nested.self[at]));
  return self;
}

test('self times follow the nesting rule', () => {
  const cases = [
    ["children at the parent's start and end", [[0, 100], [0, 30], [70, 30]], [40, 30, 30]],
    ["a child that begins at the parent's end follows it", [[0, 10], [10, 5]], [10, 5]],
    ['equal spans: the earlier row is the outer', [[1000000, 500000], [1000000, 500000]], [0, 500000]],
    ['the same, out of order', [[5, 2], [0, 10], [5, 2]], [0, 8, 2]],
    ['a child a microsecond too long is cut to its parent', [[0, 100], [50, 51]], [50, 50]],
    ['zero-length spans, at the start and inside', [[0, 10], [0, 0], [4, 0]], [10, 0, 0]],
    ['siblings that overlap: the first ends where the next begins', [[0, 100], [10, 30], [20, 30]], [60, 10, 30]],
    ['an end before its begin lasts 0', [[0, 2000000], [100, -2500000]], [2000000, 0]],
    ['system calls that follow one another', [[0, 5], [5, 5], [10, 5]], [5, 5, 5]],
  ];
  for (const [what, pairs, self] of cases) {
    assert.deepStrictEqual(selfByRow(pairs), self, what);
  }
});

test('intervals nest exactly, with depths and parents', () => {
  // A parent, a child cut to its end, a grandchild, then a span nested in none.
  const nested = nesting.nest([0, 50, 60, 200], [100, 51, 10, 5]);
  assert.deepStrictEqual(Array.from(nested.end), [100, 100, 70, 205]);
  assert.deepStrictEqual(Array.from(nested.depth), [0, 1, 2, 0]);
  assert.deepStrictEqual(Array.from(nested.parent), [-1, 0, 1, -1]);
});
