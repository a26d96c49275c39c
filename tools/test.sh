#!/usr/bin/env bash
# The whole test suite, as CI runs it:
#   1. g++ release build with warnings as errors, unit and end-to-end tests;
#   2. clang build under AddressSanitizer and UndefinedBehaviorSanitizer, the same tests;
#   2b. clang under ThreadSanitizer, the tests of vellumbrook-ticks, whose pieces are read
#      by several threads, and vellumbrook-chart's large table, read on two;
#   3. the end-to-end cases once more under valgrind's memcheck (leaks count as errors);
#   4. each fuzz target for FUZZ_SECONDS (default 30) seconds;
#   5. the Debian package, built by CPack and checked by lintian (no error, no warning);
#   6. the Windows program, cross-built with mingw-w64, zipped, and tested under Wine: the
#      same unit tests and golden cases, and a user's runs through cmd.exe. A failed test
#      there runs once more: Wine's own loader now and then fails an assertion while the
#      process exits (glibc's "_dl_fini: Assertion ... failed", after the test passed).
# Step 1 also runs the README's recipes for public tick sources as printed, and opens the
# chart pages in headless Chromium; after it, the many-files recipe runs over real ssh to two
# loopback addresses (skipped, with a line saying so, where sshd cannot start).
# Installs the packages that the steps need when they are missing (run as root).
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
command -v clang++ >/dev/null 2>&1 || missing+=(clang)
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || missing+=(libclang-rt-14-dev)
command -v valgrind >/dev/null 2>&1 || missing+=(valgrind)
dpkg -s unzip >/dev/null 2>&1 || missing+=(unzip)
dpkg -s parallel >/dev/null 2>&1 || missing+=(parallel)  # GNU parallel, not moreutils
dpkg -s lintian >/dev/null 2>&1 || missing+=(lintian)
dpkg -s mingw-w64 >/dev/null 2>&1 || missing+=(mingw-w64)
dpkg -s wine >/dev/null 2>&1 || missing+=(wine)
dpkg -s googletest >/dev/null 2>&1 || missing+=(googletest)  # its sources, built for Windows
dpkg -s groff-base >/dev/null 2>&1 || missing+=(groff-base)  # the manual page as text
command -v gnuplot >/dev/null 2>&1 || missing+=(gnuplot-nox)   # the chart recipe
dpkg -s chromium >/dev/null 2>&1 || missing+=(chromium)        # the chart page's browser test
dpkg -s fonts-dejavu-core >/dev/null 2>&1 || missing+=(fonts-dejavu-core)  # its text
command -v npm >/dev/null 2>&1 || missing+=(npm)
dpkg -s zlib1g-dev >/dev/null 2>&1 || missing+=(zlib1g-dev)            # inflating, sanitizer build
dpkg -s libisal-dev >/dev/null 2>&1 || missing+=(libisal-dev)          # inflating, fast
dpkg -s libz-mingw-w64-dev >/dev/null 2>&1 || missing+=(libz-mingw-w64-dev)  # for Windows
dpkg -s openssh-server >/dev/null 2>&1 || missing+=(openssh-server)  # the recipe over ssh
command -v rsync >/dev/null 2>&1 || missing+=(rsync)
if [ ${#missing[@]} -gt 0 ]; then
    apt-get install -y "${missing[@]}"
fi
# puppeteer-core, pinned by tests/chart/package-lock.json, drives Chromium.
if [ ! -d tests/chart/node_modules/puppeteer-core ]; then
    (cd tests/chart && npm ci --no-audit --no-fund)
fi

# Each part says when it ends and how long it took, so that slow parts show.
started=$SECONDS
part() { echo "== $1 done after $((SECONDS - started)) s"; }

cmake --workflow --preset test
part "g++ build and tests"
bash tests/recipes/ssh.sh build/test/src
part "the many-files recipe over ssh"
cmake --workflow --preset sanitize
part "sanitizer build and tests"
cmake --workflow --preset tsan
part "ThreadSanitizer on the threads of vellumbrook-ticks and vellumbrook-chart"
mkdir -p build/test/valgrind
VELLUMBROOK_TEST_WRAPPER="valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all --log-file=$PWD/build/test/valgrind/%p.log" \
    ctest --test-dir build/test -R Golden -j 2 --output-on-failure
part "valgrind"
bash tests/fuzz/run.sh "${FUZZ_SECONDS:-30}"
part "fuzzing"
cmake --workflow --preset release
(cd build/release && rm -f vellumbrook_*.deb && cpack -G DEB >/dev/null)
lintian --fail-on error,warning build/release/vellumbrook_*.deb
echo "package: 1 passed, 0 failed"
part "Debian package"
cmake --workflow --preset windows
part "Windows build and tests under Wine"
