#pragma once

#include <boost/regex.hpp>
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

// Reads tick lines: the time text and the price are the third-last and second-last
// comma-separated fields. The pattern is compiled once and the match results are reused;
// both would give the same answers if rebuilt for every line.
class TickLineParser {
  public:
    TickLineParser();

    // Nothing for a line with fewer than three commas; throws PriceConversionError when the
    // price text does not convert. Only the text before a NUL byte is examined.
    std::optional<TickRecord> parseTickLine(std::string_view line);

  private:
    boost::regex pattern_;
    boost::match_results<const char*> match_;
    std::string priceText_;  // NUL-terminated copy for strtod
};

// The price conversion on its own: strtod in the C locale, with the two failures of a
// string-to-double conversion ("invalid stod argument", "stod argument out of range").
double convertPrice(const std::string& priceText);

}  // namespace vellumbrook
