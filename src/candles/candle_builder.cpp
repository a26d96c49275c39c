#include "candles/candle_builder.hpp"

#include <algorithm>

#include "candles/aggregation.hpp"

namespace vellumbrook {

void CandleBuilder::build(const TickLines& ticks, const RunSettings& settings,
                          CandleList& candles) {
    plan(ticks, settings);
    groupTicks(ticks, candles);
    addPlaceholders(candles);
    computeEma(candles);
}

void CandleBuilder::plan(const TickLines& ticks, const RunSettings& settings) {
    emaOffset = std::min(settings.emaOffset, settings.futureCount);
    emaSpan = settings.emaSpan;
    tickCount = static_cast<std::int32_t>(ticks.size());
    ticksPerCandle = std::max(settings.ticksPerCandle, std::int32_t{1});
    remainder = tickCount % ticksPerCandle;
    futureCount = settings.futureCount;
    candleLimit = settings.candleLimit;
    candleCount = (tickCount - remainder) / ticksPerCandle + (remainder > 0 ? 1 : 0);
}

void CandleBuilder::groupTicks(const TickLines& ticks, CandleList& candles) {
    // The newest candle is the partial one, so when the lines do not divide evenly the first
    // group is short and marked incomplete.
    bool partialPending = remainder != 0;
    // The walk may build one group more than it keeps; the extra oldest one is dropped below.
    std::int32_t countdown = std::min(candleLimit, candleCount);
    if (!partialPending && countdown > 0) {
        --countdown;
    }

    // Built aside, so that a failing price leaves the caller's list untouched.
    CandleList built;
    auto cursor = ticks.begin();
    std::size_t lineNumber = 1;
    while (cursor != ticks.end()) {
        const std::int32_t groupSize = partialPending ? remainder : ticksPerCandle;
        const std::size_t firstLineNumber = lineNumber;
        for (std::int32_t taken = 0; taken < groupSize && cursor != ticks.end(); ++taken) {
            groupLines_.push_back(*cursor);
            ++cursor;
            ++lineNumber;
        }
        if (!groupLines_.empty()) {
            CandleRecord record;
            aggregateGroup(groupLines_, firstLineNumber, record, partialPending ? 0 : 1, parser_);
            built.push_back(std::move(record));
        }
        groupLines_.clear();
        partialPending = false;
        if (cursor == ticks.end() || --countdown < 0) {
            break;
        }
    }
    while (built.size() > static_cast<std::size_t>(std::max(candleLimit, std::int32_t{0}))) {
        built.pop_back();
    }
    candles.splice(candles.begin(), built);
}

}  // namespace vellumbrook
