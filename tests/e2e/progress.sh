#!/usr/bin/env bash
# The progress line under a pseudo-terminal: during a slow run (a pipe that pauses) it shows
# on standard error, it is wiped before the first CSV line, and the CSV bytes are those of a
# run without a terminal; with standard error redirected, not one byte of it is written.
#   usage: tests/e2e/progress.sh BINARY
set -uo pipefail
binary=${1:?usage: progress.sh BINARY}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for part in 1 2; do
    for ((i = 0; i < 200000; i++)); do echo "EURUSD,t$part-$i,1.$((i % 97 + 100)),x"; done >"part$part.csv"
done
cat part1.csv part2.csv | "$binary" -f /dev/stdin >plain.csv
slow="{ cat part1.csv; sleep 1.6; cat part2.csv; } | $binary -f /dev/stdin >tty.csv"
script -qec "$slow" typescript >/dev/null
script -qec "$slow 2>err.txt" redirected >/dev/null

failed=0
check() {  # WHAT CONDITION...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=$((failed + 1)); fi
}
check "the CSV under a terminal is the CSV without one" cmp -s plain.csv tty.csv
check "the status line showed" grep -q "vellumbrook: counting lines: .* MiB so far, .* MiB/s" typescript
# What reached the terminal, script's own first and last lines left out: status lines, each
# after a CR, then blanks that wipe the last one and a CR back.
check "the status line was wiped" python3 -c '
import re, sys
text = open("typescript", "rb").read().decode()
body = text.split("\n", 1)[1].rsplit("\n", 2)[0]
sys.exit(0 if re.fullmatch(r"(\r[^\r\n]+)+\r +\r\r?", body) else 1)'
check "redirected, nothing of it is written" test ! -s err.txt
check "redirected, the CSV is the same" cmp -s plain.csv tty.csv
echo "progress: $((5 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
