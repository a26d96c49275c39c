#include "candles/candle_record.hpp"

#include <gtest/gtest.h>

namespace vellumbrook {
namespace {

TEST(CandleRecord, StartsEmpty) {
    const CandleRecord record;
    EXPECT_EQ(record.complete, 0);
    EXPECT_EQ(record.timeText, "");
    EXPECT_EQ(record.open, 0.0);
    EXPECT_EQ(record.high, 0.0);
    EXPECT_EQ(record.low, 0.0);
    EXPECT_EQ(record.close, 0.0);
    EXPECT_EQ(record.emaReady, 0);
    EXPECT_EQ(record.ema, 0.0);
}

TEST(CandleList, HoldsCopiesInInsertionOrder) {
    CandleList list;
    CandleRecord record;
    record.timeText = "older";
    record.close = 1.0;
    list.push_front(record);
    record.timeText = "newer";
    record.close = 2.0;
    list.push_front(record);
    record.timeText = "changed after insertion";

    ASSERT_EQ(list.size(), 2U);
    EXPECT_EQ(list.front().timeText, "newer");
    EXPECT_EQ(list.back().timeText, "older");
    EXPECT_EQ(list.back().close, 1.0);

    list.pop_back();
    ASSERT_EQ(list.size(), 1U);
    EXPECT_EQ(list.front().timeText, "newer");
}

}  // namespace
}  // namespace vellumbrook
