#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "input/tick_file.hpp"

namespace vellumbrook::testing {

// `bytes` as a counted tick file that lives in an unnamed temporary file.
TickFile tickFileOf(std::string_view bytes, std::int32_t maxLines = TickFile::kMaxLines);

// Replaces the whole content of an open file.
void rewrite(const TickFile& ticks, std::string_view bytes);

// `count` lines; line n (from 1) has the time text "tn" and the price n.
std::string numberedTicks(int count);

}  // namespace vellumbrook::testing
