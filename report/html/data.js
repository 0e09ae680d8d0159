// The page's data: what spanmill-report embeds (report/HtmlPage.h) made
// into the model the views draw. The metadata is JSON; the spans are
// three columns of varints (start distances, durations, sections), raw
// deflate, base64.
(function (spanmill) {
  'use strict';

  function base64Bytes(text) {
    if (typeof Uint8Array.fromBase64 === 'function') {
      return Uint8Array.fromBase64(text);
    }
    const padding = text.endsWith('==') ? 2 : text.endsWith('=') ? 1 : 0;
    const bytes = new Uint8Array((text.length / 4) * 3 - padding);
    // atob in pieces of 4 MB of text, so that no string of the whole is made.
    const piece = 4 << 20;
    let at = 0;
    for (let from = 0; from < text.length; from += piece) {
      const binary = atob(text.slice(from, from + piece));
      for (let i = 0; i < binary.length; ++i) {
        bytes[at++] = binary.charCodeAt(i);
      }
    }
    return bytes;
  }

  async function inflate(bytes) {
    const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('deflate-raw'));
    return new Uint8Array(await new Response(stream).arrayBuffer());
  }

  // Reads count varints from bytes at *at into out: zigzag-decoded when
  // signed. Values are exact up to 2^53, as far as a number holds them.
  function readColumn(bytes, cursor, out, signed) {
    let at = cursor.at;
    for (let i = 0; i < out.length; ++i) {
      let byte = bytes[at++];
      let value = byte & 127;
      let scale = 128;
      while (byte >= 128) {
        byte = bytes[at++];
        value += (byte & 127) * scale;
        scale *= 128;
      }
      out[i] = signed ? (value % 2 === 1 ? -(value + 1) / 2 : value / 2) : value;
    }
    if (at > bytes.length) {
      throw new Error('the spans are cut short: the page is damaged');
    }
    cursor.at = at;
  }

  function columns(bytes, count) {
    const cursor = { at: 0 };
    const starts = new Float64Array(count);
    const durations = new Float64Array(count);
    const sections = new Uint32Array(count);
    readColumn(bytes, cursor, starts, true);
    readColumn(bytes, cursor, durations, true);
    readColumn(bytes, cursor, sections, false);
    if (cursor.at !== bytes.length) {
      throw new Error('the spans do not match the threads: the page is damaged');
    }
    return { starts, durations, sections };
  }

  // The lanes, one a thread in report order, nested (see nesting.js).
  function model(meta, cols, nest) {
    const lanes = [];
    let from = 0;
    for (const report of meta.reports) {
      for (const thread of report.threads) {
        const n = thread.spans;
        const start = new Float64Array(n);
        let time = 0;
        for (let i = 0; i < n; ++i) {
          time += cols.starts[from + i];
          start[i] = time;
        }
        const duration = cols.durations.subarray(from, from + n);
        const nested = nest(start, duration);
        const section = new Uint32Array(n);
        const durationInOrder = new Float64Array(n);
        for (let i = 0; i < n; ++i) {
          section[i] = cols.sections[from + nested.row[i]];
          durationInOrder[i] = duration[nested.row[i]];
        }
        lanes.push({
          group: report.name,
          title: 'tid ' + thread.tid,
          count: n,
          start: nested.begin,
          end: nested.end,
          duration: durationInOrder,
          depth: nested.depth,
          parent: nested.parent,
          self: nested.self,
          section,
        });
        from += n;
      }
    }
    return { sections: meta.sections, lanes, meta, spans: from };
  }

  function spanCount(meta) {
    let count = 0;
    for (const report of meta.reports) {
      for (const thread of report.threads) {
        count += thread.spans;
      }
    }
    return count;
  }

  // The model of the page's own data: metaText the metadata's JSON,
  // spansText the spans' base64; inflater takes bytes to a promise of bytes.
  async function load(metaText, spansText, nest, inflater) {
    const meta = JSON.parse(metaText);
    const bytes = await (inflater || inflate)(base64Bytes(spansText.trim()));
    return model(meta, columns(bytes, spanCount(meta)), nest);
  }

  spanmill.data = { base64Bytes, columns, model, load, spanCount };
})(typeof module === 'object' ? module.exports : (globalThis.spanmill = globalThis.spanmill || {}));
