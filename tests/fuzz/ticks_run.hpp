#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <filesystem>
#include <fstream>

#include "app/console.hpp"
#include "app/run.hpp"
#include "fuzz/check.hpp"
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

// The converter's table of `table`, run in this process on `args` (argv[0] first, the word
// after -f left empty for the table's file).
inline std::string convert(const std::string& table, std::vector<std::string> args) {
    static const std::string path = scratchFile("ticks-fuzz-table.csv");
    std::ofstream(path, std::ios::binary)
        .write(table.data(), static_cast<std::streamsize>(table.size()));
    args[2] = path;
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    Console console;
    console.out = std::tmpfile();
    console.err = std::tmpfile();
    const int status = runVellumbrook(static_cast<int>(argv.size()), argv.data(), console);
    contentsAndClose(console.err);
    const std::string out = contentsAndClose(console.out);
    return status == 0 ? out : "(the converter failed)";
}

}  // namespace vellumbrook::fuzz
