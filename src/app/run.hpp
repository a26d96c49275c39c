#pragma once

#include "app/console.hpp"

namespace vellumbrook {

// One conversion, start to end: options, tick file, candles, CSV. Returns the exit status:
// 0 after a complete run, 1 after any message that ends it early.
int runVellumbrook(int argc, char** argv, const Console& console);

}  // namespace vellumbrook
