#pragma once

#include <cstdio>
#include <string_view>

#include "output/progress.hpp"

namespace vellumbrook {

// The two streams a run writes to. Every line goes out whole and is flushed at once, so a
// reader of a pipe sees each line the moment it is complete.
struct Console {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    Progress* progress = nullptr;  // its status line is wiped before every line written

    // Writes one line and its newline to standard output. On failure, reports the write
    // error on standard error and returns false; the caller must then stop writing.
    bool writeOutLine(std::string_view line) const;
    // Writes whole lines, each with its newline, in one system write, so that every write
    // ends at a line end: a file shared with another writer, `tail -f` and a run killed
    // midway never see half a line. On failure as writeOutLine.
    bool writeOutLines(std::string_view lines) const;

    // The one shape of an error line: "<label> : <where> : '<text>'", then " : <detail>"
    // when a detail is given.
    void reportError(std::string_view label, std::string_view where, std::string_view text,
                     std::string_view detail = {}) const;

  private:
    bool writeOut(std::string_view text, bool addNewline) const;
};

}  // namespace vellumbrook
