#include "support/capture.hpp"

namespace vellumbrook::testing {

namespace {

// Everything written to `stream` so far; the stream goes on writing at its end.
std::string contentOf(std::FILE* stream) {
    std::fflush(stream);
    const long size = std::ftell(stream);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    std::rewind(stream);
    text.resize(std::fread(text.data(), 1, text.size(), stream));
    std::fseek(stream, 0, SEEK_END);
    return text;
}

}  // namespace

// Temporary files rather than memory streams, which not every C library has.
CapturedConsole::CapturedConsole() : console_{std::tmpfile(), std::tmpfile()} {}

CapturedConsole::~CapturedConsole() {
    std::fclose(console_.out);
    std::fclose(console_.err);
}

std::string CapturedConsole::out() {
    return contentOf(console_.out);
}

std::string CapturedConsole::err() {
    return contentOf(console_.err);
}

}  // namespace vellumbrook::testing
