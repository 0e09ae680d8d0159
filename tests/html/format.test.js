'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { format } = require('../../report/html/format.js');

test('durations as the report writes them: units, decimals and ties to even', () => {
  for (const [us, text] of [[0, '0 us'], [-0, '0 us'], [850, '850 us'], [-3, '-3 us'], [12.5, '12.5 us'],
    [12.25, '12.2 us'], [12.75, '12.8 us'], [0.25, '0.2 us'], [999.96, '1000.0 us'], [1000, '1.000 ms'],
    [1062.5, '1.062 ms'], [999999.4, '999.999 ms'], [999999.5, '1000.000 ms'], [-2500, '-2.500 ms'],
    [1250000, '1.250 s'], [1000500, '1.000 s'], [1001500, '1.002 s'], [1234567, '1.235 s']]) {
    assert.equal(format.duration(us), text, String(us));
  }
});

test('shares to a tenth of a percent', () => {
  for (const [share, text] of [[0.5, '50.0%'], [1 / 3, '33.3%'], [0.0025, '0.2%'], [0.00125, '0.1%'], [1, '100.0%']]) {
    assert.equal(format.share(share), text, String(share));
  }
});
