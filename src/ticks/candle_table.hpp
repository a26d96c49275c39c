#pragma once

#include <cstdio>

#include "ticks/settings.hpp"

namespace vellumbrook::ticks {

// Writes vellumbrook's candle table for the ticks of every file, oldest file first, to `out`
// or to the output file: the same bytes as the tick table fed to vellumbrook with the same
// values. Each file is read forward once, as a stream, and only the kept candles are held.
// Messages go to `messages`. Returns the exit status: 0, or 1 after one error line.
int writeCandleTable(const TicksSettings& settings, std::FILE* out, std::FILE* messages);

}  // namespace vellumbrook::ticks
