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

// A price written as a plain decimal of at most 8 digits, such as 1.10345 or -12: its value
// is the signed digits over 10 to the scale. Packed as the signed digits times 2, plus 1 for
// a minus sign, so that -0 keeps its sign and comparing `packed >> 1` of two prices of one
// scale orders them as their doubles are ordered: no two such decimals round to one double
// unless they are equal.
struct ShortDecimal {
    std::int64_t packed = 0;
    int scale = 0;

    static ShortDecimal of(bool negative, std::int64_t digits, int scale) {
        return {(negative ? -digits : digits) * 2 + (negative ? 1 : 0), scale};
    }
    std::int64_t order() const { return packed >> 1; }
    // digits / 10^scale correctly rounded, as strtod reads the text.
    double value() const;
};

// Reads a short decimal from a text that lies in a buffer holding at least 8 readable bytes
// past its end, a word at a time; false for any other text. Every tick's price goes through
// it, so it stays where the caller can inline it.
inline bool readShortDecimal(std::string_view text, ShortDecimal& price) {
    if constexpr (std::endian::native != std::endian::little) {
        return false;
    }
    const bool negative = !text.empty() && text.front() == '-';
    const std::size_t size = text.size() - (negative ? 1 : 0);
    if (size == 0 || size > 8) {
        return false;
    }
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + (negative ? 1 : 0), 8);
    // The text's bytes moved to the top of the word, the first in the lowest of them, with
    // '0's in front: the digits then stand where an 8-digit number has them.
    const unsigned padding = 8 * static_cast<unsigned>(8 - size);
    if (padding > 0) {
        word = word << padding | (((std::uint64_t{1} << padding) - 1) & (kOnes * '0'));
    }
    const std::uint64_t notPoint = word ^ (kOnes * '.');
    const std::uint64_t points =
        ~(((notPoint & (kOnes * 0x7f)) + kOnes * 0x7f) | notPoint | kOnes * 0x7f);
    int scale = 0;
    if (points != 0) {
        if ((points & (points - 1)) != 0 || size == 1) {
            return false;  // two points, or a point alone
        }
        const int pointByte = std::countr_zero(points) / 8;
        scale = 7 - pointByte;
        // The bytes below the point move up over it, and a '0' comes in at the bottom.
        const std::uint64_t below = (std::uint64_t{1} << (8 * pointByte)) - 1;
        const std::uint64_t point = (points >> 7) * 0xff;
        word = (word & ~below & ~point) | (word & below) << 8 | '0';
    }
    const bool allDigits = (word & (kOnes * 0xf0)) == kOnes * 0x30 &&
                           ((word + kOnes * 0x06) & (kOnes * 0xf0)) == kOnes * 0x30;
    if (!allDigits) {
        return false;
    }
    std::uint64_t digits = word & (kOnes * 0x0f);
    digits = (digits * 2561) >> 8 & 0x00ff00ff00ff00ff;
    digits = (digits * 6553601) >> 16 & 0x0000ffff0000ffff;
    digits = (digits * 42949672960001) >> 32;
    price = ShortDecimal::of(negative, static_cast<std::int64_t>(digits), scale);
    return true;
}

}  // namespace vellumbrook
