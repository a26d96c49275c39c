#pragma once

#include <cstdint>
#include <list>
#include <string>

namespace vellumbrook {

// One output row: a real candle or a future placeholder. A plain value; every record starts
// empty and a list holds its own copies.
struct CandleRecord {
    std::uint8_t complete = 0;
    std::string timeText;
    double open = 0.0;
    double high = 0.0;
    double low = 0.0;
    double close = 0.0;
    std::uint8_t emaReady = 0;
    double ema = 0.0;

    bool operator==(const CandleRecord&) const = default;
};

// The rows in output order: the future placeholders (farthest first), then the real candles
// newest first, the oldest kept candle last.
using CandleList = std::list<CandleRecord>;

}  // namespace vellumbrook
