#include "input/tick_line.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#ifdef VELLUMBROOK_PATTERN_TESTS
#include "support/tick_pattern.hpp"
#endif

namespace vellumbrook {
namespace {

using namespace std::string_literals;

struct LineCase {
    std::string line;
    bool matches;
    std::string timeText;
    double price;
};

class TickLineForms : public ::testing::TestWithParam<LineCase> {};

TEST_P(TickLineForms, YieldTimeTextAndPrice) {
    const std::optional<TickRecord> tick = parseTickLine(GetParam().line);
    ASSERT_EQ(tick.has_value(), GetParam().matches);
    if (tick) {
        EXPECT_EQ(tick->timeText, GetParam().timeText);
        EXPECT_EQ(tick->price, GetParam().price);
    }
}

INSTANTIATE_TEST_SUITE_P(
    TickLine, TickLineForms,
    ::testing::Values(
        LineCase{"A,T,1.5,B", true, "T", 1.5}, LineCase{"A,B,T,1.5,C", true, "T", 1.5},
        LineCase{"X,Y,Z,T,2,W", true, "T", 2}, LineCase{",T,7,", true, "T", 7},
        LineCase{"A,T,1.5abc,B", true, "T", 1.5}, LineCase{"A,T,0x10,B", true, "T", 16},
        LineCase{"A,T,-3e2,B", true, "T", -300}, LineCase{"A, T , 1.5 ,B", true, " T ", 1.5},
        LineCase{"A,T,1.5,B\r", true, "T", 1.5}, LineCase{"A,T,1.5,B\0,,,x"s, true, "T", 1.5},
        LineCase{"A,T,1.5\0,B"s, false, "", 0}, LineCase{"T,1.5,B", false, "", 0},
        LineCase{"", false, "", 0}, LineCase{"A,T\n,1.5,B", true, "T\n", 1.5}));

#ifdef VELLUMBROOK_PATTERN_TESTS
// The pattern is Boost.Regex's, which only the Unix build links: the scan it checks is the
// same code on every system.
void expectFieldsOfThePattern(const std::string& line) {
    const std::optional<TickFields> expected = testing::fieldsByPattern(line);
    const std::optional<TickFields> got = findTickFields(line);
    ASSERT_EQ(got.has_value(), expected.has_value());
    if (got) {
        EXPECT_EQ(got->timeText, expected->timeText);
        EXPECT_EQ(got->priceText, expected->priceText);
    }
}

TEST_P(TickLineForms, FieldsAreThoseThePatternCaptures) {
    expectFieldsOfThePattern(GetParam().line);
}

// Lines drawn from the characters that decide a match: commas above all, line-end and
// end-of-data bytes, NULs, blanks, number characters, letters of number forms and bytes above
// 7F. The scan must find the same fields as the pattern, or no match, for every one.
TEST(TickLine, ScanAgreesWithThePatternOnAMillionRandomLines) {
    const std::vector<std::string> pieces{
        ",",    ",",    ",",    ",,",   "\r", "\r\n", std::string(1, '\0'),
        "\x1a", " ",    "\t",   "0",    "1",  "9",    "+",
        "-",    ".",    "e",    "E",    "x",  "X",    "inf",
        "nan",  "\x80", "\xff", "\xe9", "T",  "1.5"};
    std::mt19937_64 random(2026);
    std::string line;
    for (int round = 0; round < 1000000; ++round) {
        line.clear();
        for (std::size_t count = random() % 16; count > 0; --count) {
            line += pieces[random() % pieces.size()];
        }
        const std::optional<TickFields> expected = testing::fieldsByPattern(line);
        const std::optional<TickFields> got = findTickFields(line);
        ASSERT_EQ(got.has_value(), expected.has_value()) << ::testing::PrintToString(line);
        if (got) {
            ASSERT_EQ(got->timeText, expected->timeText) << ::testing::PrintToString(line);
            ASSERT_EQ(got->priceText, expected->priceText) << ::testing::PrintToString(line);
        }
    }
}

#endif

TEST(TickLine, InfinityAndNanForms) {
    EXPECT_EQ(parseTickLine("A,T,inf,B")->price, HUGE_VAL);
    EXPECT_EQ(parseTickLine("A,T,-Infinity,B")->price, -HUGE_VAL);
    EXPECT_TRUE(std::isnan(parseTickLine("A,T,NaN,B")->price));
}

struct BadPrice {
    std::string line;
    std::string priceText;
    std::string reason;
};

class BadPrices : public ::testing::TestWithParam<BadPrice> {};

TEST_P(BadPrices, FailWithTheConversionError) {
    try {
        (void)parseTickLine(GetParam().line);
        FAIL() << "no error for " << GetParam().line;
    } catch (const PriceConversionError& error) {
        EXPECT_EQ(error.what(), GetParam().reason);
        EXPECT_EQ(error.priceText(), GetParam().priceText);
    }
}

INSTANTIATE_TEST_SUITE_P(
    TickLine, BadPrices,
    ::testing::Values(BadPrice{"A,T,,B", "", "invalid stod argument"},
                      BadPrice{"A,T,PRICE,B", "PRICE", "invalid stod argument"},
                      BadPrice{"A,T,   ,B", "   ", "invalid stod argument"},
                      BadPrice{"A,T,1e999,B", "1e999", "stod argument out of range"},
                      BadPrice{"A,T,1e-400,B", "1e-400", "stod argument out of range"}));

#ifdef VELLUMBROOK_PATTERN_TESTS
TEST_P(BadPrices, FieldsAreThoseThePatternCaptures) {
    expectFieldsOfThePattern(GetParam().line);
}
#endif

// The two conversions: the one for any text, and the one for a short decimal with bytes to
// spare behind it, as in a line, which leaves any other text to the first.
using Conversion = double (*)(const std::string& text);
const Conversion kConversions[] = {[](const std::string& text) { return convertPrice(text); },
                                   [](const std::string& text) {
                                       const std::string line = text + ",xxxxxxxx";
                                       ShortDecimal decimal;
                                       return readShortDecimal({line.data(), text.size()}, decimal)
                                                  ? decimal.value()
                                                  : convertPrice(text);
                                   }};

// Whatever path a price text takes, it must come out as strtod reads it.
TEST(ConvertPrice, AgreesWithStrtod) {
    std::mt19937_64 random(11);
    const auto digits = [&](std::size_t count) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i) {
            text += static_cast<char>('0' + random() % 10);
        }
        return text;
    };
    std::vector<std::string> texts{"0",
                                   "-0",
                                   "0.0",
                                   "1.",
                                   ".5",
                                   "-.5",
                                   "00012.5000",
                                   "1.10345",
                                   "1/10345",
                                   "1.10345",
                                   "1-10345",
                                   "9007199254740993",
                                   "0.1000000000000000055511151231257827",
                                   "1e-300",
                                   "1e5",
                                   "+1.5",
                                   " 1.5"};
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        if (random() % 4 == 0) {
            text += '-';
        }
        // Half of them short, so that texts of one shape often follow each other.
        const std::size_t most = i % 2 == 0 ? 20 : 4;
        text += digits(1 + random() % most);
        if (random() % 3 != 0) {
            text += '.';
            text += digits(1 + random() % most);
        }
        texts.push_back(text);
    }
    // The reader that remembers the shape of the text before, over texts one after another.
    ShortDecimalReader reader;
    for (const std::string& text : texts) {
        const double expected = std::strtod(text.c_str(), nullptr);
        for (const Conversion convert : kConversions) {
            const double got = convert(text);
            ASSERT_EQ(std::signbit(got), std::signbit(expected)) << text;
            ASSERT_EQ(got, expected) << text;
        }
        const std::string line = text + ",xxxxxxxx";
        ShortDecimal decimal;
        if (reader.read({line.data(), text.size()}, decimal)) {
            ASSERT_EQ(std::signbit(decimal.value()), std::signbit(expected)) << text;
            ASSERT_EQ(decimal.value(), expected) << text;
        }
    }
}

