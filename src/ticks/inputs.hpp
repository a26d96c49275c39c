#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "ticks/compressed.hpp"

namespace vellumbrook::ticks {

// One input as a name opens it: a plain file, a stream, a gzip file or one member of a zip
// file, told by its first bytes and never by its name.
struct Input {
    std::string name;                       // the name given, and ":MEMBER" for a zip's member
    std::optional<platform::FileId> named;  // the file the name opened
    std::shared_ptr<platform::File> file;   // what the name opened (or its copy)
    bool plainFile = false;  // a plain rereadable file: its bytes [begin, end) are the text
    bool stream = false;     // the name opened a pipe, a terminal or a device
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    ReadBytes bytes;  // the inflated bytes from their start, to be read once
    // How many bytes of the named file were read so far, and how many it has (0: unknown).
    std::function<std::uint64_t()> bytesRead;
    std::uint64_t size = 0;
};

// Opens `name` ("-" is standard input): a zip gives one input for each member to read.
// Throws Stop.
std::vector<Input> openInputs(const std::string& name);

}  // namespace vellumbrook::ticks
