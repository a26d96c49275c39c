#include "candles/oldest_first.hpp"

#include <algorithm>
#include <utility>

namespace vellumbrook {

OldestFirstCandles::OldestFirstCandles(const CandleSettings& settings)
    : settings_(settings), ticksPerCandle_(std::max(settings.ticksPerCandle, std::int32_t{1})) {}

void OldestFirstCandles::closeGroup(std::uint8_t complete) {
    CandleRecord record;
    record.complete = complete;
    record.timeText = lastTime_;  // the newest tick's time labels the candle
    if (decimalGroup_) {
        record.open = decimals_.first().value();
        record.high = decimals_.high().value();
        record.low = decimals_.low().value();
        record.close = decimals_.last().value();
    } else {
        record.open = range_.first();
        record.high = range_.high();
        record.low = range_.low();
        record.close = range_.last();
    }
    kept_.push_front(std::move(record));
    // A ring of the newest candles: an older one can never be among those kept.
    if (kept_.size() > static_cast<std::size_t>(std::max(settings_.candleLimit, 0))) {
        kept_.pop_back();
    }
    inGroup_ = 0;
}

CandleList OldestFirstCandles::finish(std::string_view lastTimeText) {
    if (inGroup_ > 0) {
        lastTime_.assign(lastTimeText);
        closeGroup(0);  // the newest candle is the partial one
    }
    CandleList candles = std::move(kept_);
    CandleBuilder builder;
    builder.plan(static_cast<std::int32_t>(std::min(ticks_, kMaxTicks)), settings_);
    builder.addPlaceholders(candles);
    builder.computeEma(candles);
    return candles;
}

}  // namespace vellumbrook
