// Opens the chart pages that vellumbrook-chart writes in headless Chromium and checks them
// as a user would see them: every sample table's page, a table without header, EMA or
// placeholders, tables turned over, and one with an inf row.
//   node tests/chart/browser.mjs BINDIR WORKDIR [--screenshot PNG]
//   node tests/chart/browser.mjs --measure PAGE...   (bench: the best of three times from
//                                                    navigation to the first frame, the heap,
//                                                    the times to fit everything (F) and to
//                                                    go back to the newest (End), and from
//                                                    navigation to the whole table read)
// Exits 77 (skipped) when puppeteer-core (npm ci here) or Chromium is missing.
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '../..');
const chromium = process.env.CHROMIUM ?? '/usr/bin/chromium';

let puppeteer;
try {
  puppeteer = (await import('puppeteer-core')).default;
} catch {
  console.log('skipped: no puppeteer-core; run npm ci in tests/chart');
  process.exit(77);
}
if (!fs.existsSync(chromium)) {
  console.log(`skipped: no Chromium at ${chromium} (apt-get install chromium)`);
  process.exit(77);
}

// As root (CI) Chromium needs --no-sandbox; the rest keeps it from reaching for the network.
const launch = () => puppeteer.launch({
  executablePath: chromium,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--js-flags=--expose-gc'],
  defaultViewport: {width: 1200, height: 650},
});
let browser = await launch();

async function open(file, {dark = false} = {}) {
  const page = await browser.newPage();
  const requests = [];
  const errors = [];
  page.on('request', (request) => requests.push(request.url()));
  page.on('pageerror', (error) => errors.push(error.message));
  await page.setOfflineMode(true);
  await page.emulateMediaFeatures([{name: 'prefers-color-scheme', value: dark ? 'dark' : 'light'}]);
  await page.goto('file://' + path.resolve(file));
  await page.waitForFunction(() => window.vellumbrookChart?.drawnAfter && window.vellumbrookChart.whole,
    {timeout: 120000});
  return {page, requests, errors};
}

if (process.argv[2] === '--measure') {
  for (const file of process.argv.slice(3)) {
    let fastest = Infinity;
    let whole = Infinity;
    let heap = 0;
    let fit = Infinity;
    let back = Infinity;
    // From a key press until the frame after the one it changed is drawn.
    const timed = (page, key) => page.evaluate((key) => new Promise((done) => {
      const started = performance.now();
      document.dispatchEvent(new KeyboardEvent('keydown', {key}));
      requestAnimationFrame(() => requestAnimationFrame(() => done(performance.now() - started)));
    }), key);
    for (let run = 0; run < 3; ++run) {
      // A browser of its own each time, so that nothing of the page is cached from before.
      await browser.close();
      browser = await launch();
      const {page} = await open(file);
      fastest = Math.min(fastest, await page.evaluate(() => window.vellumbrookChart.drawnAfter));
      whole = Math.min(whole, await page.evaluate(() => window.vellumbrookChart.wholeAfter));
      fit = Math.min(fit, await timed(page, 'F'));
      back = Math.min(back, await timed(page, 'End'));
      await page.evaluate(() => window.gc());
      heap = (await page.metrics()).JSHeapUsedSize;
      await page.close();
    }
    const seconds = (ms) => (ms / 1000).toFixed(2);
    console.log(`${file}\t${seconds(fastest)}\t${(heap / 2 ** 20).toFixed(0)}\t${seconds(fit)}\t` +
      `${seconds(back)}\t${seconds(whole)}`);
  }
  await browser.close();
  process.exit(0);
}

const [binDir, workDir] = process.argv.slice(2);
const screenshotAt = process.argv.indexOf('--screenshot');
fs.mkdirSync(workDir, {recursive: true});

