#include "input/tick_line.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace vellumbrook {

namespace {

// Greedy groups: whatever the number of commas, groups 2 and 3 are the fields between the
// last three commas.
constexpr const char* kTickPattern = "(.*),(.*),(.*),(.*)";

constexpr std::size_t kLongestPlainDecimal = 40;

std::string_view textOf(const boost::sub_match<const char*>& group) {
    return {group.first, static_cast<std::size_t>(group.second - group.first)};
}

// A plain decimal such as 1.10345 or -12: an optional minus, digits, and a point followed by
// more digits. No such text can overflow or underflow.
bool isPlainDecimal(std::string_view text) {
    if (!text.empty() && text.front() == '-') {
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > kLongestPlainDecimal) {
        return false;
    }
    const std::size_t point = text.find('.');
    const auto allDigits = [](std::string_view digits) {
        return !digits.empty() && std::all_of(digits.begin(), digits.end(),
                                              [](char c) { return c >= '0' && c <= '9'; });
    };
    if (point == std::string_view::npos) {
        return allDigits(text);
    }
    return allDigits(text.substr(0, point)) && allDigits(text.substr(point + 1));
}

}  // namespace

double convertPrice(const std::string& priceText) {
    // Prices are nearly always plain decimals. For them from_chars yields the same correctly
    // rounded double as strtod at a fraction of the cost; every other form goes to strtod.
    if (isPlainDecimal(priceText)) {
        double value = 0.0;
        (void)std::from_chars(priceText.data(), priceText.data() + priceText.size(), value);
        return value;
    }
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(priceText.c_str(), &end);
    if (end == priceText.c_str()) {
        throw PriceConversionError(priceText, "invalid stod argument");
    }
    if (errno == ERANGE) {
        throw PriceConversionError(priceText, "stod argument out of range");
    }
    return value;
}

TickLineParser::TickLineParser() : pattern_(kTickPattern) {}

std::optional<TickRecord> TickLineParser::parseTickLine(std::string_view line) {
    if (const void* nul = std::memchr(line.data(), '\0', line.size())) {
        line =
            line.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - line.data()));
    }
    if (!boost::regex_search(line.data(), line.data() + line.size(), match_, pattern_)) {
        return std::nullopt;
    }
    const std::string_view price = textOf(match_[3]);
    priceText_.assign(price);
    return TickRecord{textOf(match_[2]), convertPrice(priceText_)};
}

}  // namespace vellumbrook
