#!/usr/bin/env bash
# The Windows program as a user meets it, run under Wine: fed through a cmd.exe pipe, given
# a file name beyond ASCII, reading a file that another process holds open for writing,
# linked against no DLL but Windows' own, unzipped from the release zip, and giving the Linux
# build's bytes on a 1,000,000-line file and the same chart page. Every output goes to a file, never through a pipe
# that Wine's background programs could hold open.
#   usage: tests/windows/run.sh EXE BUILDDIR
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exe=${1:?usage: run.sh EXE BUILDDIR}
build=${2:?usage: run.sh EXE BUILDDIR}
wine_run="$root/cmake/wine-run.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

passed=0
failed=0
skipped=0
check() {  # NAME EXPECTED-FILE GOT-FILE
    if cmp -s "$2" "$3"; then
        passed=$((passed + 1))
        echo "ok: $1"
    else
        failed=$((failed + 1))
        echo "FAILED: $1"
        diff <(head -c 2000 "$2") <(head -c 2000 "$3") | head -20
    fi
}

sample="$root/tests/golden/stdin_pipe"
cp "$sample/stdin" ticks.csv
cp "$exe" vellumbrook.exe

# cmd's own pipe into standard input, named /dev/stdin as in the README's recipes.
"$wine_run" cmd /c "type ticks.csv | vellumbrook.exe -f /dev/stdin -t 4 -j 3" \
    </dev/null >piped.csv 2>piped.err
check "a cmd.exe pipe into -f /dev/stdin" "$sample/stdout" piped.csv

# The name reaches the program as the UTF-8 text typed, through the manifest's code page.
cp ticks.csv "тики €.csv"
"$wine_run" vellumbrook.exe -f "тики €.csv" -t 4 -j 3 </dev/null >named.csv 2>named.err
check "a file name beyond ASCII" "$sample/stdout" named.csv

# cmd holds ticks.csv open for appending while the program inside the block reads it.
"$wine_run" cmd /c "(vellumbrook.exe -f ticks.csv -t 4 -j 3 > held.csv) >> ticks.csv" \
    </dev/null >held.out 2>held.err
check "a file held open for writing by another process" "$sample/stdout" held.csv

# One static program: Windows' own DLLs only.
x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort >dlls.txt
printf '%s\n' KERNEL32.dll msvcrt.dll >system-dlls.txt
if [ -s dlls.txt ] && [ -z "$(comm -23 dlls.txt system-dlls.txt)" ]; then
    passed=$((passed + 1))
    echo "ok: needs only $(tr '\n' ' ' <dlls.txt)"
else
    failed=$((failed + 1))
    echo "FAILED: needs $(tr '\n' ' ' <dlls.txt)"
fi

# The release zip, unzipped as a user would, converts the sample.
zip=$(ls "$build"/vellumbrook-*-win64.zip 2>/dev/null | head -n 1)
if [ -n "$zip" ]; then
    mkdir unzipped
    (cd unzipped && unzip -q "$zip")
    folder=$(basename "$zip" .zip)
    "$wine_run" "unzipped/$folder/vellumbrook.exe" -f "$root/examples/ticks.csv" \
        </dev/null >from-zip.csv 2>from-zip.err
    "$wine_run" vellumbrook.exe -f "$root/examples/ticks.csv" </dev/null >built.csv 2>built.err
    check "the zip's program on examples/ticks.csv" built.csv from-zip.csv
    # The second program on a vendor file, its recipe as a cmd.exe user types it.
    cp "$root/examples/sources/mt5/EURUSD_ticks.csv" mt5.csv
    cp "unzipped/$folder/vellumbrook-ticks.exe" .
    "$wine_run" cmd /c "vellumbrook-ticks.exe --from=mt5-export mt5.csv -o mt5-ticks.csv && vellumbrook.exe -f mt5-ticks.csv -t 10" \
        </dev/null >mt5-table.csv 2>mt5.err
    check "the zip's vellumbrook-ticks.exe on the MetaTrader sample" \
        "$root/examples/sources/mt5/expected.csv" mt5-table.csv
    for file in README.md LICENSE vellumbrook.txt vellumbrook-ticks.exe vellumbrook-ticks.txt \
        vellumbrook-chart.exe vellumbrook-chart.txt lightweight-charts-LICENSE.txt \
        lightweight-charts-NOTICE.txt; do
        [ -s "unzipped/$folder/$file" ] || { failed=$((failed + 1)); echo "FAILED: no $file in the zip"; }
    done
else
    failed=$((failed + 1))
    echo "FAILED: no vellumbrook-*-win64.zip in $build (make it with cpack -G ZIP)"
fi

# The same bytes as the Linux build, on a large file and two option sets.
linux=""
for candidate in "$root/build/test/src/vellumbrook" "$root/build/release/src/vellumbrook"; do
    if [ -x "$candidate" ]; then linux=$candidate; break; fi
done
if [ -n "$linux" ]; then
    python3 "$root/tools/generate_ticks.py" 1000000 large.csv
    for options in "" "-t 7 -c 50 -m 3 -i 2 -j 5"; do
        # shellcheck disable=SC2086
        "$linux" -f large.csv $options >linux.csv 2>&1
        # shellcheck disable=SC2086
        "$wine_run" vellumbrook.exe -f large.csv $options </dev/null >windows.csv 2>&1
        check "1,000,000 lines ${options:-(defaults)} as on Linux" linux.csv windows.csv
    done
    # The chart page of a table, byte for byte the Linux build's.
    cp "$(dirname "$exe")/vellumbrook-chart.exe" .
    "$(dirname "$linux")/vellumbrook-chart" linux.csv -o linux.html >chart.out 2>&1
    "$wine_run" vellumbrook-chart.exe linux.csv -o windows.html </dev/null >chart.out 2>&1
    check "the chart page of a table as on Linux" linux.html windows.html
else
    skipped=$((skipped + 1))
    echo "skipped: no Linux build to compare with (build the test or release preset first)"
fi

echo "windows: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
