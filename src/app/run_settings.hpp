#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vellumbrook {

// The option values of one run. The defaults are the values a run without options uses;
// option handling is the only writer, every later stage only reads.
struct RunSettings {
    bool optionsPending = true;
    int showOptions = 0;
    int fileGiven = 0;
    std::string_view fileName;
    int noHeader = 0;
    int noEma = 0;

    // Value texts as typed, kept until validation turns them into the numbers below.
    std::optional<std::string_view> emaOffsetText;
    std::optional<std::string_view> emaSpanText;
    std::optional<std::string_view> futureCountText;
    std::optional<std::string_view> ticksPerCandleText;
    std::optional<std::string_view> candleLimitText;

    std::int32_t emaOffset = 1;
    std::int32_t emaSpan = 20;
    std::int32_t futureCount = 1;
    std::int32_t ticksPerCandle = 70;
    std::int32_t candleLimit = 2147483647;
};

}  // namespace vellumbrook
