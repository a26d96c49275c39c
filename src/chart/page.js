// The candlestick chart of one vellumbrook table. The table comes in JSON blocks, in the
// table's own order: first its newest rows, so that the first frame need not wait for the
// rest, then (for a large table) the whole, read once the page has it. The chart wants the
// oldest candle first. Candles made of a fixed number of ticks have no regular time, so each
// row's number is its place on the time axis and its Date text, exactly as the table has it,
// is the label shown there.
(function () {
  'use strict';

  const Charts = window.LightweightCharts;
  const rising = '#26a69a';
  const falling = '#ef5350';
  const emaColour = '#2962ff';
  const newestShown = 150;

  // A block of the table, parsed and let go of; null when it holds none.
  function readBlock(id) {
    const block = document.getElementById(id);
    const table = JSON.parse(block.textContent);
    block.textContent = '';
    return table;
  }

  // The rows of a block: its `skipped` oldest rows are not in it (a later block brings them).
  // The columns, oldest first, as typed arrays: NaN where nothing is drawn. nan and inf come
  // as null: such a row stays an empty slot, EMA and all. A group of ticks with no usable
  // line comes as a row of zeros: an empty slot, not a candle at 0. Placeholder rows are
  // future slots: no candle, but the EMA that the converter gave them, where it is not 0
  // (none yet, before the seed).
  function rowsOf(table) {
    const held = table.open.length;
    const skipped = table.skipped;
    const count = skipped + held;
    const future = table.future;
    // The Date texts come as one string, a line each; where each starts is found once.
    const dates = table.dates;
    const starts = new Uint32Array(held + 1);
    for (let row = 1, at = 0; row <= held; ++row) {
      const end = dates.indexOf('\n', at);
      at = end < 0 ? dates.length + 1 : end + 1;
      starts[row] = at;
    }
    // k counts from the oldest row of the whole table; its time is k + 1.
    const rowOf = table.newestFirst ? (k) => count - 1 - k : (k) => k - skipped;
    const labelOf = (k) => {
      const row = rowOf(k);
      return row >= 0 && row < held ? dates.substring(starts[row], starts[row + 1] - 1) : '';
    };
    const isReadable = (row) => table.open[row] !== null && table.high[row] !== null &&
      table.low[row] !== null && table.close[row] !== null &&
      (!table.ema || table.ema[row] !== null);
    const column = () => new Float64Array(count).fill(NaN);
    const rows = {open: column(), high: column(), low: column(), close: column(), ema: column()};
    let unreadable = 0;
    let empties = 0;
    for (let k = skipped; k < count; ++k) {
      const row = rowOf(k);
      const readable = isReadable(row);
      unreadable += readable ? 0 : 1;
      const empty = table.open[row] === 0 && table.high[row] === 0 && table.low[row] === 0 &&
        table.close[row] === 0;
      empties += empty && k < count - future ? 1 : 0;
      if (k < count - future && readable && !empty) {
        rows.open[k] = table.open[row];
        rows.high[k] = table.high[row];
        rows.low[k] = table.low[row];
        rows.close[k] = table.close[row];
      }
      const average = table.ema ? table.ema[row] : 0;
      rows.ema[k] = readable && average !== 0 ? average : NaN;
    }
    return {count, rows, labelOf, unreadable, empties, whole: skipped === 0};
  }

  const first = readBlock('newest');
  let data = rowsOf(first);
  const count = data.count;
  const future = first.future;
  const labelOf = (k) => data.labelOf(k);
  const hasEma = Boolean(first.ema);
  const emaLabel = first.emaLabel.replace(/[&<>"]/g, (c) => `&#${c.charCodeAt(0)};`);
  const decimals = first.decimals;
  const orderFromDates = first.orderFromDates;

  // Zoomed out, neighbouring candles are merged, mergeFactor of one level into one of the
  // next: still true candles, of more ticks each, whose EMA is that of their newest member.
  // A merged candle starts at a row that is a multiple of its size, so the levels nest and
  // its time (its first row's, + 1) is that row's at every level.
  const mergeFactor = 4;
  let levels = [data.rows];
  const sizeOf = (level) => mergeFactor ** level;
  function levelAt(level) {
    while (levels.length <= level) {
      const below = levels[levels.length - 1];
      const length = Math.ceil(below.open.length / mergeFactor);
      const merged = {
        open: new Float64Array(length), high: new Float64Array(length),
        low: new Float64Array(length), close: new Float64Array(length), ema: new Float64Array(length),
      };
      for (let j = 0; j < length; ++j) {
        const first = j * mergeFactor;
        const last = Math.min(first + mergeFactor, below.open.length) - 1;
        let open = NaN;
        let high = NaN;
        let low = NaN;
        let close = NaN;
        for (let i = first; i <= last; ++i) {
          if (!Number.isNaN(below.open[i])) {
            open = Number.isNaN(open) ? below.open[i] : open;
            high = Number.isNaN(high) || below.high[i] > high ? below.high[i] : high;
            low = Number.isNaN(low) || below.low[i] < low ? below.low[i] : low;
            close = below.close[i];
          }
        }
        merged.open[j] = open;
        merged.high[j] = high;
        merged.low[j] = low;
        merged.close[j] = close;
        merged.ema[j] = below.ema[last];
      }
      levels.push(merged);
    }
    return levels[level];
  }

  function themeOf(dark) {
    return {
      layout: {
        background: {type: 'solid', color: dark ? '#131722' : '#ffffff'},
        textColor: dark ? '#d1d4dc' : '#191919',
      },
      grid: {
        vertLines: {color: dark ? '#1e222d' : '#f0f3fa'},
        horzLines: {color: dark ? '#1e222d' : '#f0f3fa'},
      },
    };
  }

  const newest = count - future - 1;
  const format = (value) => value.toFixed(decimals);
  const label = (time) => labelOf(time - 1);

  // A Date that is a time in a form the tools write, as UTC milliseconds: the converter's
  // "2024.01.02 00:04:54.564", vendors' "20240102 00:04:54.564", "20240102 000454564" and
  // "02.01.2024 00:04:54.564", ISO 8601, and epoch counts of 10, 13 or 16 digits. NaN for any
  // other text.
  function timeOf(text) {
    if (!/^[\d .:\/TZ-]+$/.test(text)) {
      return NaN;
    }
    const runs = text.match(/\d+/g);
    if (runs.length === 1) {
      const scale = {10: 1000, 13: 1, 16: 0.001}[runs[0].length];
      return scale === undefined ? NaN : Number(runs[0]) * scale;
    }
    let parts;
    let next;
    if (runs[0].length === 8) {
      parts = [runs[0].slice(0, 4), runs[0].slice(4, 6), runs[0].slice(6)];
      next = 1;
    } else if (runs.length >= 3 && runs[0].length === 4) {
      parts = runs.slice(0, 3);
      next = 3;
    } else if (runs.length >= 3 && runs[0].length === 2 && runs[2].length === 4) {
      parts = [runs[2], runs[1], runs[0]];
      next = 3;
    } else {
      return NaN;
    }
    const clock = runs[next];
    if (clock !== undefined && (clock.length === 6 || clock.length === 9)) {
      parts.push(clock.slice(0, 2), clock.slice(2, 4), clock.slice(4, 6), clock.slice(6));
      next += 1;
    } else {
      parts.push(...runs.slice(next, next + 4));
      next += 4;
    }
    if (next < runs.length || parts.slice(1, 6).some((part) => part.length > 2)) {
      return NaN;
    }
    const [year, month, day, hour = 0, minute = 0, second = 0] = parts.slice(0, 6).map(Number);
    const fraction = parts[6] ? Number('0.' + parts[6]) * 1000 : 0;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
      second > 60) {
      return NaN;
    }
    return Date.UTC(year, month - 1, day, hour, minute, second) + fraction;
  }

  // The rows' Dates as times, read when first asked for; -Infinity: not read yet.
  let times = new Float64Array(count).fill(-Infinity);
  const timeAt = (k) => {
    if (times[k] === -Infinity) {
      times[k] = timeOf(labelOf(k));
    }
    return times[k];
  };
  // Where the newest candle's Date is a time, the axis and the legend read the Dates as times.
  const datesAreTimes = !Number.isNaN(timeAt(count - future - 1));
  const pad = (number, digits = 2) => String(Math.floor(number)).padStart(digits, '0');
  function readable(t, withTime = true) {
    const date = new Date(t);
    const day = `${date.getUTCFullYear()}-${pad(date.getUTCMonth() + 1)}-${pad(date.getUTCDate())}`;
    if (!withTime) {
      return day;
    }
    const milliseconds = t - Math.floor(t / 1000) * 1000;
    return `${day} ${pad(date.getUTCHours())}:${pad(date.getUTCMinutes())}:` +
      `${pad(date.getUTCSeconds())}.${pad(milliseconds, 3)}`;
  }
  // A row's Date as the legend and the crosshair show it.
  const shownDate = (k) => {
    const t = datesAreTimes ? timeAt(k) : NaN;
    return Number.isNaN(t) ? labelOf(k) : readable(t);
  };
  // The axis marks new days in bold, then hours, then minutes, as a platform does: a mark's
  // weight is the largest of these units whose boundary lies between it and the one before.
  const units = [[86400000, 60], [43200000, 55], [21600000, 54], [10800000, 53], [3600000, 50],
    [1800000, 45], [900000, 44], [300000, 43], [60000, 40], [30000, 35], [10000, 34],
    [5000, 33], [1000, 30]];
  const priceFormat = {
    type: 'price', precision: decimals, minMove: Number('1e-' + decimals),
  };

  // Whether the label `text` of the mark at `time` fits on the axis whole: the library would
  // cut one that a mark at the pane's edge centres past it.
  const measure = document.createElement('canvas').getContext('2d');
  measure.font = `12px ${getComputedStyle(document.body).fontFamily}`;
  function fitsTheAxis(time, text) {
    const timeScale = chart.timeScale();
    const at = timeScale.logicalToCoordinate((time - 1) / sizeOf(view.level) - view.first);
    const half = measure.measureText(text).width / 2 + 2;
    return at === null || (at - half >= 0 && at + half <= timeScale.width());
  }

  // The horizontal axis counts rows: a row's number is its own place, with no conversion to
  // a time and nothing made per row, and the labels land on round numbers of rows.
  class RowScale {
    options() {
      return this.chartOptions;
    }
    setOptions(options) {
      this.chartOptions = options;
    }
    preprocessData() {}
    updateFormatter(localization) {
      if (this.chartOptions) {
        this.chartOptions.localization = localization;
      }
    }
    createConverterToInternalObj() {
      return (time) => time;
    }
    key(time) {
      return time;
    }
    cacheKey(time) {
      return time;
    }
    convertHorzItemToInternal(time) {
      return time;
    }
    formatHorzItem(time) {
      return shownDate(time - 1);
    }
    formatTickmark(mark) {
      const t = datesAreTimes ? timeAt(mark.time - 1) : NaN;
      const text = Number.isNaN(t) ? label(mark.time) :
        mark.weight >= 60 ? readable(t, false) :
          readable(t).slice(11, mark.weight >= 40 ? 16 : 19);
      return fitsTheAxis(mark.time, text) ? text : '';
    }
    maxTickMarkWeight(marks) {
      return marks.reduce((most, mark) => Math.max(most, mark.weight), 0);
    }
    fillWeightsForPoints(points, from) {
      if (datesAreTimes) {
        for (let i = Math.max(from, 1); i < points.length; ++i) {
          const t = timeAt(points[i].time - 1);
          const before = timeAt(points[i - 1].time - 1);
          const unit = units.find(([size]) => Math.floor(t / size) !== Math.floor(before / size));
          points[i].timeWeight = Number.isNaN(t) || Number.isNaN(before) || !unit ? 0 : unit[1];
        }
        return;
      }
      const steps = [100000, 10000, 1000, 500, 100, 50, 10, 5];
      for (let i = from; i < points.length; ++i) {
        const step = steps.findIndex((size) => points[i].time % size === 0);
        points[i].timeWeight = step < 0 ? 0 : steps.length - step;
      }
    }
  }

  const darkScheme = window.matchMedia('(prefers-color-scheme: dark)');
  const chart = Charts.createChartEx(document.getElementById('chart'), new RowScale(), {
    autoSize: true,
    ...themeOf(darkScheme.matches),
    crosshair: {mode: Charts.CrosshairMode.Normal},
    timeScale: {
      tickMarkMaxCharacterLength: 24,
      // Small enough that zooming out reaches every candle of a large table.
      minBarSpacing: 0.0001,
      enableConflation: true,
      borderVisible: false,
    },
    rightPriceScale: {borderVisible: false},
  });
  darkScheme.addEventListener('change', (change) => chart.applyOptions(themeOf(change.matches)));

  const candleSeries = chart.addSeries(Charts.CandlestickSeries, {
    upColor: rising, downColor: falling, borderVisible: false,
    wickUpColor: rising, wickDownColor: falling, priceFormat,
  });
  const emaSeries = hasEma ? chart.addSeries(Charts.LineSeries, {
    color: emaColour, lineWidth: 1, priceFormat, lastValueVisible: false,
    priceLineVisible: false, crosshairMarkerVisible: false,
  }) : null;

  // The library draws everything it is given, at some microseconds a candle, so it is given
  // a window of candles around the view: windowSize of one level, the view at most mostShown
  // of them (a wide screen's pixels). Zoomed out past that, the next level's candles take
  // their place; zoomed in to an eighth of it, the level below's. Near the window's edge, the
  // window moves.
  const mostShown = 3000;
  const windowSize = 3 * mostShown;
  const edge = mostShown / 2;
  let topLevel = 0;
  while (Math.ceil(count / sizeOf(topLevel)) > mostShown) {
    ++topLevel;
  }
  const view = {level: 0, first: 0, end: 0};  // the window: candles first .. end - 1 of level

  // Gives the library the window of `level` around the view `from` .. `to` (in that level's
  // candles), and shows that view.
  function showAt(level, from, to) {
    const candles = levelAt(level);
    const length = candles.open.length;
    const size = sizeOf(level);
    const middle = Math.round((from + to) / 2);
    const first = Math.max(0, Math.min(middle - windowSize / 2, length - windowSize));
    const end = Math.min(length, first + windowSize);
    if (level !== view.level || first !== view.first || end !== view.end) {
      const bars = new Array(end - first);
      const points = hasEma ? new Array(end - first) : null;
      for (let j = first; j < end; ++j) {
        const time = j * size + 1;
        bars[j - first] = Number.isNaN(candles.open[j]) ? {time} :
          {time, open: candles.open[j], high: candles.high[j], low: candles.low[j],
            close: candles.close[j]};
        if (points) {
          points[j - first] = Number.isNaN(candles.ema[j]) ? {time} : {time, value: candles.ema[j]};
        }
      }
      Object.assign(view, {level, first, end});
      moving = true;
      candleSeries.setData(bars);
      emaSeries?.setData(points);
      moving = false;
      merged.textContent = level === 0 ? '' : `each candle: ${size} of the table's`;
    }
    // The library applies a range with the next frame, and may first report the range it
    // kept from the data before: what it reports until then is not the user's doing.
    moving = true;
    timeScale.applyOptions({barSpacing: timeScale.width() / (to - from)});
    timeScale.setVisibleLogicalRange({from: from - first, to: to - first});
    moving = false;
    applying = {from: from - first, to: to - first};
    requestAnimationFrame(() => requestAnimationFrame(() => {
      applying = null;
    }));
    show(null);
  }

  // Follows the view the user zooms and pans to; the change is made before the next frame.
  let moving = false;
  let applying = null;
  let pending = null;
  function follow(range) {
    if (moving || !range) {
      return;
    }
    if (applying) {
      if (Math.abs(range.from - applying.from) < 1e-6 && Math.abs(range.to - applying.to) < 1e-6) {
        applying = null;
      }
      return;
    }
    const from = view.first + range.from;
    const to = view.first + range.to;
    let level = view.level;
    while (level < topLevel && (to - from) * sizeOf(view.level) / sizeOf(level) > mostShown) {
      ++level;
    }
    while (level > 0 && (to - from) * sizeOf(view.level) / sizeOf(level - 1) <= mostShown / 2) {
      --level;
    }
    const length = levelAt(view.level).open.length;
    const nearEdge = (from - view.first < edge && view.first > 0) ||
      (view.end - to < edge && view.end < length);
    if (level === view.level && !nearEdge) {
      return;
    }
    const scale = sizeOf(view.level) / sizeOf(level);
    if (!pending) {
      queueMicrotask(() => {
        const wanted = pending;
        pending = null;
        showAt(wanted.level, wanted.from, wanted.to);
      });
    }
    pending = {level, from: from * scale, to: to * scale};
  }

  // The legend: the candle under the cursor, or else the newest one.
  const legend = document.getElementById('legend');
  const merged = document.getElementById('merged');
  function show(index) {
    const level = view.level;
    const candles = levelAt(level);
    const newestAt = Math.floor(newest / sizeOf(level));
    const j = index === null || index < 0 || index >= view.end - view.first ?
      newestAt : view.first + index;
    const value = (column) => (Number.isNaN(column[j]) ? undefined : column[j]);
    const field = (name, number) =>
      `<span class="name">${name}</span> ${number === undefined ? '\u2013' : format(number)}`;
    const parts = [
      `<span class="date"></span>`,
      field('O', value(candles.open)), field('H', value(candles.high)),
      field('L', value(candles.low)), field('C', value(candles.close)),
    ];
    if (hasEma) {
      parts.push(field(emaLabel, value(candles.ema)));
    }
    if (level > 0) {
      parts.push(`<span class="name">${merged.textContent}</span>`);
    }
    legend.innerHTML = parts.join('  ');
    legend.firstChild.textContent = shownDate(j * sizeOf(level));
    legend.firstChild.title = labelOf(j * sizeOf(level));
  }
  chart.subscribeCrosshairMove((move) => show(move.logical ?? null));

  // What the table said of itself that the chart does not show, once all of it is read.
  function writeNotes() {
    const notes = [];
    if (orderFromDates) {
      notes.push('Its Dates run oldest first, and so does the chart.');
    }
    if (data.empties > 0) {
      notes.push(data.empties === 1 ? '1 row is empty (a group without a readable tick).' :
        `${data.empties} rows are empty (groups without a readable tick).`);
    }
    if (data.unreadable > 0) {
      notes.push(data.unreadable === 1 ? '1 row holds nan or inf and is left empty.' :
        `${data.unreadable} rows hold nan or inf and are left empty.`);
    }
    document.getElementById('note').textContent = notes.join(' ');
  }

  // It opens as a trading platform does: the newest candles at a readable width, with the
  // future slots in view; a table that fits is spread across the whole width.
  const timeScale = chart.timeScale();
  const showNewest = () => showAt(0, Math.max(newest - newestShown, -1), count + 3);
  // Every row, the future slots too, merged as far as needed.
  const showAll = () => showAt(topLevel, -1, Math.ceil(count / sizeOf(topLevel)));
  showNewest();
  timeScale.subscribeVisibleLogicalRangeChange(follow);
  document.getElementById('chart').addEventListener('dblclick', showAll);
  document.addEventListener('keydown', (key) => {
    if (key.key === 'f' || key.key === 'F') {
      showAll();
    } else if (key.key === 'End') {
      showNewest();
    }
  });

  // The picture that Save PNG saves says what it shows: the title and the newest candle's
  // legend line above the chart as it is shown, the Dates of the first and last candles in
  // view below it.
  function picture() {
    const shot = chart.takeScreenshot();
    const scale = shot.width / Math.max(1, document.getElementById('chart').clientWidth);
    const line = Math.round(22 * scale);
    const canvas = document.createElement('canvas');
    canvas.width = shot.width;
    canvas.height = shot.height + 3 * line;
    const context = canvas.getContext('2d');
    const style = getComputedStyle(document.body);
    context.fillStyle = chart.options().layout.background.color;
    context.fillRect(0, 0, canvas.width, canvas.height);
    context.drawImage(shot, 0, 2 * line);
    context.fillStyle = chart.options().layout.textColor;
    context.textBaseline = 'middle';
    const font = `${Math.round(13 * scale)}px ${style.fontFamily}`;
    context.font = `600 ${font}`;
    context.fillText(document.title, 8 * scale, line / 2);
    show(null);
    context.font = font;
    context.fillText(legend.textContent, 8 * scale, 1.5 * line);
    const range = timeScale.getVisibleLogicalRange();
    const size = sizeOf(view.level);
    const end = Math.floor(newest / size);
    const firstShown = Math.min(end, view.first + Math.max(0, Math.ceil(range.from)));
    const lastShown = Math.min(end, view.first + Math.floor(range.to));
    context.fillText(`${labelOf(firstShown * size)} to ${labelOf(lastShown * size)}`, 8 * scale,
      canvas.height - line / 2);
    return canvas;
  }
  document.getElementById('save').addEventListener('click', () => {
    const link = document.createElement('a');
    link.download = (document.title || 'chart') + '.png';
    link.href = picture().toDataURL('image/png');
    link.click();
  });

  // The whole table, once the page holds it (the script after its block calls this): the
  // view stays where it is, its candles now all there.
  function readWhole() {
    const whole = readBlock('table');
    if (whole) {
      data = rowsOf(whole);
      levels = [data.rows];
      times = new Float64Array(count).fill(-Infinity);
      const range = timeScale.getVisibleLogicalRange();
      const level = view.level;
      view.end = -1;  // the window's candles are given again
      showAt(level, view.first + range.from, view.first + range.to);
    }
    writeNotes();
    window.vellumbrookChart.whole = true;
    window.vellumbrookChart.wholeAfter = performance.now();
    window.vellumbrookChart.unreadable = data.unreadable;
    window.vellumbrookChart.empties = data.empties;
  }

  // For scripts that drive the page (and its tests): the chart, its series, the Date labels,
  // the window (which level, which of its candles), a level's candles, whether the whole
  // table is read, and the times from navigation to the first drawn frame and to the whole
  // table read.
  window.vellumbrookChart = {
    chart, candleSeries, emaSeries, labelOf, count, future, view, levelAt, sizeOf, readWhole,
    picture, whole: false,
    readableDate: (text) => (Number.isNaN(timeOf(text)) ? text : readable(timeOf(text))),
  };
  requestAnimationFrame(() => requestAnimationFrame(() => {
    window.vellumbrookChart.drawnAfter = performance.now();
  }));
})();
