#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan, UBSan) and runs each for SECONDS seconds,
# starting from the seed corpus in tests/fuzz/corpus/<target>/. New inputs go to a scratch
# folder, so the seed corpus changes only when someone copies a finding into it.
#   usage: tests/fuzz/run.sh [SECONDS]   (default 30)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-30}

cmake --preset fuzz >/dev/null
cmake --build build/fuzz --target fuzz_tick_file fuzz_tick_line fuzz_command_line fuzz_ticks \
    fuzz_ticks_command_line fuzz_compressed -j 2 >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in tick_file tick_line command_line ticks ticks_command_line compressed; do
    mkdir -p "$scratch/$target"
    echo "fuzzing $target for ${seconds}s"
    status=0
    build/fuzz/tests/fuzz/fuzz_$target -max_total_time="$seconds" -rss_limit_mb=2048 \
        -max_len=4096 -timeout=10 -print_final_stats=1 -artifact_prefix="$scratch/" \
        "$scratch/$target" "tests/fuzz/corpus/$target" >"$scratch/$target.log" 2>&1 || status=$?
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$scratch/$target.log" || true
    if [ "$status" -ne 0 ]; then
        tail -40 "$scratch/$target.log" >&2
        ls "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* "$scratch"/oom-* 2>/dev/null >&2 || true
        echo "fuzz_$target failed (status $status)" >&2
        exit 1
    fi
done
echo "fuzz: 6 passed, 0 failed"
