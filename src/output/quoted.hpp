#pragma once

#include <string>
#include <string_view>

namespace vellumbrook::output {

// `text` as a message line shows it, in single quotes: at most 200 bytes of it (a line of a
// megabyte would bury the message), and control bytes, NUL among them, as \xNN, so that
// nothing of it can cut the message short or reach the terminal as a command.
std::string quoted(std::string_view text);

// `text` whole, with its control bytes as \xNN: a file name or option as a message names it.
std::string escaped(std::string_view text);

}  // namespace vellumbrook::output
