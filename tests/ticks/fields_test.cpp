#include "ticks/fields.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellumbrook::ticks {
namespace {

struct FieldsCase {
    char separator;
    bool quoted;
    int columns;  // the fields a line needs
    std::string line;
    std::vector<std::string> fields;  // empty: the line has too few
};

class Fields : public ::testing::TestWithParam<FieldsCase> {};

TEST_P(Fields, CutsTheFieldsALineNeeds) {
    const FieldsCase& c = GetParam();
    Layout layout;
    layout.separator = c.separator;
    layout.quoted = c.quoted;
    layout.timeColumn = 1;
    layout.priceColumn = c.columns;
    LineFields fields(layout);
    // Lines are read up to 16 bytes past their end.
    const std::string padded = c.line + std::string(16, c.separator);
    const bool split = fields.split(std::string_view(padded).substr(0, c.line.size()));
    std::vector<std::string> got;
    for (int column = 1; split && column <= c.columns; ++column) {
        got.emplace_back(fields.column(column));
    }
    EXPECT_EQ(got, c.fields) << c.line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Fields,
    ::testing::Values(
        FieldsCase{',', false, 3, "a,b,c,d", {"a", "b", "c"}},
        FieldsCase{',', false, 3, "a,b,", {"a", "b", ""}}, FieldsCase{',', false, 3, "a,b", {}},
        FieldsCase{';', false, 2, "1,5;2,5", {"1,5", "2,5"}},
        FieldsCase{',', false, 2, "0123456789abcdefghij,x", {"0123456789abcdefghij", "x"}},
        FieldsCase{',', true, 2, "\"a,b\",\"say \"\"hi\"\"\"", {"a,b", "say \"hi\""}},
        // Quoted fields eight columns apart keep texts of their own.
        FieldsCase{',',
                   true,
                   9,
                   "\"2024\",b,c,d,e,f,g,h,\"1.6\"",
                   {"2024", "b", "c", "d", "e", "f", "g", "h", "1.6"}},
        FieldsCase{',', true, 2, "\"a\"", {}},
        // A quote never closed is refused wherever it stands.
        FieldsCase{',', true, 2, "a,\"b", {}}, FieldsCase{',', true, 2, "a,b,c,\"d", {}}));

}  // namespace
}  // namespace vellumbrook::ticks
