#include "output/csv_writer.hpp"

#include <charconv>
#include <cmath>
#include <iterator>
#include <system_error>

namespace vellumbrook {

void appendNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        // Spelled as glibc's printf spells them, on every system: C libraries disagree on
        // the sign of a NaN.
        out.append(std::signbit(value) ? "-" : "").append(std::isnan(value) ? "nan" : "inf");
        return;
    }
    // The general format with precision 6 is defined to match printf's %g.
    char digits[64];
    const char* end =
        std::to_chars(std::begin(digits), std::end(digits), value, std::chars_format::general, 6)
            .ptr;
    out.append(digits, static_cast<std::size_t>(end - digits));
}

std::string csvHeader(const CsvLayout& layout) {
    std::string header = "Date,Open,High,Low,Close";
    if (layout.ema) {
        header += ",ema(" + std::to_string(layout.emaSpan) + ")";
    }
    return header;
}

bool writeCsv(const CandleList& candles, const CsvLayout& layout, const LineWriter& writeLine) {
    if (layout.header && !writeLine(csvHeader(layout))) {
        return false;
    }
    std::string line;
    for (const CandleRecord& record : candles) {
        line.assign(record.timeText);
        for (const double price : {record.open, record.high, record.low, record.close}) {
            line += ',';
            appendNumber(line, price);
        }
        if (layout.ema) {
            line += ',';
            appendNumber(line, record.ema);
        }
        if (!writeLine(line)) {
            return false;
        }
    }
    return true;
}

}  // namespace vellumbrook
