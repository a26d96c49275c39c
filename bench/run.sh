#!/usr/bin/env bash
# Speed and memory of the converter on large generated tick files, as ratios measured in one
# run on this machine: against `cat FILE > /dev/null` (one reading of the bytes), an awk
# script doing the same default conversion (under mawk) and `wc -l`; peak memory against its
# budget of 16 MiB + 192 bytes per kept candle, for the file and for the same bytes through a
# pipe.
#   usage: bench/run.sh [LINES ...]     (default: 1000000 10000000)
#          bench/run.sh --huge          (adds the 10,000,000-line file ten times over:
#                                        100,000,000 lines, about 4.7 GB of disk)
#          bench/run.sh --against=REV   (also builds commit REV in a worktree, times it beside
#                                        this build and checks that both write the same bytes)
#          bench/run.sh --wine          (also the Windows build under Wine, on the files under
#                                        1 GiB: the same bytes, and its time)
#          bench/run.sh --hostile       (huge lines, garbage, extreme options; checked)
# Files are generated once into bench/data/ (about 47 bytes a line) and reused.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/test
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset test >/dev/null
fi
cmake --build "$build" --target vellumbrook -j 2 >/dev/null

if [ "${1:-}" = "--hostile" ]; then
    exec python3 bench/hostile.py "$build/src/vellumbrook"
fi
for tool in mawk time; do
    if ! dpkg -s "$tool" >/dev/null 2>&1; then
        apt-get install -y "$tool" >/dev/null
    fi
done

huge=0
sizes=()
compare=()
for word in "$@"; do
    case "$word" in
        --huge) huge=1 ;;
        --against=*)
            rev=${word#--against=}
            tree=bench/data/against-$rev
            if [ ! -d "$tree" ]; then
                git worktree add --detach "$tree" "$rev" >/dev/null
            fi
            cmake -S "$tree" -B "$tree/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
            cmake --build "$tree/build" --target vellumbrook -j 2 >/dev/null
            compare+=(--against "$tree/build/src/vellumbrook")
            ;;
        --wine)
            cmake --preset windows >/dev/null
            cmake --build build/windows --target vellumbrook -j 2 >/dev/null
            compare+=(--windows build/windows/src/vellumbrook.exe)
            export WINEDEBUG=-all
            ;;
        *) sizes+=("$word") ;;
    esac
done
[ ${#sizes[@]} -gt 0 ] || sizes=(1000000 10000000)
if [ "$huge" -eq 1 ] && [[ " ${sizes[*]} " != *" 10000000 "* ]]; then
    sizes+=(10000000)  # the huge file is made from it
fi

mkdir -p bench/data
files=()
for lines in "${sizes[@]}"; do
    file="bench/data/ticks-$lines.csv"
    if [ ! -f "$file" ]; then
        echo "generating $file ..." >&2
        python3 tools/generate_ticks.py "$lines" "$file.tmp" && mv "$file.tmp" "$file"
    fi
    files+=("$file")
done
if [ "$huge" -eq 1 ]; then
    file=bench/data/ticks-100000000.csv
    if [ ! -f "$file" ]; then
        echo "generating $file ..." >&2
        for _ in 1 2 3 4 5 6 7 8 9 10; do cat bench/data/ticks-10000000.csv; done >"$file.tmp"
        mv "$file.tmp" "$file"
    fi
    files+=("$file")
fi

python3 bench/measure.py "${compare[@]}" "$build/src/vellumbrook" bench/convert.awk "${files[@]}"
