// The summary view: the table spanmill-report summary prints, one row per
// section with its cells as summary writes them, sortable by every column
// and filtered by name.
(function (spanmill) {
  'use strict';

  // Loaded before this script in the page, required under node.
  const { el } = spanmill.ui || require('./ui.js').ui;

  const heads = ['section', 'spans', 'total', 'self', 'mean', 'min', 'median', 'p95', 'max', 'share'];

  // The rows' order for a column (0 the section, then the figures) and
  // direction: numbers compared as numbers, equal ones in the summary's
  // own order.
  function sortRows(rows, sections, column, descending) {
    const order = rows.map((_, i) => i);
    const key =
      column === 0
        ? (i) => sections[rows[i].section].text
        : (i) => rows[i].figures[column - 1];
    order.sort((a, b) => {
      const x = key(a);
      const y = key(b);
      const c = x < y ? -1 : x > y ? 1 : 0;
      return (descending ? -c : c) || a - b;
    });
    return order;
  }

  // Whether a section's text holds every word of the filter, case aside.
  function matches(text, filter) {
    const words = filter.toLowerCase().split(/\s+/).filter((w) => w.length > 0);
    const lower = text.toLowerCase();
    return words.every((w) => lower.includes(w));
  }

  // A bar with a search box over section names and a count beside it.
  function searchBar(label) {
    const bar = el('div', 'bar');
    const input = el('input', 'filter');
    input.type = 'search';
    input.placeholder = label;
    input.setAttribute('aria-label', label);
    const count = el('span', 'count');
    bar.append(input, count);
    return { input, count };
  }

  function create(container, model) {
    const summary = model.meta.summary;
    const sections = model.sections;
    const { input: filter, count } = searchBar('Filter sections by name');
    const table = el('table', 'numbers');
    table.id = 'summary-table';
    const headRow = table.createTHead().insertRow();
    const body = table.createTBody();
    let column = 2;
    let descending = true;
    heads.forEach((head, c) => {
      const cell = el('th');
      const button = el('button', '', head);
      button.addEventListener('click', () => {
        descending = c === column ? !descending : c !== 0;
        column = c;
        fill();
      });
      cell.appendChild(button);
      headRow.appendChild(cell);
    });
    // Rows are made once and only reordered, hidden or shown.
    const trs = summary.rows.map((row) => {
      const tr = el('tr');
      tr.append(el('td', '', sections[row.section].text), ...row.cells.map((text) => el('td', '', text)));
      return tr;
    });
    function fill() {
      headRow.querySelectorAll('th').forEach((th, c) => {
        th.setAttribute('aria-sort', c !== column ? 'none' : descending ? 'descending' : 'ascending');
      });
      const shown = document.createDocumentFragment();
      let visible = 0;
      for (const i of sortRows(summary.rows, sections, column, descending)) {
        const show = matches(sections[summary.rows[i].section].text, filter.value);
        trs[i].hidden = !show;
        visible += show;
        shown.appendChild(trs[i]);
      }
      body.appendChild(shown);
      count.textContent = visible + ' of ' + trs.length + ' sections';
    }
    filter.addEventListener('input', fill);
    container.append(filter.parentNode, table);
    fill();
    return { table, filter };
  }

  spanmill.summary = { create, sortRows, matches, searchBar };
})(typeof module === 'object' ? module.exports : (globalThis.spanmill = globalThis.spanmill || {}));
