#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellumbrook::ticks {

// Which price of a tick is written.
enum class Quote { bid, ask, mid, price };

// A time as a source spells it: a pattern of digit letters (Y year, M month, D day, h hour,
// m minute, s second, f fraction digits, each letter one digit) and literal characters, or a
// count since 1970 in UTC.
struct TimeFormat {
    enum class Kind { pattern, epoch };
    Kind kind = Kind::pattern;
    std::string pattern;  // for Kind::pattern
};

// A time read: `key` orders times of one format; the fields make the ISO spelling.
struct TickTime {
    std::int64_t key = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int millisecond = 0;
};

// Reads `text` in `format`; nothing when it does not fit. A pattern may be followed by a
// blank and more text (a zone such as " GMT+0100"), which is kept in the time text but not
// read. An epoch count is milliseconds, or microseconds from 16 digits on (Binance from 2025).
std::optional<TickTime> readTime(std::string_view text, const TimeFormat& format);

// YYYY-MM-DD HH:MM:SS.mmm
std::string isoTime(const TickTime& time);

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

}  // namespace vellumbrook::ticks
