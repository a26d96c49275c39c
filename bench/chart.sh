#!/usr/bin/env bash
# vellumbrook-chart on the 10,000,000-tick file of bench/run.sh, at 70 ticks a candle
# (142,858 candles) and at -t 10 (1,000,000), and on a year of zipped months (2,142,860
# candles, when bench/year.sh has made them), as figures measured in one run:
#   - writing the page against the conversion that made its table (each the best of three,
#     its output file removed before each run, as a user's first run finds none);
#   - the page's size against the table's plus the charting library's;
#   - in headless Chromium, the time from navigation to the first drawn frame (of the newest
#     candles, which come first) and to the whole table read, the JavaScript heap after a
#     garbage collection, and the times from F (fit everything) and
#     then End (the newest candles) to the frame after the one they change
#     (tests/chart/browser.mjs --measure, the best of three, each in a fresh browser).
#   usage: bench/chart.sh
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/test
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset test >/dev/null
fi
cmake --build "$build" --target vellumbrook vellumbrook-chart -j 2 >/dev/null
if [ ! -d tests/chart/node_modules/puppeteer-core ]; then
    (cd tests/chart && npm ci --no-audit --no-fund >/dev/null)
fi
ticks=bench/data/ticks-10000000.csv
if [ ! -f "$ticks" ]; then
    mkdir -p bench/data
    echo "generating $ticks ..." >&2
    python3 tools/generate_ticks.py 10000000 "$ticks.tmp" && mv "$ticks.tmp" "$ticks"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The best of three wall times of a command whose output file is removed before each run.
best() {  # OUTPUT COMMAND...
    local output=$1 fastest="" started elapsed
    shift
    for _ in 1 2 3; do
        rm -f "$output"
        started=$(date +%s.%N)
        "$@"
        elapsed=$(echo "$(date +%s.%N) - $started" | bc -l)
        if [ -z "$fastest" ] || [ "$(echo "$elapsed < $fastest" | bc -l)" = 1 ]; then
            fastest=$elapsed
        fi
    done
    printf '%.2f' "$fastest"
}
mib() { echo "scale=1; $(stat -c %s "$1") / 1048576" | bc -l; }

library=$(stat -c %s third_party/lightweight-charts/lightweight-charts.standalone.production.js)
echo "| candles | convert s | chart s | chart/convert | table MiB | page MiB | page/(table+library) | first frame s | all read s | heap MiB | fit all s | back to newest s |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
# One row: the table that COMMAND... writes to TABLE, its page, and the page in Chromium.
row() {  # TABLE COMMAND...
    local table=$1 page=$1.html convert chart candles size frame heap fit back whole
    shift
    convert=$(best "$table" sh -c "$* > $table")
    chart=$(best "$page" "$build/src/vellumbrook-chart" "$table" -o "$page")
    candles=$(($(wc -l <"$table") - 2))
    size=$(echo "scale=3; $(stat -c %s "$page") / ($(stat -c %s "$table") + $library)" | bc -l)
    read -r _ frame heap fit back whole < <(node tests/chart/browser.mjs --measure "$page")
    printf '| %d | %s | %s | %.2f | %s | %s | %.3f | %s | %s | %s | %s | %s |\n' "$candles" \
        "$convert" "$chart" "$(echo "$chart / $convert" | bc -l)" "$(mib "$table")" \
        "$(mib "$page")" "$size" "$frame" "$whole" "$heap" "$fit" "$back"
    rm -f "$table" "$page"
}
for ticksPerCandle in 70 10; do
    row "$work/table-$ticksPerCandle.csv" "$build/src/vellumbrook" -f "$ticks" -t "$ticksPerCandle"
done
# A year of one symbol at 70 ticks a candle (2,142,860 candles), from the zips of
# bench/year.sh, as vellumbrook-ticks --candles makes its table.
if ls bench/data/year/EURUSD-2023-*.zip >/dev/null 2>&1; then
    cmake --build "$build" --target vellumbrook-ticks -j 2 >/dev/null
    row "$work/table-year.csv" "$build/src/vellumbrook-ticks" --from=truefx --candles \
        bench/data/year/EURUSD-2023-*.zip
else
    echo "(no year's row: bash bench/year.sh makes its zips in bench/data/year/ first)"
fi
