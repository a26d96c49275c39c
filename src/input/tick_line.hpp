#pragma once

#include <cstdint>
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
// past its end, a word at a time; false for any other text.
bool readShortDecimal(std::string_view text, ShortDecimal& price);

}  // namespace vellumbrook
