#include "ticks/price_text.hpp"

#include <charconv>
#include <cmath>
#include <string>

namespace vellumbrook::ticks {

std::optional<std::size_t> decimalNumber(std::string_view text, char mark) {
    std::size_t i = 0;
    const auto digitsFrom = [&] {
        const std::size_t first = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
        }
        return i - first;
    };
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    std::size_t digits = digitsFrom();
    std::size_t markAt = std::string_view::npos;
    if (i < text.size() && text[i] == mark) {
        markAt = i++;
        digits += digitsFrom();
    }
    if (digits == 0) {
        return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
            ++i;
        }
        if (digitsFrom() == 0) {
            return std::nullopt;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    return markAt;
}

std::optional<double> priceValue(const PriceText& price) {
    std::string digits(price.text.substr(!price.text.empty() && price.text[0] == '+'));
    if (price.markAt != std::string_view::npos) {
        digits[price.markAt - (price.text.size() - digits.size())] = '.';
    }
    double value = 0.0;
    if (std::from_chars(digits.data(), digits.data() + digits.size(), value).ec != std::errc() ||
        std::fpclassify(value) == FP_SUBNORMAL) {
        return std::nullopt;
    }
    return value;
}

double midOf(double bid, double ask) {
    const double sum = bid + ask;
    return std::isfinite(sum) ? sum / 2 : bid / 2 + ask / 2;
}

}  // namespace vellumbrook::ticks
