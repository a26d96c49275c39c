#include "output/csv_writer.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <system_error>

namespace vellumbrook {

namespace {

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
constexpr double kDecadeStarts[] = {1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5};

// printf's %g for the values prices and averages take, 0.0001 up to 999999: their six
// significant digits come from one multiplication by an exact power of ten and a rounding
// that the multiplication's error (at most 1.2e-10 here) cannot change, and they are written
// in the fixed notation %g uses for them. False, with nothing written, for any other value
// and for one too near a tie between two roundings, which std::to_chars then writes.
bool appendUsualNumber(std::string& out, double value) {
    const double magnitude = std::fabs(value);
    if (!(magnitude >= 1e-4 && magnitude < 1e6)) {
        return false;
    }
    int exponent = 5;  // of the leading digit
    while (exponent > -4 && magnitude < kDecadeStarts[exponent + 4]) {
        --exponent;
    }
    const double scaled = magnitude * kPowersOfTen[5 - exponent];
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (scaled < 1e5 || std::fabs(fraction - 0.5) < 1e-9) {
        return false;  // a decade start that is no exact double, or a near tie
    }
    auto digits = static_cast<std::uint32_t>(whole) + (fraction > 0.5 ? 1U : 0U);
    if (digits >= 1000000) {
        return false;  // rounded up into the next power of ten
    }
    char text[6];
    for (int at = 5; at >= 0; --at, digits /= 10) {
        text[at] = static_cast<char>('0' + digits % 10);
    }
    int kept = 6;
    const int integerDigits = exponent >= 0 ? exponent + 1 : 0;
    while (kept > integerDigits && text[kept - 1] == '0') {
        --kept;  // %g drops the fraction's trailing zeros
    }
    if (value < 0) {
        out += '-';
    }
    if (exponent >= 0) {
        out.append(text, static_cast<std::size_t>(integerDigits));
        if (kept > integerDigits) {
            out.append(".").append(text + integerDigits,
                                   static_cast<std::size_t>(kept - integerDigits));
        }
    } else {
        out.append("0.")
            .append(static_cast<std::size_t>(-exponent - 1), '0')
            .append(text, static_cast<std::size_t>(kept));
    }
    return true;
}

}  // namespace

void appendNumber(std::string& out, double value) {
    if (value == 0.0) {
        out.append(std::signbit(value) ? "-0" : "0");
        return;
    }
    if (appendUsualNumber(out, value)) {
        return;
    }
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
