#include "candles/aggregation.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "support/tick_bytes.hpp"

namespace vellumbrook {
namespace {

std::string fileOf(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) {
        bytes.append(line).append("\n");
    }
    return bytes;
}

CandleRecord aggregate(const std::vector<std::string>& lines, std::uint8_t complete = 1) {
    const TickFile ticks = testing::tickFileOf(fileOf(lines));
    LineReader reader(ticks);
    CandleRecord record;
    aggregateGroup(reader, static_cast<std::int32_t>(lines.size()), 1, record, complete);
    return record;
}

TEST(AggregateGroup, NewestLineGivesCloseAndTimeOldestGivesOpen) {
    const CandleRecord record = aggregate({"S,T1,5,x", "S,T2,7,x", "S,T3,3,x"}, 0);
    EXPECT_EQ(record.timeText, "T1");
    EXPECT_EQ(record.open, 3);
    EXPECT_EQ(record.high, 7);
    EXPECT_EQ(record.low, 3);
    EXPECT_EQ(record.close, 5);
    EXPECT_EQ(record.complete, 0);
    EXPECT_EQ(record.emaReady, 0);
    EXPECT_EQ(record.ema, 0.0);
}

TEST(AggregateGroup, UnusableLinesArePassedOver) {
    const CandleRecord record = aggregate({"heading", "S,T2,7,x", "S,T3,-2,x", ""});
    EXPECT_EQ(record.timeText, "T2");
    EXPECT_EQ(record.close, 7);
    EXPECT_EQ(record.open, -2);
    EXPECT_EQ(record.low, -2);
    EXPECT_EQ(record.high, 7);
    EXPECT_EQ(record.complete, 1);
}

TEST(AggregateGroup, GroupWithoutUsableLineStaysEmpty) {
    CandleRecord expected;
    expected.complete = 1;
    EXPECT_EQ(aggregate({"a", "b,c"}), expected);
}

TEST(AggregateGroup, OneLineGivesAllFourPrices) {
    const CandleRecord record = aggregate({"S,T,4.25,x"});
    EXPECT_EQ(record.open, 4.25);
    EXPECT_EQ(record.high, 4.25);
    EXPECT_EQ(record.low, 4.25);
    EXPECT_EQ(record.close, 4.25);
}

TEST(AggregateGroup, InfinityIsTheHigh) {
    const CandleRecord record = aggregate({"S,T,1,x", "S,T,inf,x", "S,T,-inf,x"});
    EXPECT_EQ(record.high, HUGE_VAL);
    EXPECT_EQ(record.low, -HUGE_VAL);
}

TEST(AggregateGroup, ZerosOfBothSignsKeepTheirStableSortPlaces) {
    const CandleRecord record = aggregate({"S,T,0,x", "S,T,-0,x"});
    EXPECT_FALSE(std::signbit(record.low));
    EXPECT_TRUE(std::signbit(record.high));
}

TEST(AggregateGroup, NansAreLeftOutOfHighAndLow) {
    const CandleRecord mixed = aggregate({"S,T,nan,x", "S,T,2,x", "S,T,nan,x", "S,T,1,x"});
    EXPECT_TRUE(std::isnan(mixed.close));
    EXPECT_EQ(mixed.open, 1);
    EXPECT_EQ(mixed.high, 2);
    EXPECT_EQ(mixed.low, 1);
    const CandleRecord allNan = aggregate({"S,T,nan,x", "S,T,-nan,x"});
    EXPECT_TRUE(std::isnan(allNan.high));
    EXPECT_FALSE(std::signbit(allNan.high));
    EXPECT_FALSE(std::signbit(allNan.low));
}

// High and low must be the ends of a stable ascending sort by less-than, also for runs of
// equal values and zeros of both signs, and whether the prices are short decimals of one
// scale, of several, or other numbers; the close is the first price and the open the last.
TEST(AggregateGroup, HighAndLowMatchAStableSort) {
    std::mt19937 random(7);
    const std::vector<std::string> values{"0",    "-0",  "1",    "-1",    "2.5",    "-2.5",
                                          "2.50", "0.0", "-0.0", "1e300", "-1e300", "2.49",
                                          "12.",  "1.2", "12",   "9.9",   "10.0",   "-.5"};
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::string> lines;
        std::vector<double> prices;
        const std::size_t size = 1 + random() % 9;
        for (std::size_t i = 0; i < size; ++i) {
            const std::string& text = values[random() % values.size()];
            lines.push_back("S,T," + text + ",x");
            prices.push_back(std::stod(text));
        }
        const CandleRecord record = aggregate(lines);
        ASSERT_EQ(std::signbit(record.close), std::signbit(prices.front()));
        ASSERT_EQ(record.close, prices.front());
        ASSERT_EQ(std::signbit(record.open), std::signbit(prices.back()));
        ASSERT_EQ(record.open, prices.back());
        std::stable_sort(prices.begin(), prices.end());
        ASSERT_EQ(std::signbit(record.low), std::signbit(prices.front()));
        ASSERT_EQ(std::signbit(record.high), std::signbit(prices.back()));
        ASSERT_EQ(record.low, prices.front());
        ASSERT_EQ(record.high, prices.back());
    }
}

TEST(AggregateGroup, BadPriceNamesItsLine) {
    const TickFile ticks = testing::tickFileOf(fileOf({"S,T,1,x", "skip", "S,T,oops,x"}));
    LineReader reader(ticks);
    CandleRecord record;
    try {
        aggregateGroup(reader, 3, 41, record, 1);
        FAIL();
    } catch (const PriceError& error) {
        EXPECT_EQ(error.lineNumber(), 43U);
        EXPECT_EQ(error.priceText(), "oops");
        EXPECT_STREQ(error.what(), "invalid stod argument");
    }
}

// A group takes exactly its own lines from the reader and leaves the next ones to the next
// group; its time text stays valid after the reader has moved on.
TEST(AggregateGroup, TakesOnlyItsOwnLines) {
    const TickFile ticks = testing::tickFileOf(testing::numberedTicks(5));
    LineReader reader(ticks, 4);  // every line is longer than the buffer
    CandleRecord first;
    aggregateGroup(reader, 2, 1, first, 1);
    CandleRecord second;
    aggregateGroup(reader, 3, 3, second, 1);
    EXPECT_EQ(first.timeText, "t1");
    EXPECT_EQ(first.open, 2);
    EXPECT_EQ(second.timeText, "t3");
    EXPECT_EQ(second.open, 5);
    std::string_view line;
    EXPECT_FALSE(reader.nextLine(line));
}

}  // namespace
}  // namespace vellumbrook
