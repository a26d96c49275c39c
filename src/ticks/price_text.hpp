#pragma once

#include <bit>
#include <cstddef>
#include <optional>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellumbrook::ticks {

// Where the decimal mark stands in `text` when it is a decimal number with that mark (a sign,
// digits with at most one mark, an exponent): npos when it has none; nothing when `text` is
// not such a number.
std::optional<std::size_t> decimalNumber(std::string_view text, char mark);

// Where the mark stands in `text` (npos when it has none) when it is digits with at most one
// mark; nothing when it is anything else, such as a sign or an exponent, which
// decimalNumber() then tells. `text` must be readable 16 bytes from its start.
inline std::optional<std::size_t> plainDecimal(std::string_view text, char mark) {
#if defined(__SSE2__)
    if (text.empty() || text.size() > 16) {
        return std::nullopt;
    }
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data()));
    const __m128i values = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(values, _mm_set1_epi8(9)), values);
    const unsigned inText = 0xffffU >> (16 - text.size());
    const unsigned digits = static_cast<unsigned>(_mm_movemask_epi8(isDigit)) & inText;
    const unsigned marks =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(mark)))) &
        inText;
    if ((digits | marks) != inText || (marks & (marks - 1)) != 0 || digits == 0) {
        return std::nullopt;
    }
    return marks == 0 ? std::string_view::npos : static_cast<std::size_t>(std::countr_zero(marks));
#else
    (void)text;
    (void)mark;
    return std::nullopt;
#endif
}

// A price's text as the output takes it: `markAt` is where a decimal comma stands, written as
// a point.
struct PriceText {
    std::string_view text;
    std::size_t markAt = std::string_view::npos;
};

// The value of a price's text that decimalNumber() accepted; nothing when it is beyond the
// doubles or below their normal range, where the converter's strtod would say ERANGE.
std::optional<double> priceValue(const PriceText& price);

// The mid of two prices: halving the sum rounds once; where the sum itself is beyond the
// doubles, the halves are added instead, so that the mid of two large prices is never inf.
double midOf(double bid, double ask);

}  // namespace vellumbrook::ticks
