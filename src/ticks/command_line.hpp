#pragma once

#include <string>
#include <string_view>

#include "ticks/settings.hpp"

namespace vellumbrook::ticks {

inline constexpr std::string_view kVersion = "vellumbrook-ticks 1.0.0";

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

}  // namespace vellumbrook::ticks
