#!/usr/bin/env python3
"""Writes a deterministic tick file, newest tick first, in the form

    EURUSD,2024.01.02 10:00:00.123,1.10345,1.10348

(symbol, time, bid, ask: the converter reads the time and the bid, the third-last and
second-last fields). The same count always gives the same bytes, on any Python 3.

usage: generate_ticks.py LINES [OUTPUT]   (OUTPUT defaults to standard output)
"""
import sys
import time

NEWEST_MS = 1704276000000  # 2024-01-03 10:00:00 UTC
SEED = 20240102


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__.strip().splitlines()[-1])
    count = int(sys.argv[1])
    out = open(sys.argv[2], "w", newline="\n") if len(sys.argv) == 3 else sys.stdout
    state = SEED
    ms = NEWEST_MS
    bid = 110345  # in units of 0.00001
    lines = []
    # The walk runs backwards in time, so the file comes out newest first.
    for _ in range(count):
        state = (state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
        draw = state >> 33
        seconds, millis = divmod(ms, 1000)
        stamp = time.strftime("%Y.%m.%d %H:%M:%S", time.gmtime(seconds))
        ask = bid + 2 + draw % 3
        lines.append(f"EURUSD,{stamp}.{millis:03d},{bid / 100000:.5f},{ask / 100000:.5f}\n")
        ms -= 50 + (draw >> 2) % 950
        bid = max(100000, min(120000, bid + (draw >> 12) % 7 - 3))
        if len(lines) >= 100000:
            out.write("".join(lines))
            lines.clear()
    out.write("".join(lines))
    if out is not sys.stdout:
        out.close()


if __name__ == "__main__":
    main()
