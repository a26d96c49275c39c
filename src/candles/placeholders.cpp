#include <new>
#include <string>

#include "candles/candle_builder.hpp"
#include "platform/platform.hpp"

namespace vellumbrook {

std::size_t rowsThatFitInMemory() {
    const std::uint64_t bytes = platform::physicalMemory();
    if (bytes == 0) {
        return static_cast<std::size_t>(-1);
    }
    // A row of the list costs its record plus the list's two links.
    constexpr std::uint64_t kRowBytes = sizeof(CandleRecord) + 2 * sizeof(void*);
    return static_cast<std::size_t>(bytes / kRowBytes);
}

std::string placeholderLabel(std::int32_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 5) {
        digits.insert(0, 5 - digits.size(), '0');
    }
    return "+" + digits;
}

void CandleBuilder::addPlaceholders(CandleList& candles) const {
    // Every placeholder is a row of its own. Row by row, memory would only run out after the
    // machine had been driven into swapping or the kernel had killed the process, so a count
    // that cannot fit in physical memory is refused at once.
    if (futureCount > 0 && static_cast<std::size_t>(futureCount) > rowsThatFitInMemory()) {
        throw std::bad_alloc();
    }
    // Each placeholder goes in front of the one before, so the farthest future comes first.
    for (std::int32_t number = 1; number <= futureCount; ++number) {
        CandleRecord placeholder;
        placeholder.timeText = placeholderLabel(number);
        candles.push_front(std::move(placeholder));
    }
}

}  // namespace vellumbrook
