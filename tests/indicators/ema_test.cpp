#include <gtest/gtest.h>

#include <vector>

#include "candles/candle_builder.hpp"

namespace vellumbrook {
namespace {

// `placeholders` empty rows, then candles with the given closes, newest first.
CandleList rows(int placeholders, const std::vector<double>& closesNewestFirst) {
    CandleList list;
    for (int i = 0; i < placeholders; ++i) {
        list.emplace_back();
    }
    for (const double close : closesNewestFirst) {
        CandleRecord record;
        record.close = close;
        list.push_back(record);
    }
    return list;
}

std::vector<double> emaColumn(const CandleList& list) {
    std::vector<double> column;
    for (const CandleRecord& record : list) {
        column.push_back(record.ema);
    }
    return column;
}

CandleBuilder builderWith(std::int32_t span, std::int32_t placeholders, std::int32_t offset) {
    CandleBuilder builder;
    builder.emaSpan = span;
    builder.futureCount = placeholders;
    builder.emaOffset = offset;
    return builder;
}

struct EmaCase {
    const char* name;
    std::int32_t span;
    std::int32_t placeholders;
    std::int32_t offset;  // already limited to the placeholders, as the plan does
    std::vector<double> closesNewestFirst;
    std::vector<double> column;
};

class EmaColumns : public ::testing::TestWithParam<EmaCase> {};

TEST_P(EmaColumns, MatchTheWorkedValues) {
    const EmaCase& c = GetParam();
    CandleList list = rows(c.placeholders, c.closesNewestFirst);
    CandleBuilder builder = builderWith(c.span, c.placeholders, c.offset);
    builder.computeEma(list);
    EXPECT_EQ(emaColumn(list), c.column);
}

const std::vector<double> kSix{16, 15, 14, 13, 12, 11};

INSTANTIATE_TEST_SUITE_P(
    Ema, EmaColumns,
    ::testing::Values(
        EmaCase{"worked_example", 3, 1, 1, kSix, {15, 14, 13, 12, 0, 0, 0}},
        EmaCase{"two_placeholders", 3, 2, 1, kSix, {0, 15, 14, 13, 12, 0, 0, 0}},
        EmaCase{"two_placeholders_offset_two", 3, 2, 2, kSix, {15, 14, 13, 12, 0, 0, 0, 0}},
        EmaCase{"no_placeholders", 3, 0, 0, kSix, {15, 14, 13, 12, 0, 0}},
        EmaCase{
            "offset_zero_zeroes_every_placeholder", 3, 2, 0, kSix, {0, 0, 15, 14, 13, 12, 0, 0}},
        EmaCase{"fewer_candles_than_span", 7, 1, 1, kSix, {0, 0, 0, 0, 0, 0, 0}},
        EmaCase{"as_many_candles_as_span", 6, 1, 1, kSix, {13.5, 0, 0, 0, 0, 0, 0}},
        EmaCase{"span_one_shifts_the_closes", 1, 1, 1, kSix, {16, 15, 14, 13, 12, 11, 0}},
        EmaCase{"no_rows", 3, 0, 0, {}, {}}, EmaCase{"placeholders_only", 1, 2, 1, {}, {0, 0}}),
    [](const ::testing::TestParamInfo<EmaCase>& info) { return std::string(info.param.name); });

TEST(Ema, ForwardPassKeepsItsOrderOfOperations) {
    // The doubled close is summed first: (2 * 12 + (0.1 + 0.1)) / 4 is 6.05, while adding the
    // close twice in turn would give 6.050000000000001.
    CandleList list = rows(1, {0.1, 12, 12, 12});
    CandleBuilder builder = builderWith(3, 1, 1);
    builder.computeEma(list);
    EXPECT_EQ(list.front().ema, 6.05);
}

TEST(Ema, SeedIsComputedOncePerBuilder) {
    CandleBuilder builder = builderWith(3, 1, 1);
    CandleList first = rows(1, kSix);
    builder.computeEma(first);
    EXPECT_FALSE(builder.emaSeedPending);
    CandleList second = rows(1, kSix);
    builder.computeEma(second);
    EXPECT_EQ(emaColumn(second), (std::vector<double>(7, 0.0)));
}

TEST(Ema, TooFewCandlesLeaveTheSeedPending) {
    CandleBuilder builder = builderWith(20, 1, 1);
    CandleList list = rows(1, kSix);
    builder.computeEma(list);
    EXPECT_TRUE(builder.emaSeedPending);
}

}  // namespace
}  // namespace vellumbrook