// What a table holds, read here on its own, to hold the page to.
function expectFrom(text, oldestFirst) {
  let lines = text.split('\n').filter((line) => line !== '');
  const isHeader = (line) => line.startsWith('Date,Open,High,Low,Close');
  lines = lines.filter((line) => !isHeader(line));
  const rows = lines.map((line) => line.split(','));
  const isPlaceholder = (row) => /^\+\d{5,}$/.test(row[0]) && row.slice(1, 5).every((f) => f === '0');
  const turned = rows.length > 0 && isPlaceholder(rows[rows.length - 1]) && !isPlaceholder(rows[0]);
  if (!turned && !oldestFirst) {
    rows.reverse();  // oldest first, as the chart runs
  }
  const future = rows.filter(isPlaceholder).length;
  const candles = rows.slice(0, rows.length - future);
  const decimalsOf = (number) => {
    const [mantissa, power = '0'] = number.split(/e/i);
    const point = mantissa.indexOf('.');
    return (point < 0 ? 0 : mantissa.length - point - 1) - Number(power);
  };
  let decimals = 0;
  for (const row of candles) {
    for (const field of row.slice(1, 5)) {
      if (!/inf|nan/.test(field)) {
        decimals = Math.max(decimals, Math.min(decimalsOf(field), 12));
      }
    }
  }
  return {
    rows, future, decimals, labels: rows.map((row) => row[0]),
    hasEma: rows[0].length === 6,
    rising: candles.some((row) => Number(row[4]) > Number(row[1])),
    falling: candles.some((row) => Number(row[4]) < Number(row[1])),
    unreadable: rows.filter((row) => row.slice(1).some((field) => /inf|nan/.test(field))).length,
    empties: candles.filter((row) => row.slice(1, 5).every((field) => field === '0')).length,
  };
}

let passed = 0;
let failed = 0;
function check(name, ok, detail = '') {
  if (ok) {
    passed += 1;
  } else {
    failed += 1;
    console.log(`FAILED: ${name} ${detail}`);
  }
}

// The axis's first and last columns (left of the price scale) that hold ink: those of a label
// cut at the pane's edge.
const cutLabels = (page) => page.evaluate(() => {
  const {chart} = window.vellumbrookChart;
  const canvas = chart.takeScreenshot();
  const context = canvas.getContext('2d');
  const scale = canvas.width / chart.timeScale().width() /
    (1 + chart.priceScale('right').width() / chart.timeScale().width());
  const axis = Math.round(26 * scale);
  const right = Math.round(chart.timeScale().width() * scale);
  const inked = (x) => {
    const pixels = context.getImageData(x, canvas.height - axis, 1, axis).data;
    for (let i = 0; i < pixels.length; i += 4) {
      if (pixels[i] !== pixels[0]) {
        return true;
      }
    }
    return false;
  };
  return [0, 1, right - 2, right - 1].filter(inked);
});

