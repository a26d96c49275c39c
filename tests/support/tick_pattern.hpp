#pragma once

#include <boost/regex.hpp>
#include <cstring>
#include <optional>
#include <string_view>

#include "input/tick_line.hpp"

namespace vellumbrook::testing {

// The definition of the tick line format: the pattern "(.*),(.*),(.*),(.*)" searched with
// Boost.Regex, default syntax and match options, over the text before the first NUL byte;
// groups 2 and 3 are the time and price texts.
inline std::optional<TickFields> fieldsByPattern(std::string_view line) {
    static const boost::regex pattern("(.*),(.*),(.*),(.*)");
    const char* begin = line.data();
    const char* end = begin + line.size();
    if (const void* nul = line.empty() ? nullptr : std::memchr(begin, '\0', line.size())) {
        end = static_cast<const char*>(nul);
    }
    boost::match_results<const char*> match;
    if (!boost::regex_search(begin, end, match, pattern)) {
        return std::nullopt;
    }
    const auto text = [](const boost::sub_match<const char*>& group) {
        return std::string_view(group.first, static_cast<std::size_t>(group.second - group.first));
    };
    return TickFields{text(match[2]), text(match[3])};
}

}  // namespace vellumbrook::testing
