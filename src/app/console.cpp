#include "app/console.hpp"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/platform.hpp"

namespace vellumbrook {

namespace {

bool writeWhole(std::FILE* stream, std::string_view text, bool addNewline = true) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() &&
           (!addNewline || std::fputc('\n', stream) != EOF) && std::fflush(stream) == 0;
}

}  // namespace

bool Console::writeOutLine(std::string_view line) const {
    return writeOut(line, true);
}

bool Console::writeOutLines(std::string_view lines) const {
    return writeOut(lines, false);
}

bool Console::writeOut(std::string_view text, bool addNewline) const {
    if (progress != nullptr) {
        progress->erase();
    }
    errno = 0;
    if (addNewline ? writeWhole(out, text) : platform::writeThrough(out, text)) {
        return true;
    }
    const int cause = errno != 0 ? errno : EIO;
    // Drop what the failed write left in the buffer, so that the exit flush cannot send a
    // stray half line after the error has been reported.
    platform::discardBufferedOutput(out);
    reportError("Write Error", "stdout", std::strerror(cause));
    return false;
}

void Console::reportError(std::string_view label, std::string_view where, std::string_view text,
                          std::string_view detail) const {
    if (progress != nullptr) {
        progress->erase();
    }
    std::string line;
    line.reserve(label.size() + where.size() + text.size() + detail.size() + 12);
    line.append(label).append(" : ").append(where).append(" : '").append(text).append("'");
    if (!detail.empty()) {
        line.append(" : ").append(detail);
    }
    // Nothing sensible is left to do when standard error itself cannot be written.
    (void)writeWhole(err, line);
}

}  // namespace vellumbrook
