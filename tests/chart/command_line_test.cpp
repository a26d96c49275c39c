#include "chart/command_line.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
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
                  2}),
    [](const ::testing::TestParamInfo<ChartCase>& info) { return info.param.name; });

}  // namespace
}  // namespace vellumbrook::chart
