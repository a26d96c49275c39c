// Arbitrary bytes as one tick line, and as a tick file read by every way of classifying its
// bytes: the fields found must agree with the tick pattern searched by Boost.Regex, which
// defines the format: the same match or no match, the same time text and the same price text.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "fuzz/check.hpp"
#include "input/tick_file.hpp"
#include "input/tick_line.hpp"
#include "support/tick_bytes.hpp"
#include "support/tick_pattern.hpp"

namespace {

using namespace vellumbrook;

void checkFields(std::string_view line, bool found, const TickFields& got) {
    std::optional<TickFields> expected;
    try {
        expected = testing::fieldsByPattern(line);
    } catch (const std::runtime_error&) {
        return;  // Boost gave up on the line's complexity: nothing to compare with
    }
    fuzz::check(found == expected.has_value(), "match differs from the pattern");
    if (found) {
        fuzz::check(got.timeText.data() == expected->timeText.data() &&
                        got.timeText.size() == expected->timeText.size(),
                    "time text differs from group 2");
        fuzz::check(got.priceText.data() == expected->priceText.data() &&
                        got.priceText.size() == expected->priceText.size(),
                    "price text differs from group 3");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<TickFields> fields = findTickFields(bytes);
    checkFields(bytes, fields.has_value(), fields.value_or(TickFields{}));

    const TickFile ticks = testing::tickFileOf(bytes);
    for (const ScanPath path : availableScanPaths()) {
        LineReader reader(ticks, 1 + size % 131, path);
        for (LineReader::ScannedLine scanned; reader.nextLine(scanned);) {
            checkFields(scanned.line, scanned.hasFields, scanned.fields);
        }
    }
    return 0;
}
