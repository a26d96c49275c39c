#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vellumbrook {

// What one tick line yields.
struct TickRecord {
    std::string_view timeText;  // refers into the line that was parsed
    double price = 0.0;
};

// A line matched the tick pattern but its price text is no number.
class PriceConversionError : public std::runtime_error {
  public:
    PriceConversionError(std::string_view priceText, const char* reason)
        : std::runtime_error(reason), priceText_(priceText) {}
    const std::string& priceText() const { return priceText_; }

  private:
    std::string priceText_;
};

// The two fields a tick line is read for, still as text.
struct TickFields {
    std::string_view timeText;
    std::string_view priceText;
};

// The fields that the tick pattern "(.*),(.*),(.*),(.*)" captures as groups 2 and 3, found
// without running it: its groups are greedy, so they are always the fields between the last
// three commas of the examined text (the line up to its first NUL byte). Nothing for a line
// with fewer than three commas.
std::optional<TickFields> findTickFields(std::string_view line);

// Reads a tick line: its third-last and second-last comma-separated fields are the time text
// and the price. Nothing for a line with fewer than three commas; throws
// PriceConversionError when the price text does not convert.
std::optional<TickRecord> parseTickLine(std::string_view line);

// The price conversion on its own: strtod in the C locale, with the two failures of a
// string-to-double conversion ("invalid stod argument", "stod argument out of range").
double convertPrice(std::string_view priceText);

// A price written as a plain decimal of at most 8 characters besides its sign, digits with at
// most one point, such as 1.10345 or -12: its value is the signed digits over 10 to the scale,
// the number of digits after the point.
//
// Kept as its text: the characters, '0's in front to make eight, as byte values (0 to 9, and 0
// for the point), the first in the top byte. Of two prices whose points stand at one place
// (`pointAt`), this key orders them as their doubles are ordered, since no two such decimals
// round to one double unless they are equal. `packed` is the key with its sign, times 2, plus
// 1 for a minus sign, so that -0 keeps its sign and `order()` is the same for 0 and -0.
struct ShortDecimal {
    static constexpr int kNoPoint = 8;

    std::int64_t packed = 0;
    int pointAt = kNoPoint;  // the point's byte, from the lowest (the first of the eight)

    static ShortDecimal of(bool negative, std::uint64_t key, int pointAt) {
        const auto twice = static_cast<std::int64_t>(key) * 2;
        return {negative ? 1 - twice : twice, pointAt};
    }
    std::int64_t order() const { return packed >> 1; }
    // digits / 10^scale correctly rounded, as strtod reads the text.
    double value() const;
};

namespace decimal_bytes {
constexpr std::uint64_t kOnes = 0x0101010101010101;
constexpr std::uint64_t kZeros = kOnes * '0';

inline std::uint64_t load(const char* at) {
    std::uint64_t word = 0;
    std::memcpy(&word, at, 8);
    return word;
}
// Every byte of `values` is 0 to 9.
inline bool allDigitValues(std::uint64_t values) {
    return (((values + kOnes * 0x76) | values) & (kOnes * 0x80)) == 0;
}
}  // namespace decimal_bytes

// Reads a short decimal from a text that lies in a buffer holding at least 8 readable bytes
// past its end, a word at a time; false for any other text.
inline bool readShortDecimal(std::string_view text, ShortDecimal& price) {
    using namespace decimal_bytes;
    if constexpr (std::endian::native != std::endian::little) {
        return false;
    }
    const bool negative = !text.empty() && text.front() == '-';
    const std::size_t size = text.size() - (negative ? 1 : 0);
    if (size == 0 || size > 8) {
        return false;
    }
    // The text's bytes moved to the top of the word, the first in the lowest of them, with
    // '0's in front: the digits then stand where an 8-digit number has them.
    const unsigned padding = 8 * static_cast<unsigned>(8 - size);
    const std::uint64_t word = load(text.data() + (negative ? 1 : 0)) << padding |
                               (((std::uint64_t{1} << padding) - 1) & kZeros);
    const std::uint64_t notPoint = word ^ (kOnes * '.');
    const std::uint64_t points =
        ~(((notPoint & (kOnes * 0x7f)) + kOnes * 0x7f) | notPoint | kOnes * 0x7f);
    int pointAt = ShortDecimal::kNoPoint;
    std::uint64_t zeros = kZeros;  // what each byte of a digit of value 0 holds
    if (points != 0) {
        if ((points & (points - 1)) != 0 || size == 1) {
            return false;  // two points, or a point alone
        }
        pointAt = std::countr_zero(points) / 8;
        zeros ^= std::uint64_t{'.' ^ '0'} << (8 * pointAt);
    }
    const std::uint64_t values = word ^ zeros;
    if (!allDigitValues(values)) {
        return false;
    }
    price = ShortDecimal::of(negative, __builtin_bswap64(values), pointAt);
    return true;
}

// Reads short decimals as readShortDecimal does, a text of the same length and with the point
// at the same place as the one before in fewer steps, as the prices of a file nearly all are.
class ShortDecimalReader {
  public:
    bool read(std::string_view text, ShortDecimal& price) {
        using namespace decimal_bytes;
        const bool negative = !text.empty() && text.front() == '-';
        if (text.size() - (negative ? 1 : 0) == size_) {
            const std::uint64_t values =
                (load(text.data() + (negative ? 1 : 0)) << padding_ | padZeros_) ^ zeros_;
            if (allDigitValues(values) && (values & pointByte_) == 0) {
                price = ShortDecimal::of(negative, __builtin_bswap64(values), pointAt_);
                return true;
            }
        }
        return readAnew(text, price);
    }

  private:
    bool readAnew(std::string_view text, ShortDecimal& price);

    static constexpr std::size_t kNone = SIZE_MAX;

    std::size_t size_ = kNone;  // of the text before, not counting a sign
    unsigned padding_ = 0;
    std::uint64_t padZeros_ = 0;
    std::uint64_t zeros_ = 0;
    std::uint64_t pointByte_ = 0;  // 0xff where the point stands
    int pointAt_ = ShortDecimal::kNoPoint;
};

}  // namespace vellumbrook
