#pragma once

#include <cmath>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "candles/candle_builder.hpp"

namespace vellumbrook {

// The range of a group's prices, fed oldest first, that the converter's newest-first walk
// gives for the same group: the low is the newest of the smallest prices and the high the
// oldest of the largest (so of 0 and -0 the same one wins as there), NaNs left out, and a
// group of NaNs only keeps its newest price for both.
class OldestFirstRange {
  public:
    void start(double price) {
        first_ = last_ = price;
        hasNumber_ = !std::isnan(price);
        low_ = high_ = price;
    }
    void add(double price) {
        last_ = price;
        if (std::isnan(price)) {
            return;
        }
        if (!hasNumber_) {
            low_ = high_ = price;
            hasNumber_ = true;
            return;
        }
        low_ = price <= low_ ? price : low_;    // a newer equal price is the stable sort's first
        high_ = high_ < price ? price : high_;  // an older equal price is its last
    }
    double first() const { return first_; }
    double last() const { return last_; }
    double low() const { return hasNumber_ ? low_ : last_; }
    double high() const { return hasNumber_ ? high_ : last_; }

  private:
    bool hasNumber_ = false;
    double first_ = 0.0;
    double last_ = 0.0;
    double low_ = 0.0;
    double high_ = 0.0;
};

// Candles cut from ticks that arrive oldest first, as a vendor's files are read forward. The
// grouping is anchored at the oldest tick, as the converter's is: every `ticksPerCandle`
// ticks make a complete candle the moment the last of them arrives, and the ticks left at the
// end make the newest, partial candle. Only the candles that will be kept are held.
class OldestFirstCandles {
  public:
    // The most ticks the converter's table takes.
    static constexpr std::int64_t kMaxTicks = 2147483647;

    explicit OldestFirstCandles(const CandleSettings& settings);

    // The next tick, no older than those before it. Its time text is copied.
    void add(std::string_view timeText, double price) {
        if (inGroup_ == 0) {
            range_.start(price);
        } else {
            range_.add(price);
        }
        lastTime_.assign(timeText);
        ++ticks_;
        if (++inGroup_ == ticksPerCandle_) {
            closeGroup(1);
        }
    }

    std::int64_t tickCount() const { return ticks_; }

    // The finished rows, as the converter gives them for the same ticks newest first: the
    // placeholders, the kept candles newest first, and the EMA column. Once only.
    CandleList finish();

  private:
    void closeGroup(std::uint8_t complete);

    CandleSettings settings_;
    std::int32_t ticksPerCandle_;
    std::int64_t ticks_ = 0;
    std::int32_t inGroup_ = 0;
    OldestFirstRange range_;
    std::string lastTime_;
    std::deque<CandleRecord> kept_;  // the newest candles so far, oldest first
};

}  // namespace vellumbrook
