#!/usr/bin/env python3
"""Times the converter, the pattern alone and `wc -l` on each file and prints one table.

usage: measure.py CONVERTER PATTERN_ONLY FILE...
"""
import os
import subprocess
import sys
import time

MIB = 1 << 20


def run(argv):
    """Seconds and peak resident MiB of one child, its output discarded."""
    start = time.monotonic()
    with open(os.devnull, "wb") as sink:
        child = subprocess.Popen(argv, stdout=sink)
        _, status, usage = os.wait4(child.pid, 0)
    seconds = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv} failed with status {status}")
    return seconds, usage.ru_maxrss / 1024


def best_of(runs, argv):
    results = [run(argv) for _ in range(runs)]
    return min(r[0] for r in results), max(r[1] for r in results)


def main():
    converter, pattern_only, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    header = ("lines", "file MiB", "convert s", "peak RSS MiB", "RSS budget", "pattern s",
              "convert/pattern", "-c 1 s", "wc -l s", "(-c 1)/wc")
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for path in files:
        size = os.path.getsize(path) / MIB
        wc_seconds, _ = best_of(3, ["wc", "-l", path])
        with open(path, "rb") as f:
            lines = sum(chunk.count(b"\n") for chunk in iter(lambda: f.read(MIB), b""))
        convert_seconds, rss = best_of(3, [converter, "-f", path])
        limited_seconds, _ = best_of(3, [converter, "-f", path, "-c", "1"])
        pattern = subprocess.run([pattern_only, path], capture_output=True, text=True, check=True)
        pattern_seconds = min(float(pattern.stdout.split()[0]),
                              float(subprocess.run([pattern_only, path], capture_output=True,
                                                   text=True, check=True).stdout.split()[0]))
        budget = 1.5 * size + 64
        row = (f"{lines}", f"{size:.0f}", f"{convert_seconds:.2f}", f"{rss:.0f}",
               f"{rss / budget:.2f} of {budget:.0f}", f"{pattern_seconds:.2f}",
               f"{convert_seconds / pattern_seconds:.2f}", f"{limited_seconds:.2f}",
               f"{wc_seconds:.3f}", f"{limited_seconds / wc_seconds:.1f}")
        print("| " + " | ".join(row) + " |", flush=True)
    print("\ntargets: RSS budget <= 1.00 (1.5 x file + 64 MiB), convert/pattern <= 1.30, "
          "(-c 1)/wc <= 10")


if __name__ == "__main__":
    main()
