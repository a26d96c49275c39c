#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace vellumbrook {

// One status line on a terminal while a long run reads: which reading it is, how much is
// done and the rate. It shows only once the run has gone on for a second, is rewritten at
// most four times a second, and is wiped before anything else is written, so that the
// terminal looks as if it had never been there. Without a terminal it writes nothing.
class Progress {
  public:
    using Clock = std::chrono::steady_clock;

    // `terminal` is where the line goes; nullptr when standard error is no terminal. The
    // line starts with the program's name.
    Progress(std::FILE* terminal, std::string program);
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // A new reading begins: "counting lines", "building candles".
    void begin(std::string_view reading);
    // `done` of `total` bytes read (total 0: not known, as for a pipe).
    void advance(std::uint64_t done, std::uint64_t total);
    // Wipes the line, if it is shown.
    void erase();

  private:
    void draw(const std::string& text);

    std::FILE* terminal_;
    Clock::time_point runStart_;
    Clock::time_point readingStart_;
    Clock::time_point lastDrawn_{};
    std::string program_;
    std::string reading_;
    std::size_t shownWidth_ = 0;
};

// The text of the status line.
std::string progressText(std::string_view program, std::string_view reading, std::uint64_t done,
                         std::uint64_t total, double seconds);

}  // namespace vellumbrook
