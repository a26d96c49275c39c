#!/usr/bin/env bash
# vellumbrook-ticks on large vendor files, as ratios measured in one run on this machine:
# alone against `tac FILE > /dev/null`; with the conversion (`vellumbrook-ticks ... -o F &&
# vellumbrook -f F`) against the converter on a file already in its input layout; peak
# memory. Today's shell recipe runs beside it. Each time is the best of five runs.
#   usage: bench/ticks.sh [TICKS]   (default 10000000; files are made once in bench/data/)
set -euo pipefail
cd "$(dirname "$0")/.."
ticks=${1:-10000000}
build=build/test
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset test >/dev/null
fi
cmake --build "$build" --target vellumbrook vellumbrook-ticks -j 2 >/dev/null
bin=$build/src
mkdir -p bench/data
if [ ! -f "bench/data/histdata-$ticks.csv" ] || [ ! -f "bench/data/truefx-$ticks.csv" ]; then
    echo "generating bench/data/{truefx,histdata}-$ticks.csv ..." >&2
    python3 tools/make_source_samples.py --bench "$ticks" bench/data
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

best() {  # COMMAND...: the least wall time of five runs, in seconds
    local least=""
    for _ in 1 2 3 4 5; do
        local start end
        # A run writes its output file anew, as a user's first run does: removing a file of
        # that size costs the file system about a tenth of a second more, whoever replaces it.
        rm -f "$scratch/out.csv"
        start=$(date +%s.%N)
        "$@" >/dev/null
        end=$(date +%s.%N)
        least=$(echo "$start $end ${least:-999}" | awk '{ t = $2 - $1; print (t < $3 ? t : $3) }')
    done
    printf '%.2f' "$least"
}
peak() {  # COMMAND...: peak resident memory in MiB
    /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1 | awk '{ printf "%.0f", $1 / 1024 }'
}
ratio() { echo "$1 $2" | awk '{ printf "%.2f", $1 / $2 }'; }

echo "| layout | ticks | tac s | ticks s | ticks/tac | ticks+convert s | ready convert s | (ticks+convert)/ready | peak MiB | today's recipe s |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for layout in truefx histdata; do
    file=bench/data/$layout-$ticks.csv
    ready=$scratch/ready.csv
    "$bin/vellumbrook-ticks" --from="$layout" "$file" -o "$ready"
    if [ "$layout" = truefx ]; then
        recipe="tac $file | $bin/vellumbrook -f /dev/stdin"
    else
        recipe="tac $file | awk -F, '{ print \"EURUSD,\" \$1 \",\" \$2 \",\" \$3 }' | $bin/vellumbrook -f /dev/stdin"
    fi
    # The recipe must give the very table that the new way gives.
    cmp -s <(bash -o pipefail -c "$recipe") <("$bin/vellumbrook" -f "$ready") ||
        { echo "the $layout recipe and vellumbrook-ticks disagree" >&2; exit 1; }
    tac_s=$(best tac "$file")
    ticks_s=$(best "$bin/vellumbrook-ticks" --from="$layout" "$file")
    both_s=$(best sh -c "$bin/vellumbrook-ticks --from=$layout $file -o $scratch/out.csv && $bin/vellumbrook -f $scratch/out.csv")
    ready_s=$(best "$bin/vellumbrook" -f "$ready")
    recipe_s=$(best bash -o pipefail -c "$recipe")
    memory=$(peak "$bin/vellumbrook-ticks" --from="$layout" "$file")
    echo "| $layout | $ticks | $tac_s | $ticks_s | $(ratio "$ticks_s" "$tac_s") | $both_s | $ready_s | $(ratio "$both_s" "$ready_s") | $memory | $recipe_s |"
done
