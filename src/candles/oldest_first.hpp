#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "candles/candle_builder.hpp"
#include "input/tick_line.hpp"

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

// The same range while the prices are short decimals with their points at one place, as they
// nearly always are: ordered as their doubles are, only the four kept are converted.
class OldestFirstDecimals {
  public:
    void start(const ShortDecimal& price) { first_ = last_ = low_ = high_ = price; }
    // False, with nothing added, for a price whose point stands elsewhere.
    bool add(const ShortDecimal& price) {
        if (price.pointAt != first_.pointAt) {
            return false;
        }
        low_.packed = price.order() <= low_.order() ? price.packed : low_.packed;
        high_.packed = high_.order() < price.order() ? price.packed : high_.packed;
        last_ = price;
        return true;
    }
    // The same range as doubles, to go on with prices that are no such decimals.
    void moveTo(OldestFirstRange& range) const {
        range.start(first_.value());
        range.add(high_.value());
        range.add(low_.value());
        range.add(last_.value());
    }
    const ShortDecimal& first() const { return first_; }
    const ShortDecimal& last() const { return last_; }
    const ShortDecimal& low() const { return low_; }
    const ShortDecimal& high() const { return high_; }

  private:
    ShortDecimal first_, last_, low_, high_;
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

    // The next tick, no older than those before it. Its time text is copied when it closes
    // a group (nextClosesGroup()), and not looked at otherwise.
    void add(std::string_view timeText, double price) {
        if (inGroup_ == 0) {
            range_.start(price);
            decimalGroup_ = false;
        } else {
            if (decimalGroup_) {
                decimals_.moveTo(range_);
                decimalGroup_ = false;
            }
            range_.add(price);
        }
        endTick(timeText);
    }
    // The same for a price that is a short decimal.
    void add(std::string_view timeText, const ShortDecimal& price) {
        if (inGroup_ == 0) {
            decimals_.start(price);
            decimalGroup_ = true;
        } else if (!decimalGroup_ || !decimals_.add(price)) {
            add(timeText, price.value());
            return;
        }
        endTick(timeText);
    }

    std::int64_t tickCount() const { return ticks_; }

    // Whether the next tick closes a group: only its time text is kept.
    bool nextClosesGroup() const { return inGroup_ + 1 == ticksPerCandle_; }

    // The finished rows, as the converter gives them for the same ticks newest first: the
    // placeholders, the kept candles newest first, and the EMA column. `lastTimeText` is the
    // time text of the newest tick, which labels the partial candle. Once only.
    CandleList finish(std::string_view lastTimeText);

  private:
    void endTick(std::string_view timeText) {
        ++ticks_;
        if (++inGroup_ == ticksPerCandle_) {
            lastTime_.assign(timeText);
            closeGroup(1);
        }
    }
    void closeGroup(std::uint8_t complete);

    CandleSettings settings_;
    std::int32_t ticksPerCandle_;
    std::int64_t ticks_ = 0;
    std::int32_t inGroup_ = 0;
    OldestFirstRange range_;
    OldestFirstDecimals decimals_;
    bool decimalGroup_ = false;  // the group's prices are all in decimals_
    std::string lastTime_;
    // The newest candles so far, newest first as they are written: the table's rows are
    // made while the ticks are read, not moved over at the end.
    CandleList kept_;
};

}  // namespace vellumbrook
