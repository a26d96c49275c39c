#!/usr/bin/env bash
# Files per second and MB/s of the README's many-files recipe (xargs), with 1 and with 2
# processes, on copies of one generated tick file, all measured in one run.
#   usage: bench/many_files.sh [FILES] [LINES]   (default: 16 files of 1,000,000 lines)
set -euo pipefail
cd "$(dirname "$0")/.."
files=${1:-16}
lines=${2:-1000000}

cmake --workflow --preset release >/dev/null
export PATH="$PWD/build/release/src:$PATH"
source_file="bench/data/ticks-$lines.csv"
mkdir -p bench/data
if [ ! -f "$source_file" ]; then
    python3 tools/generate_ticks.py "$lines" "$source_file.tmp" && mv "$source_file.tmp" "$source_file"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/ticks"
for n in $(seq -w 1 "$files"); do
    cp "$source_file" "$work/ticks/T$n.csv"
done
cat "$work"/ticks/*.csv >/dev/null  # into the page cache, as for every other run
megabytes=$(du -m --apparent-size -c "$work"/ticks/*.csv | tail -1 | cut -f1)

echo "| processes | files | MiB | seconds | files/s | MiB/s |"
echo "|---|---|---|---|---|---|"
for processes in 1 2; do
    rm -rf "$work/candles"
    start=$(date +%s.%N)
    (cd "$work" && mkdir -p candles &&
        find ticks -name '*.csv' -print0 | xargs -0 -n 1 -P "$processes" sh -c '
            out=candles/$(basename "$1")
            vellumbrook -f "$1" > "$out" || { rm -f "$out"; echo "failed: $1" >&2; exit 1; }' sh)
    seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
    [ "$(ls "$work/candles" | wc -l)" -eq "$files" ] || { echo "missing tables" >&2; exit 1; }
    awk -v p="$processes" -v f="$files" -v mb="$megabytes" -v s="$seconds" \
        'BEGIN { printf "| %d | %d | %d | %.2f | %.1f | %.0f |\n", p, f, mb, s, f / s, mb / s }'
done
