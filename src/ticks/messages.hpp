#pragma once

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

namespace vellumbrook::ticks {

// Every line the program says goes through here: its name, the "FILE:LINE: text" shape, the
// escaping of text taken from a file, and what an unexpected exception says.

inline constexpr std::string_view kProgram = "vellumbrook-ticks";

// Ends the run: the one line that says why, already made.
struct Stop {
    std::string message;
};

// "vellumbrook-ticks: TEXT"
Stop stopWith(std::string_view text);

// "FILE: TEXT", the name with its control bytes escaped.
std::string inFile(std::string_view file, std::string_view text);

// "vellumbrook-ticks: FILE: TEXT"
Stop stopInFile(std::string_view file, std::string_view text);

// "vellumbrook-ticks: FILE:LINE: TEXT"
Stop stopAtLineOf(std::string_view file, std::int64_t line, std::string_view text);

// Text from a file or the command line, as a message shows it: in single quotes, at most
// about 200 bytes, with control bytes and NUL written as \xHH.
std::string shown(std::string_view text);

// A file name as a message shows it: whole, with control bytes written as \xHH.
std::string shownName(std::string_view name);

// The line for an exception that none of the program's checks made: a failed read or write
// (of `file`, when one is known), or too little memory.
Stop stopFor(const std::exception& error, std::string_view file = {});

// Writes "vellumbrook-ticks: TEXT" (or a made line) to `messages`, then flushes.
void say(std::FILE* messages, std::string_view text);
void say(std::FILE* messages, const Stop& line);

}  // namespace vellumbrook::ticks
