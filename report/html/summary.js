// The summary view: the table spanmill-report summary prints, one row per
// section with its cells as summary writes them, sortable by every column
// and filtered by name.
(function (spanmill) {
  'use strict';

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
    const bar = document.createElement('div');
    bar.className = 'bar';
    const input = document.createElement('input');
    input.type = 'search';
    input.className = 'filter';
    input.placeholder = label;
    input.setAttribute('aria-label', label);
    const count = document.createElement('span');
    count.className = 'count';
    bar.append(input, count);
    return { input, count };
  }

  function create(container, model) {
    const summary = model.meta.summary;
    const sections = model.sections;
    const { input: filter, count } = searchBar('Filter sections by name');
    const table = document.createElement('table');
    table.id = 'summary-table';
    table.className = 'numbers';
    const headRow = table.createTHead().insertRow();
    const body = table.createTBody();
    let column = 2;
    let descending = true;
    heads.forEach((head, c) => {
      const cell = document.createElement('th');
      const button = document.createElement('button');
      button.textContent = head;
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
      const tr = document.createElement('tr');
      const name = document.createElement('td');
      name.textContent = sections[row.section].text;
      tr.appendChild(name);
      for (const text of row.cells) {
        const td = document.createElement('td');
        td.textContent = text;
        tr.appendChild(td);
      }
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
