#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "input/tick_lines.hpp"

namespace vellumbrook {

// Cuts a byte stream into lines the way the tick file is framed: LF ends a line, a CR right
// before the LF is part of the line end, any other CR stays in the line, the byte 1A hex ends
// the data, and a last line without LF still counts. The bytes are read straight into the
// line store, so a line is never copied once more.
class LineFramer {
  public:
    static constexpr std::size_t kDefaultChunk = std::size_t{1} << 20;

    explicit LineFramer(TickLines& lines, std::size_t chunk = kDefaultChunk)
        : lines_(lines), chunk_(chunk) {}

    // Where the next bytes read go.
    std::span<char> buffer();
    // Frames the `count` bytes just put into buffer(). Returns false once the end-of-data byte
    // has been seen; nothing after it counts.
    bool commit(std::size_t count);
    // Copies `bytes` in through buffer() and commit().
    bool feed(std::string_view bytes);
    void finish();

  private:
    TickLines& lines_;
    std::size_t chunk_;        // the least room offered for each read
    std::size_t pending_ = 0;  // bytes of the unfinished last line
    char* next_ = nullptr;     // where buffer() put the next bytes
    bool ended_ = false;
    std::vector<char> discard_;  // what is read once the store holds its most lines
};

enum class TickFileStatus { read, cannotOpen, readError };

// Reads the whole file into `lines` (emptied first). A directory counts as a file that cannot
// be opened. Pipes and other unseekable files are read like any other.
TickFileStatus readTickFile(std::string_view fileName, TickLines& lines);

}  // namespace vellumbrook
