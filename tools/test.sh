#!/usr/bin/env bash
# The whole test suite, as CI runs it:
#   1. g++ release build with warnings as errors, unit and end-to-end tests;
#   2. clang build under AddressSanitizer and UndefinedBehaviorSanitizer, the same tests;
#   3. each fuzz target for FUZZ_SECONDS (default 30) seconds.
# Installs the packages that steps 2 and 3 need when they are missing (run as root).
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
command -v clang++ >/dev/null 2>&1 || missing+=(clang)
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || missing+=(libclang-rt-14-dev)
if [ ${#missing[@]} -gt 0 ]; then
    apt-get install -y "${missing[@]}"
fi

cmake --workflow --preset test
cmake --workflow --preset sanitize
if [ -f tests/fuzz/run.sh ]; then
    bash tests/fuzz/run.sh "${FUZZ_SECONDS:-30}"
fi
