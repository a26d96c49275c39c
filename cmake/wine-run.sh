#!/bin/sh
# Runs a Windows program under Wine for CTest and GoogleTest's test discovery.
#
# Wine makes its prefix on first use (about 13 s), and a run that has to start the Wine
# server also starts Wine's own background programs, which inherit that run's standard
# output and hold a reading pipe open long after the program has ended. So, once and under a
# lock that parallel runs share: the prefix is made, and a server is started that stays up
# 30 s after its last program, with Wine's programs started away from any pipe. Every run
# after that finds it warm.
set -eu
export WINEDEBUG="${WINEDEBUG:--all}"
prefix="${WINEPREFIX:-$HOME/.wine}"
mkdir -p "$(dirname "$prefix")"
# What Wine leaves running must not inherit the lock (descriptor 9), or it would hold it.
(
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
        wine wineboot --init </dev/null >/dev/null 2>&1 9>&- || true
        wineserver -w </dev/null >/dev/null 2>&1 9>&- || true
    fi
    if wineserver -p30 </dev/null >/dev/null 2>&1 9>&-; then
        wine wineboot </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$prefix.vellumbrook-lock"
exec wine "$@"
