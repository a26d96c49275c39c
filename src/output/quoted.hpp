#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vellumbrook::output {

// `text` as a message line shows it, in single quotes: at most 200 bytes of it (a line of a
// megabyte would bury the message), and control bytes, NUL among them, as \xNN, so that
// nothing of it can cut the message short or reach the terminal as a command.
std::string quoted(std::string_view text);

// `text` whole, with its control bytes as \xNN: a file name or option as a message names it.
std::string escaped(std::string_view text);

// The length of the UTF-8 character at the start of `text`, or 0 when it is not one (an
// overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t utf8Length(std::string_view text);

// `text` as valid UTF-8 for a page to show: a byte that is no UTF-8 becomes U+FFFD, a control
// byte a space.
std::string readableText(std::string_view text);

}  // namespace vellumbrook::output
