#include "ticks/price_text.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>

namespace vellumbrook::ticks {
namespace {

struct PriceCase {
    std::string text;
    char mark;
    bool number;                  // a decimal number with that mark
    std::optional<double> value;  // nothing: beyond the doubles or below their normal range
};

class Prices : public ::testing::TestWithParam<PriceCase> {};

TEST_P(Prices, AreDecimalNumbersWithinTheDoubles) {
    const PriceCase& c = GetParam();
    const std::string padded = c.text + std::string(16, ' ');
    const std::string_view text = std::string_view(padded).substr(0, c.text.size());
    const std::optional<std::size_t> markAt = decimalNumber(text, c.mark);
    EXPECT_EQ(markAt.has_value(), c.number) << c.text;
    // The fast check agrees wherever it answers.
    if (const std::optional<std::size_t> plain = plainDecimal(text, c.mark)) {
        EXPECT_EQ(plain, markAt) << c.text;
    }
    if (markAt) {
        const PriceText price{text, c.mark == '.' ? std::string_view::npos : *markAt};
        EXPECT_EQ(priceValue(price), c.value) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Prices,
    ::testing::Values(PriceCase{"1.10", '.', true, 1.1}, PriceCase{"1,10", ',', true, 1.1},
                      PriceCase{"+2e3", '.', true, 2000.0}, PriceCase{"-.5", '.', true, -0.5},
                      PriceCase{"1.1.1", '.', false, {}}, PriceCase{"1,1", '.', false, {}},
                      PriceCase{".", '.', false, {}}, PriceCase{"1e", '.', false, {}},
                      PriceCase{"0x10", '.', false, {}}, PriceCase{"1e400", '.', true, {}},
                      PriceCase{"4e-320", '.', true, {}}, PriceCase{"0", '.', true, 0.0}));

TEST(Mid, OfTwoLargePricesIsNeverInfinite) {
    EXPECT_EQ(midOf(1.1, 1.3), (1.1 + 1.3) / 2);
    const double largest = std::numeric_limits<double>::max();
    EXPECT_EQ(midOf(largest, largest), largest);
}

}  // namespace
}  // namespace vellumbrook::ticks
