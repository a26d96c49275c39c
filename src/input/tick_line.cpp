#include "input/tick_line.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace vellumbrook {

namespace {

// The powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMostFastDigits = 19;  // every 19-digit number fits in 64 bits
constexpr std::uint64_t kLargestExactInteger = std::uint64_t{1} << 53;

// Prices are nearly always short plain decimals such as 1.10345 or -12: an optional minus,
// digits and at most one point. Their digits taken as an integer and the power of ten that
// the point stands for are then both exact doubles, and one correctly rounded division gives
// the nearest double to the decimal, which is what strtod gives too. Nothing for any other
// text, which goes to strtod.
std::optional<double> shortPlainDecimal(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) {
        text.remove_prefix(1);
    }
    std::uint64_t digits = 0;
    int digitCount = 0;
    int fractionDigits = -1;  // no point yet
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            if (++digitCount > kMostFastDigits) {
                return std::nullopt;
            }
            digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
            fractionDigits += fractionDigits >= 0 ? 1 : 0;
        } else if (c == '.' && fractionDigits < 0) {
            fractionDigits = 0;
        } else {
            return std::nullopt;
        }
    }
    const int scale = std::max(fractionDigits, 0);
    if (digitCount == 0 || digits > kLargestExactInteger ||
        scale >= static_cast<int>(std::size(kExactPowersOfTen))) {
        return std::nullopt;
    }
    const double value = static_cast<double>(digits) / kExactPowersOfTen[scale];
    return negative ? -value : value;
}

// The last comma in [begin, end), or nullptr.
const char* lastComma(const char* begin, const char* end) {
    return static_cast<const char*>(::memrchr(begin, ',', static_cast<std::size_t>(end - begin)));
}

}  // namespace

double convertPrice(std::string_view priceText) {
    if (const std::optional<double> value = shortPlainDecimal(priceText)) {
        return *value;
    }
    const std::string terminated(priceText);  // strtod reads up to a NUL
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(terminated.c_str(), &end);
    if (end == terminated.c_str()) {
        throw PriceConversionError(priceText, "invalid stod argument");
    }
    if (errno == ERANGE) {
        throw PriceConversionError(priceText, "stod argument out of range");
    }
    return value;
}

std::optional<TickFields> findTickFields(std::string_view line) {
    if (line.empty()) {
        return std::nullopt;  // and its data() may be null, which memchr must not see
    }
    const char* begin = line.data();
    const char* end = begin + line.size();
    if (const void* nul = std::memchr(begin, '\0', line.size())) {
        end = static_cast<const char*>(nul);
    }
    const char* last = lastComma(begin, end);
    const char* secondLast = last ? lastComma(begin, last) : nullptr;
    const char* thirdLast = secondLast ? lastComma(begin, secondLast) : nullptr;
    if (thirdLast == nullptr) {
        return std::nullopt;
    }
    return TickFields{{thirdLast + 1, static_cast<std::size_t>(secondLast - thirdLast - 1)},
                      {secondLast + 1, static_cast<std::size_t>(last - secondLast - 1)}};
}

std::optional<TickRecord> parseTickLine(std::string_view line) {
    const std::optional<TickFields> fields = findTickFields(line);
    if (!fields) {
        return std::nullopt;
    }
    return TickRecord{fields->timeText, convertPrice(fields->priceText)};
}

}  // namespace vellumbrook