async function checkPage(name, tablePath, chartArgs = [], {dark = false} = {}) {
  const text = fs.readFileSync(tablePath, 'latin1');
  const expected = expectFrom(text, chartArgs.includes('--oldest-first'));
  const pagePath = path.join(workDir, name + '.html');
  execFileSync(path.join(binDir, 'vellumbrook-chart'), [tablePath, ...chartArgs, '-o', pagePath]);
  const {page, requests, errors} = await open(pagePath, {dark});
  const count = expected.rows.length;
  const say = (what) => `${name}: ${what}`;

  check(say('no error on the page'), errors.length === 0, errors.join('; '));
  const outside = requests.filter((url) => !url.startsWith('file:') && !url.startsWith('data:'));
  check(say('no request leaves the page'), outside.length === 0, outside.join(' '));

  const facts = await page.evaluate(() => {
    const {candleSeries, emaSeries, labelOf, count, future, chart} = window.vellumbrookChart;
    return {
      candles: Array.from({length: count}, (_, k) => candleSeries.dataByIndex(k))
        .map((item) => (item && 'open' in item ? [item.open, item.close] : null)),
      ema: emaSeries ? Array.from({length: count}, (_, k) => emaSeries.dataByIndex(k))
        .map((item) => (item && 'value' in item ? item.value : null)) : null,
      labels: Array.from({length: count}, (_, k) => labelOf(k)),
      future, count, range: chart.timeScale().getVisibleLogicalRange(),
      background: chart.options().layout.background.color,
      note: document.getElementById('note').textContent,
    };
  });
  // Row k stands at time k + 1; whitespace slots are points of the time scale too.
  const slots = await page.evaluate((count) => {
    const timeScale = window.vellumbrookChart.chart.timeScale();
    return [timeScale.timeToIndex(1, false), timeScale.timeToIndex(count, false),
      timeScale.timeToIndex(count + 1, false)];
  }, count);
  check(say('one slot per row'), facts.count === count &&
    JSON.stringify(slots) === JSON.stringify([0, count - 1, null]), JSON.stringify(slots));
  check(say('first and last Date labels'),
    facts.labels[0] === expected.labels[0] && facts.labels[count - 1] === expected.labels[count - 1],
    `${facts.labels[0]} .. ${facts.labels[count - 1]}`);
  check(say('every Date label as in the table'),
    facts.labels.every((label, k) => label === expected.labels[k]));
  check(say('the future slots are empty and in view'),
    facts.future === expected.future &&
    facts.candles.slice(count - expected.future).every((candle) => candle === null) &&
    facts.range.to >= count - 1, JSON.stringify(facts.range));
  check(say('opens at the newest 150 candles or so'),
    facts.range.to - facts.range.from < 200 || count < 150, JSON.stringify(facts.range));
  const zeros = expected.rows.map((row, k) => (row.slice(1, 5).every((f) => f === '0') ? k : -1))
    .filter((k) => k >= 0);
  check(say('rows of zeros are empty slots, not candles at 0'),
    zeros.every((k) => facts.candles[k] === null));
  const counted = (number, words) => number === 0 || facts.note.includes(`${number} ${words}`);
  check(say('empty rows and rows with nan or inf are counted'),
    counted(expected.empties, expected.empties === 1 ? 'row is empty' : 'rows are empty') &&
    counted(expected.unreadable, expected.unreadable === 1 ? 'row holds' : 'rows hold') &&
    (expected.empties + expected.unreadable > 0 || facts.note === ''), facts.note);
  if (expected.hasEma) {
    const emaOk = expected.rows.every((row, k) => {
      const value = Number(row[5]);
      const empty = value === 0 || !Number.isFinite(value) ||
        row.slice(1, 5).some((f) => /inf|nan/.test(f));
      return empty ? facts.ema[k] === null : facts.ema[k] === value;
    });
    check(say('the EMA line leaves out the zeros before the seed, and has the rest'), emaOk);
  } else {
    check(say('no EMA line without an EMA column'), facts.ema === null);
  }
  check(say('follows the dark setting'), facts.background === (dark ? '#131722' : '#ffffff'));

  // No Date label on the time axis is cut at the pane's edges, before the crosshair draws
  // its own label there.
  const cut = await cutLabels(page);
  check(say('no Date label is cut at the edges'), cut.length === 0, JSON.stringify(cut));

  // The legend over the newest candle, and under the crosshair over candle k.
  const box = await (await page.$('#chart')).boundingBox();
  const newest = count - expected.future - 1;
  for (const k of [newest, Math.max(0, newest - 5)]) {
    const x = await page.evaluate((k) =>
      window.vellumbrookChart.chart.timeScale().logicalToCoordinate(k), k);
    await page.mouse.move(box.x + x, box.y + box.height / 2);
    // The Date as written stands in the legend's tooltip; it shows as a time where it is one.
    await page.waitForFunction((label) =>
      document.querySelector('#legend .date')?.title === label, {timeout: 5000},
    expected.labels[k]).then(() => check(say(`crosshair over candle ${k} shows its Date`), true),
      () => check(say(`crosshair over candle ${k} shows its Date`), false));
  }
  const legend = await page.$eval('#legend', (element) => element.textContent);
  const opened = /O (\S+)/.exec(legend)?.[1] ?? '';
  const shownDecimals = opened.includes('.') ? opened.split('.')[1].length : 0;
  check(say(`prices show ${expected.decimals} decimals`),
    opened === '\u2013' || shownDecimals === expected.decimals, legend);

  // Both candle colours are drawn.
  const colours = await page.evaluate(() => {
    const canvas = window.vellumbrookChart.chart.takeScreenshot();
    const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    const seen = {rising: false, falling: false};
    for (let i = 0; i < pixels.length; i += 4) {
      const rgb = (pixels[i] << 16) | (pixels[i + 1] << 8) | pixels[i + 2];
      seen.rising ||= rgb === 0x26a69a;
      seen.falling ||= rgb === 0xef5350;
    }
    return seen;
  });
  check(say('rising candles are drawn in their colour'), colours.rising || !expected.rising);
  // Save PNG's picture: text above the chart (title, legend) and below it (the span's Dates).
  const picture = await page.evaluate(() => {
    const canvas = window.vellumbrookChart.picture();
    const shot = window.vellumbrookChart.chart.takeScreenshot();
    const context = canvas.getContext('2d');
    const inked = (top, height) => {
      const pixels = context.getImageData(0, top, canvas.width, height).data;
      let count = 0;
      for (let i = 0; i < pixels.length; i += 4) {
        count += pixels[i] !== pixels[0] || pixels[i + 1] !== pixels[1] ? 1 : 0;
      }
      return count;
    };
    const band = (canvas.height - shot.height) / 3;
    return {title: inked(0, band), legend: inked(band, band),
      dates: inked(canvas.height - band, band), taller: canvas.height > shot.height};
  });
  check(say('Save PNG holds the title, the legend and the Dates in view'), picture.taller &&
    picture.title > 50 && picture.legend > 50 && picture.dates > 50, JSON.stringify(picture));
  check(say('falling candles are drawn in their colour'), colours.falling || !expected.falling);

  // Zoom with the wheel, pan by dragging, fit everything with a double-click.
  const visible = () => page.evaluate(() =>
    window.vellumbrookChart.chart.timeScale().getVisibleLogicalRange());
  const before = await visible();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.wheel({deltaY: -500});
  await new Promise((done) => setTimeout(done, 300));
  const zoomed = await visible();
  check(say('the wheel zooms in'), zoomed.to - zoomed.from < before.to - before.from,
    `${JSON.stringify(before)} -> ${JSON.stringify(zoomed)}`);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width / 2 + 200, box.y + box.height / 2, {steps: 10});
  await page.mouse.up();
  const dragged = await visible();
  check(say('a drag moves the view back in time'), dragged.from < zoomed.from,
    `${JSON.stringify(zoomed)} -> ${JSON.stringify(dragged)}`);
  await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2, {clickCount: 2});
  await new Promise((done) => setTimeout(done, 300));
  const fitted = await visible();
  check(say('a double-click fits every candle'), fitted.from <= 0.5 && fitted.to >= count - 1.5,
    JSON.stringify(fitted));
  if (name === 'ticks' && screenshotAt > 0) {
    await page.keyboard.press('End');
    await page.mouse.move(box.x + box.width * 0.75, box.y + box.height / 2);
    await page.screenshot({path: process.argv[screenshotAt + 1]});
  }
  await page.close();
}

