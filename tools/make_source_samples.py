#!/usr/bin/env python3
"""Writes the sample files of examples/sources/: one small file per public tick source in that
source's published layout (made-up prices), and beside each the CSV that its README recipe
must print.

The expected CSV is made without the recipe: this script builds the converter's own input
(newest tick first, "SYMBOL,TIME,PRICE,x") straight from the ticks it generated, with the
price choice the README states, and runs the converter on that. A recipe that reads the
wrong field, keeps the wrong order or keeps a header line therefore cannot match it.

usage: make_source_samples.py CONVERTER   (run from the top of the repository)
       make_source_samples.py --bench TICKS FOLDER   (large TrueFX and HistData files)
"""
import io
import os
import subprocess
import sys
import zipfile
from decimal import Decimal

OUT = "examples/sources"
TICKS = 300
TICKS_PER_CANDLE = "10"
ZIP_TIME = (2024, 2, 1, 0, 0, 0)
DOTTED = "2024.01.02 {h:02d}:{m:02d}:{s:02d}.{ms:03d}"  # the converter's own time layout  # fixed, so that the archives come out byte for byte again


def walk(seed, count, start, step, digits):
    """`count` ticks, oldest first: (milliseconds since the first, bid, ask) as Decimals."""
    state = seed
    ms = 0
    bid = start
    unit = Decimal(1).scaleb(-digits)
    ticks = []
    for _ in range(count):
        state = (state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
        draw = state >> 33
        ask = bid + (2 + draw % 3) * step
        ticks.append((ms, bid * unit, ask * unit))
        ms += 37 + (draw >> 2) % 1900
        bid = bid + ((draw >> 12) % 7 - 3) * step
    return ticks


def stamped(ticks, layout):
    """The ticks as (time text, bid, ask): `layout` spells a time on 2 January 2024 from
    {h}, {m}, {s} and {ms}, for example "{h:02d}:{m:02d}:{s:02d}.{ms:03d}"."""
    for elapsed, bid, ask in ticks:
        seconds, millis = divmod(elapsed, 1000)
        minutes, seconds = divmod(seconds, 60)
        hours, minutes = divmod(minutes, 60)
        yield layout.format(h=hours, m=minutes, s=seconds, ms=millis), bid, ask


def converter_input(symbol, rows):
    """The converter's own layout, newest first, from (time text, price text) oldest first."""
    return "".join(f"{symbol},{time},{price},x\n" for time, price in reversed(rows))


def expected_csv(converter, ticks_text, *options):
    return subprocess.run([converter, "-f", "/dev/stdin", "-t", TICKS_PER_CANDLE, *options],
                          input=ticks_text.encode(), capture_output=True, check=True).stdout


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def zipped(name, text):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        info = zipfile.ZipInfo(name, ZIP_TIME)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        archive.writestr(info, text)
    return buffer.getvalue()


def truefx(converter):
    # SYMBOL,YYYYMMDD HH:MM:SS.mmm,BID,ASK; no header; a monthly zip. Price: bid.
    lines, rows = [], []
    for time, bid, ask in stamped(walk(101, TICKS, 110345, 1, 5),
                                  "20240102 {h:02d}:{m:02d}:{s:02d}.{ms:03d}"):
        lines.append(f"EUR/USD,{time},{bid},{ask}\n")
        rows.append((time, bid))
    write(f"{OUT}/truefx/EURUSD-2024-01.zip", zipped("EURUSD-2024-01.csv", "".join(lines)))
    write(f"{OUT}/truefx/expected.csv", expected_csv(converter, converter_input("EUR/USD", rows)))


def zips(converter):
    # Three monthly TrueFX zips, from the zips to a chart page in one line: --candles writes
    # the converter's table of the months' ticks.
    lines_of_months, rows = [], []
    for month, seed in ((1, 311), (2, 312), (3, 313)):
        lines = []
        for time, bid, ask in stamped(walk(seed, TICKS, 110345, 1, 5),
                                      f"2024{month:02d}02 {{h:02d}}:{{m:02d}}:{{s:02d}}.{{ms:03d}}"):
            lines.append(f"EUR/USD,{time},{bid},{ask}\n")
            rows.append((time, bid))
        write(f"{OUT}/zips/EURUSD-2024-{month:02d}.zip",
              zipped(f"EURUSD-2024-{month:02d}.csv", "".join(lines)))
    write(f"{OUT}/zips/expected.csv", expected_csv(converter, converter_input("EUR/USD", rows)))
    write(f"{OUT}/zips/expected.page", b"")


def histdata_layout(converter, folder, seed, line_end):
    # YYYYMMDD HHMMSSmmm,BID,ASK,VOLUME; no header. Price: bid.
    lines, rows = [], []
    for time, bid, ask in stamped(walk(seed, TICKS, 1104660, 10, 6),
                                  "20240102 {h:02d}{m:02d}{s:02d}{ms:03d}"):
        lines.append(f"{time},{bid:.6f},{ask:.6f},0{line_end}")
        rows.append((time, f"{bid:.6f}"))
    write(f"{OUT}/{folder}/DAT_ASCII_EURUSD_T_202401.csv", "".join(lines).encode())
    write(f"{OUT}/{folder}/expected.csv", expected_csv(converter, converter_input("EURUSD", rows)))


def histdata(converter):
    # As HistData.com publishes it: CR LF. The chart page's recipe starts from the same file,
    # and its page must hold the same table.
    histdata_layout(converter, "histdata", 202, "\r\n")
    histdata_layout(converter, "chart-page", 202, "\r\n")
    write(f"{OUT}/chart-page/expected.page", b"")


def dukascopy(converter):
    # Header "Gmt time,Ask,Bid,AskVolume,BidVolume", DD.MM.YYYY HH:MM:SS.mmm, ask before bid,
    # CR LF. Price: the bid, as for every other FX source.
    lines = ["Gmt time,Ask,Bid,AskVolume,BidVolume\r\n"]
    rows = []
    ticks = stamped(walk(303, TICKS, 110345, 1, 5), "02.01.2024 {h:02d}:{m:02d}:{s:02d}.{ms:03d}")
    for index, (time, bid, ask) in enumerate(ticks):
        volumes = (Decimal(75 + index % 4 * 15) / 100, Decimal(90 + index % 3 * 30) / 100)
        lines.append(f"{time},{ask},{bid},{volumes[0]},{volumes[1]}\r\n")
        rows.append((time, bid))
    write(f"{OUT}/dukascopy/EURUSD_Ticks_02.01.2024-02.01.2024.csv", "".join(lines).encode())
    write(f"{OUT}/dukascopy/expected.csv",
          expected_csv(converter, converter_input("EURUSD", rows)))


def binance(converter):
    # trade id,price,qty,quoteQty,time (epoch ms),isBuyerMaker,isBestMatch; no header; a
    # monthly zip. Price: the trade price.
    ticks = walk(404, TICKS, 4251337, 1, 2)
    lines, rows = [], []
    for index, (ms, price, _) in enumerate(ticks):
        qty = Decimal(1 + index * 7919 % 2500).scaleb(-5)
        time = str(1704153600000 + ms)
        maker = "True" if index % 3 == 0 else "False"
        lines.append(f"{3359000000 + index},{price:.8f},{qty:.8f},{price * qty:.8f},{time},"
                     f"{maker},True\n")
        rows.append((time, f"{price:.8f}"))
    write(f"{OUT}/binance/BTCUSDT-trades-2024-01.zip",
          zipped("BTCUSDT-trades-2024-01.csv", "".join(lines)))
    write(f"{OUT}/binance/expected.csv", expected_csv(converter, converter_input("BTCUSDT", rows)))


def mt5(converter):
    # UTF-16 LE with a byte order mark, CR LF, tabs; header
    # <DATE> <TIME> <BID> <ASK> <LAST> <VOLUME> <FLAGS>; LAST and VOLUME empty. Price: bid.
    lines = ["<DATE>\t<TIME>\t<BID>\t<ASK>\t<LAST>\t<VOLUME>\t<FLAGS>\r\n"]
    rows = []
    for time, bid, ask in stamped(walk(505, TICKS, 110345, 1, 5),
                                  "{h:02d}:{m:02d}:{s:02d}.{ms:03d}"):
        lines.append(f"2024.01.02\t{time}\t{bid}\t{ask}\t\t\t6\r\n")
        rows.append((f"2024.01.02 {time}", bid))
    write(f"{OUT}/mt5/EURUSD_ticks.csv", "".join(lines).encode("utf-16"))
    write(f"{OUT}/mt5/expected.csv", expected_csv(converter, converter_input("EURUSD", rows)))


def mt5_recorder(converter):
    # The tick recorders' layout: UTF-16 LE with a byte order mark, tabs, CR LF, a header,
    # then the time in milliseconds since 1970, bid and ask. Price: bid.
    lines = ["time_msc\tbid\task\r\n"]
    rows = []
    for ms, bid, ask in walk(606, TICKS, 110345, 1, 5):
        time = str(1704153600000 + ms)
        lines.append(f"{time}\t{bid}\t{ask}\r\n")
        rows.append((time, bid))
    write(f"{OUT}/mt5-recorder/EURUSD_ticks.tsv", "".join(lines).encode("utf-16"))
    write(f"{OUT}/mt5-recorder/expected.csv",
          expected_csv(converter, converter_input("EURUSD", rows)))


def cr_only(converter):
    # HistData's layout with a CR alone ending each line, as old Mac tools write it.
    histdata_layout(converter, "cr-only", 707, "\r")


def semicolons(converter):
    # A European export: semicolons, decimal commas, a header, date and time in two columns.
    lines, rows = ["Date;Time;Bid;Ask\n"], []
    for time, bid, ask in stamped(walk(808, TICKS, 110345, 1, 5),
                                  "{h:02d}:{m:02d}:{s:02d}.{ms:03d}"):
        lines.append(f"02.01.2024;{time};{str(bid).replace('.', ',')};{str(ask).replace('.', ',')}\n")
        rows.append((f"02.01.2024 {time}", bid))
    write(f"{OUT}/semicolons/EURUSD.csv", "".join(lines).encode())
    write(f"{OUT}/semicolons/expected.csv",
          expected_csv(converter, converter_input("EURUSD", rows)))


def quoted(converter):
    # Every field in double quotes, the price of the mid asked for.
    lines, rows = ['"time","bid","ask"\n'], []
    for time, bid, ask in stamped(walk(909, TICKS, 110345, 1, 5),
                                  "2024-01-02 {h:02d}:{m:02d}:{s:02d}.{ms:03d}"):
        lines.append(f'"{time}","{bid}","{ask}"\n')
        rows.append((time, repr((float(bid) + float(ask)) / 2)))
    write(f"{OUT}/quoted/EURUSD.csv", "".join(lines).encode())
    write(f"{OUT}/quoted/expected.csv", expected_csv(converter, converter_input("EURUSD", rows)))


def bench_files(count, folder):
    """TrueFX and HistData files of `count` ticks each, oldest first, for bench/ticks.sh."""
    import datetime
    start = datetime.datetime(2024, 1, 2)
    with open(f"{folder}/truefx-{count}.csv", "w", newline="") as truefx_file, \
            open(f"{folder}/histdata-{count}.csv", "w", newline="") as histdata_file:
        for ms, bid, ask in walk(111, count, 110345, 1, 5):
            moment = start + datetime.timedelta(milliseconds=ms)
            millis = moment.microsecond // 1000
            truefx_file.write(f"EUR/USD,{moment:%Y%m%d %H:%M:%S}.{millis:03d},{bid},{ask}\n")
            histdata_file.write(f"{moment:%Y%m%d %H%M%S}{millis:03d},{bid},{ask},0\r\n")


def charting(converter):
    # Ticks in the converter's layout, out to a charting tool: oldest candle first, no
    # placeholder row, the EMA of each candle on its own row.
    rows = [(time, bid) for time, bid, _ in stamped(walk(909, TICKS, 110345, 1, 5), DOTTED)]
    text = converter_input("EURUSD", rows)
    write(f"{OUT}/charting/ticks.csv", text.encode())
    table = expected_csv(converter, text, "-m", "0").decode().splitlines(True)
    write(f"{OUT}/charting/expected.csv", "".join([table[0]] + table[:0:-1]).encode())


def many(converter):
    # A directory of tick files in the converter's layout, one of them with a header line.
    for name, seed in (("EURUSD", 606), ("GBPUSD", 707), ("USDJPY", 808)):
        rows = [(time, bid) for time, bid, _ in stamped(walk(seed, TICKS, 110345, 1, 5), DOTTED)]
        text = converter_input(name, rows)
        write(f"{OUT}/many/ticks/{name}.csv", text.encode())
        table = subprocess.run([converter, "-f", "/dev/stdin"], input=text.encode(),
                               capture_output=True, check=True).stdout
        write(f"{OUT}/many/expected/{name}.csv", table)
    write(f"{OUT}/many/ticks/broken.csv",
          b"Symbol,Time,Bid,Ask\nEURUSD,2024.01.02 00:00:00.000,1.10345,1.10349\n")
    # Lines that the recipes' standard error must hold: the converter's own, and theirs.
    write(f"{OUT}/many/expected.stderr",
          b"Price Error : line 1 : 'Bid' : invalid stod argument\nfailed: ticks/broken.csv\n")


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--bench":
        bench_files(int(sys.argv[2]), sys.argv[3])
        return
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-2])
    converter = os.path.abspath(sys.argv[1])
    for make in (truefx, histdata, dukascopy, binance, mt5, mt5_recorder, cr_only, semicolons,
                 quoted, charting, many, zips):
        make(converter)


if __name__ == "__main__":
    main()
