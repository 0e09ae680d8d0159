// What the page's views are built with: el() makes their elements; for
// the views that draw on a canvas (the timeline and the flame graph),
// surface() keeps the canvas the size of its box in device pixels, so that
// it stays sharp on any screen, and colours() gives them page.css's colours.
(function (spanmill) {
  'use strict';

  // A new <tag class="className">text</tag>: no class where className is
  // empty, no text where text is undefined.
  function el(tag, className, text) {
    const e = document.createElement(tag);
    if (className) {
      e.className = className;
    }
    if (text !== undefined) {
      e.textContent = text;
    }
    return e;
  }

  // canvas fills box; onResize() is called whenever box changes size.
  // options.alpha false makes an opaque canvas; with options.devicePixels
  // the context draws in device pixels, else in CSS pixels.
  function surface(box, canvas, onResize, options = {}) {
    const win = box.ownerDocument.defaultView;
    const ctx = canvas.getContext('2d', { alpha: options.alpha !== false });
    const size = { width: 0, height: 0, ratio: 1 };

    // Sizes the canvas to the box as it is now and sets the context's
    // scale; a frame calls it before it draws. Returns the box's size in
    // CSS pixels and the device pixels per CSS pixel.
    function fit() {
      const cssWidth = box.clientWidth;
      const cssHeight = box.clientHeight;
      size.ratio = win.devicePixelRatio || 1;
      const width = Math.max(1, Math.round(cssWidth * size.ratio));
      const height = Math.max(1, Math.round(cssHeight * size.ratio));
      // Setting a canvas's size clears it and its context: only on a change.
      if (canvas.width !== width || canvas.height !== height) {
        canvas.width = width;
        canvas.height = height;
      }
      if (cssWidth !== size.width || cssHeight !== size.height) {
        size.width = cssWidth;
        size.height = cssHeight;
        canvas.style.width = cssWidth + 'px';
        canvas.style.height = cssHeight + 'px';
      }
      const scale = options.devicePixels ? 1 : size.ratio;
      ctx.setTransform(scale, 0, 0, scale, 0, 0);
      return size;
    }

    const changed = () => onResize();
    const observer = typeof win.ResizeObserver === 'function' ? new win.ResizeObserver(changed) : null;
    if (observer) {
      observer.observe(box);
    } else {
      win.addEventListener('resize', changed);
    }

    return {
      ctx,
      fit,
      destroy() {
        if (observer) {
          observer.disconnect();
        } else {
          win.removeEventListener('resize', changed);
        }
      },
    };
  }

  // The values of page.css's colour variables (--bg for 'bg' and so on) as
  // they apply to element: what a canvas draws in them matches the page,
  // light or dark.
  function colours(element, names) {
    const style = element.ownerDocument.defaultView.getComputedStyle(element);
    const out = {};
    for (const name of names) {
      out[name] = style.getPropertyValue('--' + name).trim();
    }
    return out;
  }

  spanmill.ui = { el, surface, colours };
})(typeof module === 'object' ? module.exports : (globalThis.spanmill = globalThis.spanmill || {}));
