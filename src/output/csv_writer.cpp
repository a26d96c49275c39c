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

std::string csvHeader(const RunSettings& settings) {
    std::string header = "Date,Open,High,Low,Close";
    if (settings.noEma == 0) {
        header += ",ema(" + std::to_string(settings.emaSpan) + ")";
    }
    return header;
}

Flow writeCsv(const CandleList& candles, const RunSettings& settings, const Console& console) {
    if (settings.noHeader == 0 && !console.writeOutLine(csvHeader(settings))) {
        return Flow::fail;
    }
    std::string line;
    for (const CandleRecord& record : candles) {
        line.assign(record.timeText);
        for (const double price : {record.open, record.high, record.low, record.close}) {
            line += ',';
            appendNumber(line, price);
        }
        if (settings.noEma == 0) {
            line += ',';
            appendNumber(line, record.ema);
        }
        if (!console.writeOutLine(line)) {
            return Flow::fail;
        }
    }
    return Flow::proceed;
}

}  // namespace vellumbrook
