#include "candles/candle_builder.hpp"

#include <algorithm>

#include "candles/aggregation.hpp"

namespace vellumbrook {

void CandleBuilder::build(const TickFile& ticks, const CandleSettings& settings,
                          CandleList& candles, const ReadHook& hook, ScanPath path) {
    plan(ticks.lineCount, settings);
    LineReader lines(ticks, platform::kReadSize, path);
    lines.watch(hook, ticks.byteCount);
    groupTicks(lines, candles);
    addPlaceholders(candles);
    computeEma(candles);
}

void CandleBuilder::plan(std::int32_t lineCount, const CandleSettings& settings) {
    emaOffset = std::min(settings.emaOffset, settings.futureCount);
    emaSpan = settings.emaSpan;
    tickCount = lineCount;
    ticksPerCandle = std::max(settings.ticksPerCandle, std::int32_t{1});
    remainder = tickCount % ticksPerCandle;
    futureCount = settings.futureCount;
    candleLimit = settings.candleLimit;
    candleCount = (tickCount - remainder) / ticksPerCandle + (remainder > 0 ? 1 : 0);
}

void CandleBuilder::groupTicks(LineReader& lines, CandleList& candles) {
    // The newest candle is the partial one, so when the lines do not divide evenly the first
    // group is short and marked incomplete.
    bool partialPending = remainder != 0;
    // The walk may build one group more than it keeps; the extra oldest one is dropped below.
    // Lines behind the last walked group are never read.
    std::int32_t countdown = std::min(candleLimit, candleCount);
    if (!partialPending && countdown > 0) {
        --countdown;
    }

    // Built aside, so that a failing price leaves the caller's list untouched.
    CandleList built;
    std::int32_t linesLeft = tickCount;
    std::size_t firstLineNumber = 1;
    while (linesLeft > 0) {
        const std::int32_t groupSize = partialPending ? remainder : ticksPerCandle;
        CandleRecord record;
        aggregateGroup(lines, groupSize, firstLineNumber, record, partialPending ? 0 : 1);
        built.push_back(std::move(record));
        linesLeft -= groupSize;
        firstLineNumber += static_cast<std::size_t>(groupSize);
        partialPending = false;
        if (linesLeft == 0 || --countdown < 0) {
            break;
        }
    }
    while (built.size() > static_cast<std::size_t>(std::max(candleLimit, std::int32_t{0}))) {
        built.pop_back();
    }
    candles.splice(candles.begin(), built);
}

}  // namespace vellumbrook
