#!/usr/bin/env python3
"""Time and peak memory of the converter on hostile inputs, each with its outcome checked.

usage: hostile.py CONVERTER     (bench/run.sh --hostile runs it on the test build)
The inputs are made in a scratch folder and removed afterwards.
"""
import os
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20
HEADER = b"Date,"
PRICE_ERROR = b"Price Error : line "


def write_input(path, pieces):
    # Written piece by piece: a child inherits the peak memory of the process it was forked
    # from, so this script must stay small for the figures to be the converter's own.
    with open(path, "wb") as f:
        for piece, times in pieces:
            for _ in range(times):
                f.write(piece)


def run_case(converter, folder, name, pieces, options, expected):
    """`expected` maps each acceptable exit status to how its output must begin."""
    path = os.path.join(folder, name + ".csv")
    write_input(path, pieces)
    start = time.monotonic()
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        child = subprocess.Popen([converter, "-f", path] + options, stdout=out, stderr=err)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.monotonic() - start
        out.seek(0)
        err.seek(0)
        written = out.read(200) if os.waitstatus_to_exitcode(status) == 0 else err.read(200)
    code = os.waitstatus_to_exitcode(status)
    ok = code in expected and written.startswith(expected[code])
    print(f"| {name} | {' '.join(options) or '(defaults)'} | {os.path.getsize(path) / MIB:.1f} | "
          f"{seconds:.2f} | {usage.ru_maxrss / 1024:.0f} | {code} | "
          f"{'ok' if ok else 'UNEXPECTED: ' + repr(written[:80])} |", flush=True)
    os.remove(path)
    return ok


def garbage(size):
    state = 42
    out = bytearray()
    for _ in range(size):
        state = (state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
        out.append(state >> 56)
    return bytes(out)


def main():
    converter = sys.argv[1]
    tick = b"S,T,1,x\n"
    cases = [
        ("line-50MB-no-commas", [(b"x" * MIB, 50), (b"\n", 1)], [], {0: HEADER}),
        ("line-50MB-commas", [(b"ab," * (MIB // 3), 50), (b"T,1.5,x\n", 1)], [], {0: HEADER}),
        ("empty-lines-1M", [(b"\n", 1000000)], [], {0: HEADER}),
        ("commas-100k", [(b"," * 100000 + b"\n", 1)], [], {1: PRICE_ERROR + b"1 : ''"}),
        ("binary-garbage-1MB", [(garbage(MIB), 1)], [], {0: HEADER, 1: PRICE_ERROR}),
        ("bad-price-every-line", [(b"a,t,x,b\n", 1000000)], [], {1: PRICE_ERROR + b"1 :"}),
        ("ticks-per-candle-max", [(tick, 1000000)], ["-t", "2147483647"], {0: HEADER}),
        ("candle-limit-0", [(tick, 1000000)], ["-c", "0"], {0: HEADER}),
        ("placeholders-100k", [(tick, 1)], ["-m", "100000"], {0: HEADER}),
        ("leading-zeros", [(tick, 1000)],
         ["-t", "0002147483647", "-c", "02147483647", "-j", "002147483647"], {0: HEADER}),
    ]
    print("| input | options | MiB | seconds | peak RSS MiB | status | outcome |")
    print("|---|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as folder:
        results = [run_case(converter, folder, *case) for case in cases]
    sys.exit(0 if all(results) else 1)


if __name__ == "__main__":
    main()
