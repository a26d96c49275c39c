#!/usr/bin/env python3
"""Times the converter, the awk yardstick and `wc -l` on each file and prints one table.

usage: measure.py CONVERTER AWK_SCRIPT FILE...
"""
import os
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20
TICKS_PER_CANDLE = 70


def run(argv, stdin_from=None, stdout=None):
    """Seconds and peak resident MiB of one child; with stdin_from, the file is fed to it
    through a pipe by `cat`, which the time includes and the memory does not. The memory is
    read by GNU time: a child forked from this Python would count Python's own pages too."""
    start = time.monotonic()
    report = tempfile.NamedTemporaryFile(mode="r")
    argv = ["/usr/bin/time", "-f", "%M", "-o", report.name] + argv
    with report, open(os.devnull, "wb") as sink:
        feeder = None
        stdin = subprocess.DEVNULL
        if stdin_from:
            feeder = subprocess.Popen(["cat", stdin_from], stdout=subprocess.PIPE)
            stdin = feeder.stdout
        child = subprocess.Popen(argv, stdin=stdin, stdout=stdout or sink)
        if feeder:
            feeder.stdout.close()
        status = child.wait()
        if feeder:
            feeder.wait()
        seconds = time.monotonic() - start
        if status != 0:
            sys.exit(f"{argv} failed with status {status}")
        return seconds, int(report.read().split()[-1]) / 1024


def best_of(runs, argv, **kwargs):
    results = [run(argv, **kwargs) for _ in range(runs)]
    return min(r[0] for r in results), max(r[1] for r in results)


def same_output(converter, awk_script, path):
    """Both CSVs of the default conversion, compared byte for byte; the awk time with it."""
    with tempfile.TemporaryFile() as ours, tempfile.TemporaryFile() as theirs:
        run([converter, "-f", path], stdout=ours)
        seconds, _ = run(["mawk", "-f", awk_script, "FS=@", path, "FS=,", path], stdout=theirs)
        ours.seek(0)
        theirs.seek(0)
        while True:
            a, b = ours.read(MIB), theirs.read(MIB)
            if a != b:
                sys.exit(f"the awk script and the converter disagree on {path}")
            if not a:
                return seconds


def main():
    converter, awk_script, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    header = ("lines", "file MiB", "convert s", "mawk s", "convert/mawk", "-c 1 s", "wc -l s",
              "(-c 1)/wc", "peak MiB", "budget MiB", "pipe s", "pipe peak MiB")
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for path in files:
        size = os.path.getsize(path) / MIB
        runs = 3 if size < 1024 else 1
        with open(path, "rb") as f:
            lines = sum(chunk.count(b"\n") for chunk in iter(lambda: f.read(MIB), b""))
        candles = -(-lines // TICKS_PER_CANDLE)
        budget = 16 + 192 * candles / MIB
        mawk = ["mawk", "-f", awk_script, "FS=@", path, "FS=,", path]
        mawk_seconds = same_output(converter, awk_script, path)
        if runs > 1:
            mawk_seconds = min(mawk_seconds, best_of(runs - 1, mawk)[0])
        wc_seconds, _ = best_of(runs, ["wc", "-l", path])
        convert_seconds, rss = best_of(runs, [converter, "-f", path])
        limited_seconds, _ = best_of(runs, [converter, "-f", path, "-c", "1"])
        pipe_seconds, pipe_rss = best_of(1, [converter, "-f", "/dev/stdin"], stdin_from=path)
        row = (f"{lines}", f"{size:.0f}", f"{convert_seconds:.2f}", f"{mawk_seconds:.2f}",
               f"{convert_seconds / mawk_seconds:.3f}", f"{limited_seconds:.3f}",
               f"{wc_seconds:.3f}", f"{limited_seconds / wc_seconds:.2f}", f"{rss:.0f}",
               f"{budget:.0f}", f"{pipe_seconds:.2f}", f"{pipe_rss:.0f}")
        print("| " + " | ".join(row) + " |", flush=True)
    print("\ntargets: convert/mawk <= 0.25, (-c 1)/wc <= 3, peak and pipe peak <= budget "
          "(16 MiB + 192 bytes per candle of 70 ticks)")


if __name__ == "__main__":
    main()
