#include "output/csv_writer.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <string>

namespace vellumbrook {
namespace {

struct NumberCase {
    double value;
    const char* written;
};

class NumberFormat : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberFormat, MatchesPrintfG) {
    std::string out;
    appendNumber(out, GetParam().value);
    EXPECT_EQ(out, GetParam().written);
#ifdef __GLIBC__
    char printed[64];  // the spelling chosen for every system is glibc's
    std::snprintf(printed, sizeof printed, "%g", GetParam().value);
    EXPECT_EQ(out, printed);
#endif
}

INSTANTIATE_TEST_SUITE_P(
    CsvWriter, NumberFormat,
    ::testing::Values(NumberCase{0, "0"}, NumberCase{-0.0, "-0"}, NumberCase{7.5, "7.5"},
                      NumberCase{1234.5, "1234.5"}, NumberCase{105.3333333, "105.333"},
                      NumberCase{123456, "123456"}, NumberCase{999999.4, "999999"},
                      NumberCase{999999.5, "1e+06"}, NumberCase{1234567, "1.23457e+06"},
                      NumberCase{0.0001, "0.0001"}, NumberCase{0.00001, "1e-05"},
                      NumberCase{0.000123456789, "0.000123457"}, NumberCase{-2.5, "-2.5"},
                      NumberCase{1e300, "1e+300"}, NumberCase{5e-324, "4.94066e-324"},
                      NumberCase{HUGE_VAL, "inf"}, NumberCase{-HUGE_VAL, "-inf"},
                      NumberCase{NAN, "nan"}, NumberCase{-NAN, "-nan"}));

// Doubles of every magnitude, and many of the range prices take, ties between two roundings
// among them: each must be written as the general format with precision 6 writes it
// (std::to_chars here, on every system; glibc's printf as well where it is the C library).
TEST(CsvWriter, NumbersMatchTheGeneralFormatOverTheWholeRange) {
    std::mt19937_64 random(6);
    for (int round = 0; round < 1000000; ++round) {
        double value = 0;
        const std::uint64_t bits = random();
        if (round % 3 == 0) {
            std::memcpy(&value, &bits, sizeof value);
        } else if (round % 3 == 1) {
            value = static_cast<double>(bits % 2000000000) / std::pow(10.0, bits >> 58 & 15);
        } else {
            value = static_cast<double>(bits % 1000000) + 0.5;  // ties at the sixth digit
        }
        if (!std::isfinite(value)) {
            continue;
        }
        std::string out;
        appendNumber(out, value);
        char expected[64];
        char* end = std::to_chars(std::begin(expected), std::end(expected), value,
                                  std::chars_format::general, 6)
                        .ptr;
        ASSERT_EQ(out, std::string(std::begin(expected), end)) << bits;
#ifdef __GLIBC__
        std::snprintf(expected, sizeof expected, "%g", value);
        ASSERT_EQ(out, expected) << bits;
#endif
    }
}

TEST(CsvWriter, HeaderVariants) {
    CsvLayout layout;
    EXPECT_EQ(csvHeader(layout), "Date,Open,High,Low,Close,ema(20)");
    layout.emaSpan = 3;
    EXPECT_EQ(csvHeader(layout), "Date,Open,High,Low,Close,ema(3)");
    layout.ema = false;
    EXPECT_EQ(csvHeader(layout), "Date,Open,High,Low,Close");
}

CandleRecord row(const char* time, double open, double high, double low, double close, double ema) {
    CandleRecord record;
    record.timeText = time;
    record.open = open;
    record.high = high;
    record.low = low;
    record.close = close;
    record.ema = ema;
    return record;
}

// Every line as the writer hands it on, each followed by a newline.
std::string written(const CandleList& candles, const CsvLayout& layout) {
    std::string out;
    EXPECT_TRUE(writeCsv(candles, layout, [&out](std::string_view line) {
        out.append(line).append("\n");
        return true;
    }));
    return out;
}

TEST(CsvWriter, WritesEveryRowFrontToBack) {
    const CandleList candles{row("+00001", 0, 0, 0, 0, 15), row("t6", 15.5, 16.25, 15.25, 16, 14),
                             row("t5", 14.5, 15.25, 14.25, 15, 13)};
    CsvLayout settings;
    settings.emaSpan = 3;
    EXPECT_EQ(written(candles, settings),
              "Date,Open,High,Low,Close,ema(3)\n+00001,0,0,0,0,15\n"
              "t6,15.5,16.25,15.25,16,14\nt5,14.5,15.25,14.25,15,13\n");
    settings.ema = false;
    EXPECT_EQ(written(candles, settings),
              "Date,Open,High,Low,Close\n+00001,0,0,0,0\nt6,15.5,16.25,15.25,16\n"
              "t5,14.5,15.25,14.25,15\n");
    settings.header = false;
    EXPECT_EQ(written(candles, settings),
              "+00001,0,0,0,0\nt6,15.5,16.25,15.25,16\n"
              "t5,14.5,15.25,14.25,15\n");
}

TEST(CsvWriter, EmptyListWritesTheHeaderAlone) {
    CsvLayout settings;
    EXPECT_EQ(written({}, settings), "Date,Open,High,Low,Close,ema(20)\n");
    settings.header = false;
    EXPECT_EQ(written({}, settings), "");
}

TEST(CsvWriter, TimeTextIsWrittenAsStored) {
    using namespace std::string_literals;
    CandleList candles{row("", 1, 1, 1, 1, 0)};
    candles.front().timeText = " a \"b\"\0c"s;
    CsvLayout settings;
    settings.header = false;
    EXPECT_EQ(written(candles, settings), " a \"b\"\0c,1,1,1,1,0\n"s);
}

TEST(CsvWriter, StopsAtTheFirstLineThatCannotBeWritten) {
    const CandleList candles{row("t", 1, 1, 1, 1, 0), row("u", 1, 1, 1, 1, 0)};
    int attempts = 0;
    EXPECT_FALSE(
        writeCsv(candles, CsvLayout(), [&attempts](std::string_view) { return ++attempts < 2; }));
    EXPECT_EQ(attempts, 2);
}

}  // namespace
}  // namespace vellumbrook
