#include "chart/command_line.hpp"
#include "chart/table.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "support/run_binary.hpp"
#include "support/scratch_folder.hpp"

namespace vellumbrook::chart {
namespace {

namespace fs = std::filesystem;

struct ChartCase {
    const char* name;
    std::vector<std::string> args;  // after the program's name
    std::string table;              // written to table.csv
    std::string messages;           // exactly; the page is written only when this is empty
    int status;
};

// The system's own words for a missing file, which differ between systems.
const std::string kNoSuchFile = platform::openForReading("no such file.csv").reason;

const std::string kHeader = "Date,Open,High,Low,Close,ema(3)\n";
const std::string kCandles = "t2,1.5,2.25,1.25,2,1.75\nt1,1,1.5,0.75,1.25,0\n";

class Chart : public ::testing::TestWithParam<ChartCase> {
  protected:
    testing::InScratchFolder scratch{std::string("vellumbrook-chart-") + GetParam().name};
};

// Runs the program's own driver, as main does, and looks at what it said and left behind.
TEST_P(Chart, WritesThePageOrSaysWhyNot) {
    std::ofstream("table.csv", std::ios::binary) << GetParam().table;
    std::vector<std::string> words{"vellumbrook-chart"};
    words.insert(words.end(), GetParam().args.begin(), GetParam().args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    std::FILE* messages = std::tmpfile();
    const int status =
        runChartProgram(static_cast<int>(argv.size()), argv.data(), stdout, messages);
    const std::string said = testing::readAndClose(messages);
    EXPECT_EQ(said, GetParam().messages);
    EXPECT_EQ(status, GetParam().status);
    EXPECT_EQ(fs::exists("page.html"), status == 0);
    for (const fs::directory_entry& entry : fs::directory_iterator(".")) {
        EXPECT_EQ(entry.path().filename().string().find(".part-"), std::string::npos);
    }
    EXPECT_EQ(testing::readFile("table.csv"), GetParam().table) << "the table was changed";
}

INSTANTIATE_TEST_SUITE_P(
    Tables, Chart,
    ::testing::Values(
        ChartCase{"newest_first",
                  {"table.csv", "-o", "page.html"},
                  kHeader + "+00001,0,0,0,0,2\n" + kCandles,
                  "",
                  0},
        ChartCase{"turned_over_with_the_header_last",
                  {"table.csv", "-o", "page.html"},
                  "t1,1,1.5,0.75,1.25,0\nt2,1.5,2.25,1.25,2,1.75\n+00001,0,0,0,0,2\n" + kHeader,
                  "",
                  0},
        ChartCase{"crlf_without_header_or_ema",
                  {"table.csv", "-opage.html"},
                  "t2,1,2,0.5,1.5\r\nt1,1,2,0.5,nan\r\n",
                  "",
                  0},
        ChartCase{"too_few_fields",
                  {"table.csv", "-o", "page.html"},
                  kHeader + "t2,1.5,2.25,1.25,2\n",
                  "vellumbrook-chart: table.csv:2: 5 fields where the table has 6\n",
                  1},
        ChartCase{"not_a_table",
                  {"table.csv", "-o", "page.html"},
                  "EUR/USD,20240102 00:00:00.181,1.10345\n",
                  "vellumbrook-chart: table.csv:1: 3 fields; a table of vellumbrook has 5 "
                  "(Date,Open,High,Low,Close) or 6 (and the EMA)\n",
                  1},
        ChartCase{"not_a_number",
                  {"table.csv", "-o", "page.html"},
                  kHeader + "t2,1.5,2.25,1.2.5,2,0\n",
                  "vellumbrook-chart: table.csv:2: '1.2.5' in the Low column is not a number\n",
                  1},
        ChartCase{"beyond_the_doubles",
                  {"table.csv", "-o", "page.html"},
                  kHeader + "t2,1.5,1e400,1.25,2,0\n",
                  "vellumbrook-chart: table.csv:2: '1e400' in the High column is not a number\n",
                  1},
        ChartCase{"four_hundred_digits",
                  {"table.csv", "-o", "page.html"},
                  kHeader + "t2,1.5,2.25,1.25,2," + std::string(400, '7') + "\n",
                  "vellumbrook-chart: table.csv:2: '" + std::string(200, '7') +
                      "'... in the EMA column is not a number\n",
                  1},
        ChartCase{"a_nul_byte",
                  {"table.csv", "-o", "page.html"},
                  kCandles + std::string("t0,1,1\0,1,1,0\n", 15),
                  "vellumbrook-chart: table.csv:3: a NUL byte; not a table of vellumbrook\n",
                  1},
        ChartCase{"control_bytes_escaped",
                  {"table.csv", "-o", "page.html"},
                  kHeader + "t2,\x1b[31m,2.25,1.25,2,0\n",
                  "vellumbrook-chart: table.csv:2: '\\x1b[31m' in the Open column is not a "
                  "number\n",
                  1},
        ChartCase{"header_in_the_middle",
                  {"table.csv", "-o", "page.html"},
                  kCandles + kHeader + kCandles,
                  "vellumbrook-chart: table.csv:3: a header line in the middle of the table\n",
                  1},
        ChartCase{"placeholder_between_candles",
                  {"table.csv", "-o", "page.html"},
                  "t3,1,2,0.5,1.5,0\n+00001,0,0,0,0,0\n" + kCandles,
                  "vellumbrook-chart: table.csv:2: a placeholder row between candles\n",
                  1},
        ChartCase{"no_candles",
                  {"table.csv", "-o", "page.html"},
                  kHeader + "+00001,0,0,0,0,0\n",
                  "vellumbrook-chart: table.csv: no candles in it\n",
                  1},
        ChartCase{"oldest_first_against_its_placeholders",
                  {"--oldest-first", "table.csv", "-o", "page.html"},
                  kHeader + "+00001,0,0,0,0,2\n" + kCandles,
                  "vellumbrook-chart: table.csv: its placeholder rows stand at the top, so it "
                  "runs newest first, not --oldest-first\n",
                  1},
        ChartCase{"missing_table",
                  {"missing.csv", "-o", "page.html"},
                  kCandles,
                  "vellumbrook-chart: missing.csv: cannot be opened: " + kNoSuchFile + "\n",
                  1},
        ChartCase{"output_is_the_table",
                  {"table.csv", "-o", "table.csv"},
                  kCandles,
                  "vellumbrook-chart: table.csv: is also an input; write the output to another "
                  "file\n",
                  1},
        ChartCase{"output_is_a_folder",
                  {"table.csv", "-o", "."},
                  kCandles,
                  "vellumbrook-chart: .: cannot be written: it is a folder\n",
                  1},
        ChartCase{"no_output",
                  {"table.csv"},
                  kCandles,
                  "vellumbrook-chart: say where the page goes: -o PAGE.html (see --help)\n",
                  2},
        ChartCase{"empty_output",
                  {"table.csv", "--output="},
                  kCandles,
                  "vellumbrook-chart: --output needs a file name\n",
                  2},
        ChartCase{"unknown_option",
                  {"table.csv", "-o", "page.html", "--titel=x"},
                  kCandles,
                  "vellumbrook-chart: unknown option '--titel=x' (see --help)\n",
                  2},
        ChartCase{"two_tables",
                  {"table.csv", "other.csv", "-o", "page.html"},
                  kCandles,
                  "vellumbrook-chart: one table at a time: 'table.csv' and 'other.csv'\n",
                  2},
        ChartCase{"control_bytes_in_words_escaped",
                  {"table.csv", "-o", "page.html", "--ti\x1btle"},
                  kCandles,
                  "vellumbrook-chart: unknown option '--ti\\x1btle' (see --help)\n",
                  2},
        ChartCase{"control_bytes_in_the_name_escaped",
                  {"ta\x1b[2Jble.csv", "-o", "page.html"},
                  kCandles,
                  "vellumbrook-chart: ta\\x1b[2Jble.csv: cannot be opened: " +
                      platform::openForReading("ta\x1b[2Jble.csv").reason + "\n",
                  1},
        ChartCase{"only_empty_rows",
                  {"table.csv", "-o", "page.html"},
                  kHeader + "+00001,0,0,0,0,0\n,0,0,0,0,0\n,0,0,0,0,nan\n",
                  "vellumbrook-chart: table.csv: none of its 2 rows has prices: each is empty "
                  "(0,0,0,0, as the converter writes for lines it cannot read) or holds nan or "
                  "inf\n",
                  1},
        ChartCase{"saved_by_a_spreadsheet",
                  {"table.csv", "-o", "page.html"},
                  "\xef\xbb\xbf"
                  "date,open,high,low,close,EMA(<b>)\r\n" +
                      kCandles + "\n\n\x1a",
                  "",
                  0},
        ChartCase{"blank_line_between_rows",
                  {"table.csv", "-o", "page.html"},
                  kHeader + "t2,1.5,2.25,1.25,2,1.75\n\nt1,1,1.5,0.75,1.25,0\n",
                  "vellumbrook-chart: table.csv:3: a blank line in the middle of the table\n",
                  1},
        ChartCase{"lone_cr_line_ends",
                  {"table.csv", "-o", "page.html"},
                  "t2,1.5,2.25,1.25,2,1.75\rt1,1,1.5,0.75,1.25,0\r",
                  "vellumbrook-chart: table.csv:1: a CR inside a line: its lines end in CR alone "
                  "(classic Mac OS); tr '\\r' '\\n' makes them LF\n",
                  1},
        ChartCase{"high_below_low",
                  {"table.csv", "-o", "page.html"},
                  kHeader + "t2,1.5,1.25,2.25,2,1.75\n",
                  "vellumbrook-chart: table.csv:2: its High '1.25' is below its Low '2.25'\n",
                  1},
        ChartCase{"close_outside_low_and_high",
                  {"table.csv", "-o", "page.html"},
                  kHeader + "t2,1.5,2.25,1.25,3,1.75\n",
                  "vellumbrook-chart: table.csv:2: its Close '3' is outside its Low '1.25' and "
                  "High '2.25'\n",
                  1},
        ChartCase{"header_below_placeholders_above",
                  {"table.csv", "-o", "page.html"},
                  "+00001,0,0,0,0,2\n" + kCandles + kHeader,
                  "vellumbrook-chart: table.csv:4: a header at the bottom says it runs oldest "
                  "first, but its placeholder rows stand at the top, so it runs newest first\n",
                  1},
        ChartCase{"dates_against_placeholders",
                  {"table.csv", "-o", "page.html"},
                  kHeader + "+00001,0,0,0,0,2\n2024.01.02 00:00:00.000,1,1.5,0.75,1.25,0\n"
                            "2024.01.02 00:01:00.000,1.5,2.25,1.25,2,1.75\n",
                  "vellumbrook-chart: table.csv:4: its Dates run oldest first ('2024.01.02 "
                  "00:00:00.000' on line 3, '2024.01.02 00:01:00.000' here), but its "
                  "placeholder rows at the top say newest first\n",
                  1}),
    [](const ::testing::TestParamInfo<ChartCase>& info) { return info.param.name; });

// Which end of a table is the newest, as the page is told: from the placeholder rows, the
// header's place, --oldest-first, or else the Dates where they are times of a known form.
TEST(ChartOrder, IsTakenFromTheTableAndItsDates) {
    const testing::InScratchFolder scratch("vellumbrook-chart-order");
    const struct {
        std::string table;
        std::vector<std::string> options;
        std::string order;  // as the page's data says it
    } cases[] = {
        {kCandles + kHeader, {}, "\"newestFirst\":false,\"orderFromDates\":false"},
        {kCandles, {"--oldest-first"}, "\"newestFirst\":false,\"orderFromDates\":false"},
        {kCandles, {}, "\"newestFirst\":true,\"orderFromDates\":false"},
        {"2024-01-02T00:00:00Z,1,2,1,2\n2024-01-02T00:00:01.5Z,1,2,1,2\n",
         {},
         "\"newestFirst\":false,\"orderFromDates\":true"},
        {"20240102 000001000,1,2,1,2\n20240102 000000500,1,2,1,2\n",
         {},
         "\"newestFirst\":true,\"orderFromDates\":false"},
        {"1704153600000,1,2,1,2\n1704153601000,1,2,1,2\n",
         {},
         "\"newestFirst\":false,\"orderFromDates\":true"},
        {"02.01.2024 00:00:00.000,1,2,1,2\n01.01.2024 23:59:59.999,1,2,1,2\n",
         {},
         "\"newestFirst\":true,\"orderFromDates\":false"},
        {"20240102 00:00:01.000,1,2,1,2\n20240102 00:00:02.000,1,2,1,2\n",
         {"--title=a\xff\x01"
          "b"},
         "<title>a\xef\xbf\xbd b</title>"},
    };
    for (const auto& [table, options, order] : cases) {
        std::ofstream("table.csv", std::ios::binary) << table;
        std::vector<std::string> words{"vellumbrook-chart", "table.csv", "-o", "page.html"};
        words.insert(words.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        ASSERT_EQ(runChartProgram(static_cast<int>(argv.size()), argv.data(), stdout, stderr), 0);
        EXPECT_NE(testing::readFile("page.html").find(order), std::string::npos) << table;
    }
}

// A table large enough to be read in several blocks and on two threads, its prices written
// in every form a table may hold them (so that rows take the plain reading and the general
// one by turns): the page holds every row as written, the decimals its prices need, and a
// row deep in it whose prices contradict each other, or a placeholder row between candles,
// is refused on its own line.
TEST(ChartLargeTable, IsReadRowForRowAsWritten) {
    const testing::InScratchFolder scratch("vellumbrook-chart-large");
    std::mt19937_64 random(20261211);
    const auto pick = [&](std::uint64_t below) { return random() % below; };
    // n / 10^decimals as a table may write it: trailing zeros kept or not, or with an exponent.
    const auto written = [&](std::int64_t n, int decimals) {
        std::string digits = std::to_string(n < 0 ? -n : n);
        std::string text;
        if (pick(2000) == 0) {
            text = digits + "e-" + std::to_string(decimals);
        } else {
            digits = std::string(std::max<int>(0, decimals + 1 - int(digits.size())), '0') + digits;
            text = digits.substr(0, digits.size() - decimals);
            std::string fraction = digits.substr(digits.size() - decimals);
            if (pick(2) == 0) {
                fraction.erase(fraction.find_last_not_of('0') + 1);
            }
            text += fraction.empty() ? "" : "." + fraction;
        }
        return (n < 0 ? "-" : "") + text;
    };
    struct Row {
        std::string date, open, high, low, close, ema;
    };
    std::vector<Row> rows;
    int decimals = 0;
    constexpr std::size_t kRows = 250000;
    for (std::size_t i = 0; i < kRows; ++i) {
        Row row;
        row.date = 't';
        row.date += std::to_string(kRows - i);
        if (pick(3000) == 0) {
            row.date += pick(2) == 0 ? "\"" : "<";
        }
        if (pick(500) == 0) {
            for (std::string* price : {&row.open, &row.high, &row.low, &row.close}) {
                *price = '0';
            }
        } else {
            const int places = static_cast<int>(pick(7));
            const std::int64_t sign = pick(20) == 0 ? -1 : 1;
            const auto low = static_cast<std::int64_t>(1 + pick(2000000));
            const auto high = low + static_cast<std::int64_t>(pick(3000));
            const auto between = [&] {
                return low + static_cast<std::int64_t>(pick(high - low + 1));
            };
            const std::int64_t open = between();
            const std::int64_t close = between();
            row.open = written(sign * open, places);
            row.close = written(sign * close, places);
            row.high = written(sign * (sign > 0 ? high : low), places);
            row.low = written(sign * (sign > 0 ? low : high), places);
            decimals = std::max(decimals, places);
        }
        row.ema = pick(3000) == 0 ? "nan" : written(static_cast<std::int64_t>(pick(3000000)), 5);
        rows.push_back(row);
    }
    const auto table = [&](std::size_t refused, const std::string& refusal) {
        std::string text = kHeader + "+00001,0,0,0,0,1.5\n";
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const Row& row = rows[i];
            text += i == refused ? refusal
                                 : row.date + "," + row.open + "," + row.high + "," + row.low +
                                       "," + row.close + "," + row.ema + "\n";
        }
        return text;
    };
    const auto chart = [](const std::string& text) {
        std::ofstream("table.csv", std::ios::binary) << text;
        std::vector<std::string> words{"vellumbrook-chart", "table.csv", "-o", "page.html"};
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        std::FILE* messages = std::tmpfile();
        runChartProgram(static_cast<int>(argv.size()), argv.data(), stdout, messages);
        return testing::readAndClose(messages);
    };

    ASSERT_EQ(chart(table(kRows, "")), "");
    const std::string page = testing::readFile("page.html");
    const auto column = [&](auto field, std::string_view separator, std::size_t count) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i) {
            std::string value = i == 0 ? (separator == "," ? "0" : "+00001") : rows[i - 1].*field;
            if (separator == ",") {
                value = i == 0 && field == &Row::ema ? "1.5" : value == "nan" ? "null" : value;
            } else {
                std::string escaped;
                for (const char c : value) {
                    escaped += c == '"' ? "\\\"" : c == '<' ? "\\u003c" : std::string(1, c);
                }
                value = escaped;
            }
            text += (i == 0 ? "" : std::string(separator)) + value;
        }
        return text;
    };
    for (const std::size_t count : {std::size_t{9001}, kRows + 1}) {
        const std::string data =
            "\"decimals\":" + std::to_string(decimals) + ",\"emaLabel\":\"ema(3)\",\"dates\":\"" +
            column(&Row::date, "\\n", count) + "\",\"open\":[" + column(&Row::open, ",", count) +
            "],\"high\":[" + column(&Row::high, ",", count) + "],\"low\":[" +
            column(&Row::low, ",", count) + "],\"close\":[" + column(&Row::close, ",", count) +
            "],\"ema\":[" + column(&Row::ema, ",", count) + "]}";
        EXPECT_NE(page.find(data), std::string::npos) << "the first " << count << " rows";
    }

