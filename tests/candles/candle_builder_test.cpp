#include "candles/candle_builder.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "candles/aggregation.hpp"
#include "support/tick_bytes.hpp"

namespace vellumbrook {
namespace {

using testing::numberedTicks;
using testing::tickFileOf;

CandleSettings settingsWith(std::int32_t ticksPerCandle, std::int32_t candleLimit,
                            std::int32_t futureCount = 1) {
    CandleSettings settings;
    settings.ticksPerCandle = ticksPerCandle;
    settings.candleLimit = candleLimit;
    settings.futureCount = futureCount;
    return settings;
}

struct PlanCase {
    int lines;
    std::int32_t ticksSetting;
    std::int32_t ticksPerCandle;
    std::int32_t remainder;
    std::int32_t candleCount;
};

class Plans : public ::testing::TestWithParam<PlanCase> {};

TEST_P(Plans, SplitTheLinesIntoCandles) {
    CandleBuilder builder;
    builder.plan(GetParam().lines, settingsWith(GetParam().ticksSetting, 5));
    EXPECT_EQ(builder.tickCount, GetParam().lines);
    EXPECT_EQ(builder.ticksPerCandle, GetParam().ticksPerCandle);
    EXPECT_EQ(builder.remainder, GetParam().remainder);
    EXPECT_EQ(builder.candleCount, GetParam().candleCount);
    EXPECT_EQ(builder.candleLimit, 5);
}

INSTANTIATE_TEST_SUITE_P(CandleBuilder, Plans,
                         ::testing::Values(PlanCase{150, 70, 70, 10, 3},
                                           PlanCase{140, 70, 70, 0, 2}, PlanCase{0, 70, 70, 0, 0},
                                           PlanCase{7, 0, 1, 0, 7},
                                           PlanCase{7, 2147483647, 2147483647, 7, 1}));

TEST(CandleBuilder, EmaOffsetNeverPassesThePlaceholders) {
    CandleSettings settings;
    settings.emaOffset = 5;
    CandleBuilder builder;
    builder.plan(0, settings);
    EXPECT_EQ(builder.emaOffset, 1);
    settings.futureCount = 0;
    builder.plan(0, settings);
    EXPECT_EQ(builder.emaOffset, 0);
}

// The candles as "first line-last line" ranges with their complete flags, read back from the
// numbered prices: the close is the first line of a group, the open its last.
std::vector<std::string> groupsOf(const CandleList& candles) {
    std::vector<std::string> groups;
    for (const CandleRecord& record : candles) {
        groups.push_back(std::to_string(static_cast<int>(record.close)) + "-" +
                         std::to_string(static_cast<int>(record.open)) +
                         (record.complete ? "" : " partial"));
    }
    return groups;
}

struct GroupingCase {
    int lines;
    std::int32_t ticksPerCandle;
    std::int32_t candleLimit;
    std::vector<std::string> groups;
};

class Grouping : public ::testing::TestWithParam<GroupingCase> {};

TEST_P(Grouping, KeepsTheNewestCandles) {
    const TickFile ticks = tickFileOf(numberedTicks(GetParam().lines));
    CandleBuilder builder;
    builder.plan(ticks.lineCount, settingsWith(GetParam().ticksPerCandle, GetParam().candleLimit));
    LineReader lines(ticks);
    CandleList candles;
    builder.groupTicks(lines, candles);
    EXPECT_EQ(groupsOf(candles), GetParam().groups);
}

INSTANTIATE_TEST_SUITE_P(
    CandleBuilder, Grouping,
    ::testing::Values(GroupingCase{150, 70, 2147483647, {"1-10 partial", "11-80", "81-150"}},
                      GroupingCase{150, 70, 2, {"1-10 partial", "11-80"}},
                      GroupingCase{150, 70, 1, {"1-10 partial"}}, GroupingCase{150, 70, 0, {}},
                      GroupingCase{140, 70, 1, {"1-70"}},
                      GroupingCase{140, 70, 2147483647, {"1-70", "71-140"}},
                      GroupingCase{0, 70, 2147483647, {}},
                      GroupingCase{3, 1, 2147483647, {"1-1", "2-2", "3-3"}}));

// Which groups the walk aggregates shows in which bad prices are found: the extra group
// that a limit makes the walk build is parsed, the lines behind it are not.
TEST(CandleBuilder, ParsesOnlyTheGroupsItWalks) {
    const auto failsWith = [](int badLine, std::int32_t candleLimit) {
        std::string bytes;
        for (int n = 1; n <= 150; ++n) {
            bytes += n == badLine ? "S,t,bad,x\n" : "S,t,1,x\n";
        }
        const TickFile ticks = tickFileOf(bytes);
        CandleBuilder builder;
        CandleList candles;
        try {
            builder.build(ticks, settingsWith(70, candleLimit), candles);
        } catch (const PriceError& error) {
            EXPECT_TRUE(candles.empty());
            return static_cast<int>(error.lineNumber());
        }
        return 0;
    };
    EXPECT_EQ(failsWith(150, 2147483647), 150);
    EXPECT_EQ(failsWith(150, 2), 150);  // aggregated, then dropped: still parsed
    EXPECT_EQ(failsWith(80, 1), 80);
    EXPECT_EQ(failsWith(81, 1), 0);
    EXPECT_EQ(failsWith(5, 0), 5);
    EXPECT_EQ(failsWith(11, 0), 0);
}

// The second reading stops after the walked groups: a file cut short behind them still
// converts, and one cut short inside them is a read error, with no rows kept.
TEST(CandleBuilder, ReadsNoLineBehindTheWalkedGroups) {
    const TickFile ticks = tickFileOf(numberedTicks(140));
    testing::rewrite(ticks, numberedTicks(70));
    CandleBuilder limited;
    CandleList kept;
    limited.build(ticks, settingsWith(70, 1, 0), kept);
    EXPECT_EQ(groupsOf(kept), (std::vector<std::string>{"1-70"}));
    CandleBuilder unlimited;
    CandleList none;
    EXPECT_THROW(unlimited.build(ticks, settingsWith(70, 2147483647, 0), none), TickReadError);
    EXPECT_TRUE(none.empty());
}

TEST(CandleBuilder, PlaceholdersStandInFrontFarthestFirst) {
    const TickFile ticks = tickFileOf(numberedTicks(2));
    CandleBuilder builder;
    CandleList candles;
    builder.build(ticks, settingsWith(1, 2147483647, 3), candles);
    std::vector<std::string> labels;
    for (const CandleRecord& record : candles) {
        labels.push_back(record.timeText);
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"+00003", "+00002", "+00001", "t1", "t2"}));
    EXPECT_EQ(candles.front().close, 0.0);
    EXPECT_EQ(candles.front().complete, 0);
}

TEST(CandleBuilder, NoPlaceholdersForZero) {
    CandleBuilder builder;
    CandleList candles;
    builder.build(tickFileOf(numberedTicks(1)), settingsWith(1, 2147483647, 0), candles);
    ASSERT_EQ(candles.size(), 1U);
    EXPECT_EQ(candles.front().timeText, "t1");
}

TEST(PlaceholderLabel, PadsToFiveDigitsAndNeverCuts) {
    EXPECT_EQ(placeholderLabel(1), "+00001");
    EXPECT_EQ(placeholderLabel(99999), "+99999");
    EXPECT_EQ(placeholderLabel(100000), "+100000");
    EXPECT_EQ(placeholderLabel(2147483647), "+2147483647");
}

}  // namespace
}  // namespace vellumbrook
