#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellumbrook::ticks {

// A time as a source spells it: a pattern of digit letters (Y year, M month, D day, h hour,
// m minute, s second, f fraction digits, each letter one digit, each field's letters in one
// run) and literal characters, or a count since 1970 in UTC of the unit its kind says.
struct TimeFormat {
    enum class Kind {
        pattern,
        epochSeconds,
        epochMilliseconds,
        epochMicroseconds,
        // Binance: 13 digits of milliseconds, 16 of microseconds (from 2025); no other count.
        epochMillisecondsOrMicroseconds,
    };
    Kind kind = Kind::pattern;
    std::string pattern;  // for Kind::pattern

    bool isEpoch() const { return kind != Kind::pattern; }
};

// The time format a --time-format value names: an epoch word (epoch-s, epoch-ms, epoch-us;
// epoch alone is epoch-ms), or else a pattern.
TimeFormat timeFormatNamed(std::string_view value);

// A time read: `key` orders times of one format; the fields make the ISO spelling.
struct TickTime {
    std::int64_t key = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int millisecond = 0;
};

// Reads the times of one format, line after line; nothing for a text that does not fit. A
// pattern may be followed by a zone as Dukascopy writes it, " GMT+0100": its offset is
// applied, so that such times are UTC (in the order and under --iso-time), and the time
// text keeps it. Any other text after a pattern is not a time. An epoch count is of the unit
// its kind names, never guessed from its length. Only times that exist are read: a month 13, a
// February 30 or a second 60 other than a leap second at 23:59:60 is not a time; two-digit years
// (YY) are years from 2000; a time is of the years 0001 to 9999.
class TimeReader {
  public:
    explicit TimeReader(const TimeFormat& format);
    std::optional<TickTime> read(std::string_view text) const;

  private:
    static constexpr int kFields = 7;  // Y M D h m s f
    bool fitsPattern(const char* text) const;
    bool sameMinute(const char* text) const;
    std::optional<TickTime> readPattern(std::string_view text) const;
    std::optional<std::int64_t> dayOf(const TickTime& time) const;

    TimeFormat format_;
    std::vector<signed char> fieldAt_;   // per pattern character: its field, or -1
    int firstPositionOf_[kFields] = {};  // per field: its first character
    int widthOf_[kFields] = {};          // and its number of digits, all in one run
    // For checking a pattern of 16 characters or more as two windows of 16: the first and
    // the last 16 characters, each with its literal characters and where its digits stand.
    char literalsFirst_[16] = {}, literalsLast_[16] = {};
    char digitsFirst_[16] = {}, digitsLast_[16] = {};
    // The last date read and its day number; each thread reads with a reader of its own.
    struct Date {
        int year = -1, month = -1, day = -1;
        std::int64_t days = 0;
    };
    mutable Date lastDate_;
    // Ticks mostly share their minute with the tick before: where the pattern's seconds and
    // fraction come after every other field, a text whose bytes before them are those of the
    // last full reading only has its seconds and fraction read.
    std::size_t minuteEnd_ = 0;  // 0: the pattern is not so
    mutable std::string lastMinute_;
    mutable bool hasMinute_ = false;
    mutable TickTime lastMinuteTime_;  // with the key of the minute's start
};

// YYYY-MM-DD HH:MM:SS.mmm, written into `text` so that a line needs no allocation.
using IsoText = std::array<char, 40>;
std::string_view isoTime(const TickTime& time, IsoText& text);

}  // namespace vellumbrook::ticks
