#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ticks/driver.hpp"

namespace vellumbrook::fuzz {

// What a run of vellumbrook-ticks gave.
struct TicksRun {
    int status = 0;
    std::string out;
    std::string messages;
};

inline std::string contentsAndClose(std::FILE* file) {
    std::string bytes;
    std::rewind(file);
    char block[4096];
    for (std::size_t got = 0; (got = std::fread(block, 1, sizeof block, file)) > 0;) {
        bytes.append(block, got);
    }
    std::fclose(file);
    return bytes;
}

// Runs the program's own driver on `args` (argv[0] first), in pieces of `pieceSize` bytes
// (0: as the program reads them).
inline TicksRun runTicks(std::vector<std::string> args, std::uint64_t pieceSize) {
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    std::FILE* out = std::tmpfile();
    std::FILE* messages = std::tmpfile();
    TicksRun result;
    result.status = ticks::runTicksProgram(static_cast<int>(argv.size()), argv.data(), out,
                                           messages, pieceSize);
    result.out = contentsAndClose(out);
    result.messages = contentsAndClose(messages);
    return result;
}

}  // namespace vellumbrook::fuzz
