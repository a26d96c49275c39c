#pragma once

#include <string>

#include "ticks/rewrite.hpp"

namespace vellumbrook::ticks {

// What the command line asks for: a run with its settings, the help or version text, or
// nothing but the error that says why not.
struct Command {
    enum class Action { rewrite, help, version, fail };
    Action action = Action::rewrite;
    TicksSettings settings;
    std::string error;
};

// Reads the command line in the GNU style: long options with "=VALUE" or a separate value,
// -o and -v, "--" before file names that begin with "-", and "-" for standard input.
Command readCommandLine(int argc, char** argv);

// The help screen.
std::string helpText();

// The whole program: reads the command line, then writes the help or the version, or the
// ticks. Exit status 0, 1 for an input that cannot be rewritten, 2 for a bad command line.
int runTicksProgram(int argc, char** argv);

}  // namespace vellumbrook::ticks
