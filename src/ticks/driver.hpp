#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "ticks/settings.hpp"

namespace vellumbrook::ticks {

// Writes the ticks of every file, newest first, as the converter's input lines
// "SYMBOL,TIME,PRICE,QUOTE", to `out` or to the output file, checking that the times never
// go back. Messages go to `messages`. Returns the exit status: 0, or 1 after one error line
// (an output file is then not left behind).
int rewriteTicks(const TicksSettings& settings, std::FILE* out, std::FILE* messages);

// The whole program: reads the command line, then writes the help or the version to `out`, or
// the ticks. Exit status 0, 1 for an input that cannot be rewritten, 2 for a bad command line.
// A `pieceSize` other than 0 sets the size of the pieces, which tests make small.
int runTicksProgram(int argc, char** argv, std::FILE* out, std::FILE* messages,
                    std::uint64_t pieceSize = 0);

}  // namespace vellumbrook::ticks
