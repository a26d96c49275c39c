#include "output/progress.hpp"

#include <algorithm>

namespace vellumbrook {

namespace {

constexpr auto kQuietFor = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(250);

std::string mebibytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

}  // namespace

std::string progressText(std::string_view program, std::string_view reading, std::uint64_t done,
                         std::uint64_t total, double seconds) {
    std::string text = std::string(program) + ": " + std::string(reading) + ": " + mebibytes(done);
    if (total > 0) {
        text += " of " + mebibytes(total) + " MiB (" +
                std::to_string(std::min<std::uint64_t>(done * 100 / total, 100)) + "%)";
    } else {
        text += " MiB so far";
    }
    if (seconds > 0) {
        text += ", " + mebibytes(static_cast<std::uint64_t>(static_cast<double>(done) / seconds)) +
                " MiB/s";
    }
    return text;
}

Progress::Progress(std::FILE* terminal, std::string program)
    : terminal_(terminal),
      runStart_(Clock::now()),
      readingStart_(runStart_),
      program_(std::move(program)) {}

void Progress::begin(std::string_view reading) {
    reading_ = reading;
    readingStart_ = Clock::now();
}

void Progress::advance(std::uint64_t done, std::uint64_t total) {
    if (terminal_ == nullptr) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (now - runStart_ < kQuietFor || now - lastDrawn_ < kRedrawEvery) {
        return;
    }
    lastDrawn_ = now;
    draw(progressText(program_, reading_, done, total,
                      std::chrono::duration<double>(now - readingStart_).count()));
}

void Progress::draw(const std::string& text) {
    // Blanks wipe what a longer line before left; CR goes back to the start of the line.
    const std::size_t width = std::max(text.size(), shownWidth_);
    std::fprintf(terminal_, "\r%s%s", text.c_str(), std::string(width - text.size(), ' ').c_str());
    std::fflush(terminal_);
    shownWidth_ = width;
}

void Progress::erase() {
    if (shownWidth_ == 0) {
        return;
    }
    std::fprintf(terminal_, "\r%s\r", std::string(shownWidth_, ' ').c_str());
    std::fflush(terminal_);
    shownWidth_ = 0;
}

}  // namespace vellumbrook
