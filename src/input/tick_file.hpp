#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "input/tick_lines.hpp"

namespace vellumbrook {

// Cuts a byte stream into lines the way the tick file is framed: LF ends a line, a CR right
// before the LF is part of the line end, any other CR stays in the line, the byte 1A hex ends
// the data, and a last line without LF still counts.
class LineFramer {
  public:
    explicit LineFramer(TickLines& lines) : lines_(lines) {}

    // Returns false once the end-of-data byte has been seen; nothing after it counts.
    bool feed(std::string_view bytes);
    void finish();

  private:
    void keep(std::string_view line);

    TickLines& lines_;
    std::string pending_;  // the start of a line that the previous chunk cut
    bool ended_ = false;
};

enum class TickFileStatus { read, cannotOpen, readError };

// Reads the whole file into `lines` (emptied first). A directory counts as a file that cannot
// be opened. Pipes and other unseekable files are read like any other.
TickFileStatus readTickFile(std::string_view fileName, TickLines& lines);

}  // namespace vellumbrook
