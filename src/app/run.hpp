#pragma once

#include "app/console.hpp"
#include "input/line_scan.hpp"

namespace vellumbrook {

// One conversion, start to end: options, tick file, candles, CSV. Returns the exit status:
// 0 after a complete run, 1 after any message that ends it early. The tick file's bytes are
// scanned by `path`; only tests ask for another than the fastest, to hold every path to the
// same output.
int runVellumbrook(int argc, char** argv, const Console& console,
                   ScanPath path = fastestScanPath());

}  // namespace vellumbrook
