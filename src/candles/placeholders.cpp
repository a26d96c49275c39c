#include <string>

#include "candles/candle_builder.hpp"

namespace vellumbrook {

std::string placeholderLabel(std::int32_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 5) {
        digits.insert(0, 5 - digits.size(), '0');
    }
    return "+" + digits;
}

void CandleBuilder::addPlaceholders(CandleList& candles) const {
    // Each placeholder goes in front of the one before, so the farthest future comes first.
    for (std::int32_t number = 1; number <= futureCount; ++number) {
        CandleRecord placeholder;
        placeholder.timeText = placeholderLabel(number);
        candles.push_front(std::move(placeholder));
    }
}

}  // namespace vellumbrook
