#pragma once

#include <string_view>

#include "app/console.hpp"
#include "app/flow.hpp"
#include "app/option_scanner.hpp"
#include "app/run_settings.hpp"

namespace vellumbrook {

// True when every character is an ASCII digit; true for the empty text as well.
bool isAllDigits(std::string_view text);

// Scans and validates the command line into `settings`. Returns Flow::fail after writing the
// usage screen, a rejection line or a value error line; the run then ends with status 1.
Flow processOptions(int argc, char** argv, RunSettings& settings, OptionScanner& scanner,
                    const Console& console);

}  // namespace vellumbrook
