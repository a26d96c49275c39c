#include "output/csv_writer.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <system_error>

namespace vellumbrook {

namespace {

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
constexpr double kDecadeStarts[] = {1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5};

// printf's %g for the values prices and averages take, 0.0001 up to 999999: their six
// significant digits come from one multiplication by an exact power of ten and a rounding
// that the multiplication's error (at most 1.2e-10 here) cannot change, and they are written
// in the fixed notation %g uses for them. Written at `at`; nullptr, with nothing written, for
// any other value and for one too near a tie between two roundings, which std::to_chars then
// writes.
char* writeUsualNumber(char* at, double value) {
    const double magnitude = std::fabs(value);
    if (!(magnitude >= 1e-4 && magnitude < 1e6)) {
        return nullptr;
    }
    int exponent = 5;  // of the leading digit
    while (exponent > -4 && magnitude < kDecadeStarts[exponent + 4]) {
        --exponent;
    }
    const double scaled = magnitude * kPowersOfTen[5 - exponent];
    // Positive and below 1e7 here: the conversion truncates as floor() would, without a call.
    const auto whole = static_cast<std::uint32_t>(scaled);
    const double fraction = scaled - static_cast<double>(whole);
    if (scaled < 1e5 || std::fabs(fraction - 0.5) < 1e-9) {
        return nullptr;  // a decade start that is no exact double, or a near tie
    }
    auto digits = whole + (fraction > 0.5 ? 1U : 0U);
    if (digits >= 1000000) {
        return nullptr;  // rounded up into the next power of ten
    }
    char digitText[6];
    for (int i = 5; i >= 0; --i, digits /= 10) {
        digitText[i] = static_cast<char>('0' + digits % 10);
    }
    int kept = 6;
    const int integerDigits = exponent >= 0 ? exponent + 1 : 0;
    while (kept > integerDigits && digitText[kept - 1] == '0') {
        --kept;  // %g drops the fraction's trailing zeros
    }
    if (value < 0) {
        *at++ = '-';
    }
    int next = 0;  // the next of the digits to write
    if (exponent >= 0) {
        while (next < integerDigits) {
            *at++ = digitText[next++];
        }
        if (kept > integerDigits) {
            *at++ = '.';
        }
    } else {
        *at++ = '0';
        *at++ = '.';
        for (int zero = 1; zero < -exponent; ++zero) {
            *at++ = '0';
        }
    }
    while (next < kept) {
        *at++ = digitText[next++];
    }
    return at;
}

// The longest number written: to_chars' "-1.23457e-308" and the like.
constexpr std::size_t kLongestNumber = 32;

// `value` as printf's %g writes it, at `at`, which has kLongestNumber bytes of room.
char* writeNumber(char* at, double value) {
    if (value == 0.0) {
        if (std::signbit(value)) {
            *at++ = '-';
        }
        *at++ = '0';
        return at;
    }
    if (char* end = writeUsualNumber(at, value)) {
        return end;
    }
    if (!std::isfinite(value)) {
        // Spelled as glibc's printf spells them, on every system: C libraries disagree on
        // the sign of a NaN.
        if (std::signbit(value)) {
            *at++ = '-';
        }
        for (const char c : std::string_view(std::isnan(value) ? "nan" : "inf")) {
            *at++ = c;
        }
        return at;
    }
    // The general format with precision 6 is defined to match printf's %g.
    return std::to_chars(at, at + kLongestNumber, value, std::chars_format::general, 6).ptr;
}

}  // namespace

void appendNumber(std::string& out, double value) {
    char text[kLongestNumber];
    out.append(text, static_cast<std::size_t>(writeNumber(text, value) - text));
}

std::string csvHeader(const CsvLayout& layout) {
    std::string header = "Date,Open,High,Low,Close";
    if (layout.ema) {
        header += ",ema(" + std::to_string(layout.emaSpan) + ")";
    }
    return header;
}

void appendCsvLine(std::string& out, const CandleRecord& record, const CsvLayout& layout) {
    out.append(record.timeText);
    // The numbers are made on the stack and appended at once: writing a table is mostly this.
    char numbers[5 * (kLongestNumber + 1)];
    char* end = numbers;
    for (const double price : {record.open, record.high, record.low, record.close}) {
        *end++ = ',';
        end = writeNumber(end, price);
    }
    if (layout.ema) {
        *end++ = ',';
        end = writeNumber(end, record.ema);
    }
    out.append(numbers, static_cast<std::size_t>(end - numbers));
}

bool writeCsv(const CandleList& candles, const CsvLayout& layout, const LineWriter& writeLine) {
    if (layout.header && !writeLine(csvHeader(layout))) {
        return false;
    }
    std::string line;
    for (const CandleRecord& record : candles) {
        line.clear();
        appendCsvLine(line, record, layout);
        if (!writeLine(line)) {
            return false;
        }
    }
    return true;
}

}  // namespace vellumbrook
