// The candlestick chart of one vellumbrook table. The table comes in as one JSON block, in
// the table's own order; the chart wants the oldest candle first. Candles made of a fixed
// number of ticks have no regular time, so each row's number is its place on the time axis
// and its Date text, exactly as the table has it, is the label shown there.
(function () {
  'use strict';

  const Charts = window.LightweightCharts;
  const rising = '#26a69a';
  const falling = '#ef5350';
  const emaColour = '#2962ff';
  const newestShown = 150;

  // The table, as the program wrote it. Its columns are let go as soon as the series hold
  // their data: a large table then never stands in memory twice over.
  const block = document.getElementById('table');
  const table = JSON.parse(block.textContent);
  block.textContent = '';
  const count = table.open.length;
  const future = table.future;
  // The Date texts come as one string, a line each; where each starts is found once.
  const dates = table.dates;
  const starts = new Uint32Array(count + 1);
  for (let row = 1, at = 0; row <= count; ++row) {
    const end = dates.indexOf('\n', at);
    at = end < 0 ? dates.length + 1 : end + 1;
    starts[row] = at;
  }
  // The chart runs oldest first; k counts from the oldest row, its time is k + 1.
  const rowOf = table.newestFirst ? (k) => count - 1 - k : (k) => k;
  const labelOf = (k) => {
    const row = rowOf(k);
    return row >= 0 && row < count ? dates.substring(starts[row], starts[row + 1] - 1) : '';
  };

  // nan and inf come as null: such a row stays an empty slot, EMA and all.
  const isReadable = (row) => table.open[row] !== null && table.high[row] !== null &&
    table.low[row] !== null && table.close[row] !== null && (!table.ema || table.ema[row] !== null);

  // Placeholder rows are future slots: no candle, but the EMA that the converter gave them.
  function candleData() {
    const candles = new Array(count);
    for (let k = 0; k < count; ++k) {
      const row = rowOf(k);
      // A group of ticks with no usable line comes as a row of zeros: an empty slot, not a
      // candle at 0.
      const empty = table.open[row] === 0 && table.high[row] === 0 && table.low[row] === 0 &&
        table.close[row] === 0;
      candles[k] = k < count - future && isReadable(row) && !empty ?
        {time: k + 1, open: table.open[row], high: table.high[row], low: table.low[row],
          close: table.close[row]} :
        {time: k + 1};
    }
    return candles;
  }

  // An EMA of 0 stands for none yet (before the seed): it is never drawn at 0.
  function emaData() {
    const points = new Array(count);
    for (let k = 0; k < count; ++k) {
      const row = rowOf(k);
      const value = table.ema[row];
      points[k] = value !== 0 && isReadable(row) ? {time: k + 1, value} : {time: k + 1};
    }
    return points;
  }

  let unreadable = 0;
  for (let row = 0; row < count; ++row) {
    unreadable += isReadable(row) ? 0 : 1;
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
  const format = (value) => value.toFixed(table.decimals);
  const label = (time) => labelOf(time - 1);
  const priceFormat = {
    type: 'price', precision: table.decimals, minMove: Number('1e-' + table.decimals),
  };

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
      return label(time);
    }
    formatTickmark(mark) {
      return label(mark.time);
    }
    maxTickMarkWeight(marks) {
      return marks.reduce((most, mark) => Math.max(most, mark.weight), 0);
    }
    fillWeightsForPoints(points, from) {
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
  candleSeries.setData(candleData());
  let emaSeries = null;
  if (table.ema) {
    emaSeries = chart.addSeries(Charts.LineSeries, {
      color: emaColour, lineWidth: 1, priceFormat, lastValueVisible: false,
      priceLineVisible: false, crosshairMarkerVisible: false,
    });
    emaSeries.setData(emaData());
  }
  const emaLabel = table.emaLabel;
  table.open = table.high = table.low = table.close = table.ema = null;

  // The legend: the candle under the cursor, or else the newest one.
  const legend = document.getElementById('legend');
  function show(index) {
    const candle = candleSeries.dataByIndex(index);
    const average = emaSeries ? emaSeries.dataByIndex(index) : null;
    const field = (name, value) =>
      `<span class="name">${name}</span> ${value === undefined ? '\u2013' : format(value)}`;
    const parts = [
      `<span class="date"></span>`,
      field('O', candle?.open), field('H', candle?.high), field('L', candle?.low),
      field('C', candle?.close),
    ];
    if (emaSeries) {
      parts.push(field(emaLabel, average?.value));
    }
    legend.innerHTML = parts.join('  ');
    legend.firstChild.textContent = labelOf(index);
  }
  chart.subscribeCrosshairMove((move) => {
    show(move.logical !== undefined && move.logical >= 0 && move.logical < count ?
      move.logical : newest);
  });
  show(newest);

  if (unreadable > 0) {
    document.getElementById('note').textContent = unreadable === 1 ?
      '1 row holds nan or inf and is left empty.' :
      `${unreadable} rows hold nan or inf and are left empty.`;
  }

  // It opens as a trading platform does: the newest candles at a readable width, with the
  // future slots in view.
  const timeScale = chart.timeScale();
  const showNewest = () =>
    timeScale.setVisibleLogicalRange({from: newest - newestShown, to: count + 3});
  showNewest();
  // Every row, the future slots too.
  const showAll = () => timeScale.setVisibleLogicalRange({from: -1, to: count});
  document.getElementById('chart').addEventListener('dblclick', showAll);
  document.addEventListener('keydown', (key) => {
    if (key.key === 'f' || key.key === 'F') {
      showAll();
    } else if (key.key === 'End') {
      showNewest();
    }
  });

  document.getElementById('save').addEventListener('click', () => {
    const link = document.createElement('a');
    link.download = (document.title || 'chart') + '.png';
    link.href = chart.takeScreenshot().toDataURL('image/png');
    link.click();
  });

  // For scripts that drive the page (and its tests): the chart, its series, the Date labels,
  // and the time from navigation to the first drawn frame.
  window.vellumbrookChart = {chart, candleSeries, emaSeries, labelOf, count, future, unreadable};
  requestAnimationFrame(() => requestAnimationFrame(() => {
    window.vellumbrookChart.drawnAfter = performance.now();
  }));
})();
