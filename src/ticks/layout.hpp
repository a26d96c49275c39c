#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ticks/time_reading.hpp"

namespace vellumbrook::ticks {

// Which price of a tick is written.
enum class Quote { bid, ask, mid, price };

// How the lines of one source are laid out.
struct Layout {
    std::string name = "custom";
    char separator = ',';
    char decimalMark = '.';
    bool quoted = false;
    // Header lines the layout may have: passed over wherever they stand.
    std::vector<std::string> headers;
    enum class Header { none, check, skip };
    Header header = Header::none;  // check: line 1 must be one of `headers`; skip: line 1 goes
    int dateColumn = 0;            // 1-based; 0 when the time column holds the date too
    int timeColumn = 0;
    int bidColumn = 0;
    int askColumn = 0;
    int priceColumn = 0;  // a source with one price (trades)
    TimeFormat time;
    bool rowsWithoutPriceLeftOut = false;  // an empty price field is no tick, not an error
    std::string zone;                      // what the time is, for the README and --help
};

// The preset called `name`, or nothing.
std::optional<Layout> preset(std::string_view name);

// The preset names, in the order the help lists them.
const std::vector<std::string>& presetNames();

// The preset whose header or line shape the first lines of a file show (UTF-8 text, byte
// order mark removed); nothing when no preset fits them for sure.
std::optional<Layout> recognise(std::string_view firstLines);

// Why `layout` cannot give the price asked for (by default its bid, or its one price), or
// nothing when it can.
std::optional<std::string> missingQuote(const Layout& layout, std::optional<Quote> asked);

}  // namespace vellumbrook::ticks
