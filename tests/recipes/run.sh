#!/usr/bin/env bash
# Runs every recipe of the README and of doc/*.md exactly as it is printed there and compares what it makes
# with what is expected, so that a recipe edited into something that no longer works fails
# the tests. A recipe is the ```sh block right after a line
#     <!-- recipe: FOLDER -->      or      <!-- recipe: FOLDER status=N -->
# It runs in a scratch copy of examples/sources/FOLDER/, with the converter of BINDIR first
# on PATH, under bash with pipefail. Its standard output must equal FOLDER/expected.csv;
# where FOLDER/expected/ is a folder instead, the recipe's candles/ folder must equal it,
# and every line of FOLDER/expected.stderr, when present, must stand in its standard error.
# Where FOLDER/expected.chart holds "WIDTH HEIGHT" instead, the recipe must leave candles.png
# of that size whose pixels are not all one colour. Where FOLDER/expected.page is present,
# the recipe must leave chart.html, a whole page whose data are the rows of
# FOLDER/expected.csv. Its exit status must be N (default 0).
# With --windows, the ```bat block after each <!-- recipe-windows: FOLDER --> line runs
# instead, under Wine's cmd.exe, with the .exe programs of BINDIR beside the sample. Wine has
# no tar: a leading "tar -xf ZIP &&" is done by unzip before the rest runs.
#   usage: tests/recipes/run.sh [--windows] BINDIR
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
windows=""
if [ "${1:-}" = --windows ]; then
    windows=yes
    shift
fi
bindir=$(cd "${1:?usage: run.sh [--windows] BINDIR}" && pwd)
export PATH="$bindir:$PATH"

# Each recipe as: folder, status, then its text, NUL-terminated.
recipes() {
    local marker="recipe:" block="sh"
    if [ -n "$windows" ]; then
        marker="recipe-windows:" block="bat"
    fi
    awk -v marker="$marker" -v block="$block" '
        $1 == "<!--" && $2 == marker { folder = $3; status = 0
                           if ($4 ~ /^status=/) { status = substr($4, 8) }
                           pending = 1; next }
        pending && $0 == "```" block { inside = 1; pending = 0; text = ""; next }
        inside && /^```$/ { printf "%s\n%s\n%s%c", folder, status, text, 0; inside = 0; next }
        inside { text = text $0 "\n" }
    ' "$root/README.md" "$root"/doc/*.md
}

run() {  # TEXT: runs the recipe in the current folder
    if [ -z "$windows" ]; then
        bash -o pipefail -c "$1"
        return
    fi
    local text=$1
    if [[ $text =~ ^tar\ -xf\ ([^ ]+)\ \&\&\ (.*)$ ]]; then
        unzip -q "${BASH_REMATCH[1]}" || return
        text=${BASH_REMATCH[2]}
    fi
    cp "$bindir"/*.exe .
    "$root/cmake/wine-run.sh" cmd /c "$text" </dev/null
}

passed=0
failed=0
while IFS= read -r -d '' recipe; do
    folder=$(sed -n 1p <<<"$recipe")
    want_status=$(sed -n 2p <<<"$recipe")
    text=$(sed 1,2d <<<"$recipe")
    samples="$root/examples/sources/$folder"
    work=$(mktemp -d)
    cp -R "$samples/." "$work/"
    rm -rf "$work/expected" "$work/expected.csv" "$work/expected.stderr"
    (cd "$work" && run "$text") >"$work.out" 2>"$work.err"
    status=$?
    problem=""
    if [ "$status" != "$want_status" ]; then
        problem="exit status $status, expected $want_status"
    elif [ -f "$samples/expected.chart" ]; then
        # A chart: candles.png of the stated WIDTH HEIGHT whose pixels are not all one colour.
        python3 - "$work/candles.png" $(cat "$samples/expected.chart") <<'PY' || problem="candles.png is not the chart"
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n"
width, height = struct.unpack(">II", data[16:24])
assert (width, height) == (int(sys.argv[2]), int(sys.argv[3])), (width, height)
pixels, at = b"", 8
while at < len(data):
    size, kind = struct.unpack(">I4s", data[at:at + 8])
    pixels += data[at + 8:at + 8 + size] if kind == b"IDAT" else b""
    at += 12 + size
assert len(set(zlib.decompress(pixels))) > 8, "one colour"
PY
    elif [ -f "$samples/expected.page" ]; then
        # A chart page: complete, and holding the rows of the table, in the table's order.
        python3 - "$work/chart.html" "$samples/expected.csv" <<'PY' || problem="chart.html is not the page of expected.csv"
import json, re, sys
page = open(sys.argv[1], encoding="utf-8").read()
assert page.startswith("<!DOCTYPE html>") and page.endswith("</html>\n")
block = lambda name: json.loads(re.search(r'<script type="application/json" id="%s">(.*?)</script>' % name, page, re.S).group(1))
# The newest rows come in a block of their own, which holds them all when the table is small.
data = block("table") or block("newest")
assert data["skipped"] == 0
rows = [line.split(",") for line in open(sys.argv[2]).read().splitlines()[1:]]
assert data["dates"].split("\n") == [row[0] for row in rows]
assert data["close"] == [float(row[4]) for row in rows]
PY
    elif [ -d "$samples/expected" ]; then
        diff -r "$samples/expected" "$work/candles" >/dev/null || problem="candles/ differs"
    elif ! cmp -s "$samples/expected.csv" "$work.out"; then
        problem="standard output differs from expected.csv"
    fi
    if [ -z "$problem" ] && [ -f "$samples/expected.stderr" ] &&
        [ -n "$(comm -23 <(sort "$samples/expected.stderr") <(sort "$work.err"))" ]; then
        problem="standard error lacks lines of expected.stderr"
    fi
    if [ -n "$problem" ]; then
        failed=$((failed + 1))
        printf 'FAILED recipe for %s: %s\n%s\n--- stderr:\n%s\n' "$folder" "$problem" "$text" \
            "$(head -20 "$work.err")" >&2
    else
        passed=$((passed + 1))
        echo "recipe for $folder: ok"
    fi
    rm -rf "$work" "$work.out" "$work.err"
done < <(recipes)

if [ $((passed + failed)) -eq 0 ]; then
    echo "no recipe found in README.md or doc/*.md" >&2
    exit 1
fi
echo "recipes: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
