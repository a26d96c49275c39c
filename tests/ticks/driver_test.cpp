#include "ticks/driver.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/console.hpp"
#include "app/run.hpp"
#include "platform/platform.hpp"
#include "support/run_binary.hpp"
#include "support/scratch_folder.hpp"
#include "ticks/compressed.hpp"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <thread>
#endif
#include "ticks/command_line.hpp"

namespace vellumbrook::ticks {
namespace {

namespace fs = std::filesystem;

struct TicksCase {
    const char* name;
    std::vector<std::string> args;  // always written with -o out.csv
    std::map<std::string, std::string> files;
    std::string out;  // what out.csv must hold; empty: it must not exist
    std::string messages;
    int status;
};

class Rewrite : public ::testing::TestWithParam<TicksCase> {
  protected:
    testing::InScratchFolder scratch{std::string("vellumbrook-ticks-") + GetParam().name};
};

// Each case is read as one piece, and again in pieces as small as a line (and of a few lines
// whose output outgrows its cap), so that every check also runs across the cut between two
// pieces read side by side.
TEST_P(Rewrite, WritesTheTicksNewestFirstOrSaysWhyNot) {
    for (const auto& [name, bytes] : GetParam().files) {
        std::ofstream(name, std::ios::binary) << bytes;
    }
    for (const std::uint64_t pieceSize :
         {std::uint64_t{1} << 20, std::uint64_t{1}, std::uint64_t{64}}) {
        SCOPED_TRACE("pieces of " + std::to_string(pieceSize) + " bytes");
        std::vector<std::string> words{"vellumbrook-ticks", "-o", "out.csv"};
        words.insert(words.end(), GetParam().args.begin(), GetParam().args.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        std::FILE* messages = std::tmpfile();
        const int status = runTicksProgram(static_cast<int>(argv.size()), argv.data(), stdout,
                                           messages, pieceSize);
        const std::string said = testing::readAndClose(messages);
        EXPECT_EQ(said, GetParam().messages);
        EXPECT_EQ(status, GetParam().status);
        if (GetParam().out.empty()) {
            EXPECT_FALSE(fs::exists("out.csv"));
        } else {
            EXPECT_EQ(testing::readFile("out.csv"), GetParam().out);
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(".")) {
            EXPECT_EQ(entry.path().filename().string().find(".part-"), std::string::npos)
                << "a partial output was left behind";
        }
    }
}

// The system's own words for a missing file, which differ between systems.
const std::string kNoSuchFile = platform::openForReading("no such file.csv").reason;

const std::string kJanuary = "EUR/USD,20240131 23:59:59.000,1.1,1.3\n";
const std::string kFebruary =
    "EUR/USD,20240201 00:00:00.000,1.2,1.4\r\nEUR/USD,20240201 00:00:00.000,1.25,1.45\r\n";

// Small real compressed files, made here: gzip in stored deflate blocks, zips of stored members.
std::string littleEndian(std::uint64_t value, int bytes) {
    std::string text;
    for (int i = 0; i < bytes; ++i) {
        text += static_cast<char>((value >> (8 * i)) & 0xff);
    }
    return text;
}

std::uint32_t crcOf(const std::string& text) {
    return crc32Of(0, reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

std::string gzipOf(const std::string& text) {
    std::string gzip("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);
    for (std::size_t at = 0; at == 0 || at < text.size(); at += 65535) {
        const std::string block = text.substr(at, 65535);
        gzip += at + 65535 >= text.size() ? '\x01' : '\x00';
        gzip += littleEndian(block.size(), 2) + littleEndian(~block.size() & 0xffff, 2) + block;
    }
    return gzip + littleEndian(crcOf(text), 4) + littleEndian(text.size(), 4);
}

struct ZipEntry {
    std::string name;
    std::string text;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
};

std::string zipOf(const std::vector<ZipEntry>& entries, std::uint64_t directoryShift = 0) {
    std::string zip;
    std::string directory;
    for (const ZipEntry& entry : entries) {
        const std::string common = littleEndian(entry.flags, 2) + littleEndian(entry.method, 2) +
                                   littleEndian(0, 4) + littleEndian(crcOf(entry.text), 4) +
                                   littleEndian(entry.text.size(), 4) +
                                   littleEndian(entry.text.size(), 4) +
                                   littleEndian(entry.name.size(), 2) + littleEndian(0, 2);
        directory += "PK\x01\x02" + littleEndian(20, 2) + littleEndian(20, 2) + common +
                     littleEndian(0, 6) + littleEndian(0, 4) + littleEndian(zip.size(), 4) +
                     entry.name;
        zip += "PK\x03\x04" + littleEndian(20, 2) + common + entry.name + entry.text;
    }
    return zip + directory + "PK\x05\x06" + littleEndian(0, 4) + littleEndian(entries.size(), 2) +
           littleEndian(entries.size(), 2) + littleEndian(directory.size(), 4) +
           littleEndian(zip.size() + directoryShift, 4) + littleEndian(0, 2);
}

const std::string kTicks =
    "EUR/USD,20240102 00:00:00.100,1.1,1.2\nEUR/USD,20240102 00:00:00.200,1.3,1.4\n"
    "EUR/USD,20240102 00:00:00.300,1.2,1.3\n";
const std::string kTicksNewestFirst =
    ",20240102 00:00:00.300,1.2,bid\n,20240102 00:00:00.200,1.3,bid\n"
    ",20240102 00:00:00.100,1.1,bid\n";
const std::string kGzip = gzipOf(kTicks);

const auto kTicksCases = ::testing::Values(
    TicksCase{"months_in_order",
              {"--from=truefx", "jan.csv", "feb.csv"},
              {{"jan.csv", kJanuary}, {"feb.csv", kFebruary}},
              ",20240201 00:00:00.000,1.25,bid\n,20240201 00:00:00.000,1.2,bid\n"
              ",20240131 23:59:59.000,1.1,bid\n",
              "",
              0},
    TicksCase{"months_out_of_order",
              {"--from=truefx", "feb.csv", "jan.csv"},
              {{"jan.csv", kJanuary}, {"feb.csv", kFebruary}},
              "",
              "vellumbrook-ticks: feb.csv:2: its last tick '20240201 00:00:00.000' comes "
              "after the first tick '20240131 23:59:59.000' of jan.csv; give the files "
              "oldest first\n",
              1},
    TicksCase{"newest_first",
              {"--from=histdata", "ticks.csv"},
              {{"ticks.csv", "20240102 000001000,1.1,1.2,0\n20240102 000000500,1.1,1.2,0\n"}},
              "",
              "vellumbrook-ticks: ticks.csv: runs newest first, from '20240102 000001000' "
              "down to '20240102 000000500'; give its ticks oldest first, as the sources "
              "publish them\n",
              1},
    TicksCase{"too_few_fields",
              {"--from=truefx", "ticks.csv"},
              {{"ticks.csv", "\nEUR/USD,20240102 00:00:00.000,1.1\n"}},
              "",
              "vellumbrook-ticks: ticks.csv:2: fewer than the 4 fields of truefx: "
              "'EUR/USD,20240102 00:00:00.000,1.1'\n",
              1},
    TicksCase{
        "control_bytes_escaped_and_a_long_line_cut",
        {"--from=truefx", "ticks.csv"},
        {{"ticks.csv", kJanuary + std::string("\x1b[2J\0", 5) + std::string(300, 'a') + "\n"}},
        "",
        "vellumbrook-ticks: ticks.csv:2: fewer than the 4 fields of truefx: "
        "'\\x1b[2J\\x00" +
            std::string(195, 'a') + "'...\n",
        1},
    // Lines of one minute, most read in one pass, the others as every line is: more fields
    // than the layout's, blanks around a price, an exponent, a lone CR, a blank line, a
    // sign, a line too long for one pass, a price too long for one word, a leap second.
    TicksCase{"lines_of_one_minute_of_every_shape",
              {"--from=truefx", "-v", "t.csv"},
              {{"t.csv",
                "EUR/USD,20240102 00:00:00.100,1.10001,1.2\n"
                "EUR/USD,20240102 00:00:00.200,1.10002,1.2,extra\n"
                "EUR/USD,20240102 00:00:00.300, 1.10003 ,1.2\n"
                "EUR/USD,20240102 00:00:00.400,1.1e0,1.2\r"
                "EUR/USD,20240102 00:00:00.500,1.10005,1.2\r\n\n"
                "EUR/USD,20240102 00:00:00.600,-1.5,1.2\n" +
                    std::string(600, 'S') +
                    ",20240102 00:00:00.700,1.10007,1.2\n"
                    "EUR/USD,20240102 00:01:00.800,1.10008,1.2\n"
                    "EUR/USD,20240102 00:01:00.900,1.123456789,1.2\n"
                    "EUR/USD,20241231 23:59:59.500,1.1,1.2\n"
                    "EUR/USD,20241231 23:59:60.000,1.2,1.2\n"}},
              ",20241231 23:59:60.000,1.2,bid\n,20241231 23:59:59.500,1.1,bid\n"
              ",20240102 00:01:00.900,1.123456789,bid\n,20240102 00:01:00.800,1.10008,bid\n"
              ",20240102 00:00:00.700,1.10007,bid\n,20240102 00:00:00.600,-1.5,bid\n"
              ",20240102 00:00:00.500,1.10005,bid\n,20240102 00:00:00.400,1.1e0,bid\n"
              ",20240102 00:00:00.300,1.10003,bid\n,20240102 00:00:00.200,1.10002,bid\n"
              ",20240102 00:00:00.100,1.10001,bid\n",
              "vellumbrook-ticks: t.csv: 11 ticks; passed over: 1 blank lines, 0 header lines, 0 "
              "rows without a price\n",
              0},
    TicksCase{"headers_and_zones_among_lines_of_one_minute",
              {"--from=dukascopy", "-v", "d.csv"},
              {{"d.csv",
                "Gmt time,Ask,Bid,AskVolume,BidVolume\n"
                "02.01.2024 00:00:00.100,1.2,1.1,1,1\n"
                "02.01.2024 00:00:00.200,1.2,1.15,1,1\n"
                "Gmt time,Ask,Bid,AskVolume,BidVolume\n"
                "02.01.2024 00:00:00.300,1.2,1.16,1,1\n"
                "02.01.2024 01:00:00.400 GMT+0100,1.2,1.17,1,1\n"
                "02.01.2024 00:00:00.500,1.2,1.18,1,1\n"}},
              ",02.01.2024 00:00:00.500,1.18,bid\n,02.01.2024 01:00:00.400 GMT+0100,1.17,bid\n"
              ",02.01.2024 00:00:00.300,1.16,bid\n,02.01.2024 00:00:00.200,1.15,bid\n"
              ",02.01.2024 00:00:00.100,1.1,bid\n",
              "vellumbrook-ticks: d.csv: 5 ticks; passed over: 0 blank lines, 2 header lines, 0 "
              "rows without a price\n",
              0},
    TicksCase{"a_header_to_skip_that_is_a_tick",
              {"--from=mt5-recorder", "t.tsv"},
              {{"t.tsv", "1704153600000\t1.1\t1.2\n1704153600001\t1.3\t1.4\n"}},
              ",1704153600001,1.3,bid\n,1704153600000,1.1,bid\n",
              "",
              0},
    TicksCase{
        "price_beyond_the_doubles",
        {"--from=custom", "--time-column=1", "--time-format=YYYY", "--price-column=2", "t.csv"},
        {{"t.csv", "2024,1\n2024,4e-320\n"}},
        "",
        "vellumbrook-ticks: t.csv:2: the price is out of range: '4e-320'\n",
        1},
    TicksCase{"mid_of_the_largest_prices",
              {"--from=custom", "--time-column=1", "--time-format=YYYY", "--bid-column=2",
               "--ask-column=3", "--price=mid", "t.csv"},
              {{"t.csv", "2024,1.7976931348623157e308,1.7976931348623157e308\n"}},
              ",2024,1.7976931348623157e+308,mid\n",
              "",
              0},
    TicksCase{"a_comma_in_the_time_format",
              {"--from=custom", "--time-column=1", "--time-format=hh:mm:ss,fff", "--price-column=2",
               "t.csv"},
              {},
              "",
              "vellumbrook-ticks: --time-format cannot hold the separator of the fields: "
              "'hh:mm:ss,fff'\n",
              2},
    TicksCase{"a_comma_in_the_time_format_read_as_iso_time",
              {"--from=custom", "--separator=semicolon", "--time-column=1",
               "--time-format=YYYY-MM-DD hh:mm:ss,fff", "--price-column=2", "--iso-time", "t.csv"},
              {{"t.csv", "2024-01-02 10:00:00,123;1.5\n"}},
              ",2024-01-02 10:00:00.123,1.5,price\n",
              "",
              0},
    TicksCase{"utf16_without_its_byte_order_mark",
              {"--from=truefx", "t.csv"},
              {{"t.csv", std::string("E\0U\0R\0/\0U\0S\0D\0,\0", 16)}},
              "",
              "vellumbrook-ticks: t.csv: its first line holds NUL bytes: UTF-16 text needs "
              "its byte order mark (iconv -f UTF-16LE -t UTF-8 makes it UTF-8), and other "
              "bytes are no tick file\n",
              1},
    TicksCase{"a_utf8_mark_then_nul_bytes",
              {"--from=truefx", "t.csv"},
              {{"t.csv", std::string("\xef\xbb\xbf"
                                     "E\0U\0R\0,\0\n",
                                     12)}},
              "",
              "vellumbrook-ticks: t.csv: its first line holds NUL bytes: UTF-16 text needs "
              "its byte order mark (iconv -f UTF-16LE -t UTF-8 makes it UTF-8), and other "
              "bytes are no tick file\n",
              1},
    TicksCase{"local_time_across_the_clock_change",
              {"--from=dukascopy", "--iso-time", "t.csv"},
              {{"t.csv",
                "Local time,Ask,Bid,AskVolume,BidVolume\n"
                "27.10.2024 02:59:59.000 GMT+0200,1.2,1.1,1,1\n"
                "27.10.2024 02:00:00.000 GMT+0100,1.4,1.3,1,1\n"}},
              ",2024-10-27 01:00:00.000,1.3,bid\n,2024-10-27 00:59:59.000,1.1,bid\n",
              "",
              0},
    TicksCase{"text_after_the_time_that_is_no_zone",
              {"--from=custom", "--time-column=1", "--time-format=YYYY-MM-DD", "--price-column=2",
               "t.csv"},
              {{"t.csv", "2024-01-02 10:00,1\n"}},
              "",
              "vellumbrook-ticks: t.csv:1: not a time of custom: '2024-01-02 10:00'\n",
              1},
    TicksCase{"the_first_bad_line_is_the_one_reported",
              {"--from=truefx", "t.csv"},
              {{"t.csv", kJanuary + "EUR/USD,x,1,1\n" + kJanuary + "EUR/USD,y,1,1\n"}},
              "",
              "vellumbrook-ticks: t.csv:2: not a time of truefx: 'x'\n",
              1},
    TicksCase{"the_first_step_back_is_the_one_reported",
              {"--from=histdata", "t.csv"},
              {{"t.csv",
                "20240102 000002000,1,1,0\n20240102 000001000,1,1,0\n"
                "20240102 000003000,1,1,0\n20240102 000000500,1,1,0\n"}},
              "",
              "vellumbrook-ticks: t.csv:2: the time goes back from '20240102 000002000' to "
              "'20240102 000001000'; ticks must run oldest first\n",
              1},
    TicksCase{"price_without_a_number",
              {"--from=truefx", "--price=ask", "ticks.csv"},
              {{"ticks.csv", "EUR/USD,20240102 00:00:00.000,1.1,n/a\r"}},
              "",
              "vellumbrook-ticks: ticks.csv:1: no number in the ask: 'n/a'\n",
              1},
    TicksCase{"bad_time",
              {"--from=dukascopy", "ticks.csv"},
              {{"ticks.csv", "Gmt time,Ask,Bid,AskVolume,BidVolume\n2.1.2024 00:00,1,1,0,0\n"}},
              "",
              "vellumbrook-ticks: ticks.csv:2: not a time of dukascopy: '2.1.2024 00:00'\n",
              1},
    TicksCase{"missing_header",
              {"--from=dukascopy", "ticks.csv"},
              {{"ticks.csv", "02.01.2024 00:00:00.000,1.2,1.1,0,0\n"}},
              "",
              "vellumbrook-ticks: ticks.csv:1: not a dukascopy header: "
              "'02.01.2024 00:00:00.000,1.2,1.1,0,0'\n",
              1},
    TicksCase{"unreadable",
              {"--from=truefx", "missing.csv"},
              {},
              "",
              "vellumbrook-ticks: missing.csv: cannot be opened: " + kNoSuchFile + "\n",
              1},
    TicksCase{"auto_not_sure",
              {"--from=auto", "ticks.csv"},
              {{"ticks.csv", "a;b;c\n"}},
              "",
              "vellumbrook-ticks: ticks.csv: its layout is not one that can be told for "
              "sure; give --from (truefx, histdata, dukascopy, binance, mt5-export, "
              "mt5-recorder, or the column options)\n",
              1},
    TicksCase{"mt5_rows_without_a_bid_left_out",
              {"--from=auto", "-v", "ticks.csv"},
              {{"ticks.csv",
                "<DATE>\t<TIME>\t<BID>\t<ASK>\t<LAST>\t<VOLUME>\t<FLAGS>\n"
                "2024.01.02\t00:00:00.100\t1.1\t1.2\t\t\t6\n"
                "2024.01.02\t00:00:00.200\t\t\t1.15\t1\t8\n\n"}},
              ",2024.01.02 00:00:00.100,1.1,bid\n",
              "vellumbrook-ticks: ticks.csv: read as mt5-export\n"
              "vellumbrook-ticks: ticks.csv: 1 ticks; passed over: 1 blank lines, 1 header "
              "lines, 1 rows without a price\n",
              0},
    TicksCase{"epoch_as_iso_time_and_mid",
              {"--from=mt5-recorder", "--iso-time", "--price=mid", "--symbol=EURUSD", "t.tsv"},
              {{"t.tsv", "time\tbid\task\n1704153600052\t0.1\t0.2\n"}},
              "EURUSD,2024-01-02 00:00:00.052,0.15000000000000002,mid\n",
              "",
              0},
    TicksCase{"one_price_only",
              {"--from=binance", "--price=bid", "t.csv"},
              {{"t.csv", ""}},
              "",
              "vellumbrook-ticks: binance has no bid (it has one price: --price=price)\n",
              2},
    TicksCase{"a_price_the_layout_lacks",
              {"--from=truefx", "--price=price", "t.csv"},
              {{"t.csv", ""}},
              "",
              "vellumbrook-ticks: truefx has no price (--price=bid, ask or mid)\n",
              2},
    TicksCase{"a_misspelt_layout",
              {"--from=trufx", "t.csv"},
              {},
              "",
              "vellumbrook-ticks: no layout called 'trufx'; did you mean truefx? (see --help)\n",
              2},
    TicksCase{"the_beginning_of_a_layout_name",
              {"--from=mt5", "t.csv"},
              {},
              "",
              "vellumbrook-ticks: no layout called 'mt5'; did you mean mt5-export or "
              "mt5-recorder? (see --help)\n",
              2},
    TicksCase{"a_short_layout_name",
              {"--from=dukas", "t.csv"},
              {},
              "",
              "vellumbrook-ticks: no layout called 'dukas'; did you mean dukascopy? (see "
              "--help)\n",
              2},
    // Words of the command line reach the terminal escaped, like text from a file.
    TicksCase{"control_bytes_in_words",
              {"--from=true\x01", "t.csv"},
              {},
              "",
              "vellumbrook-ticks: no layout called 'true\\x01'; did you mean truefx? (see "
              "--help)\n",
              2},
    TicksCase{"control_bytes_in_a_file_name",
              {"--from=truefx", "a\x1b[2J.csv"},
              {},
              "",
              "vellumbrook-ticks: a\\x1b[2J.csv: cannot be opened: " +
                  platform::openForReading("a\x1b[2J.csv").reason + "\n",
              1},
    TicksCase{"an_empty_output_name",
              {"--from=truefx", "--output=", "t.csv"},
              {},
              "",
              "vellumbrook-ticks: --output needs a file name\n",
              2},
    TicksCase{"standard_input_twice",
              {"--from=truefx", "-", "-"},
              {},
              "",
              "vellumbrook-ticks: - is named more than once; standard input can be read "
              "only once\n",
              2},
    TicksCase{"a_file_where_the_layout_should_be",
              {"--from", "t.csv"},
              {},
              "",
              "vellumbrook-ticks: no layout called 't.csv' (see --help)\n",
              2},
    TicksCase{"layout_in_capitals",
              {"--from=TrueFX", "t.csv"},
              {{"t.csv", kJanuary}},
              ",20240131 23:59:59.000,1.1,bid\n",
              "",
              0},
    TicksCase{"separator_and_decimal_mark_alike",
              {"--from=custom", "--separator=comma", "--decimal=comma", "--time-column=1",
               "--time-format=YYYY", "--price-column=2", "t.csv"},
              {},
              "",
              "vellumbrook-ticks: --separator and --decimal are the same mark; fields holding "
              "it need --quoted\n",
              2},
    TicksCase{"options_apply_in_the_order_given",
              {"--from=custom", "--header-text=X", "--header=none", "--time-column=1",
               "--time-format=YYYY", "--price-column=2", "t.csv"},
              {{"t.csv", "2024,1\n"}},
              ",2024,1,price\n",
              "",
              0},
    TicksCase{"step_back_mid_file",
              {"--from=histdata", "ticks.csv"},
              {{"ticks.csv",
                "20240102 000000100,1.1,1.2,0\r\n20240102 000000300,1.1,1.2,0\r\n"
                "20240102 000000200,1.1,1.2,0\r\n20240102 000000400,1.1,1.2,0\r\n"}},
              "",
              "vellumbrook-ticks: ticks.csv:3: the time goes back from '20240102 000000300' "
              "to '20240102 000000200'; ticks must run oldest first\n",
              1},
    TicksCase{"output_far_longer_than_the_lines",
              {"--from=histdata", "--symbol=EURUSD-FROM-A-SOURCE-WITH-A-VERY-LONG-NAME-INDEED",
               "ticks.csv"},
              {{"ticks.csv",
                "20240102 000000100,1.1,1.2,0\n20240102 000000200,1.3,1.4,0\n"
                "20240102 000000300,1.5,1.6,0\n"}},
              "EURUSD-FROM-A-SOURCE-WITH-A-VERY-LONG-NAME-INDEED,20240102 000000300,1.5,bid\n"
              "EURUSD-FROM-A-SOURCE-WITH-A-VERY-LONG-NAME-INDEED,20240102 000000200,1.3,bid\n"
              "EURUSD-FROM-A-SOURCE-WITH-A-VERY-LONG-NAME-INDEED,20240102 000000100,1.1,bid\n",
              "",
              0},
    TicksCase{"decimal_commas_mid",
              {"--from=custom", "--separator=semicolon", "--decimal=comma", "--time-column=1",
               "--time-format=YYYY-MM-DD hh:mm", "--bid-column=2", "--ask-column=3", "--price=mid",
               "t.csv"},
              {{"t.csv", "2024-01-02 10:00;+1,5;2,5\n2024-01-02 10:01;1,25;1,5e1\n"}},
              ",2024-01-02 10:01,8.125,mid\n,2024-01-02 10:00,2,mid\n",
              "",
              0},
    TicksCase{"quoted_fields_eight_columns_apart",
              {"--from=custom", "--quoted", "--time-column=1", "--time-format=YYYY-MM-DD hh:mm",
               "--price-column=9", "t.csv"},
              {{"t.csv", "\"2024-01-02 10:00\",2,3,4,5,6,7,8,\"1.5\"\n"}},
              ",2024-01-02 10:00,1.5,price\n",
              "",
              0},
    TicksCase{"a_gzip_and_a_zip_of_a_table_and_a_status_file",
              {"--from=truefx", "a.gz", "b.zip"},
              {{"a.gz", gzipOf(kTicks.substr(0, 38))},
               {"b.zip", zipOf({{"b.csv", kTicks.substr(38)}, {"b.txt", "done"}})}},
              kTicksNewestFirst,
              "",
              0},
    TicksCase{"gzip_members_one_after_another",
              {"--from=truefx", "a.gz"},
              {{"a.gz", gzipOf(kTicks.substr(0, 38)) + gzipOf(kTicks.substr(38))}},
              kTicksNewestFirst,
              "",
              0},
    TicksCase{"a_gzip_with_bytes_after_it",
              {"--from=truefx", "a.gz"},
              {{"a.gz", kGzip + "garbage"}},
              "",
              "vellumbrook-ticks: a.gz: bytes after the last gzip member are no gzip data\n",
              1},
    TicksCase{"a_gzip_cut_short",
              {"--from=truefx", "a.gz"},
              {{"a.gz", kGzip.substr(0, kGzip.size() - 5)}},
              "",
              "vellumbrook-ticks: a.gz: the gzip data ends early\n",
              1},
    TicksCase{
        "a_gzip_whose_crc_is_wrong",
        {"--from=truefx", "a.gz"},
        {{"a.gz", kGzip.substr(0, kGzip.size() - 8) + "abcd" + kGzip.substr(kGzip.size() - 4)}},
        "",
        "vellumbrook-ticks: a.gz: its CRC does not match: the gzip data is damaged\n",
        1},
    TicksCase{"a_zip_of_folders_only",
              {"--from=truefx", "z.zip"},
              {{"z.zip", zipOf({{"2024/", ""}})}},
              "",
              "vellumbrook-ticks: z.zip: the zip holds no file\n",
              1},
    TicksCase{"a_zip_of_two_files_and_no_table",
              {"--from=truefx", "z.zip"},
              {{"z.zip", zipOf({{"a.txt", kTicks}, {"b.txt", kTicks}})}},
              "",
              "vellumbrook-ticks: z.zip: the zip holds several files and none ends in .csv "
              "(a.txt, b.txt); unzip the one to read\n",
              1},
    TicksCase{"an_encrypted_member",
              {"--from=truefx", "z.zip"},
              {{"z.zip", zipOf({{"a.CSV", kTicks, 1}})}},
              "",
              "vellumbrook-ticks: z.zip:a.CSV: it is encrypted, which is not read\n",
              1},
    TicksCase{"a_member_of_another_method",
              {"--from=truefx", "z.zip"},
              {{"z.zip", zipOf({{"a.csv", kTicks, 0, 12}})}},
              "",
              "vellumbrook-ticks: z.zip:a.csv: it is compressed with method 12; only stored "
              "and deflate are read\n",
              1},
    TicksCase{"a_zip_directory_outside_the_file",
              {"--from=truefx", "z.zip"},
              {{"z.zip", zipOf({{"a.csv", kTicks}}, 1000)}},
              "",
              "vellumbrook-ticks: z.zip: its central directory lies outside the file\n",
              1},
    TicksCase{"a_zip_cut_short",
              {"--from=truefx", "z.zip"},
              {{"z.zip", zipOf({{"a.csv", kTicks}}).substr(0, 60)}},
              "",
              "vellumbrook-ticks: z.zip: no zip directory at its end: the zip is cut short or "
              "damaged\n",
              1},
    TicksCase{"an_unclosed_quote_in_a_column_not_used",
              {"--from=custom", "--quoted", "--time-column=1", "--time-format=YYYY-MM-DD hh:mm",
               "--price-column=2", "t.csv"},
              {{"t.csv", "2024-01-02 10:00,1.5,\"x\n"}},
              "",
              "vellumbrook-ticks: t.csv:1: a quote that is never closed: '2024-01-02 "
              "10:00,1.5,\"x'\n",
              1},
    TicksCase{"a_file_named_twice",
              {"--from=truefx", "t.csv", "./t.csv"},
              {{"t.csv", "EUR/USD,20240102 00:00:00.100,1.1,1.2\n"}},
              "",
              "vellumbrook-ticks: ./t.csv: is the same file as t.csv, named before it; each "
              "file is read once\n",
              1},
    TicksCase{"impossible_date",
              {"--from=custom", "--time-column=1", "--time-format=YYYY-MM-DD hh:mm:ss",
               "--price-column=2", "t.csv"},
              {{"t.csv", "2024-02-29 23:59:60,1\n2024-02-30 00:00:00,1\n"}},
              "",
              "vellumbrook-ticks: t.csv:2: not a time of custom: '2024-02-30 00:00:00'\n",
              1},
    TicksCase{"month_zero_and_two_digit_years",
              {"--from=custom", "--time-column=1", "--time-format=YY-MM-DD", "--price-column=2",
               "--iso-time", "t.csv"},
              {{"t.csv", "24-01-02,1\n24-00-03,1\n"}},
              "",
              "vellumbrook-ticks: t.csv:2: not a time of custom: '24-00-03'\n",
              1},
    TicksCase{"epoch_beyond_the_year_9999",
              {"--from=custom", "--time-column=1", "--time-format=epoch", "--price-column=2",
               "--iso-time", "t.csv"},
              {{"t.csv", "253402300799999,1\n253402300800000,1\n"}},
              "",
              "vellumbrook-ticks: t.csv:2: not a time of custom: '253402300800000'\n",
              1},
    TicksCase{"two_digit_years_are_this_century",
              {"--from=custom", "--time-column=1", "--time-format=YY-MM-DD", "--price-column=2",
               "--iso-time", "t.csv"},
              {{"t.csv", "24-02-29,1\n"}},
              ",2024-02-29 00:00:00.000,1,price\n",
              "",
              0},
    TicksCase{"decimal_comma_and_a_zone",
              {"--from=custom", "--separator=tab", "--decimal=comma", "--time-column=1",
               "--time-format=YYYYMMDD hh:mm:ss", "--price-column=2", "t.csv"},
              {{"t.csv", "20240102 10:00:00\t+1,5\n20240102 10:00:01 EST,5\t1\n"}},
              "",
              "vellumbrook-ticks: t.csv:2: not a time of custom: '20240102 10:00:01 EST,5'\n",
              1},
    TicksCase{"time_format_with_a_split_field",
              {"--from=custom", "--time-column=1", "--time-format=YYYY-MM-DD hh:mm:MM",
               "--price-column=2", "t.csv"},
              {},
              "",
              "vellumbrook-ticks: --time-format cannot be 'YYYY-MM-DD hh:mm:MM'\n",
              2},
    TicksCase{"layout_required",
              {"t.csv"},
              {},
              "",
              "vellumbrook-ticks: say which layout the files have: --from=LAYOUT (see "
              "--help)\n",
              2});
const auto kCaseName = [](const ::testing::TestParamInfo<TicksCase>& info) {
    return std::string(info.param.name);
};
INSTANTIATE_TEST_SUITE_P(Ticks, Rewrite, kTicksCases, kCaseName);

// The same cases with --candles: the converter's table of the tick table the case gives, read
// forward once, or the same failure in the same words.
class Candles : public ::testing::TestWithParam<TicksCase> {
  protected:
    testing::InScratchFolder scratch{std::string("vellumbrook-candles-") + GetParam().name};
};

TEST_P(Candles, AreTheConvertersTableOfTheTicks) {
    for (const auto& [name, bytes] : GetParam().files) {
        std::ofstream(name, std::ios::binary) << bytes;
    }
    const auto run = [](std::vector<std::string> words) {
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        std::FILE* messages = std::tmpfile();
        const int status =
            runTicksProgram(static_cast<int>(argv.size()), argv.data(), stdout, messages);
        return std::pair{status, testing::readAndClose(messages)};
    };
    const std::vector<std::vector<std::string>> values{
        {}, {"-t", "2", "-c", "1", "-m", "0"}, {"-t", "1", "-m", "3", "-i", "2", "-j", "2", "-a"}};
    const std::map<std::string, std::string> longNames{
        {"-t", "--ticks-per-candle="}, {"-c", "--keep-candles="}, {"-m", "--future-rows="},
        {"-i", "--ema-offset="},       {"-j", "--ema-span="},     {"-a", "--no-header"}};
    for (const std::vector<std::string>& letters : values) {
        std::vector<std::string> ticks{"vellumbrook-ticks", "-o", "vb-ticks.out"};
        ticks.insert(ticks.end(), GetParam().args.begin(), GetParam().args.end());
        std::vector<std::string> candles{"vellumbrook-ticks", "-o", "vb-candles.out", "--candles"};
        candles.insert(candles.end(), GetParam().args.begin(), GetParam().args.end());
        for (std::size_t i = 0; i < letters.size(); ++i) {
            const bool flag = letters[i] == "-a";
            candles.push_back(longNames.at(letters[i]) + (flag ? "" : letters[i + 1]));
            i += flag ? 0 : 1;
        }
        const auto [tickStatus, tickMessages] = run(ticks);
        const auto [status, said] = run(candles);
        EXPECT_EQ(said, tickMessages);
        EXPECT_EQ(status, tickStatus);
        if (tickStatus != 0) {
            EXPECT_FALSE(fs::exists("vb-candles.out"));
            continue;
        }
        std::vector<std::string> converter{"vellumbrook", "-f", "vb-ticks.out"};
        converter.insert(converter.end(), letters.begin(), letters.end());
        std::vector<char*> argv;
        for (std::string& word : converter) {
            argv.push_back(word.data());
        }
        Console console;
        console.out = std::tmpfile();
        console.err = std::tmpfile();
        ASSERT_EQ(runVellumbrook(static_cast<int>(argv.size()), argv.data(), console), 0);
        testing::readAndClose(console.err);
        EXPECT_EQ(testing::readFile("vb-candles.out"), testing::readAndClose(console.out));
        fs::remove("vb-candles.out");
        fs::remove("vb-ticks.out");
    }
}
INSTANTIATE_TEST_SUITE_P(Ticks, Candles, kTicksCases, kCaseName);

// Random months of ticks, each plain, gzipped or zipped, through --candles with random values:
// always the converter's table of the tick table.
TEST(CandlesOfRandomFiles, AreTheConvertersTableOfTheTicks) {
    const testing::InScratchFolder scratch("vellumbrook-candles-random");
    std::mt19937 random(20261211);
    for (int round = 0; round < 12; ++round) {
        std::vector<std::string> files;
        std::int64_t millis = 0;
        int price = 110000;
        for (int month = 1; month <= 1 + static_cast<int>(random() % 4); ++month) {
            std::string text;
            for (int tick = static_cast<int>(random() % 300); tick > 0; --tick) {
                millis += static_cast<std::int64_t>(random() % 2000);
                price += static_cast<int>(random() % 7) - 3;
                char line[96];
                std::snprintf(
                    line, sizeof line, "EUR/USD,2024%02d%02d %02d:%02d:%02d.%03d,%s%d.%05d,1.2%s",
                    month, 1 + static_cast<int>(millis / 86400000 % 28),
                    static_cast<int>(millis / 3600000 % 24), static_cast<int>(millis / 60000 % 60),
                    static_cast<int>(millis / 1000 % 60), static_cast<int>(millis % 1000),
                    random() % 50 == 0 ? "-" : "", price / 100000, price % 100000,
                    random() % 3 == 0 ? "\r\n" : "\n");
                text += line;
            }
            const std::string name = std::string("m").append(std::to_string(month));
            switch (random() % 3) {
                case 0:
                    files.push_back(name + ".csv");
                    std::ofstream(files.back(), std::ios::binary) << text;
                    break;
                case 1:
                    files.push_back(name + ".gz");
                    std::ofstream(files.back(), std::ios::binary) << gzipOf(text);
                    break;
                default:
                    files.push_back(name + ".zip");
                    std::ofstream(files.back(), std::ios::binary)
                        << zipOf({{name + ".csv", text}, {name + ".txt", "done"}});
            }
        }
        const std::vector<std::string> letters{
            "-t", std::to_string(random() % 12),    "-c", std::to_string(random() % 40),
            "-m", std::to_string(random() % 4),     "-i", std::to_string(random() % 4),
            "-j", std::to_string(1 + random() % 30)};
        std::vector<std::string> ticks{"vellumbrook-ticks", "--from=truefx", "-o", "ticks.out"};
        ticks.insert(ticks.end(), files.begin(), files.end());
        std::vector<std::string> candles{"vellumbrook-ticks",
                                         "--from=truefx",
                                         "-o",
                                         "candles.out",
                                         "--candles",
                                         "--ticks-per-candle=" + letters[1],
                                         "--keep-candles=" + letters[3],
                                         "--future-rows=" + letters[5],
                                         "--ema-offset=" + letters[7],
                                         "--ema-span=" + letters[9]};
        candles.insert(candles.end(), files.begin(), files.end());
        std::vector<std::string> converter{"vellumbrook", "-f", "ticks.out"};
        converter.insert(converter.end(), letters.begin(), letters.end());
        const auto run = [](std::vector<std::string> words, auto program) {
            std::vector<char*> argv;
            for (std::string& word : words) {
                argv.push_back(word.data());
            }
            return program(static_cast<int>(argv.size()), argv.data());
        };
        std::FILE* messages = std::tmpfile();
        ASSERT_EQ(
            run(ticks, [&](int argc,
                           char** argv) { return runTicksProgram(argc, argv, stdout, messages); }),
            0);
        ASSERT_EQ(run(candles,
                      [&](int argc, char** argv) {
                          return runTicksProgram(argc, argv, stdout, messages);
                      }),
                  0);
        EXPECT_EQ(testing::readAndClose(messages), "");
        Console console;
        console.out = std::tmpfile();
        console.err = std::tmpfile();
        ASSERT_EQ(run(converter,
                      [&](int argc, char** argv) { return runVellumbrook(argc, argv, console); }),
                  0);
        testing::readAndClose(console.err);
        EXPECT_EQ(testing::readFile("candles.out"), testing::readAndClose(console.out))
            << "round " << round;
        for (const std::string& file : files) {
            fs::remove(file);
        }
    }
}

#ifndef _WIN32
// Runs the program on "-" with `input` as its standard input; gives the status and messages.
std::pair<int, std::string> rewriteStandardInput(int input, const fs::path& out) {
    const int saved = ::dup(STDIN_FILENO);
    ::dup2(input, STDIN_FILENO);
    TicksSettings settings;
    settings.layout = preset("truefx");
    settings.files = {"-"};
    settings.output = out.string();
    std::FILE* messages = std::tmpfile();
    const int status = rewriteTicks(settings, stdout, messages);
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    return {status, testing::readAndClose(messages)};
}

// "-" is standard input from where it stands: as in { read -r header; vellumbrook-ticks -; },
// the line that the shell read before is not read again.
TEST(RewriteStandardInput, StartsWhereItStands) {
    const testing::InScratchFolder scratch("vellumbrook-ticks-stdin");
    const std::string readBefore = "EUR/USD,20240130 00:00:00.000,9.9,9.9\n";
    std::ofstream("ticks.csv", std::ios::binary) << readBefore << kJanuary;
    const int file = ::open("ticks.csv", O_RDONLY);
    ASSERT_GE(file, 0);
    const auto past = static_cast<off_t>(readBefore.size());
    ASSERT_EQ(::lseek(file, past, SEEK_SET), past);
    EXPECT_EQ(rewriteStandardInput(file, "out.csv").first, 0);
    ::close(file);
    EXPECT_EQ(testing::readFile("out.csv"), ",20240131 23:59:59.000,1.1,bid\n");
}

// A stream that is no tick file stops at its first lines, not once it fills the disk.
TEST(RewriteStandardInput, EndlessTextStopsAtItsFirstLine) {
    const testing::InScratchFolder scratch("vellumbrook-ticks-endless");
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(ends), 0);
    const auto oldHandler = std::signal(SIGPIPE, SIG_IGN);
    std::size_t written = 0;
    std::thread writer([&] {
        std::string lines;
        while (lines.size() < (std::size_t{1} << 16)) {
            lines += "hello world\n";
        }
        while (written < (std::size_t{64} << 20)) {
            const ::ssize_t got = ::write(ends[1], lines.data(), lines.size());
            if (got <= 0) {
                break;
            }
            written += static_cast<std::size_t>(got);
        }
        ::close(ends[1]);
    });
    const auto [status, said] = rewriteStandardInput(ends[0], "out.csv");
    ::close(ends[0]);
    writer.join();
    std::signal(SIGPIPE, oldHandler);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(said, "vellumbrook-ticks: -:1: fewer than the 4 fields of truefx: 'hello world'\n");
    EXPECT_LT(written, std::size_t{4} << 20);
}
#endif

}  // namespace
}  // namespace vellumbrook::ticks
