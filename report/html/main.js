// Starts the page: reads the embedded data, makes the views and switches
// between them by the tabs (or the address's #summary, #tree, #timeline,
// #comparison). See the contract for tests in page.html.
(function (spanmill) {
  'use strict';

  const root = document.documentElement;

  function fail(error) {
    const box = document.getElementById('error');
    box.hidden = false;
    box.textContent = 'This page cannot show its spans: ' + error.message;
    root.dataset.error = error.message;
    console.error(error);
  }

  function titleOf(meta) {
    const names = meta.reports.map((r) => r.name);
    if (meta.comparison) {
      return 'spanmill: ' + meta.comparison.before.length + ' runs before, ' +
        meta.comparison.after.length + ' after';
    }
    return 'spanmill: ' + (names.length <= 3 ? names.join(', ') : names.length + ' reports');
  }

  // The timeline under a search box that highlights the spans of the
  // sections whose text holds every word typed.
  function timelineWithSearch(box, model) {
    const { input: search, count } = spanmill.summary.searchBar('Highlight sections by name');
    search.id = 'timeline-search';
    const lanes = spanmill.ui.el('div', 'lanes');
    box.append(search.parentNode, lanes);
    const view = spanmill.timeline.create(lanes, model, {});
    search.addEventListener('input', () => {
      const words = search.value.trim();
      const ids = [];
      model.sections.forEach((section, id) => {
        if (words && spanmill.summary.matches(section.text, words)) {
          ids.push(id);
        }
      });
      view.setHighlight(words ? ids : null);
      count.textContent = words ? ids.length + ' of ' + model.sections.length + ' sections' : '';
    });
    return view;
  }

  async function start() {
    const model = await spanmill.data.load(
      document.getElementById('spanmill-meta').textContent,
      document.getElementById('spanmill-spans').textContent,
      spanmill.nesting.nest);
    document.title = titleOf(model.meta);
    document.getElementById('title').textContent = document.title;
    const makers = {
      summary: (box) => spanmill.summary.create(box, model),
      tree: spanmill.flame && ((box) => spanmill.flame.create(box, model, {})),
      timeline: spanmill.timeline && ((box) => timelineWithSearch(box, model)),
      comparison: model.meta.comparison && spanmill.compare && ((box) => spanmill.compare.create(box, model)),
    };
    // The views made so far, by name; tools and tests reach them here.
    const views = (spanmill.views = {});
    const tabs = document.querySelectorAll('[role=tab]');
    function show(name) {
      if (!makers[name]) {
        return false;
      }
      for (const tab of tabs) {
        const on = tab.dataset.view === name;
        tab.setAttribute('aria-selected', on);
        document.getElementById(tab.getAttribute('aria-controls')).hidden = !on;
      }
      if (!views[name]) {
        views[name] = makers[name](document.getElementById('view-' + name));
      }
      if (views[name].draw) {
        views[name].draw();
      }
      return true;
    }
    for (const tab of tabs) {
      tab.hidden = !makers[tab.dataset.view];
      tab.addEventListener('click', () => {
        if (show(tab.dataset.view)) {
          history.replaceState(null, '', '#' + tab.dataset.view);
        }
      });
    }
    // The summary's table is always there, whichever view comes first.
    views.summary = makers.summary(document.getElementById('view-summary'));
    const asked = location.hash.slice(1);
    const first = makers[asked] ? asked : model.meta.comparison ? 'comparison' : makers.timeline ? 'timeline' : 'summary';
    show(first);
    // Ready once the first view is on the screen.
    requestAnimationFrame(() => {
      root.dataset.threads = String(model.lanes.length);
      root.dataset.spans = String(model.spans);
      root.dataset.ready = '1';
    });
  }

  start().catch(fail);
})(typeof module === 'object' ? module.exports : (globalThis.spanmill = globalThis.spanmill || {}));