// A table large enough to cross every merge level (200,000 rows, a random walk): the page
// gives the library a window of one level, switches levels as the wheel zooms, without the
// row under the cursor jumping, and moves the window as a drag pans; every candle it gives
// is the merge of the table's rows. Turned over (oldest first), it opens and fits the same.
async function checkLevels(turned) {
  const rows = [];
  let price = 100000;
  let seed = 7;
  const random = () => (seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648;
  for (let k = 0; k < 200000; ++k) {
    const open = price;
    price += Math.round((random() - 0.5) * 40);
    const high = Math.max(open, price) + Math.round(random() * 10);
    const low = Math.min(open, price) - Math.round(random() * 10);
    rows.push([`r${k}`, open, high, low, price]);
  }
  const lines = rows.map((row) => row.join(','));
  const text = turned ? ['Date,Open,High,Low,Close', ...lines, '+00001,0,0,0,0', ''].join('\n') :
    ['Date,Open,High,Low,Close', '+00001,0,0,0,0', ...lines.reverse(), ''].join('\n');
  const name = turned ? 'levels-turned' : 'levels';
  const tablePath = path.join(workDir, name + '.csv');
  const pagePath = path.join(workDir, name + '.html');
  fs.writeFileSync(tablePath, text);
  execFileSync(path.join(binDir, 'vellumbrook-chart'), [tablePath, '-o', pagePath]);
  const {page, errors} = await open(pagePath);
  const say = (what) => `${name}: ${what}`;
  const settled = () => page.evaluate(() => new Promise((done) =>
    requestAnimationFrame(() => requestAnimationFrame(done))));
  const box = await (await page.$('#chart')).boundingBox();
  const x = box.x + box.width / 2;
  // The window, the view, the row under the cursor, and the candles the library holds.
  const state = () => page.evaluate((x) => {
    const {chart, candleSeries, view, sizeOf} = window.vellumbrookChart;
    const timeScale = chart.timeScale();
    return {
      ...view, size: sizeOf(view.level), range: timeScale.getVisibleLogicalRange(),
      atCursor: (view.first + timeScale.coordinateToLogical(x)) * sizeOf(view.level),
      legend: document.getElementById('legend').textContent,
      bars: Array.from({length: view.end - view.first}, (_, i) => candleSeries.dataByIndex(i))
        .map((bar) => (bar ? [bar.time, bar.open, bar.high, bar.low, bar.close] : [])),
    };
  }, x - box.x);
  // Merged candle j of a level of `size`: rows j * size on, at time j * size + 1.
  const mergedRight = (now) => now.bars.every(([time, open, high, low, close], i) => {
    const first = (now.first + i) * now.size;
    const members = rows.slice(first, first + now.size);
    if (members.length === 0) {
      return open === undefined;  // the placeholder row
    }
    return time === first + 1 && open === members[0][1] && close === members.at(-1)[4] &&
      high === Math.max(...members.map((row) => row[2])) &&
      low === Math.min(...members.map((row) => row[3]));
  });

  let now = await state();
  check(say('opens on the newest rows, in a window'), now.level === 0 &&
    now.end === rows.length + 1 && now.end - now.first <= 10000 && mergedRight(now),
  `${now.level} ${now.first}..${now.end}`);
  await page.keyboard.press('F');
  await settled();
  now = await state();
  const top = now.level;
  check(say('no Date label is cut at the edges of the fitted view'),
    (await cutLabels(page)).length === 0);
  check(say('F fits every row, merged'), top >= 3 && now.first === 0 &&
    now.range.from <= 0 && now.range.to >= now.end - 1 && mergedRight(now) &&
    now.legend.includes(`each candle: ${now.size} of the table's`),
  `${top} ${JSON.stringify(now.range)} ${now.legend}`);
  if (turned) {
    await page.close();
    return;
  }
  const seen = new Set([top]);
  await page.mouse.move(x, box.y + box.height / 2);
  for (let step = 0; step < 80 && now.level > 0; ++step) {
    const before = now;
    await page.mouse.wheel({deltaY: -200});
    await settled();
    now = await state();
    seen.add(now.level);
    if (now.level !== before.level) {
      check(say(`the row under the cursor stays at the switch to level ${now.level}`),
        Math.abs(now.atCursor - before.atCursor) <= 2 * before.size,
        `${before.atCursor} -> ${now.atCursor}`);
      check(say(`level ${now.level}'s candles are merged rows`), mergedRight(now));
    }
  }
  check(say('the wheel passes through every level'), seen.size === top + 1, [...seen].join(' '));
  const start = now.first;
  for (let drag = 0; drag < 30 && now.first === start; ++drag) {
    await page.mouse.move(box.x + 100, box.y + box.height / 2);
    await page.mouse.down();
    await page.mouse.move(box.x + box.width - 100, box.y + box.height / 2, {steps: 5});
    await page.mouse.up();
    await settled();
    now = await state();
  }
  check(say('a drag back in time moves the window'), now.first < start && mergedRight(now),
    `${start} -> ${now.first}`);
  // Two fingers drawn together zoom out as the wheel does, up to merged candles.
  const touch = await page.target().createCDPSession();
  await touch.send('Emulation.setTouchEmulationEnabled', {enabled: true, maxTouchPoints: 2});
  const unpinched = now.level;
  const y = box.y + box.height / 2;
  const fingers = (apart) => [{x: x - apart, y}, {x: x + apart, y}];
  for (let pinch = 0; pinch < 20 && now.level === unpinched; ++pinch) {
    await touch.send('Input.dispatchTouchEvent', {type: 'touchStart', touchPoints: fingers(300)});
    for (let apart = 250; apart >= 50; apart -= 50) {
      await touch.send('Input.dispatchTouchEvent', {type: 'touchMove', touchPoints: fingers(apart)});
    }
    await touch.send('Input.dispatchTouchEvent', {type: 'touchEnd', touchPoints: []});
    await settled();
    now = await state();
  }
  check(say('a pinch zooms out to merged candles'), now.level > unpinched && mergedRight(now),
    `${unpinched} -> ${now.level}`);
  // Dates in the forms the tools write show as one readable UTC time; other text as written.
  const forms = {
    '2024.01.02 00:04:54.564': '2024-01-02 00:04:54.564',
    '20240102 00:04:54.564': '2024-01-02 00:04:54.564',
    '20240102 000454564': '2024-01-02 00:04:54.564',
    '02.01.2024 00:04:54.564': '2024-01-02 00:04:54.564',
    '2024-01-02T00:04:54.564Z': '2024-01-02 00:04:54.564',
    '1704153894': '2024-01-02 00:04:54.000',
    '1704153894564': '2024-01-02 00:04:54.564',
    '1704153894564000': '2024-01-02 00:04:54.564',
    'r123': 'r123',
    '2024.13.02 00:00:00': '2024.13.02 00:00:00',
  };
  const shown = await page.evaluate((texts) =>
    texts.map((text) => window.vellumbrookChart.readableDate(text)), Object.keys(forms));
  check(say('Dates that are times read as times'),
    JSON.stringify(shown) === JSON.stringify(Object.values(forms)), JSON.stringify(shown));
  check(say('no error on the page'), errors.length === 0, errors.join('; '));
  await page.close();
}

// Tables made from the sample tick file, as users make them.
const convert = (args, file) => {
  fs.writeFileSync(path.join(workDir, file),
    execFileSync(path.join(binDir, 'vellumbrook'), ['-f', path.join(root, 'examples/ticks.csv'), ...args]));
  return path.join(workDir, file);
};
const turnOver = (from, file) => {
  const lines = fs.readFileSync(from, 'latin1').split('\n').filter((line) => line !== '');
  fs.writeFileSync(path.join(workDir, file), lines.reverse().join('\n') + '\n', 'latin1');
  return path.join(workDir, file);
};
const withInf = (from, file) => {
  const lines = fs.readFileSync(from, 'latin1').split('\n');
  lines[5] = lines[5].replace(/^([^,]*),([^,]*),([^,]*)/, '$1,$2,inf');
  // A group without a usable tick line: an empty Date and zeros.
  lines[7] = lines[7].replace(/^[^,]*,[^,]*,[^,]*,[^,]*,[^,]*/, ',0,0,0,0');
  fs.writeFileSync(path.join(workDir, file), lines.join('\n'), 'latin1');
  return path.join(workDir, file);
};

await checkPage('ticks', convert(['-t', '10'], 'ticks.csv'));
await checkPage('bare', convert(['-t', '10', '-a', '-q', '-m', '0'], 'bare.csv'));
await checkPage('turned', turnOver(convert(['-t', '10', '-m', '3'], 'three.csv'), 'turned.csv'));
await checkPage('dark', path.join(workDir, 'ticks.csv'), [], {dark: true});
await checkPage('inf', withInf(path.join(workDir, 'ticks.csv'), 'inf.csv'));
for (const folder of fs.readdirSync(path.join(root, 'examples/sources')).sort()) {
  const table = path.join(root, 'examples/sources', folder, 'expected.csv');
  if (fs.existsSync(table)) {
    // The charting recipe's table runs oldest first and has no placeholder rows.
    await checkPage(folder, table, folder === 'charting' ? ['--oldest-first'] : []);
  }
}
await checkLevels(false);
await checkLevels(true);
await browser.close();
console.log(`chart: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
