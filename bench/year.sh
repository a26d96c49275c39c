#!/usr/bin/env bash
# A year of one symbol as a vendor publishes it, twelve monthly files in TrueFX's layout
# (150,000,000 ticks; about 6.9 GB unzipped), from the files to the candle table: today's
# one-command chain of the tools (unzip -p | vellumbrook-ticks - | vellumbrook) against
# vellumbrook-ticks --candles on the zips and on the unzipped files, one month against the
# converter on its tick table, the tick table itself from the zips, and peak memory against
# the budget of 32 MiB + 192 bytes a kept candle. Commands run in turn, best of 3, each once
# the disk has settled and the inputs are in the page cache again. The script
# stops on any difference between the chain's table and --candles'.
#   usage: bench/year.sh [--wine]   (files are made once in bench/data/year/)
set -euo pipefail
cd "$(dirname "$0")/.."
wine=0
[ "${1:-}" = "--wine" ] && wine=1
build=build/test
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset test >/dev/null
fi
cmake --build "$build" --target vellumbrook vellumbrook-ticks -j 2 >/dev/null
bin=$build/src
for tool in mawk time zip unzip; do
    dpkg -s "$tool" >/dev/null 2>&1 || apt-get install -y "$tool" >/dev/null
done

data=bench/data/year
mkdir -p "$data"
for month in 01 02 03 04 05 06 07 08 09 10 11 12; do
    csv=$data/EURUSD-2023-$month.csv
    if [ ! -f "$data/EURUSD-2023-$month.zip" ]; then
        echo "generating $csv and its zip ..." >&2
        # 12,500,000 ticks in 28 days, so that every month holds them.
        mawk -v seed="$month" -v n=12500000 -v month="$month" 'BEGIN {
            srand(seed); bid = 110000 + 100 * month; t = 0
            for (i = 0; i < n; i++) {
                t += 37 + int(rand() * 300); s = int(t / 1000); ms = t % 1000
                bid += int(rand() * 7) - 3
                printf "EUR/USD,2023%02d%02d %02d:%02d:%02d.%03d,1.%05d,1.%05d\n", month,
                       1 + int(s / 86400), int(s / 3600) % 24, int(s / 60) % 60, s % 60, ms,
                       bid % 100000, (bid + 3) % 100000
            }
        }' >"$csv.tmp"
        mv "$csv.tmp" "$csv"
        (cd "$data" && zip -q -6 "EURUSD-2023-$month.zip.tmp" "EURUSD-2023-$month.csv" &&
            mv "EURUSD-2023-$month.zip.tmp" "EURUSD-2023-$month.zip")
    fi
done
zips=("$data"/EURUSD-2023-*.zip)
csvs=("$data"/EURUSD-2023-*.csv)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

chain() {  # today's one command line, from the zips to the table; converter letters after
    for z in "${zips[@]}"; do unzip -p "$z"; done |
        "$bin/vellumbrook-ticks" --from=truefx - | "$bin/vellumbrook" -f /dev/stdin "$@"
}
candles() { "$bin/vellumbrook-ticks" --from=truefx "$@" --candles; }

echo "checking that the chain and --candles give the same bytes ..." >&2
cmp -s <(chain) <(candles "${zips[@]}") || { echo "the chain and --candles differ" >&2; exit 1; }
cmp -s <(chain -t 7 -c 50 -m 3 -i 2 -j 5) \
    <(candles "${zips[@]}" --ticks-per-candle=7 --keep-candles=50 --future-rows=3 \
        --ema-offset=2 --ema-span=5) || { echo "the chain and --candles differ (-t 7 ...)" >&2; exit 1; }
cmp -s <(candles "${csvs[@]}") <(candles "${zips[@]}") || { echo "csv and zip differ" >&2; exit 1; }
month=$data/EURUSD-2023-01.csv
"$bin/vellumbrook-ticks" --from=truefx "$month" -o "$scratch/month-ticks.csv"

names=(chain zips csvs month convert table unzip-table)
commands=(
    "chain"
    "candles ${zips[*]}"
    "candles ${csvs[*]}"
    "candles $month"
    "$bin/vellumbrook -f $scratch/month-ticks.csv"
    "$bin/vellumbrook-ticks --from=truefx ${zips[*]}"
    "for z in ${zips[*]}; do unzip -p \$z; done | $bin/vellumbrook-ticks --from=truefx -"
)
declare -A best
# Before each timed command, untimed: what earlier commands left to write reaches the disk,
# and the inputs are read into the page cache again (the temporary copies that the chain
# and the pipe make can push them out), so that each command is timed on its own work.
settle() {
    sync
    cat "${zips[@]}" "${csvs[@]}" "$scratch/month-ticks.csv" >/dev/null
}
for round in 1 2 3; do
    for i in "${!names[@]}"; do
        settle
        start=$(date +%s.%N)
        eval "${commands[$i]}" >/dev/null
        end=$(date +%s.%N)
        best[${names[$i]}]=$(echo "$start $end ${best[${names[$i]}]:-999}" |
            awk '{ t = $2 - $1; printf "%.2f", (t < $3 ? t : $3) }')
    done
    echo "round $round done" >&2
done
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1 | awk '{ printf "%.0f", $1 / 1024 }'; }
zipPeak=$(peak "$bin/vellumbrook-ticks" --from=truefx "${zips[@]}" --candles)
pipePeak=$(peak bash -c "cat ${csvs[*]} | $bin/vellumbrook-ticks --from=truefx - --candles")
kept=$(candles "${zips[@]}" --no-header | wc -l)
budget=$(echo "$kept" | awk '{ printf "%.0f", 32 + $1 * 192 / 1048576 }')
ratio() { echo "$1 $2" | awk '{ printf "%.2f", $1 / $2 }'; }

echo "| chain s | zips --candles s | zips/chain | csvs --candles s | month --candles s | month convert s | month/convert | zips tick table s | unzip -p tick table s | peak MiB zips | peak MiB pipe | budget MiB |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
echo "| ${best[chain]} | ${best[zips]} | $(ratio "${best[zips]}" "${best[chain]}") | ${best[csvs]} | ${best[month]} | ${best[convert]} | $(ratio "${best[month]}" "${best[convert]}") | ${best[table]} | ${best[unzip-table]} | $zipPeak | $pipePeak | $budget |"

if [ "$wine" -eq 1 ]; then
    cmake --preset windows >/dev/null
    cmake --build build/windows --target vellumbrook-ticks -j 2 >/dev/null
    export WINEDEBUG=-all
    exe=build/windows/src/vellumbrook-ticks.exe
    zip1=$data/EURUSD-2023-01.zip
    cmp -s <(wine "$exe" --from=truefx "$zip1" --candles) <(candles "$zip1") ||
        { echo "the Windows program differs" >&2; exit 1; }
    linux=999
    windows=999
    for _ in 1 2 3; do
        start=$(date +%s.%N); candles "$zip1" >/dev/null; end=$(date +%s.%N)
        linux=$(echo "$start $end $linux" | awk '{ t = $2 - $1; printf "%.2f", (t < $3 ? t : $3) }')
        start=$(date +%s.%N); wine "$exe" --from=truefx "$zip1" --candles >/dev/null; end=$(date +%s.%N)
        windows=$(echo "$start $end $windows" | awk '{ t = $2 - $1; printf "%.2f", (t < $3 ? t : $3) }')
    done
    echo
    echo "| one month's zip --candles | Linux s | Wine s | same bytes |"
    echo "|---|---|---|---|"
    echo "| EURUSD-2023-01.zip | $linux | $windows | yes |"
fi
