// The comparison view: per section the runs, the medians before and after,
// the change with its interval and the verdict, as spanmill-report diff
// prints them, and each run's median as a dot, before and after, so that
// the noise shows. The gate's threshold can be set here; the page judges
// again by diff's rule.
(function (spanmill) {
  'use strict';

  // What the page's scripts share: loaded before this one in the page,
  // required under node.
  const format = spanmill.format || require('./format.js').format;
  const ui = spanmill.ui || require('./ui.js').ui;

  // Half away from zero, as C++'s std::round.
  const roundAway = (x) => Math.sign(x) * Math.round(Math.abs(x));

  // What --fail-above percent would say: the rows significantly slower
  // whose whole interval lies above percent (compared at a millionth of a
  // percent), or too few runs to judge at all.
  function judge(comparison, percent) {
    if (comparison.diff.gate.outcome === 'too few runs') {
      return { outcome: 'too few runs', slower: [] };
    }
    const slower = [];
    comparison.diff.rows.forEach((row, i) => {
      const low = comparison.low_pct[i];
      if (row.verdict === 'slower' && low !== null && roundAway(low * 1e6) > roundAway(percent * 1e6)) {
        slower.push(i);
      }
    });
    return { outcome: slower.length > 0 ? 'slower' : 'passed', slower };
  }

  // Where each run's median lies on a row's axis, 0 to 1: the axis spans
  // the smallest to the largest median of both sides.
  function dotPlaces(before, after) {
    const all = before.concat(after);
    const low = Math.min(...all);
    const high = Math.max(...all);
    const place = (v) => (high > low ? (v - low) / (high - low) : 0.5);
    return { low, high, before: before.map(place), after: after.map(place) };
  }

  const svgNs = 'http://www.w3.org/2000/svg';

  function dots(row) {
    const before = row.run_medians_before_us || [];
    const after = row.run_medians_after_us || [];
    const svg = document.createElementNS(svgNs, 'svg');
    const width = 220;
    svg.setAttribute('width', width);
    svg.setAttribute('height', 28);
    svg.setAttribute('class', 'dots');
    if (before.length + after.length === 0) {
      return svg;
    }
    const places = dotPlaces(before, after);
    const title = document.createElementNS(svgNs, 'title');
    title.textContent = 'run medians, before (top) and after (bottom): ' +
      format.duration(places.low) + ' to ' + format.duration(places.high);
    svg.appendChild(title);
    const side = (values, y, cls) => {
      for (const p of values) {
        const c = document.createElementNS(svgNs, 'circle');
        c.setAttribute('cx', (6 + p * (width - 12)).toFixed(1));
        c.setAttribute('cy', y);
        c.setAttribute('r', 3);
        c.setAttribute('class', cls);
        svg.appendChild(c);
      }
    };
    side(places.before, 8, 'before');
    side(places.after, 20, 'after');
    return svg;
  }

  function create(container, model) {
    const comparison = model.meta.comparison;
    const bar = ui.el('div', 'bar');
    const label = ui.el('label', '', 'Fail above ');
    const threshold = ui.el('input');
    threshold.type = 'number';
    threshold.min = '0';
    threshold.step = '0.5';
    threshold.value = String(comparison.fail_above_pct);
    threshold.id = 'threshold';
    label.append(threshold, ' %');
    const outcome = ui.el('output');
    outcome.id = 'gate';
    bar.append(label, outcome);
    const runs = ui.el('p', 'count', comparison.before.length + ' runs before, ' + comparison.after.length +
      ' after, at alpha ' + comparison.diff.alpha + '. "~": not significant.');
    const table = ui.el('table', 'numbers');
    table.id = 'comparison-table';
    const head = table.createTHead().insertRow();
    for (const text of ['section', 'runs', 'median', 'change', 'interval', 'p', 'run medians']) {
      head.appendChild(ui.el('th', '', text));
    }
    const body = table.createTBody();
    const trs = comparison.diff.rows.map((row, i) => {
      const tr = body.insertRow();
      tr.dataset.verdict = row.verdict;
      for (const text of comparison.cells[i]) {
        tr.insertCell().textContent = text;
      }
      tr.insertCell().appendChild(dots(row));
      return tr;
    });
    function update() {
      const percent = Number(threshold.value);
      if (!(percent >= 0)) {
        outcome.textContent = 'the threshold is a percentage, 0 or more';
        return;
      }
      const gate = judge(comparison, percent);
      const slower = new Set(gate.slower);
      trs.forEach((tr, i) => tr.classList.toggle('tripped', slower.has(i)));
      outcome.dataset.outcome = gate.outcome;
      outcome.textContent =
        gate.outcome === 'too few runs' ? 'too few runs to judge (' + comparison.diff.gate.runs_needed + ' a side needed)'
        : gate.outcome === 'passed' ? 'passed: no section slower by more than ' + percent + ' %'
        : 'slower by more than ' + percent + ' %: ' +
          gate.slower.map((i) => comparison.cells[i][0] + ' ' + comparison.cells[i][3]).join(', ');
    }
    threshold.addEventListener('input', update);
    container.append(bar, runs, table);
    update();
    return { table, threshold, update };
  }

  spanmill.compare = { create, judge, dotPlaces };
})(typeof module === 'object' ? module.exports : (globalThis.spanmill = globalThis.spanmill || {}));