// The price table's escapes undone: \\, \t, \n, \v, \f, \r and \xHH.
std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += c == 't'   ? '\t'
                   : c == 'n' ? '\n'
                   : c == 'v' ? '\v'
                   : c == 'f' ? '\f'
                   : c == 'r' ? '\r'
                              : c;
        }
    }
    return out;
}

// Every build converts prices bit for bit as glibc's strtod does: the table holds what it
// gave for hexadecimal, infinite, NaN, blank-led, signed, subnormal, overflowing and
// underflowing texts as well as plain decimals.
TEST(ConvertPrice, GivesWhatGlibcStrtodGaveForEveryTextOfTheTable) {
    std::ifstream table(PRICE_TABLE, std::ios::binary);
    int checked = 0;
    for (std::string line; std::getline(table, line); ++checked) {
        const std::size_t tab = line.find('\t');
        const std::string result = line.substr(0, tab);
        const std::uint64_t bits = std::stoull(line.substr(tab + 1, 16), nullptr, 16);
        const std::string text = unescaped(line.substr(tab + 18));
        for (const Conversion convert : kConversions) {
            try {
                const double value = convert(text);
                std::uint64_t got = 0;
                std::memcpy(&got, &value, sizeof got);
                ASSERT_EQ(result, "ok") << line;
                ASSERT_EQ(got, bits) << line;
            } catch (const PriceConversionError& error) {
                ASSERT_EQ(error.what(), std::string(result == "range" ? "stod argument out of range"
                                                                      : "invalid stod argument"))
                    << line;
            }
        }
    }
    EXPECT_GE(checked, 20000);
}

}  // namespace
}  // namespace vellumbrook
