// Arbitrary bytes as one tick line: the field scan must agree with the tick pattern searched
// by Boost.Regex, which defines the format: the same match or no match, the same time text and
// the same price text.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "fuzz/check.hpp"
#include "input/tick_line.hpp"
#include "support/tick_pattern.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellumbrook;
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    std::optional<TickFields> expected;
    try {
        expected = testing::fieldsByPattern(line);
    } catch (const std::runtime_error&) {
        return 0;  // Boost gave up on the line's complexity: nothing to compare with
    }
    const std::optional<TickFields> got = findTickFields(line);
    fuzz::check(got.has_value() == expected.has_value(), "match differs from the pattern");
    if (got) {
        fuzz::check(got->timeText.data() == expected->timeText.data() &&
                        got->timeText.size() == expected->timeText.size(),
                    "time text differs from group 2");
        fuzz::check(got->priceText.data() == expected->priceText.data() &&
                        got->priceText.size() == expected->priceText.size(),
                    "price text differs from group 3");
    }
    return 0;
}
