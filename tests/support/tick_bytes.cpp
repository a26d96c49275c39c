#include "support/tick_bytes.hpp"

#include <stdexcept>

#include "platform/platform.hpp"

namespace vellumbrook::testing {

void rewrite(const TickFile& ticks, std::string_view bytes) {
    std::string reason;
    if (!platform::resize(ticks.file, 0) || !platform::writeAt(ticks.file, bytes, 0, reason)) {
        throw std::runtime_error("cannot write the test tick file: " + reason);
    }
}

TickFile tickFileOf(std::string_view bytes, std::int32_t maxLines) {
    TickFile ticks;
    std::string reason;
    ticks.file = platform::makeTemporaryFile(platform::temporaryFolder().path, reason);
    rewrite(ticks, bytes);
    const LineReader::Count count = LineReader(ticks.file, true, nullptr).countLines(maxLines);
    ticks.lineCount = count.lines;
    ticks.byteCount = count.bytes;
    return ticks;
}

std::string numberedTicks(int count) {
    std::string bytes;
    for (int n = 1; n <= count; ++n) {
        bytes += "S,t" + std::to_string(n) + "," + std::to_string(n) + ",x\n";
    }
    return bytes;
}

}  // namespace vellumbrook::testing