    const std::size_t deep = kRows - 12345;
    const std::string line = "table.csv:" + std::to_string(deep + 3) + ": ";
    EXPECT_EQ(chart(table(deep, "t,1.5,1.25,1.5,1.5,1\n")),
              "vellumbrook-chart: " + line + "its High '1.25' is below its Low '1.5'\n");
    EXPECT_EQ(
        chart(table(deep, "t,1.25,2,1.5,1.5,1\n")),
        "vellumbrook-chart: " + line + "its Open '1.25' is outside its Low '1.5' and High '2'\n");
    EXPECT_EQ(chart(table(deep, "+00002,0,0,0,0,1\n")),
              "vellumbrook-chart: " + line + "a placeholder row between candles\n");

    // Runs of plain rows alone count the rows with prices.
    std::string empty;
    for (int row = 0; row < 40000; ++row) {
        empty += "t,0,0,0,0\n";
    }
    EXPECT_EQ(chart(empty),
              "vellumbrook-chart: table.csv: none of its 40000 rows has prices: each "
              "is empty (0,0,0,0, as the converter writes for lines it cannot read) "
              "or holds nan or inf\n");
    EXPECT_EQ(chart(empty + "t,1,2,1,2\n" + empty), "");

    // Prices at and just past each other's bounds, in every form: refused exactly when they
    // contradict each other.
    const auto expectJudged = [](const std::string& prices, bool sound) {
        TableReader reader(false);
        reader.add("t2,1,2,1,2");
        try {
            reader.add("t1," + prices);
            EXPECT_TRUE(sound) << prices << " taken";
        } catch (const TableError& error) {
            EXPECT_FALSE(sound) << prices << ": " << error.text;
            EXPECT_EQ(error.line, 2u);
        }
    };
    // Digits too many for one integer scale.
    expectJudged("0.00000000000001,12345678901234.5,0.00000000000001,1", true);
    expectJudged("1,12345678901234.5,0.00000000000001,99999999999999.9", false);
    for (int trial = 0; trial < 20000; ++trial) {
        const int places = static_cast<int>(pick(7));
        const std::int64_t sign = pick(8) == 0 ? -1 : 1;
        const auto low = static_cast<std::int64_t>(pick(3) == 0 ? pick(10) : pick(20000000));
        const auto near = [&](std::int64_t price) {
            return price + static_cast<std::int64_t>(pick(3)) - 1;
        };
        const std::int64_t high = near(low + static_cast<std::int64_t>(pick(2)));
        const std::int64_t open = near(pick(2) == 0 ? low : high);
        const std::int64_t close = near(pick(2) == 0 ? low : high);
        expectJudged(written(sign * open, places) + "," +
                         written(sign * (sign > 0 ? high : low), places) + "," +
                         written(sign * (sign > 0 ? low : high), places) + "," +
                         written(sign * close, places),
                     low <= high && low <= open && open <= high && low <= close && close <= high);
    }
}

}  // namespace
}  // namespace vellumbrook::chart
