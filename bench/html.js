'use strict';
// Opens an HTML page of spanmill-report in headless Chromium and measures
// it: the time from the browser's start until the first view is drawn
// (data-ready), then the timeline's frames while zooming and panning with
// the wheel, a drag and the keys W, A, S and D. Prints one line of JSON.
//   node bench/html.js PAGE PUPPETEER_PREFIX   (puppeteer-core under it)
const path = require('node:path');

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function main() {
  const [file, prefix] = process.argv.slice(2);
  const puppeteer = require(path.resolve(prefix, 'node_modules/puppeteer-core'));
  const started = performance.now();
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--no-sandbox'],
    defaultViewport: { width: 1280, height: 800 },
  });
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  await page.goto('file://' + path.resolve(file) + '#timeline');
  await page.waitForSelector('html[data-ready="1"], html[data-error]', { timeout: 600000 });
  const ready = performance.now() - started;
  const canvas = await page.$('#view-timeline canvas');
  const box = await canvas.boundingBox();
  const x = box.x + box.width / 2;
  const y = box.y + Math.min(box.height / 2, 120);
  const frames = () => page.evaluate(() => spanmill.timeline.frameTimes.splice(0));
  await frames();
  // Zoom in about the middle, pan by dragging, zoom out; then the keys.
  await page.mouse.move(x, y);
  for (let i = 0; i < 30; ++i) {
    await page.mouse.wheel({ deltaY: -240 });
    await pause(16);
  }
  await page.mouse.down();
  for (let i = 1; i <= 30; ++i) {
    await page.mouse.move(x - 10 * i, y);
    await pause(16);
  }
  await page.mouse.up();
  for (let i = 0; i < 30; ++i) {
    await page.mouse.wheel({ deltaY: 240 });
    await pause(16);
  }
  await canvas.focus();
  for (const key of ['w', 'a', 's', 'd']) {
    for (let i = 0; i < 15; ++i) {
      await page.keyboard.press(key);
      await pause(16);
    }
  }
  await pause(200);
  const times = (await frames()).sort((a, b) => a - b);
  const at = (q) => (times.length ? times[Math.min(times.length - 1, Math.floor(q * times.length))] : NaN);
  const dataset = await page.evaluate(() => ({ ...document.documentElement.dataset }));
  console.log(JSON.stringify({
    ready_ms: Math.round(ready),
    spans: Number(dataset.spans),
    threads: Number(dataset.threads),
    frames: times.length,
    frame_median_ms: Math.round(at(0.5) * 10) / 10,
    frame_max_ms: times.length ? Math.round(times[times.length - 1] * 10) / 10 : NaN,
    errors,
  }));
  await browser.close();
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
