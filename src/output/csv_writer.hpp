#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "candles/candle_record.hpp"

namespace vellumbrook {

// What the table looks like: the header line (-a leaves it out) and the EMA column (-q
// leaves it out), whose header names the span.
struct CsvLayout {
    bool header = true;
    bool ema = true;
    std::int32_t emaSpan = 20;
};

// Writes one whole line, without its newline; false when it could not be written.
using LineWriter = std::function<bool(std::string_view line)>;

// Appends `value` as printf's %g writes it (six significant digits, trailing zeros dropped,
// classic locale).
void appendNumber(std::string& out, double value);

// The header line; the EMA part is left out without the EMA column.
std::string csvHeader(const CsvLayout& layout);

// Appends the line of one record, without its newline.
void appendCsvLine(std::string& out, const CandleRecord& record, const CsvLayout& layout);

// Hands the header and one line per record, front to back, to `writeLine`. Stops at the
// first line that cannot be written and returns false.
bool writeCsv(const CandleList& candles, const CsvLayout& layout, const LineWriter& writeLine);

}  // namespace vellumbrook
