// The call tree of the report as a flame graph: the spans gathered by the
// path of sections from a span nested in none down to the span, as
// `spanmill-report tree` gathers them, drawn as an icicle on a canvas
// (the roots at the top), with a text list of the numbers below it.
(function (spanmill) {
  'use strict';

  const ROW = 18; // css px of a row of frames
  const MIN_WIDTH = 1; // css px: narrower frames are left to their parent
  const LIST_ROWS = 200; // rows of the text list before "and N more"
  const FONT = '12px system-ui, sans-serif'; // of the labels

  // What the page's scripts share: loaded before this one in the page,
  // required under node.
  const format = spanmill.format || require('./format.js').format;
  const ui = spanmill.ui || require('./ui.js').ui;

  // ---- the tree -------------------------------------------------------

  // The rank of each section when sorted by name, then location: the order
  // of children whose totals are equal.
  function sectionRanks(sections) {
    const order = Array.from(sections, (_, i) => i);
    const key = (s) => [String(s.name ?? s.text ?? ''), String(s.location ?? '')];
    const keys = sections.map(key);
    order.sort((a, b) => {
      const [n, l] = keys[a];
      const [m, k] = keys[b];
      return n < m ? -1 : n > m ? 1 : l < k ? -1 : l > k ? 1 : 0;
    });
    const rank = new Uint32Array(sections.length);
    for (let i = 0; i < order.length; ++i) {
      const same = i > 0 && keys[order[i]][0] === keys[order[i - 1]][0] && keys[order[i]][1] === keys[order[i - 1]][1];
      rank[order[i]] = same ? rank[order[i - 1]] : i;
    }
    return rank;
  }

  // The tree of call paths of model. With byThread each lane that has spans
  // is a root of its own, holding the paths of its spans; otherwise the
  // paths of all lanes are merged. Nodes are numbered in the order first
  // met; section is -1 and thread the lane's title for a thread's node.
  function build(model, byThread) {
    const lanes = model.lanes || [];
    const sections = model.sections || [];
    // While walking, a node is link[2i] (its parent) and link[2i + 1] (its
    // section), and sum[3i..3i+2] its spans, total and self: what one span
    // touches lies together.
    let capacity = 1024;
    let link = new Int32Array(2 * capacity);
    let sum = new Float64Array(3 * capacity);
    let count = 0;
    const add = (up, sec) => {
      if (count === capacity) {
        capacity *= 2;
        const l = new Int32Array(2 * capacity);
        l.set(link);
        link = l;
        const t = new Float64Array(3 * capacity);
        t.set(sum);
        sum = t;
      }
      link[2 * count] = up;
      link[2 * count + 1] = sec;
      return count++;
    };

    // The node of each path by (parent node, section): open addressing,
    // never more than half full, a slot holding node + 1 (0 when free) and
    // the node its key. Small slots keep a tree of millions of paths in
    // fewer pages.
    let mask = (1 << 12) - 1;
    let table = new Int32Array(mask + 1);
    let used = 0;
    const hashOf = (up, sec) => {
      const h = Math.imul(up ^ Math.imul(sec, 0x27d4eb2d), 0x9e3779b1);
      return (h ^ (h >>> 15)) & mask;
    };
    const rehash = () => {
      const old = table;
      mask = 2 * mask + 1;
      table = new Int32Array(mask + 1);
      for (let i = 0; i < old.length; ++i) {
        const node = old[i] - 1;
        if (node >= 0) {
          let at = hashOf(link[2 * node], link[2 * node + 1]);
          while (table[at] !== 0) {
            at = (at + 1) & mask;
          }
          table[at] = node + 1;
        }
      }
    };

    const groups = new Set(lanes.map((lane) => lane.group));
    const threads = [];
    let whole = 0;
    // The open spans of the walk and their nodes, innermost last.
    let openSpan = new Int32Array(256);
    let openNode = new Int32Array(256);
    for (const lane of lanes) {
      const n = lane.count;
      if (n === 0) {
        continue;
      }
      let root = -1;
      if (byThread) {
        threads.push(groups.size > 1 ? `${lane.group}:${lane.title}` : String(lane.title));
        root = add(-1, -1);
        sum[3 * root] = n;
      }
      const up = lane.parent;
      const sec = lane.section;
      const duration = lane.duration;
      const spanSelf = lane.self;
      let open = 0;
      // The path of the span before: siblings of one section come in runs.
      let lastFrom = -2;
      let lastSection = -1;
      let node = -1;
      for (let i = 0; i < n; ++i) {
        const p = up[i];
        while (open > 0 && openSpan[open - 1] !== p) {
          --open;
        }
        const from = open > 0 ? openNode[open - 1] : root;
        const s = sec[i];
        if (from !== lastFrom || s !== lastSection) {
          let at = hashOf(from, s);
          for (;;) {
            node = table[at] - 1;
            if (node === -1 || (link[2 * node + 1] === s && link[2 * node] === from)) {
              break;
            }
            at = (at + 1) & mask;
          }
          if (node === -1) {
            node = add(from, s);
            table[at] = node + 1;
            if (2 * ++used > mask) {
              rehash();
            }
          }
          lastFrom = from;
          lastSection = s;
        }
        sum[3 * node] += 1;
        sum[3 * node + 1] += duration[i];
        sum[3 * node + 2] += spanSelf[i];
        whole += spanSelf[i];
        if (open === openSpan.length) {
          const a = new Int32Array(open * 2);
          a.set(openSpan);
          openSpan = a;
          const b = new Int32Array(open * 2);
          b.set(openNode);
          openNode = b;
        }
        openSpan[open] = i;
        openNode[open] = node;
        ++open;
      }
    }
    table = null;
    const parent = new Int32Array(count);
    const section = new Int32Array(count);
    const thread = new Int32Array(count).fill(-1);
    const depth = new Uint32Array(count);
    const spans = new Float64Array(count);
    const total = new Float64Array(count);
    const self = new Float64Array(count);
    for (let i = 0, t = 0; i < count; ++i) {
      parent[i] = link[2 * i];
      section[i] = link[2 * i + 1];
      if (section[i] < 0) {
        thread[i] = t++;
      }
      depth[i] = parent[i] < 0 ? 0 : depth[parent[i]] + 1;
      spans[i] = sum[3 * i];
      total[i] = sum[3 * i + 1];
      // Within [0, total] even where spans ended before they began.
      self[i] = Math.min(sum[3 * i + 2], Math.max(0, total[i]));
    }
    link = null;
    sum = null;

    // Children by parent, in the order first met, then sorted. A thread
    // holds its spans and the time of those nested in none.
    const childStart = new Int32Array(count + 1);
    const childSum = new Float64Array(count); // of the children's totals, none below 0
    let roots = 0;
    let maxDepth = 0;
    for (let i = 0; i < count; ++i) {
      if (parent[i] < 0) {
        ++roots;
      } else {
        ++childStart[parent[i] + 1];
      }
      if (depth[i] > maxDepth) {
        maxDepth = depth[i];
      }
    }
    for (let i = 0; i < count; ++i) {
      childStart[i + 1] += childStart[i];
    }
    const childList = new Int32Array(count - roots);
    const rootList = new Int32Array(roots);
    const fill = childStart.slice(0, count);
    let rootSum = 0;
    for (let i = 0, r = 0; i < count; ++i) {
      const up = parent[i];
      if (up < 0) {
        rootList[r++] = i;
      } else {
        childList[fill[up]++] = i;
        if (section[up] === -1) {
          total[up] += total[i];
        }
      }
    }
    for (let i = 0; i < count; ++i) {
      if (parent[i] >= 0) {
        childSum[parent[i]] += Math.max(0, total[i]);
      } else {
        rootSum += Math.max(0, total[i]);
      }
    }
    const rank = sectionRanks(sections);
    const order = (a, b) => {
      if (total[a] !== total[b]) {
        return total[b] - total[a];
      }
      const x = section[a];
      const y = section[b];
      if (x !== y && x >= 0 && y >= 0 && rank[x] !== rank[y]) {
        return rank[x] - rank[y];
      }
      return a - b;
    };
    for (let i = 0; i < count; ++i) {
      if (childStart[i + 1] - childStart[i] > 1) {
        childList.subarray(childStart[i], childStart[i + 1]).sort(order);
      }
    }
    rootList.sort(order);

    return {
      byThread: Boolean(byThread),
      count,
      parent,
      section,
      thread,
      depth,
      spans,
      total,
      self,
      childStart,
      childList,
      childSum,
      roots: rootList,
      rootSum,
      maxDepth,
      whole, // the self time of every span: the time the spans covered
      sections,
      threads,
      // The nodes directly below node, largest total first; the roots for -1.
      children(node) {
        return node < 0 ? rootList : childList.subarray(childStart[node], childStart[node + 1]);
      },
      text(node) {
        return section[node] < 0 ? threads[thread[node]] : sections[section[node]].text;
      },
      // The share of the whole that node's total is, within [0, 1].
      share(node) {
        return whole > 0 ? Math.min(1, Math.max(0, total[node] / whole)) : 0;
      },
    };
  }

  // ---- where frames go ------------------------------------------------

  // The frames to draw of tree zoomed into zoom (-1 for the whole tree) on
  // widthPx: zoom and its ancestors full width, one a row, and below them
  // the paths held, each as wide as its share of its parent's width, none
  // narrower than minWidth. Sorted by depth, then x, as hit() needs them.
  function layout(tree, zoom, widthPx, minWidth = MIN_WIDTH) {
    const frames = [];
    if (!(widthPx > 0) || tree.count === 0) {
      return frames;
    }
    let level = [];
    if (zoom >= 0) {
      const chain = [];
      for (let n = zoom; n >= 0; n = tree.parent[n]) {
        chain.push(n);
      }
      for (let i = chain.length - 1; i >= 0; --i) {
        frames.push({ node: chain[i], x: 0, width: widthPx, depth: tree.depth[chain[i]] });
      }
      level.push(frames[frames.length - 1]);
    } else {
      place(tree.roots, 0, widthPx, tree.rootSum, 0, minWidth, tree, frames, level);
    }
    while (level.length > 0) {
      const next = [];
      for (const f of level) {
        const room = Math.max(tree.total[f.node], tree.childSum[f.node]);
        place(tree.children(f.node), f.x, f.width, room, f.depth + 1, minWidth, tree, frames, next);
      }
      level = next;
    }
    return frames;
  }

  // Lays nodes (largest first) side by side from x, room microseconds
  // filling width.
  function place(nodes, x, width, room, depth, minWidth, tree, frames, next) {
    if (!(room > 0)) {
      return;
    }
    const scale = width / room;
    for (let i = 0; i < nodes.length; ++i) {
      const w = Math.max(0, tree.total[nodes[i]]) * scale;
      if (w < minWidth) {
        break;
      }
      const f = { node: nodes[i], x, width: w, depth };
      frames.push(f);
      next.push(f);
      x += w;
    }
  }

  // The first frame at or past depth, by binary search.
  function firstAt(frames, depth) {
    let lo = 0;
    let hi = frames.length;
    while (lo < hi) {
      const mid = (lo + hi) >>> 1;
      if (frames[mid].depth < depth) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return lo;
  }

  // The frame of layout() at x on row depth, or null.
  function hit(frames, x, depth) {
    let lo = firstAt(frames, depth);
    let hi = firstAt(frames, depth + 1);
    while (lo < hi) {
      const mid = (lo + hi) >>> 1;
      if (frames[mid].x <= x) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    const f = frames[lo - 1];
    return f && f.depth === depth && x >= f.x && x < f.x + f.width ? f : null;
  }

  // ---- colours --------------------------------------------------------

  // A warm colour of its own for each section, the same on every draw.
  function colourOf(sectionIndex) {
    if (sectionIndex < 0) {
      return 'hsl(215, 16%, 80%)';
    }
    let h = Math.imul(sectionIndex + 1, 0x9e3779b1);
    h ^= h >>> 16;
    h = Math.imul(h, 0x85ebca6b) >>> 0;
    const hue = 6 + (h % 46);
    const sat = 62 + ((h >>> 8) % 22);
    const light = 60 + ((h >>> 16) % 14);
    return `hsl(${hue}, ${sat}%, ${light}%)`;
  }

  // ---- the view -------------------------------------------------------

  // Builds the view in container. options.byThread: start split by thread.
  function create(container, model, options = {}) {
    const doc = container.ownerDocument;
    const win = doc.defaultView;
    // A new element at the end of parentEl.
    const make = (tag, className, parentEl, text) => parentEl.appendChild(ui.el(tag, className, text));

    const root = make('div', 'flame', container);
    const bar = make('div', 'flame-bar', root);
    const toggleLabel = make('label', '', bar);
    const toggle = make('input', '', toggleLabel);
    toggle.type = 'checkbox';
    toggle.checked = Boolean(options.byThread);
    toggleLabel.appendChild(doc.createTextNode('by thread'));
    const reset = make('button', '', bar, 'reset zoom');
    reset.type = 'button';
    make('span', 'flame-hint', bar, 'Click a frame to zoom into it, Escape to zoom out.');
    const pathLine = make('div', 'flame-path', root);
    const viewport = make('div', 'flame-viewport', root);
    const sizer = make('div', '', viewport);
    const canvas = make('canvas', '', sizer);
    canvas.tabIndex = 0;
    canvas.setAttribute('role', 'img');
    canvas.setAttribute('aria-label', 'Flame graph of the call paths; the table below lists the same numbers');
    const tip = make('div', 'flame-tip', root);
    tip.hidden = true;
    const list = make('div', '', root);
    const surface = ui.surface(viewport, canvas, () => redraw());
    const ctx = surface.ctx;
    ctx.font = FONT;

    let tree = null;
    let zoomNode = -1;
    let frames = [];
    let width = 0;
    let hover = null;
    let pending = 0;
    const colours = new Map();
    const labels = new Map(); // by node: the last label drawn and its room

    const colour = (node) => {
      const s = tree.section[node];
      let c = colours.get(s);
      if (c === undefined) {
        c = colourOf(s);
        colours.set(s, c);
      }
      return c;
    };

    function rebuild() {
      tree = build(model, toggle.checked);
      view.tree = tree;
      zoomNode = -1;
      relayout();
    }

    // Lays the frames out on the viewport's width, less a scrollbar where
    // the rows are more than its height can take.
    function relayout() {
      const inner = viewport.offsetWidth - 2 * viewport.clientLeft;
      const most = parseFloat(win.getComputedStyle(viewport).maxHeight) || Infinity;
      const rowsOf = () => (frames.length > 0 ? frames[frames.length - 1].depth + 1 : 0);
      frames = layout(tree, zoomNode, inner);
      viewport.style.overflowY = rowsOf() * ROW > most ? 'scroll' : 'hidden';
      width = viewport.clientWidth;
      if (width !== inner) {
        frames = layout(tree, zoomNode, width);
      }
      sizer.style.height = `${rowsOf() * ROW}px`;
      viewport.style.height = `${rowsOf() * ROW}px`;
      labels.clear();
      hover = null;
      tip.hidden = true;
      renderPath();
      renderList();
      draw();
    }

    // The label of node on a frame w wide: its text, cut short to fit, or
    // null where too little of it would.
    function label(node, w) {
      const room = w - 8;
      if (room < 14) {
        return null;
      }
      const known = labels.get(node);
      if (known !== undefined && known.room === room) {
        return known.text;
      }
      const full = tree.text(node);
      let text = full;
      if (ctx.measureText(full).width > room) {
        text = null;
        for (let keep = Math.floor((full.length * room) / ctx.measureText(full).width); keep >= 2; --keep) {
          const cut = `${full.slice(0, keep)}…`;
          if (ctx.measureText(cut).width <= room) {
            text = cut;
            break;
          }
        }
      }
      labels.set(node, { room, text });
      return text;
    }

    function draw() {
      pending = 0;
      if (viewport.clientWidth !== width) {
        relayout();
        return;
      }
      const { width: w, height: h } = surface.fit();
      ctx.clearRect(0, 0, w, h);
      ctx.font = FONT;
      ctx.textBaseline = 'middle';
      const top = viewport.scrollTop;
      const last = Math.ceil((top + h) / ROW);
      const zoomDepth = zoomNode >= 0 ? tree.depth[zoomNode] : -1;
      for (let i = firstAt(frames, Math.floor(top / ROW)); i < frames.length && frames[i].depth <= last; ++i) {
        const f = frames[i];
        const x0 = Math.round(f.x);
        const x1 = Math.round(f.x + f.width);
        const fw = Math.max(1, x1 - x0 - (x1 - x0 > 3 ? 1 : 0));
        const y = f.depth * ROW - top;
        ctx.globalAlpha = f.depth < zoomDepth ? 0.55 : 1;
        ctx.fillStyle = colour(f.node);
        ctx.fillRect(x0, y, fw, ROW - 1);
        const text = label(f.node, fw);
        if (text !== null) {
          ctx.fillStyle = '#1b1b1b';
          ctx.fillText(text, x0 + 4, y + ROW / 2);
        }
      }
      ctx.globalAlpha = 1;
      if (hover) {
        ctx.strokeStyle = '#111';
        ctx.lineWidth = 1.5;
        const x0 = Math.round(hover.x);
        ctx.strokeRect(x0 + 0.75, hover.depth * ROW - top + 0.75,
          Math.max(1, Math.round(hover.x + hover.width) - x0 - 1.5), ROW - 2.5);
      }
    }

    function redraw() {
      if (!pending) {
        pending = win.requestAnimationFrame(draw);
      }
    }

    function numbers(node) {
      return [
        ['spans', String(tree.spans[node])],
        ['total', format.duration(tree.total[node])],
        ['self', format.duration(tree.self[node])],
        ['share', format.share(tree.share(node))],
      ];
    }

    function frameAt(event) {
      const box = canvas.getBoundingClientRect();
      const x = event.clientX - box.left;
      const depth = Math.floor((event.clientY - box.top + viewport.scrollTop) / ROW);
      return { frame: hit(frames, x, depth), x: event.clientX, y: event.clientY };
    }

    function showTip(frame, clientX, clientY) {
      tip.textContent = '';
      make('b', '', tip, tree.text(frame.node));
      const table = make('table', '', tip);
      for (const [name, value] of numbers(frame.node)) {
        const tr = make('tr', '', table);
        make('td', '', tr, name);
        make('td', '', tr, value);
      }
      tip.hidden = false;
      const box = root.getBoundingClientRect();
      let left = clientX - box.left + 14;
      let top = clientY - box.top + 16;
      if (left + tip.offsetWidth > root.clientWidth) {
        left = Math.max(0, clientX - box.left - tip.offsetWidth - 10);
      }
      if (clientY + 16 + tip.offsetHeight > win.innerHeight) {
        top = clientY - box.top - tip.offsetHeight - 8;
      }
      tip.style.left = `${left}px`;
      tip.style.top = `${top}px`;
    }

    function onMove(event) {
      const { frame, x, y } = frameAt(event);
      if (frame !== hover) {
        hover = frame;
        canvas.style.cursor = frame ? 'pointer' : 'default';
        redraw();
      }
      if (frame) {
        showTip(frame, x, y);
      } else {
        tip.hidden = true;
      }
    }

    function onLeave() {
      tip.hidden = true;
      if (hover) {
        hover = null;
        redraw();
      }
    }

    function onClick(event) {
      const { frame } = frameAt(event);
      if (frame && frame.node !== zoomNode) {
        zoom(frame.node);
      }
    }

    function onKey(event) {
      if (event.key === 'Escape' && zoomNode >= 0) {
        zoom(tree.parent[zoomNode]);
        event.preventDefault();
      }
    }

    function zoomButton(parentEl, node, text) {
      const b = make('button', '', parentEl, text);
      b.type = 'button';
      b.addEventListener('click', () => zoom(node));
      return b;
    }

    // The zoomed node's path, each step a way back up.
    function renderPath() {
      pathLine.textContent = '';
      if (zoomNode < 0) {
        pathLine.textContent = 'All call paths';
        return;
      }
      zoomButton(pathLine, -1, 'All call paths');
      const chain = [];
      for (let n = zoomNode; n >= 0; n = tree.parent[n]) {
        chain.push(n);
      }
      // A deep path keeps its first two steps and its last five.
      for (let i = chain.length - 1; i >= 0; --i) {
        pathLine.appendChild(doc.createTextNode(' › '));
        if (i === chain.length - 3 && i > 5) {
          make('span', 'flame-hint', pathLine, `… ${i - 4} more`);
          i = 5;
        } else if (i === 0) {
          make('strong', '', pathLine, tree.text(chain[i]));
        } else {
          zoomButton(pathLine, chain[i], tree.text(chain[i]));
        }
      }
    }

    // The paths directly below the zoomed node, as a table.
    function renderList() {
      list.textContent = '';
      viewport.hidden = tree.count === 0;
      if (tree.count === 0) {
        make('div', 'flame-empty', list, 'No spans to show.');
        return;
      }
      const kids = tree.children(zoomNode);
      const table = make('table', 'flame-list', list);
      make('caption', '', table, zoomNode < 0 ? 'Call paths' : `Below ${tree.text(zoomNode)}`);
      const head = make('tr', '', make('thead', '', table));
      for (const name of ['path', 'spans', 'total', 'self', 'share']) {
        make('th', '', head, name).scope = 'col';
      }
      const body = make('tbody', '', table);
      const shown = Math.min(kids.length, LIST_ROWS);
      for (let i = 0; i < shown; ++i) {
        const node = kids[i];
        const tr = make('tr', '', body);
        zoomButton(make('td', '', tr), node, tree.text(node));
        for (const [, value] of numbers(node)) {
          make('td', '', tr, value);
        }
      }
      if (kids.length === 0) {
        make('td', '', make('tr', '', body), 'nothing below').colSpan = 5;
      }
      if (kids.length > shown) {
        make('div', 'flame-more', list, `and ${kids.length - shown} more`);
      }
    }

    function zoom(node) {
      const focused = root.contains(doc.activeElement);
      zoomNode = node >= 0 && node < tree.count ? node : -1;
      relayout();
      viewport.scrollTop = zoomNode >= 0 ? Math.max(0, (tree.depth[zoomNode] - 2) * ROW) : 0;
      draw();
      // The button pressed may be gone with the list it was in.
      if (focused && !root.contains(doc.activeElement)) {
        (list.querySelector('button') || canvas).focus({ preventScroll: true });
      }
    }

    const onScroll = () => {
      tip.hidden = true;
      redraw();
    };
    canvas.addEventListener('mousemove', onMove);
    canvas.addEventListener('mouseleave', onLeave);
    canvas.addEventListener('click', onClick);
    root.addEventListener('keydown', onKey);
    viewport.addEventListener('scroll', onScroll);
    toggle.addEventListener('change', rebuild);
    reset.addEventListener('click', () => zoom(-1));

    const view = {
      tree: null,
      draw,
      zoom,
      get zoomed() {
        return zoomNode;
      },
      get frames() {
        return frames;
      },
      destroy() {
        if (pending) {
          win.cancelAnimationFrame(pending);
        }
        surface.destroy();
        root.remove();
      },
    };
    rebuild();
    return view;
  }

  spanmill.flame = { build, layout, hit, create, colourOf, ROW, MIN_WIDTH };
})(typeof module === 'object' ? module.exports : (globalThis.spanmill = globalThis.spanmill || {}));
