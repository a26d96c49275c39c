#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "candles/candle_builder.hpp"
#include "ticks/layout.hpp"

namespace vellumbrook::ticks {

// What one run of vellumbrook-ticks is asked to do.
struct TicksSettings {
    std::optional<Layout> layout;  // nothing: recognise it from the first file
    std::optional<Quote> quote;    // nothing: the bid, or the one price of a trades layout
    bool isoTime = false;
    std::string symbol;
    std::string output;  // empty: standard output
    bool verbose = false;
    std::vector<std::string> files;  // oldest first; "-" and /dev/stdin are standard input
    // Files are read in pieces of about this many bytes, side by side; tests make them small.
    std::uint64_t pieceSize = std::uint64_t{512} << 10;
    // --candles: the converter's candle table instead of the ticks, with its values.
    bool candles = false;
    CandleSettings candleSettings;
    bool noHeader = false;
    bool noEma = false;
};

}  // namespace vellumbrook::ticks
