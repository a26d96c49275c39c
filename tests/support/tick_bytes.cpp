#include "support/tick_bytes.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>

namespace vellumbrook::testing {

void rewrite(const TickFile& ticks, std::string_view bytes) {
    const int fd = ticks.file.get();
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("cannot write the test tick file");
    }
}

TickFile tickFileOf(std::string_view bytes, std::int32_t maxLines) {
    TickFile ticks;
    ticks.file = FileDescriptor(::memfd_create("ticks", MFD_CLOEXEC));
    rewrite(ticks, bytes);
    const LineReader::Count count = LineReader(ticks.file.get(), true, -1).countLines(maxLines);
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
