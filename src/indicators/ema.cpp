#include <cstdint>
#include <iterator>

#include "candles/candle_builder.hpp"

namespace vellumbrook {

// The EMA column, computed in place over the whole list, placeholders included.
//
// Convention: the seed is the simple mean of the oldest `emaSpan` closes, stored in the row
// of the span-th oldest candle moved `emaOffset` rows toward the front. From there each row
// in front takes ((span - 1) * ema of the row behind it + 2 * close of the row `emaOffset`
// places behind itself) / (span + 1). Rows behind the seed stay 0: the average has not warmed
// up there. Placeholder rows whose close row is itself a placeholder are zeroed at the end.
// The order of the arithmetic below is deliberate; the printed digits depend on it.
void CandleBuilder::computeEma(CandleList& candles) {
    const std::int64_t rows = static_cast<std::int64_t>(candles.size());
    const std::int64_t placeholders = futureCount > 0 ? futureCount : 0;
    const std::int64_t candleRows = rows - placeholders;
    const std::int64_t span = emaSpan;
    const std::int64_t offset = emaOffset > 0 ? emaOffset : 0;
    // Option handling refuses a span of 0; without a span there is no average to show.
    if (span < 1 || candleRows < span) {
        return;
    }

    if (emaSeedPending) {
        double sum = 0.0;
        auto row = candles.end();
        for (std::int64_t added = 0; added < span; ++added) {
            --row;
            sum += row->close;  // back to front, one addition at a time
        }
        std::advance(row, -offset);
        emaSeedPending = false;
        row->ema = sum / static_cast<double>(span);
        row->emaReady = 1;
    }
    if (candleRows == span) {
        return;
    }

    const double keepFactor = static_cast<double>(span - 1);
    const double divisor = static_cast<double>(span + 1);
    auto source = candles.end();  // row `sourceIndex`, walked toward the front lazily
    std::int64_t sourceIndex = rows;
    auto behind = std::prev(candles.end());
    for (std::int64_t k = rows - 1; k >= 1; --k) {
        const auto row = std::prev(behind);
        if (behind->emaReady && !row->emaReady) {
            const std::int64_t wanted = (k - 1) + offset;
            if (wanted >= rows) {
                break;
            }
            for (; sourceIndex > wanted; --sourceIndex) {
                --source;
            }
            const double product = keepFactor * behind->ema;
            const double withClose = product + (source->close + source->close);
            row->ema = withClose / divisor;
            row->emaReady = 1;
        }
        behind = row;
    }

    auto row = candles.begin();
    for (std::int64_t r = 0; r < placeholders - offset; ++r, ++row) {
        row->ema = 0.0;
    }
}

}  // namespace vellumbrook
