#include "output/csv_writer.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <system_error>

namespace vellumbrook {

void appendNumber(std::string& out, double value) {
    char digits[64];
    char* end = nullptr;
    if (std::isfinite(value)) {
        // The general format with precision 6 is defined to match printf's %g.
        end = std::to_chars(std::begin(digits), std::end(digits), value, std::chars_format::general,
                            6)
                  .ptr;
    } else {
        // Infinities and NaNs are spelled the way the C library spells them.
        const int length = std::snprintf(digits, sizeof digits, "%g", value);
        end = digits + length;
    }
    out.append(digits, end);
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
