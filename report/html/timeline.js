// Timeline view: every thread's spans on one time axis, a lane per thread,
// a row per nesting depth. The first half is plain logic on the lane arrays
// (tested under node); the view itself, from create() on, touches the DOM
// only when the page calls it.
(function (spanmill) {
  'use strict';

  // What the page's scripts share: loaded before this one in the page,
  // required under node.
  const format = spanmill.format || require('./format.js').format;
  const ui = spanmill.ui || require('./ui.js').ui;
  const el = ui.el;

  // ---- time on the axis ----

  // The distance between axis ticks: 1, 2 or 5 times a power of ten
  // microseconds, the smallest at least minPixels apart.
  function tickStep(usPerPixel, minPixels) {
    const least = usPerPixel * minPixels;
    let step = Math.pow(10, Math.floor(Math.log10(least)));
    while (step < least) {
      const mantissa = Math.round(step / Math.pow(10, Math.floor(Math.log10(step))));
      step *= mantissa === 2 ? 2.5 : 2;  // 1 -> 2 -> 5 -> 10
    }
    return step;
  }

  // A tick's label: in the unit a duration as long as the view's far end
  // is written in (so that all labels of one view share it), with as many
  // decimals as the step needs.
  function tickLabel(t, step, farEnd) {
    const unit = format.unitOf(farEnd);
    const digits = Math.min(9, Math.max(0, Math.ceil(Math.log10(unit.scale / step) - 1e-9)));
    return (t / unit.scale).toFixed(digits) + ' ' + unit.name;
  }

  // ---- rows of spans ----

  // Per depth, the lane's span indices at that depth in start order; one
  // array holds them all, each depth a view into it. Their sampled starts
  // (below) are made here too, not on the first frame that needs them.
  function levels(lane) {
    const n = lane.count;
    const depth = lane.depth;
    const counts = new Uint32Array(65537);
    let deepest = -1;
    for (let i = 0; i < n; i++) {
      const d = depth[i];
      counts[d + 1]++;
      if (d > deepest) {
        deepest = d;
      }
    }
    for (let d = 1; d <= deepest + 1; d++) {
      counts[d] += counts[d - 1];
    }
    const all = new Uint32Array(n);
    const fill = counts.slice(0, deepest + 2);
    for (let i = 0; i < n; i++) {
      all[fill[depth[i]]++] = i;
    }
    const out = [];
    for (let d = 0; d <= deepest; d++) {
      out.push(all.subarray(counts[d], counts[d + 1]));
      strideOf(lane.start, out[d]);
    }
    return out;
  }

  // Every 32nd start of a level, kept aside: a long skip gallops on these,
  // side by side in memory, rather than on starts scattered through the
  // lane, and then bisects 32 positions. Made on a level's first walk.
  const STRIDE = 32;
  const strides = new WeakMap();
  function strideOf(start, level) {
    let sample = strides.get(level);
    if (!sample) {
      sample = new Float64Array(Math.ceil(level.length / STRIDE));
      for (let q = 0; q < sample.length; q++) {
        sample[q] = start[level[q * STRIDE]];
      }
      strides.set(level, sample);
    }
    return sample;
  }

  // First position p >= lo in level whose span starts at or after t, given
  // that the one before lo starts before t: a few steps, then a gallop on
  // the sampled starts, then bisection.
  function seek(start, level, sample, lo, t) {
    const n = level.length;
    for (const stop = Math.min(n, lo + 4); lo < stop; lo++) {
      if (start[level[lo]] >= t) {
        return lo;
      }
    }
    if (lo >= n) {
      return n;
    }
    // First sample at or after t, from the one past lo on.
    let q = Math.floor(lo / STRIDE) + 1;
    let before = q;
    let step = 1;
    while (q < sample.length && sample[q] < t) {
      before = q + 1;
      q += step;
      step += step;
    }
    let hi = Math.min(q, sample.length);
    while (before < hi) {
      const mid = (before + hi) >>> 1;
      if (sample[mid] < t) {
        before = mid + 1;
      } else {
        hi = mid;
      }
    }
    // Sample hi is the first at or after t: the answer lies in the stride before it.
    lo = Math.max(lo, (hi - 1) * STRIDE);
    hi = Math.min(n, hi * STRIDE);
    while (lo < hi) {
      const mid = (lo + hi) >>> 1;
      if (start[level[mid]] < t) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return lo;
  }

  // What one row draws: blocks, kept column-wise so that a frame allocates
  // nothing. A block is one span (span >= 0) or spans merged (span -1);
  // first is the position in the level of its first span.
  function Blocks(capacity) {
    this.length = 0;
    this.grow(capacity || 256);
  }
  Blocks.prototype.grow = function (capacity) {
    const old = this;
    const keep = (Type, a) => {
      const b = new Type(capacity);
      if (a) {
        b.set(a.subarray(0, old.length));
      }
      return b;
    };
    this.x0 = keep(Float64Array, this.x0);
    this.x1 = keep(Float64Array, this.x1);
    this.span = keep(Int32Array, this.span);
    this.count = keep(Uint32Array, this.count);
    this.first = keep(Uint32Array, this.first);
  };
  Blocks.prototype.push = function (x0, x1, span, count, first) {
    const i = this.length;
    if (i === this.x0.length) {
      this.grow(i * 2);
    }
    this.x0[i] = x0;
    this.x1[i] = x1;
    this.span[i] = span;
    this.count[i] = count;
    this.first[i] = first;
    this.length = i + 1;
  };

  // The blocks of one row between times from and to, at usPerPixel.
  //
  // Time is cut into columns a pixel wide at multiples of usPerPixel (fixed
  // in time, so that panning does not make merged blocks flicker). A span
  // alone in the column it starts in is drawn as itself, however narrow
  // (at least a pixel). Spans that share a start column are all narrower than
  // a pixel but the last, and become one merged block, which keeps the last
  // one too unless it is two pixels wide or more; such a span is drawn as
  // itself and leaves the next column empty, as it reaches past it. So each
  // block has a column of its own, and a row never holds more blocks than
  // it has pixels, plus the two partly shown columns at its ends. From one
  // block to the next the walk gallops over all spans of a column at once.
  function runs(lane, level, from, to, usPerPixel, out) {
    out = out || new Blocks(64);
    out.length = 0;
    const n = level.length;
    if (n === 0 || !(to >= from) || !(usPerPixel > 0)) {
      return out;
    }
    const start = lane.start;
    const end = lane.end;
    // Ends ascend within a row as starts do: find the first ending in view.
    let lo = 0;
    let hi = n;
    while (lo < hi) {
      const mid = (lo + hi) >>> 1;
      if (end[level[mid]] < from) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    let k = lo;
    let sample = null;
    while (k < n) {
      const s = level[k];
      const a = start[s];
      if (a > to) {
        break;
      }
      let limit = (Math.floor(a / usPerPixel) + 1) * usPerPixel;
      if (limit <= a) {
        limit = a + usPerPixel;
      }
      let j = k + 1;
      if (j < n && start[level[j]] < limit) {
        j = seek(start, level, sample || (sample = strideOf(start, level)), j + 1, limit);
      }
      if (j === k + 1) {
        out.push(a, end[s], s, 1, k);
      } else {
        const last = level[j - 1];
        if (end[last] - start[last] >= 2 * usPerPixel) {
          if (j - 1 === k + 1) {
            out.push(a, end[s], s, 1, k);
          } else {
            out.push(a, end[level[j - 2]], -1, j - 1 - k, k);
          }
          out.push(start[last], end[last], last, 1, j - 1);
        } else {
          out.push(a, end[last], -1, j - k, k);
        }
      }
      k = j;
    }
    return out;
  }

  // The span at depth drawn under time: the one holding it (start
  // inclusive, end exclusive), else, as spans are drawn at least a pixel
  // wide, the last one starting less than a pixel before it. -1 for none.
  function hit(lane, lanesLevels, depth, time, usPerPixel) {
    const level = lanesLevels[depth];
    if (!level || level.length === 0) {
      return -1;
    }
    const start = lane.start;
    let lo = 0;
    let hi = level.length;
    while (lo < hi) {
      const mid = (lo + hi) >>> 1;
      if (start[level[mid]] <= time) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    if (lo === 0) {
      return -1;
    }
    const s = level[lo - 1];
    if (lane.end[s] > time || (usPerPixel > 0 && time < start[s] + usPerPixel)) {
      return s;
    }
    return -1;
  }

  // The spans nested in span, as lane positions [from, to): lane order is
  // the nesting's preorder, so they follow it up to the next span as shallow
  // as it. That one is found per shallower depth by binary search in the
  // level, not by walking what may be millions of descendants.
  function descendants(lane, lanesLevels, span) {
    const d = lane.depth[span];
    let to = lane.count;
    for (let e = 0; e <= d && e < lanesLevels.length; e++) {
      const level = lanesLevels[e];
      let lo = 0;
      let hi = level.length;
      while (lo < hi) {
        const mid = (lo + hi) >>> 1;
        if (level[mid] <= span) {
          lo = mid + 1;
        } else {
          hi = mid;
        }
      }
      if (lo < level.length && level[lo] < to) {
        to = level[lo];
      }
    }
    return { from: span + 1, to };
  }

  // The direct children of span: a run of the next depth's level.
  function children(lane, lanesLevels, span) {
    const level = lanesLevels[lane.depth[span] + 1];
    if (!level) {
      return new Uint32Array(0);
    }
    const range = descendants(lane, lanesLevels, span);
    const first = (t) => {
      let lo = 0;
      let hi = level.length;
      while (lo < hi) {
        const mid = (lo + hi) >>> 1;
        if (level[mid] < t) {
          lo = mid + 1;
        } else {
          hi = mid;
        }
      }
      return lo;
    };
    return level.subarray(first(range.from), first(range.to));
  }

  // A section's colour, stable by its index: hues a golden angle apart,
  // light enough for dark text in either colour scheme.
  function sectionColor(index) {
    const hue = (index * 137.508 + 200) % 360;
    const sat = 58 + (index % 3) * 8;
    const light = 70 + ((index >> 2) % 3) * 4;
    return 'hsl(' + hue.toFixed(1) + ',' + sat + '%,' + light + '%)';
  }

  // ---- the view ----

  const ROW = 14;          // CSS px per depth
  const GROUP = 22;        // group header row
  const LANE_GAP = 8;      // between lanes
  const AXIS = 24;         // time axis at the top
  const GUTTER = 150;      // lane titles at the left
  const BAR = 10;          // vertical scrollbar at the right
  const FONT = '11px system-ui, -apple-system, "Segoe UI", sans-serif';
  const BOLD = 'bold 11px system-ui, -apple-system, "Segoe UI", sans-serif';
  const INK = '#1b1f27';   // names on the spans' light colours
  // The opacity of spans outside a highlight and of their names: drawn
  // see-through, they fade towards the background in either scheme.
  const FADED = 0.3;
  const FADED_TEXT = 0.55;

  const frameTimes = [];

  // Builds the view in container and draws it. options.onSelect(lane, span)
  // is told of each selection the user makes in the view, by a click on a
  // span or in the panel (-1, -1 when one clears it), not of select() calls;
  // options.onHover(lane, span, x, y) of each move (span null off spans).
  //
  // Mouse: the wheel zooms about the pointer, shift+wheel scrolls the lanes
  // up and down (so does dragging the bar at the right, or dragging the
  // plot, which pans both ways), a horizontal wheel pans, a click selects,
  // a double click zooms to a span. Keys: W/S zoom in and out about the
  // pointer (the centre when it is elsewhere), A/D pan; held keys move
  // smoothly, by time passed rather than by key repeats.
  function create(container, model, options) {
    options = options || {};
    const doc = container.ownerDocument;
    const root = el('div', 'sm-tl');
    const main = el('div', 'sm-tl-main');
    main.tabIndex = 0;
    const canvas = el('canvas');
    const tip = el('div', 'sm-tl-tip');
    const panel = el('div', 'sm-tl-panel');
    panel.hidden = true;
    main.append(canvas, tip);
    root.append(main, panel);
    container.appendChild(root);
    // Drawn in device pixels, so that rows and gaps land on whole pixels.
    const surface = ui.surface(main, canvas, schedule, { alpha: false, devicePixels: true });
    const ctx = surface.ctx;

    const lanes = model.lanes;
    const sections = model.sections;
    const lanesLevels = lanes.map(levels);
    const colors = sections.map((_, i) => sectionColor(i));
    // The page's colours (page.css) for what the canvas draws around the
    // spans, read once: they follow the scheme the page opened in.
    const paint = ui.colours(root, ['bg', 'panel', 'line', 'fg', 'muted']);
    const names = sections.map((s) => s.name);

    // The whole capture: the first start to the last end. The last span of
    // depth 0 ends last, as every span nests in one of them.
    let begin = Infinity;
    let finish = -Infinity;
    lanes.forEach((lane, i) => {
      const top = lanesLevels[i][0];
      if (top && top.length) {
        begin = Math.min(begin, lane.start[top[0]]);
        finish = Math.max(finish, lane.end[top[top.length - 1]]);
      }
    });
    if (!(finish > begin)) {
      begin = isFinite(begin) ? begin : 0;
      finish = begin + 1;
    }
    const minSpan = Math.min(1, finish - begin);

    // Vertical layout in CSS px: a header row per group of lanes (of one
    // report), then each lane with a row per depth.
    const rows = [];  // {group} or {lane}, with y and h
    let height = 0;
    lanes.forEach((lane, i) => {
      if (i === 0 || lane.group !== lanes[i - 1].group) {
        rows.push({ group: lane.group, lane: -1, y: height, h: GROUP });
        height += GROUP;
      }
      const depths = Math.max(1, lanesLevels[i].length);
      rows.push({ group: null, lane: i, y: height, h: depths * ROW + LANE_GAP });
      height += depths * ROW + LANE_GAP;
    });
    const laneRow = [];
    rows.forEach((r) => {
      if (r.lane >= 0) {
        laneRow[r.lane] = r;
      }
    });

    let from = begin;
    let to = finish;
    let scrollY = 0;
    let highlight = null;  // Uint8Array by section, or null for all
    let selected = null;   // {lane, span}
    let hovered = null;    // {lane, span}
    let pointer = null;    // {x, y} in CSS px over the canvas
    let cssW = 0;
    let cssH = 0;
    let dpr = 1;
    let pending = 0;
    let destroyed = false;
    const blocks = new Blocks(4096);
    const buckets = [];    // per colour key: flat x, y, w, h
    const bucketLength = [];
    let used = [];

    function plotWidth() {
      return Math.max(1, cssW - GUTTER - BAR);
    }
    function viewHeight() {
      return Math.max(1, cssH - AXIS);
    }
    function clampView() {
      let span = Math.min(Math.max(to - from, minSpan), finish - begin);
      if (from < begin) {
        from = begin;
      }
      if (from + span > finish) {
        from = finish - span;
      }
      to = from + span;
      scrollY = Math.max(0, Math.min(scrollY, height - viewHeight()));
    }
    function timeAt(x) {
      return from + ((x - GUTTER) / plotWidth()) * (to - from);
    }
    function xOf(t) {
      return GUTTER + ((t - from) / (to - from)) * plotWidth();
    }

    // The row under a point: {lane, depth} or null.
    function rowAt(y) {
      const yy = y - AXIS + scrollY;
      if (y < AXIS || yy < 0) {
        return null;
      }
      let lo = 0;
      let hi = rows.length;
      while (lo < hi) {
        const mid = (lo + hi) >>> 1;
        if (rows[mid].y <= yy) {
          lo = mid + 1;
        } else {
          hi = mid;
        }
      }
      const r = rows[lo - 1];
      if (!r || r.lane < 0 || yy >= r.y + r.h - LANE_GAP) {
        return null;
      }
      return { lane: r.lane, depth: Math.floor((yy - r.y) / ROW) };
    }

    function spanAt(x, y) {
      if (x < GUTTER || x >= GUTTER + plotWidth()) {
        return null;
      }
      const r = rowAt(y);
      if (!r) {
        return null;
      }
      const usPerPx = (to - from) / plotWidth();
      const s = hit(lanes[r.lane], lanesLevels[r.lane], r.depth, timeAt(x), usPerPx / dpr);
      return s < 0 ? null : { lane: r.lane, span: s };
    }

    function addRect(key, x, y, w, h) {
      let b = buckets[key];
      if (!b) {
        b = buckets[key] = [];
        bucketLength[key] = 0;
      }
      if (bucketLength[key] === 0) {
        used.push(key);
      }
      let n = bucketLength[key];
      b[n++] = x;
      b[n++] = y;
      b[n++] = w;
      b[n++] = h;
      bucketLength[key] = n;
    }

    // A merged block's colour: that of its first span, or while a highlight
    // is on, of the first highlighted one among its first few.
    function blockKey(lane, level, i) {
      const section = lane.section;
      const first = blocks.first[i];
      if (!highlight) {
        return section[level[first]] * 2;
      }
      const last = Math.min(first + blocks.count[i], first + 32);
      for (let p = first; p < last; p++) {
        if (highlight[section[level[p]]]) {
          return section[level[p]] * 2;
        }
      }
      return section[level[first]] * 2 + 1;
    }

    function draw() {
      if (destroyed) {
        return;
      }
      const began = performance.now();
      pending = 0;
      ({ width: cssW, height: cssH, ratio: dpr } = surface.fit());
      clampView();
      const W = canvas.width;
      const H = canvas.height;
      const px = dpr;
      const left = GUTTER * px;
      const plotW = plotWidth() * px;
      const right = left + plotW;
      const top = AXIS * px;
      const rowH = ROW * px;
      const usPerDev = (to - from) / plotW;
      const xd = (t) => left + (t - from) / usPerDev;

      ctx.fillStyle = paint.bg;
      ctx.fillRect(0, 0, W, H);

      // Grid lines under the spans.
      const step = tickStep((to - from) / plotWidth(), 90);
      ctx.fillStyle = paint.panel;
      for (let t = Math.ceil(from / step) * step; t <= to; t += step) {
        ctx.fillRect(Math.round(xd(t)), top, Math.max(1, Math.floor(px)), H - top);
      }

      // Spans, row by row of those on screen, bucketed by colour so that
      // each colour is one path and one fill.
      used = [];
      const labels = [];
      ctx.font = FONT.replace('11px', 11 * px + 'px');
      const charW = ctx.measureText('abcdefghijklmnopqrstuvwxyz0123456789').width / 36;
      const minLabel = 3 * charW + 6 * px;
      const yTop = scrollY;
      const yBottom = scrollY + viewHeight();
      let r = 0;
      {
        let lo = 0;
        let hi = rows.length;
        while (lo < hi) {
          const mid = (lo + hi) >>> 1;
          if (rows[mid].y + rows[mid].h <= yTop) {
            lo = mid + 1;
          } else {
            hi = mid;
          }
        }
        r = lo;
      }
      const firstRow = r;
      for (; r < rows.length && rows[r].y < yBottom; r++) {
        const row = rows[r];
        if (row.lane < 0) {
          continue;
        }
        const lane = lanes[row.lane];
        const lv = lanesLevels[row.lane];
        const d0 = Math.max(0, Math.floor((yTop - row.y) / ROW));
        for (let d = d0; d < lv.length && row.y + d * ROW < yBottom; d++) {
          const level = lv[d];
          const y = Math.round((row.y + d * ROW - scrollY) * px) + top;
          runs(lane, level, from, to, usPerDev, blocks);
          for (let i = 0; i < blocks.length; i++) {
            let x0 = xd(blocks.x0[i]);
            let x1 = xd(blocks.x1[i]);
            if (x0 < left - 2) {
              x0 = left - 2;
            }
            if (x1 > right + 2) {
              x1 = right + 2;
            }
            const s = blocks.span[i];
            let key;
            if (s >= 0) {
              const sec = lane.section[s];
              key = sec * 2 + (highlight && !highlight[sec] ? 1 : 0);
            } else {
              key = blockKey(lane, level, i);
            }
            let w = x1 - x0;
            // A gap of a pixel between spans wide enough to spare one.
            if (w > 4 * px) {
              w -= px;
            } else if (w < 1) {
              w = 1;
            }
            addRect(key, x0, y, w, rowH - px);
            if (s >= 0 && w >= minLabel) {
              labels.push(x0, y, w, key >> 1, key & 1);
            }
          }
        }
      }
      for (const key of used) {
        const b = buckets[key];
        const n = bucketLength[key];
        ctx.fillStyle = colors[key >> 1];
        ctx.globalAlpha = key & 1 ? FADED : 1;
        ctx.beginPath();
        for (let i = 0; i < n; i += 4) {
          ctx.rect(b[i], b[i + 1], b[i + 2], b[i + 3]);
        }
        ctx.fill();
        bucketLength[key] = 0;
      }
      ctx.globalAlpha = 1;

      // Section names in spans wide enough for a few letters; fillText's
      // width limit keeps a misjudged one inside its span.
      ctx.textBaseline = 'middle';
      let current = -1;
      for (let i = 0; i < labels.length; i += 5) {
        const x = Math.max(labels[i], left) + 3 * px;
        const room = labels[i] + labels[i + 2] - x - 3 * px;
        if (room < 3 * charW) {
          continue;
        }
        const faded = labels[i + 4];
        if (faded !== current) {
          current = faded;
          ctx.fillStyle = faded ? paint.muted : INK;
          ctx.globalAlpha = faded ? FADED_TEXT : 1;
        }
        const name = names[labels[i + 3]];
        const fit = Math.floor(room / charW);
        const text = name.length <= fit ? name : name.slice(0, Math.max(1, fit - 1)) + '\u2026';
        ctx.fillText(text, x, labels[i + 1] + rowH / 2, room);
      }
      ctx.globalAlpha = 1;

      // The selected span, outlined.
      if (selected) {
        const lane = lanes[selected.lane];
        const row = laneRow[selected.lane];
        const y = Math.round((row.y + lane.depth[selected.span] * ROW - scrollY) * px) + top;
        const x0 = Math.max(xd(lane.start[selected.span]), left - 3);
        const x1 = Math.min(Math.max(xd(lane.end[selected.span]), x0 + px), right + 3);
        ctx.lineWidth = 2 * px;
        ctx.strokeStyle = paint.fg;
        ctx.strokeRect(x0, y, x1 - x0, rowH - px);
      }

      // Gutter: lane titles and group headers, over anything drawn under.
      ctx.fillStyle = paint.panel;
      ctx.fillRect(0, top, left, H - top);
      ctx.fillStyle = paint.line;
      ctx.fillRect(left - px, top, px, H - top);
      for (let i = firstRow; i < rows.length && rows[i].y < yBottom; i++) {
        const row = rows[i];
        const y = (row.y - scrollY) * px + top;
        if (row.lane < 0) {
          ctx.fillStyle = paint.line;
          ctx.fillRect(0, y, W, GROUP * px);
          ctx.fillStyle = paint.fg;
          ctx.font = BOLD.replace('11px', 11 * px + 'px');
          ctx.fillText(row.group, 8 * px, y + (GROUP * px) / 2, W - 16 * px);
        } else {
          const lane = lanes[row.lane];
          ctx.fillStyle = paint.line;
          ctx.fillRect(0, y + row.h * px - (LANE_GAP / 2) * px, W, px);
          ctx.font = FONT.replace('11px', 11 * px + 'px');
          ctx.fillStyle = paint.fg;
          ctx.fillText(lane.title, 8 * px, y + rowH / 2, left - 14 * px);
          if (row.h >= 2 * ROW + LANE_GAP) {
            ctx.fillStyle = paint.muted;
            ctx.fillText(lane.count.toLocaleString('en-US') + ' spans', 8 * px, y + rowH * 1.5, left - 14 * px);
          }
        }
      }

      // Time axis.
      ctx.font = FONT.replace('11px', 11 * px + 'px');
      ctx.fillStyle = paint.panel;
      ctx.fillRect(0, 0, W, top);
      ctx.fillStyle = paint.line;
      ctx.fillRect(0, top - px, W, px);
      ctx.fillStyle = paint.fg;
      ctx.textBaseline = 'middle';
      for (let t = Math.ceil(from / step) * step; t <= to; t += step) {
        const x = Math.round(xd(t));
        ctx.fillRect(x, top - 6 * px, Math.max(1, Math.floor(px)), 6 * px);
        const label = tickLabel(t, step, to);
        if (x + 3 * px + ctx.measureText(label).width <= right) {
          ctx.fillText(label, x + 3 * px, top / 2 - 2 * px);
        }
      }
      ctx.fillStyle = paint.panel;
      ctx.fillRect(0, 0, left, top - px);
      ctx.fillStyle = paint.fg;
      ctx.fillText(format.duration(to - from) + ' shown', 8 * px, top / 2 - 2 * px, left - 12 * px);

      // Scrollbar, when the lanes do not fit.
      const bar = scrollBar();
      ctx.fillStyle = paint.panel;
      ctx.fillRect(right, top, W - right, H - top);
      if (bar) {
        ctx.fillStyle = paint.muted;
        ctx.fillRect(right + 2 * px, top + bar.y * px, (BAR - 4) * px, bar.h * px);
      }

      const ms = performance.now() - began;
      frameTimes.push(ms);
      if (frameTimes.length > 200) {
        frameTimes.splice(0, frameTimes.length - 200);
      }
      container.setAttribute('data-frame-ms', ms.toFixed(2));
    }

    function scrollBar() {
      const vh = viewHeight();
      if (height <= vh) {
        return null;
      }
      const h = Math.max(24, (vh * vh) / height);
      return { y: ((vh - h) * scrollY) / (height - vh), h };
    }

    function schedule() {
      if (!pending && !destroyed) {
        pending = requestAnimationFrame(draw);
      }
    }

    function zoomAbout(t, factor) {
      const span = to - from;
      const next = Math.min(Math.max(span * factor, minSpan), finish - begin);
      from = t - (t - from) * (next / span);
      to = from + next;
      clampView();
      schedule();
    }
    function pan(dt) {
      from += dt;
      to += dt;
      clampView();
      schedule();
    }

    // ---- tooltip and panel ----

    function showTip(target, x, y) {
      if (!target) {
        tip.style.display = 'none';
        return;
      }
      const lane = lanes[target.lane];
      const s = target.span;
      const sec = sections[lane.section[s]];
      tip.textContent = '';
      tip.append(el('b', '', sec.name));
      if (sec.location) {
        tip.append(el('div', 'sm-tl-loc', sec.location));
      }
      const table = el('table');
      for (const [k, v] of [
        ['start', format.duration(lane.start[s])],
        ['duration', format.duration(lane.duration ? lane.duration[s] : lane.end[s] - lane.start[s])],
        ['self', format.duration(lane.self[s])],
        ['thread', lane.title],
      ]) {
        const tr = el('tr');
        tr.append(el('td', '', k), el('td', '', v));
        table.append(tr);
      }
      tip.append(table);
      tip.style.display = 'block';
      const w = tip.offsetWidth;
      const h = tip.offsetHeight;
      tip.style.left = (x + 14 + w > cssW ? Math.max(0, x - w - 10) : x + 14) + 'px';
      tip.style.top = (y + 16 + h > cssH ? Math.max(0, y - h - 8) : y + 16) + 'px';
    }

    function swatch(section) {
      const sw = el('span', 'sm-tl-swatch');
      sw.style.background = colors[section];
      return sw;
    }

    function showPanel() {
      panel.textContent = '';
      if (!selected) {
        panel.hidden = true;
        return;
      }
      const li = selected.lane;
      const lane = lanes[li];
      const s = selected.span;
      const total = lane.end[s] - lane.start[s];
      const head = el('div', 'sm-tl-head');
      const name = el('b', '', sections[lane.section[s]].text || sections[lane.section[s]].name);
      name.prepend(swatch(lane.section[s]));
      const close = el('button', 'sm-tl-close', '\u00d7');
      close.title = 'Clear the selection';
      close.onclick = () => pick(null);
      head.append(name,
        el('span', '', lane.title),
        el('span', '', 'start ' + format.duration(lane.start[s])),
        el('span', '', 'duration ' + format.duration(total)),
        el('span', '', 'self ' + format.duration(lane.self[s])),
        close);
      panel.append(head);

      const range = descendants(lane, lanesLevels[li], s);
      const kids = children(lane, lanesLevels[li], s);
      const cols = el('div', 'sm-tl-cols');
      panel.append(cols);
      if (range.to === range.from) {
        cols.append(el('div', '', 'Nothing is nested in this span.'));
        panel.hidden = false;
        return;
      }

      // Direct children one by one (the first few hundred), each a link.
      const direct = el('div');
      direct.append(el('h4', '', kids.length.toLocaleString('en-US') + ' direct children'));
      const t1 = el('table');
      const hr = el('tr');
      ['at', 'duration', 'share', 'section'].forEach((h) => hr.append(el('th', '', h)));
      t1.append(hr);
      const shown = Math.min(kids.length, 300);
      for (let i = 0; i < shown; i++) {
        const c = kids[i];
        const tr = el('tr', 'sm-tl-child');
        const d = lane.end[c] - lane.start[c];
        const sec = el('td', '', sections[lane.section[c]].name);
        sec.prepend(swatch(lane.section[c]));
        tr.append(el('td', 'sm-tl-num', '+' + format.duration(lane.start[c] - lane.start[s])),
          el('td', 'sm-tl-num', format.duration(d)),
          el('td', 'sm-tl-num', total > 0 ? format.share(d / total) : ''),
          sec);
        tr.onclick = () => pick({ lane: li, span: c }, true);
        t1.append(tr);
      }
      direct.append(t1);
      if (shown < kids.length) {
        direct.append(el('div', '', '\u2026 and ' + (kids.length - shown).toLocaleString('en-US') + ' more'));
      }

      // Everything nested, by section: where the span's time went.
      const bySection = new Map();
      for (let i = range.from; i < range.to; i++) {
        const k = lane.section[i];
        const e = bySection.get(k);
        if (e) {
          e.count++;
          e.self += lane.self[i];
        } else {
          bySection.set(k, { count: 1, self: lane.self[i] });
        }
      }
      const deep = el('div');
      deep.append(el('h4', '', (range.to - range.from).toLocaleString('en-US') + ' nested spans, self time by section'));
      const t2 = el('table');
      const hr2 = el('tr');
      ['section', 'spans', 'self', 'share'].forEach((h) => hr2.append(el('th', '', h)));
      t2.append(hr2);
      const ranked = [...bySection].sort((a, b) => b[1].self - a[1].self);
      for (const [k, e] of ranked.slice(0, 20)) {
        const tr = el('tr');
        const sec = el('td', '', sections[k].name);
        sec.prepend(swatch(k));
        tr.append(sec,
          el('td', 'sm-tl-num', e.count.toLocaleString('en-US')),
          el('td', 'sm-tl-num', format.duration(e.self)),
          el('td', 'sm-tl-num', total > 0 ? format.share(e.self / total) : ''));
        t2.append(tr);
      }
      deep.append(t2);
      if (ranked.length > 20) {
        deep.append(el('div', '', '\u2026 and ' + (ranked.length - 20) + ' more sections'));
      }
      cols.append(direct, deep);
      panel.hidden = false;
    }

    // A selection the user made here: the page hears of it.
    function pick(target, reveal) {
      choose(target, reveal);
      if (options.onSelect) {
        options.onSelect(target ? target.lane : -1, target ? target.span : -1);
      }
    }

    // Selects target ({lane, span} or null); reveal brings it on screen.
    function choose(target, reveal) {
      selected = target;
      if (target && reveal) {
        const lane = lanes[target.lane];
        const a = lane.start[target.span];
        const b = lane.end[target.span];
        if (b < from || a > to) {
          const span = Math.max(to - from, (b - a) * 1.2);
          from = (a + b) / 2 - span / 2;
          to = from + span;
        } else if (b - a > to - from) {
          const pad = (b - a) * 0.05;
          from = a - pad;
          to = b + pad;
        }
        const y = laneRow[target.lane].y + lane.depth[target.span] * ROW;
        if (y < scrollY || y + ROW > scrollY + viewHeight()) {
          scrollY = y - viewHeight() / 3;
        }
        clampView();
      }
      showPanel();
      schedule();
    }

    // ---- input ----

    let drag = null;  // {x, y, from, scrollY, moved, bar}
    const held = new Set();
    let heldAt = 0;
    let heldFrame = 0;

    function local(e) {
      const box = canvas.getBoundingClientRect();
      return { x: e.clientX - box.left, y: e.clientY - box.top };
    }

    function onWheel(e) {
      e.preventDefault();
      const scale = e.deltaMode === 1 ? 16 : e.deltaMode === 2 ? cssH : 1;
      const dx = e.deltaX * scale;
      const dy = e.deltaY * scale;
      const p = local(e);
      if (e.shiftKey) {
        scrollY += dy || dx;  // shift turns the wheel sideways in some browsers
        clampView();
        schedule();
      } else if (Math.abs(dx) > Math.abs(dy)) {
        pan((dx / plotWidth()) * (to - from));
      } else if (dy) {
        const t = p.x >= GUTTER ? timeAt(p.x) : (from + to) / 2;
        zoomAbout(t, Math.exp(dy * 0.0025));
      }
    }

    function onDown(e) {
      if (e.button !== 0) {
        return;
      }
      main.focus({ preventScroll: true });
      const p = local(e);
      const bar = p.x >= GUTTER + plotWidth() && p.y >= AXIS ? scrollBar() : null;
      drag = { x: p.x, y: p.y, from, scrollY, moved: false, bar };
      e.preventDefault();
    }

    function onMove(e) {
      const p = local(e);
      if (drag) {
        const dx = p.x - drag.x;
        const dy = p.y - drag.y;
        if (!drag.moved && dx * dx + dy * dy > 9) {
          drag.moved = true;
          canvas.classList.add('sm-tl-drag');
          showTip(null);
        }
        if (drag.moved) {
          if (drag.bar) {
            const room = viewHeight() - drag.bar.h;
            scrollY = drag.scrollY + (room > 0 ? (dy * (height - viewHeight())) / room : 0);
          } else {
            const span = to - from;
            from = drag.from - (dx / plotWidth()) * span;
            to = from + span;
            scrollY = drag.scrollY - dy;
          }
          clampView();
          schedule();
        }
        return;
      }
      if (e.target !== canvas) {
        return;
      }
      pointer = p;
      hover(p);
    }

    function hover(p) {
      const target = spanAt(p.x, p.y);
      const same = target && hovered && target.lane === hovered.lane && target.span === hovered.span;
      hovered = target;
      showTip(target, p.x, p.y);
      if (options.onHover && !same) {
        options.onHover(target ? target.lane : -1, target ? target.span : null, p.x, p.y);
      }
    }

    function onUp(e) {
      if (!drag) {
        return;
      }
      const wasClick = !drag.moved && !drag.bar;
      drag = null;
      canvas.classList.remove('sm-tl-drag');
      if (wasClick) {
        const p = local(e);
        pick(spanAt(p.x, p.y));
      }
    }

    function onDouble(e) {
      const p = local(e);
      const target = spanAt(p.x, p.y);
      if (target) {
        const lane = lanes[target.lane];
        const a = lane.start[target.span];
        const b = lane.end[target.span];
        const pad = (b - a) * 0.05;
        setView(a - pad, b + pad);
      }
    }

    function onLeave() {
      pointer = null;
      hovered = null;
      showTip(null);
      if (options.onHover) {
        options.onHover(-1, null, 0, 0);
      }
    }

    function typing(e) {
      const t = e.target;
      return t && (t.isContentEditable || /^(INPUT|TEXTAREA|SELECT)$/.test(t.tagName));
    }

    function onKey(e) {
      const k = (e.key || '').toLowerCase();
      if (!'wasd'.includes(k) || k.length !== 1 || e.ctrlKey || e.metaKey || e.altKey || typing(e)) {
        return;
      }
      if (!(pointer || root.contains(doc.activeElement))) {
        return;
      }
      e.preventDefault();
      if (!held.has(k)) {
        held.add(k);
        if (held.size === 1) {
          heldAt = performance.now();
          step(heldAt, 1 / 60);  // move at once; the frames after follow the clock
          heldFrame = requestAnimationFrame(tick);
        }
      }
    }
    function onKeyUp(e) {
      held.delete((e.key || '').toLowerCase());
    }
    function onBlur() {
      held.clear();
    }
    function tick(now) {
      if (!held.size || destroyed) {
        heldFrame = 0;
        return;
      }
      const dt = Math.min(0.1, Math.max(0, (now - heldAt) / 1000));
      heldAt = now;
      step(now, dt);
      heldFrame = requestAnimationFrame(tick);
    }
    // Held keys: zoom eight-fold a second, pan the view's width a second.
    function step(now, dt) {
      const t = pointer && pointer.x >= GUTTER ? timeAt(pointer.x) : (from + to) / 2;
      if (held.has('w')) {
        zoomAbout(t, Math.pow(8, -dt));
      }
      if (held.has('s')) {
        zoomAbout(t, Math.pow(8, dt));
      }
      if (held.has('a')) {
        pan(-(to - from) * dt);
      }
      if (held.has('d')) {
        pan((to - from) * dt);
      }
      if (pointer) {
        hover(pointer);
      }
    }

    canvas.addEventListener('wheel', onWheel, { passive: false });
    canvas.addEventListener('mousedown', onDown);
    canvas.addEventListener('dblclick', onDouble);
    canvas.addEventListener('mouseleave', onLeave);
    const win = doc.defaultView;
    win.addEventListener('mousemove', onMove);
    win.addEventListener('mouseup', onUp);
    win.addEventListener('keydown', onKey);
    win.addEventListener('keyup', onKeyUp);
    win.addEventListener('blur', onBlur);

    function setView(a, b) {
      from = Math.min(a, b);
      to = Math.max(a, b);
      if (to - from < minSpan) {
        const mid = (from + to) / 2;
        from = mid - minSpan / 2;
        to = mid + minSpan / 2;
      }
      clampView();
      schedule();
    }

    draw();
    return {
      draw,
      setHighlight(ids) {
        if (ids == null) {
          highlight = null;
        } else {
          highlight = new Uint8Array(sections.length);
          for (const id of ids) {
            highlight[id] = 1;
          }
        }
        schedule();
      },
      select(laneIndex, spanIndex) {
        const valid = laneIndex >= 0 && laneIndex < lanes.length && spanIndex >= 0 && spanIndex < lanes[laneIndex].count;
        choose(valid ? { lane: laneIndex, span: spanIndex } : null, true);
      },
      selected() {
        return selected ? { lane: selected.lane, span: selected.span } : null;
      },
      view() {
        return { from, to };
      },
      setView,
      destroy() {
        destroyed = true;
        if (pending) {
          cancelAnimationFrame(pending);
        }
        if (heldFrame) {
          cancelAnimationFrame(heldFrame);
        }
        surface.destroy();
        win.removeEventListener('mousemove', onMove);
        win.removeEventListener('mouseup', onUp);
        win.removeEventListener('keydown', onKey);
        win.removeEventListener('keyup', onKeyUp);
        win.removeEventListener('blur', onBlur);
        root.remove();
      },
    };
  }

  spanmill.timeline = {
    create,
    levels,
    runs,
    Blocks,
    hit,
    descendants,
    children,
    tickStep,
    tickLabel,
    sectionColor,
    FADED,
    frameTimes,
  };
})(typeof module === 'object' ? module.exports : (globalThis.spanmill = globalThis.spanmill || {}));
