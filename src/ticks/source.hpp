#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
    std::optional<platform::FileId> named;  // the file the name opened, before any copy
};

// Looks at the first lines of a stream while it is being copied, given what was copied so far
// (UTF-8, its byte order mark passed over): throws Stop to end the copy, and gives true once
// it needs to look no further.
using FirstLinesCheck = std::function<bool(const Source& copied)>;

// Opens `name` ("-" is standard input) as the texts to read backwards: a plain file as it
// is; a stream, a gzip file or each member of a zip file copied (inflated) to an unnamed
// temporary file first (shown as progress, and looked at by `check` as it grows). UTF-16 is
// made UTF-8 the same way, a byte order mark is passed over. Throws Stop.
std::vector<Source> openSources(const std::string& name, Progress& progress,
                                const FirstLinesCheck& check = {});

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
