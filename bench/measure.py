#!/usr/bin/env python3
"""Times the converter, the awk yardstick, `cat` and `wc -l` on each file and prints one table.

usage: measure.py [--against CONVERTER] [--windows EXE] CONVERTER AWK_SCRIPT FILE...

--against times another build of the converter beside this one and checks that both write the
same bytes; --windows does the same for the Windows build under Wine, on files under 1 GiB.
`cat`, the conversion, `wc -l`, `-c 1` and the other build run in turn, and each gets the best
of its 5 runs (3 for a file of 1 GiB or more), so that the ratios compare runs of one spell.
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
        # Wine's own notes on its setup are no part of the measurement.
        stderr = subprocess.DEVNULL if "wine" in argv else None
        child = subprocess.Popen(argv, stdin=stdin, stdout=stdout or sink, stderr=stderr)
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


def best_of_each(runs, argvs):
    """best_of for each command, their runs taken in turn, so that a slow spell of a shared
    machine falls on all of them alike."""
    results = [[] for _ in argvs]
    for _ in range(runs):
        for argv, taken in zip(argvs, results):
            taken.append(run(argv))
    return [(min(r[0] for r in taken), max(r[1] for r in taken)) for taken in results]


# Option sets whose output is compared byte for byte with the other builds'.
COMPARED_OPTIONS = ([], ["-t", "7", "-c", "50", "-m", "3", "-i", "2", "-j", "5"])


def same_bytes(argv_a, argv_b, what):
    """Runs both commands, compares their standard output; returns the second one's seconds."""
    with tempfile.TemporaryFile() as a, tempfile.TemporaryFile() as b:
        run(argv_a, stdout=a)
        seconds, _ = run(argv_b, stdout=b)
        a.seek(0)
        b.seek(0)
        while True:
            x, y = a.read(MIB), b.read(MIB)
            if x != y:
                sys.exit(f"{what} differs: {argv_a} and {argv_b}")
            if not x:
                return seconds


def same_output(converter, awk_script, path):
    """Both CSVs of the default conversion, compared byte for byte; the awk time with it."""
    return same_bytes([converter, "-f", path],
                      ["mawk", "-f", awk_script, "FS=@", path, "FS=,", path],
                      "the awk script's CSV")


def main():
    args = sys.argv[1:]
    against = windows = None
    while args and args[0].startswith("--"):
        if args[0] == "--against":
            against = args[1]
        elif args[0] == "--windows":
            windows = args[1]
        else:
            sys.exit(f"unknown option {args[0]}")
        args = args[2:]
    converter, awk_script, files = args[0], args[1], args[2:]
    header = ("lines", "file MiB", "cat s", "convert s", "convert/cat", "mawk s", "convert/mawk",
              "-c 1 s", "wc -l s", "(-c 1)/wc", "peak MiB", "budget MiB", "pipe s",
              "pipe peak MiB")
    if against:
        header += ("start s", "convert/start")
    if windows:
        header += ("wine s",)
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for path in files:
        size = os.path.getsize(path) / MIB
        runs = 3 if size < 1024 else 1
        timed_runs = 5 if size < 1024 else 3  # of the commands whose times are compared
        with open(path, "rb") as f:
            lines = sum(chunk.count(b"\n") for chunk in iter(lambda: f.read(MIB), b""))
        candles = -(-lines // TICKS_PER_CANDLE)
        budget = 16 + 192 * candles / MIB
        mawk = ["mawk", "-f", awk_script, "FS=@", path, "FS=,", path]
        mawk_seconds = same_output(converter, awk_script, path)
        if runs > 1:
            mawk_seconds = min(mawk_seconds, best_of(runs - 1, mawk)[0])
        extra = ()
        if against:
            for options in COMPARED_OPTIONS:
                same_bytes([converter, "-f", path] + options, [against, "-f", path] + options,
                           "the starting build's CSV")
        timed = [["cat", path], [converter, "-f", path], ["wc", "-l", path],
                 [converter, "-f", path, "-c", "1"]] + ([[against, "-f", path]] if against else [])
        measured = best_of_each(timed_runs, timed)
        (cat_seconds, _), (convert_seconds, rss), (wc_seconds, _), (limited_seconds, _) = \
            measured[:4]
        if against:
            start_seconds = measured[4][0]
        pipe_seconds, pipe_rss = best_of(1, [converter, "-f", "/dev/stdin"], stdin_from=path)
        if against:
            extra += (f"{start_seconds:.2f}", f"{convert_seconds / start_seconds:.2f}")
        if windows:
            wine = "-"
            if size < 1024:
                for options in COMPARED_OPTIONS:
                    seconds = same_bytes([converter, "-f", path] + options,
                                         ["wine", windows, "-f", path] + options,
                                         "the Windows build's CSV")
                    wine = wine if options else f"{seconds:.2f}"
            extra += (wine,)
        row = (f"{lines}", f"{size:.0f}", f"{cat_seconds:.3f}", f"{convert_seconds:.2f}",
               f"{convert_seconds / cat_seconds:.1f}", f"{mawk_seconds:.2f}",
               f"{convert_seconds / mawk_seconds:.3f}", f"{limited_seconds:.3f}",
               f"{wc_seconds:.3f}", f"{limited_seconds / wc_seconds:.2f}", f"{rss:.0f}",
               f"{budget:.0f}", f"{pipe_seconds:.2f}", f"{pipe_rss:.0f}") + extra
        print("| " + " | ".join(row) + " |", flush=True)
    print("\ntargets: convert <= 5 x cat, <= 0.10 x mawk and <= 0.5 x the starting build; "
          "(-c 1)/wc <= 1.5; peak and pipe peak <= budget (16 MiB + 192 bytes per candle of "
          "70 ticks); the same bytes as the starting build, mawk and the Windows build")


if __name__ == "__main__":
    main()
