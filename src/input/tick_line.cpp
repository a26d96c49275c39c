#include "input/tick_line.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vellumbrook {

namespace {

// Greedy groups: whatever the number of commas, groups 2 and 3 are the fields between the
// last three commas.
constexpr const char* kTickPattern = "(.*),(.*),(.*),(.*)";

std::string_view textOf(const boost::sub_match<const char*>& group) {
    return {group.first, static_cast<std::size_t>(group.second - group.first)};
}

}  // namespace

double convertPrice(const std::string& priceText) {
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
