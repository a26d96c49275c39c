#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>

namespace vellumbrook::fuzz {

// A scratch file of this process's own in the temporary folder: two fuzz runs side by side
// (a developer's and CI's) must not write each other's input.
inline std::string scratchFile(std::string_view name) {
    static const std::string unique = std::to_string(std::random_device()());
    return (std::filesystem::temp_directory_path() /
            ("vellumbrook-" + unique + "-" + std::string(name)))
        .string();
}

// Ends the fuzz run with a crash report when an invariant does not hold.
inline void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Whether every line of `messages` is the program's own ("PROGRAM: ...") and shows no control
// byte raw, so that no text from a file can cut it short or reach the terminal as a command.
inline bool linesAreSound(std::string_view messages, std::string_view program) {
    for (std::size_t start = 0; start < messages.size();) {
        const std::size_t end = messages.find('\n', start);
        if (end == std::string_view::npos) {
            return false;
        }
        const std::string_view line = messages.substr(start, end - start);
        if (!line.starts_with(program) || !line.substr(program.size()).starts_with(": ")) {
            return false;
        }
        for (const char c : line) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                return false;
            }
        }
        start = end + 1;
    }
    return true;
}

}  // namespace vellumbrook::fuzz
