#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.hpp"

namespace vellumbrook::ticks {

// Hands out the lines of bytes [begin, end) of a rereadable file from the last to the first,
// reading it backwards in blocks by position, as tac does. LF, CR LF and a CR alone each end a
// line; a line end at the very end adds no empty line. A line longer than a block grows the
// buffer; no line is kept once the one before it is asked for.
class BackwardLines {
  public:
    static constexpr std::size_t kBlockSize = std::size_t{64} << 10;
    // Bytes that may be read past the end of a line handed out, for scanning it in wide steps.
    static constexpr std::size_t kReadableAfterLine = 16;

    BackwardLines(const platform::File& file, std::uint64_t begin, std::uint64_t end,
                  std::size_t blockSize = kBlockSize);

    // The line before the last one given, without its line end, valid until the next call,
    // and the file offset it starts at; false once the first line has been given. Throws
    // std::runtime_error when the file cannot be read.
    bool previous(std::string_view& line, std::uint64_t& start);

  private:
    bool loadEarlier();

    const platform::File& file_;
    std::uint64_t begin_;
    std::size_t blockSize_;
    std::vector<char> buffer_;
    std::uint64_t bufferStart_;  // file offset of buffer_[0]
    std::size_t cursor_ = 0;     // bytes of buffer_ not yet handed out: [0, cursor_)
    bool done_ = false;
};

// Cuts bytes [begin, end) into pieces of whole lines of about `size` bytes each, for reading
// side by side: the first piece starts at `begin`, each next one where a line starts, and the
// last one ends at `end`. Gives the starts in order, then `end`. Throws std::runtime_error when
// the file cannot be read.
std::vector<std::uint64_t> pieceStarts(const platform::File& file, std::uint64_t begin,
                                       std::uint64_t end, std::uint64_t size);

// The line that starts at `offset`, without its line end.
std::string lineAt(const platform::File& file, std::uint64_t offset, std::uint64_t end);

// The 1-based number of the line that starts at `offset`, counted from `begin` with the same
// line ends.
std::int64_t lineNumberAt(const platform::File& file, std::uint64_t begin, std::uint64_t offset);

}  // namespace vellumbrook::ticks
