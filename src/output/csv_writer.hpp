#pragma once

#include <string>

#include "app/console.hpp"
#include "app/flow.hpp"
#include "app/run_settings.hpp"
#include "candles/candle_record.hpp"

namespace vellumbrook {

// Appends `value` as printf's %g writes it (six significant digits, trailing zeros dropped,
// classic locale).
void appendNumber(std::string& out, double value);

// The header line, or nothing under -a; the EMA part is left out under -q.
std::string csvHeader(const RunSettings& settings);

// Prints the header and one line per record, front to back, each flushed at once. Returns
// Flow::fail after reporting a write error; nothing more is written then.
Flow writeCsv(const CandleList& candles, const RunSettings& settings, const Console& console);

}  // namespace vellumbrook
