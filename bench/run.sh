#!/usr/bin/env bash
# Speed and memory of the converter on large generated tick files, as ratios measured in one
# run on this machine: against the tick pattern matched alone and against `wc -l`.
#   usage: bench/run.sh [LINES ...]     (default: 1000000 10000000)
#          bench/run.sh --hostile       (huge lines, garbage, extreme options; checked)
# Files are generated once into bench/data/ (about 47 bytes a line) and reused.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/test
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset test >/dev/null
fi
cmake --build "$build" --target vellumbrook pattern_only -j 2 >/dev/null

if [ "${1:-}" = "--hostile" ]; then
    exec python3 bench/hostile.py "$build/src/vellumbrook"
fi

mkdir -p bench/data
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000000 10000000)
files=()
for lines in "${sizes[@]}"; do
    file="bench/data/ticks-$lines.csv"
    if [ ! -f "$file" ]; then
        echo "generating $file ..." >&2
        python3 tools/generate_ticks.py "$lines" "$file.tmp" && mv "$file.tmp" "$file"
    fi
    files+=("$file")
done

python3 bench/measure.py "$build/src/vellumbrook" "$build/bench/pattern_only" "${files[@]}"
