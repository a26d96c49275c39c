#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "output/progress.hpp"
#include "platform/platform.hpp"
#include "ticks/messages.hpp"

namespace vellumbrook::ticks {

// One input made ready for reading backwards: a rereadable file of UTF-8 lines, the bytes
// [begin, end) of `file`.
struct Source {
    std::string name;
    platform::File file;
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

// Opens `name` ("-" is standard input): a pipe is copied to an unnamed temporary file first
// (shown as progress), UTF-16 is made UTF-8 the same way, a byte order mark is passed over.
// Throws Stop.
Source openSource(const std::string& name, Progress& progress);

// Up to `most` bytes from the start of the text.
std::string firstBytes(const Source& source, std::size_t most);

// The number of the line that starts at byte `start`, counting from 1.
std::int64_t lineNumberOf(const Source& source, std::uint64_t start);

// Stop with "NAME:LINE: WHAT: 'TEXT'" for the line that starts at byte `start`.
[[noreturn]] void stopAtLine(const Source& source, std::uint64_t start, std::string_view what,
                             std::string_view text);

// Stop with "NAME: WHAT".
[[noreturn]] void stopWithFile(const Source& source, std::string_view what);

}  // namespace vellumbrook::ticks
