// How the spans of one thread nest, by the rule spanmill-report uses
// everywhere (report/Nesting.h): a span is nested in another when it
// begins at or after the other's start and before its end, and ends no
// more than a microsecond after its end. Spans are taken by start; of two
// that began in the same microsecond the one that ends later is outer, of
// two equal ones the earlier row. Each span gets an interval that nests
// exactly: cut to its parent's end, ended where the next span begins when
// it overlaps that span without holding it, and never shorter than 0.
(function (spanmill) {
  'use strict';

  // Whether span a comes before span b in the walk.
  function before(start, duration, a, b) {
    if (start[a] !== start[b]) {
      return start[a] < start[b];
    }
    const endA = start[a] + duration[a];
    const endB = start[b] + duration[b];
    return endA !== endB ? endA > endB : a < b;
  }

  // The order of the walk: null when the spans are in it already, as
  // spanmill-report writes them.
  function walkOrder(start, duration) {
    for (let i = 1; i < start.length; ++i) {
      if (before(start, duration, i, i - 1)) {
        const order = Array.from(start, (_, k) => k);
        order.sort((a, b) => (before(start, duration, a, b) ? -1 : before(start, duration, b, a) ? 1 : 0));
        return order;
      }
    }
    return null;
  }

  // start and duration: whole microseconds, by row. Returns, in walk
  // order: row (the span's row), begin and end of its interval, depth,
  // parent (index in this order, -1 for none) and self time.
  function nest(start, duration) {
    const n = start.length;
    const order = walkOrder(start, duration);
    const out = {
      row: new Uint32Array(n),
      begin: new Float64Array(n),
      end: new Float64Array(n),
      depth: new Uint16Array(n),
      parent: new Int32Array(n),
      self: new Float64Array(n),
    };
    // The open spans, innermost last: their index, raw end and the length
    // of the intervals directly nested in them.
    const stack = [];
    const rawEnds = [];
    const children = [];
    const close = (cut) => {
      const i = stack.pop();
      rawEnds.pop();
      const nested = children.pop();
      const end = Math.min(out.end[i], cut);
      out.end[i] = end;
      const length = end - out.begin[i];
      out.self[i] = Math.max(0, length - nested);
      if (children.length > 0) {
        children[children.length - 1] += length;
      }
    };
    for (let at = 0; at < n; ++at) {
      const row = order === null ? at : order[at];
      const begin = start[row];
      const rawEnd = begin + duration[row];
      while (stack.length > 0) {
        const top = rawEnds[rawEnds.length - 1];
        if (begin < top && rawEnd <= top + 1) {
          break;
        }
        close(begin);
      }
      out.row[at] = row;
      let from = begin;
      let to = Math.max(begin, rawEnd);
      if (stack.length > 0) {
        const parent = stack[stack.length - 1];
        from = Math.min(from, out.end[parent]);
        to = Math.min(to, out.end[parent]);
        out.parent[at] = parent;
      } else {
        out.parent[at] = -1;
      }
      out.begin[at] = from;
      out.end[at] = to;
      out.depth[at] = Math.min(stack.length, 65535);
      stack.push(at);
      rawEnds.push(rawEnd);
      children.push(0);
    }
    while (stack.length > 0) {
      close(Infinity);
    }
    return out;
  }

  spanmill.nesting = { nest };
})(typeof module === 'object' ? module.exports : (globalThis.spanmill = globalThis.spanmill || {}));
