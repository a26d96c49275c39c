#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellumbrook::ticks {

// The digits of the time patterns, read inline where every line reads them.
namespace time_digits {

// A run of decimal digits already checked, of at most four. Each field reads through a
// call of its own, so that the width's branch is the same on every line.
inline int numberIn(const char* digits, int width) {
    const auto digit = [digits](int i) { return digits[i] - '0'; };
    switch (width) {
        case 1:
            return digit(0);
        case 2:
            return digit(0) * 10 + digit(1);
        case 3:
            return digit(0) * 100 + digit(1) * 10 + digit(2);
        case 4:
            return digit(0) * 1000 + digit(1) * 100 + digit(2) * 10 + digit(3);
        default:
            return 0;
    }
}

// Microseconds of a fraction's digits: the first six count.
inline int microsecondsIn(const char* digits, int width) {
    if (width == 3) {  // milliseconds, as nearly every source writes them
        return numberIn(digits, 3) * 1000;
    }
    int value = 0;
    for (int i = 0; i < 6; ++i) {
        value = value * 10 + (i < width ? digits[i] - '0' : 0);
    }
    return value;
}

#if defined(__SSE2__)
// True when each of the 16 bytes at `text` is a digit where `digits` has 0xff and equals
// `literals` elsewhere.
inline bool windowFits(const char* text, const char* literals, const char* digits) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const __m128i values = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(values, _mm_set1_epi8(9)), values);
    const __m128i isLiteral =
        _mm_cmpeq_epi8(bytes, _mm_loadu_si128(reinterpret_cast<const __m128i*>(literals)));
    const __m128i digitAt = _mm_loadu_si128(reinterpret_cast<const __m128i*>(digits));
    const __m128i fits =
        _mm_or_si128(_mm_and_si128(digitAt, isDigit), _mm_andnot_si128(digitAt, isLiteral));
    return _mm_movemask_epi8(fits) == 0xffff;
}
#endif

}  // namespace time_digits

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

    // Whether texts in the minute of the last full reading can be read by keyInLastMinute().
    bool readsByMinute() const { return minuteEnd_ > 0; }
    std::size_t patternSize() const { return format_.pattern.size(); }
    // The key of a text of the pattern's size in the minute of the last full reading, with a
    // second of 0 to 59, as read() gives it; false for any other text, which read() then
    // tells. Each 16 bytes from `text` and before its end must be readable.
    bool keyInLastMinute(const char* text, std::int64_t& key) const;

  private:
    static constexpr int kFields = 7;    // Y M D h m s f
    static constexpr int kFraction = 6;  // the field of the fraction digits
    bool fitsPattern(const char* text) const;
    bool sameMinute(const char* text) const;
    int secondIn(const char* text) const;
    int microsecondsOf(const char* text) const;
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

// Read inline: every line of a file in one minute comes here.

inline bool TimeReader::sameMinute(const char* text) const {
    const std::string& pattern = format_.pattern;
#if defined(__SSE2__)
    if (minuteEnd_ <= 16 && pattern.size() >= 16) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
        const __m128i minute =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(lastMinute_.data()));
        const unsigned same =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(first, minute)));
        const unsigned wanted = (1U << minuteEnd_) - 1;
        return (same & wanted) == wanted &&
               time_digits::windowFits(text + pattern.size() - 16, literalsLast_, digitsLast_);
    }
#endif
    if (std::memcmp(text, lastMinute_.data(), minuteEnd_) != 0) {
        return false;
    }
    for (std::size_t i = minuteEnd_; i < pattern.size(); ++i) {
        if (fieldAt_[i] < 0 ? text[i] != pattern[i] : static_cast<unsigned>(text[i] - '0') > 9) {
            return false;
        }
    }
    return true;
}

inline int TimeReader::secondIn(const char* text) const {
    return widthOf_[5] > 0 ? time_digits::numberIn(text + firstPositionOf_[5], widthOf_[5]) : 0;
}

inline int TimeReader::microsecondsOf(const char* text) const {
    return widthOf_[kFraction] > 0 ? time_digits::microsecondsIn(text + firstPositionOf_[kFraction],
                                                                 widthOf_[kFraction])
                                   : 0;
}

inline bool TimeReader::keyInLastMinute(const char* text, std::int64_t& key) const {
    if (minuteEnd_ == 0 || !hasMinute_ || !sameMinute(text)) {
        return false;
    }
    const int second = secondIn(text);
    if (second > 59) {
        return false;  // a leap second, or no second: read() tells which
    }
    key = lastMinuteTime_.key + std::int64_t{second} * 1000000 + microsecondsOf(text);
    return true;
}

// YYYY-MM-DD HH:MM:SS.mmm, written into `text` so that a line needs no allocation.
using IsoText = std::array<char, 40>;
std::string_view isoTime(const TickTime& time, IsoText& text);

}  // namespace vellumbrook::ticks
