#include "input/tick_line.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// text, which goes to strtod. (A bool and an out parameter rather than an optional: the
// compiler passes an optional double through memory, and stalls on reading it back.)
bool shortPlainDecimal(std::string_view text, double& value) {
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
                return false;
            }
            digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
            fractionDigits += fractionDigits >= 0 ? 1 : 0;
        } else if (c == '.' && fractionDigits < 0) {
            fractionDigits = 0;
        } else {
            return false;
        }
    }
    const int scale = std::max(fractionDigits, 0);
    if (digitCount == 0 || digits > kLargestExactInteger ||
        scale >= static_cast<int>(std::size(kExactPowersOfTen))) {
        return false;
    }
    const double magnitude = static_cast<double>(digits) / kExactPowersOfTen[scale];
    value = negative ? -magnitude : magnitude;
    return true;
}

}  // namespace

double ShortDecimal::value() const {
    const std::int64_t signedKey = packed >> 1;
    std::uint64_t values =
        __builtin_bswap64(static_cast<std::uint64_t>(signedKey < 0 ? -signedKey : signedKey));
    int scale = 0;
    if (pointAt != kNoPoint) {
        // The bytes below the point move up over it, and a 0 comes in at the bottom.
        scale = 7 - pointAt;
        const std::uint64_t below = (std::uint64_t{1} << (8 * pointAt)) - 1;
        values = (values & ~below) | (values & below) << 8;
    }
    values = (values * 2561) >> 8 & 0x00ff00ff00ff00ff;
    values = (values * 6553601) >> 16 & 0x0000ffff0000ffff;
    const std::uint64_t digits = (values * 42949672960001) >> 32;
    const double magnitude = static_cast<double>(digits) / kExactPowersOfTen[scale];
    return (packed & 1) != 0 ? -magnitude : magnitude;
}

bool ShortDecimalReader::readAnew(std::string_view text, ShortDecimal& price) {
    if (!readShortDecimal(text, price)) {
        size_ = kNone;
        return false;
    }
    using namespace decimal_bytes;
    size_ = text.size() - (text.front() == '-' ? 1 : 0);
    padding_ = 8 * static_cast<unsigned>(8 - size_);
    padZeros_ = ((std::uint64_t{1} << padding_) - 1) & kZeros;
    pointAt_ = price.pointAt;
    pointByte_ = pointAt_ == ShortDecimal::kNoPoint ? 0 : std::uint64_t{0xff} << (8 * pointAt_);
    zeros_ = kZeros ^ (pointByte_ & (kOnes * ('.' ^ '0')));
    return true;
}

namespace {

bool isCSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool isNanSequenceChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    return c >= 'A' && c <= 'Z' ? c - 'A' + 10 : 99;
}

// The number strtoull with base 0 reads from the start of `text`, which holds no blanks or
// signs: hexadecimal after 0x, octal after 0, decimal otherwise.
struct UnsignedReading {
    std::uint64_t value = 0;
    bool whole = false;     // the number took up all of `text`
    bool overflow = false;  // it did not fit in 64 bits
};

UnsignedReading readUnsigned(std::string_view text) {
    int base = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
        text.size() > 2 && digitValue(text[2]) < 16) {
        base = 16;
        text.remove_prefix(2);
    } else if (!text.empty() && text[0] == '0') {
        base = 8;
    }
    UnsignedReading reading;
    std::size_t used = 0;
    for (; used < text.size() && digitValue(text[used]) < base; ++used) {
        const auto digit = static_cast<std::uint64_t>(digitValue(text[used]));
        if (reading.value > (UINT64_MAX - digit) / static_cast<std::uint64_t>(base)) {
            reading.overflow = true;
        }
        reading.value = reading.value * static_cast<std::uint64_t>(base) + digit;
    }
    reading.whole = used == text.size();
    return reading;
}

// A NaN text as glibc's strtod reads it: blanks, a sign, "nan" in any case and an optional
// "(sequence)" whose number, when it is one, is the payload under the quiet bit. C libraries
// disagree on that payload, so every build reads NaNs here. A payload too large for 64 bits
// makes glibc report the range error, and so does this.
struct NanReading {
    double value = 0.0;
    bool outOfRange = false;
};

std::optional<NanReading> glibcNan(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && isCSpace(text[at])) {
        ++at;
    }
    const bool negative = at < text.size() && text[at] == '-';
    at += at < text.size() && (text[at] == '-' || text[at] == '+') ? 1 : 0;
    const auto lower = [&](std::size_t i) { return static_cast<char>(text[i] | 0x20); };
    if (text.size() - at < 3 || lower(at) != 'n' || lower(at + 1) != 'a' || lower(at + 2) != 'n') {
        return std::nullopt;
    }
    at += 3;
    constexpr std::uint64_t kQuietNan = 0x7ff8000000000000;
    constexpr std::uint64_t kPayloadBits = (std::uint64_t{1} << 51) - 1;
    std::uint64_t bits = kQuietNan;
    NanReading reading;
    if (at < text.size() && text[at] == '(') {
        std::size_t end = at + 1;
        while (end < text.size() && isNanSequenceChar(text[end])) {
            ++end;
        }
        if (end < text.size() && text[end] == ')') {
            const UnsignedReading payload = readUnsigned(text.substr(at + 1, end - at - 1));
            reading.outOfRange = payload.overflow;
            if (payload.whole) {
                bits |= payload.value & kPayloadBits;
            }
        }
    }
    if (negative) {
        bits |= std::uint64_t{1} << 63;
    }
    std::memcpy(&reading.value, &bits, sizeof bits);
    return reading;
}

// The last three commas of [begin, end), last first, in one backward pass that looks at 16
// bytes at a time where it can. False when there are fewer than three.
bool lastThreeCommas(const char* begin, const char* end, const char* (&commas)[3]) {
    int found = 0;
#if defined(__SSE2__)
    const __m128i comma = _mm_set1_epi8(',');
    for (; end - begin >= 16; end -= 16) {
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16)), comma)));
        while (mask != 0) {
            const int bit = 31 - std::countl_zero(mask);
            commas[found] = end - 16 + bit;
            if (++found == 3) {
                return true;
            }
            mask &= ~(1U << bit);
        }
    }
#endif
    while (end != begin) {
        if (*--end == ',') {
            commas[found] = end;
            if (++found == 3) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

namespace {

double convertOtherPrice(std::string_view priceText) {
    if (const std::optional<NanReading> nan = glibcNan(priceText)) {
        if (nan->outOfRange) {
            throw PriceConversionError(priceText, "stod argument out of range");
        }
        return nan->value;
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

}  // namespace

double convertPrice(std::string_view priceText) {
    double value = 0.0;
    return shortPlainDecimal(priceText, value) ? value : convertOtherPrice(priceText);
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
    const char* commas[3];
    if (!lastThreeCommas(begin, end, commas)) {
        return std::nullopt;
    }
    const auto between = [](const char* after, const char* before) {
        return std::string_view(after + 1, static_cast<std::size_t>(before - after - 1));
    };
    return TickFields{between(commas[2], commas[1]), between(commas[1], commas[0])};
}

std::optional<TickRecord> parseTickLine(std::string_view line) {
    const std::optional<TickFields> fields = findTickFields(line);
    if (!fields) {
        return std::nullopt;
    }
    return TickRecord{fields->timeText, convertPrice(fields->priceText)};
}

}  // namespace vellumbrook
