#include "ticks/time_reading.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellumbrook::ticks {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The civil date (proleptic Gregorian) of a count of days since 1970-01-01.
void civilFromDays(std::int64_t days, TickTime& time) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    time.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    time.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    time.year = static_cast<int>(yearOfEra + era * 400 + (time.month <= 2 ? 1 : 0));
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The time of a count of microseconds since 1970-01-01 00:00 UTC, which is also its key.
TickTime timeOfMicros(std::int64_t micros) {
    constexpr std::int64_t kMicrosPerDay = std::int64_t{86400} * 1000000;
    const std::int64_t days = (micros >= 0 ? micros : micros - kMicrosPerDay + 1) / kMicrosPerDay;
    const std::int64_t microOfDay = micros - days * kMicrosPerDay;
    TickTime time;
    time.key = micros;
    civilFromDays(days, time);
    time.hour = static_cast<int>(microOfDay / 3600000000);
    time.minute = static_cast<int>(microOfDay / 60000000 % 60);
    time.second = static_cast<int>(microOfDay / 1000000 % 60);
    time.millisecond = static_cast<int>(microOfDay / 1000 % 1000);
    return time;
}

// The offset from UTC in minutes of a zone written after a time, " GMT+hhmm" or " GMT-hhmm"
// as Dukascopy writes it; nothing for any other text.
std::optional<int> zoneOffset(std::string_view zone) {
    if (zone.size() != 9 || !zone.starts_with(" GMT") || (zone[4] != '+' && zone[4] != '-')) {
        return std::nullopt;
    }
    for (const char c : zone.substr(5)) {
        if (!isDigit(c)) {
            return std::nullopt;
        }
    }
    const int hours = (zone[5] - '0') * 10 + (zone[6] - '0');
    const int minutes = (zone[7] - '0') * 10 + (zone[8] - '0');
    if (hours > 14 || minutes > 59) {
        return std::nullopt;
    }
    return (zone[4] == '-' ? -1 : 1) * (hours * 60 + minutes);
}

// A count of digits since 1970 in units of `perSecond`, or nothing.
std::optional<TickTime> readEpoch(std::string_view text, std::int64_t perSecond) {
    if (text.empty() || text.size() > 18) {
        return std::nullopt;
    }
    std::int64_t count = 0;
    for (const char c : text) {
        if (!isDigit(c)) {
            return std::nullopt;
        }
        count = count * 10 + (c - '0');
    }
    // Times stay within the years 0001 to 9999, which a date of four digits can write.
    constexpr std::int64_t kYear10000 = 253402300800LL;
    if (count / perSecond >= kYear10000) {
        return std::nullopt;
    }
    return timeOfMicros(count * (1000000 / perSecond));
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

TimeFormat timeFormatNamed(std::string_view value) {
    if (value == "epoch" || value == "epoch-ms") {
        return {TimeFormat::Kind::epochMilliseconds, ""};
    }
    if (value == "epoch-s") {
        return {TimeFormat::Kind::epochSeconds, ""};
    }
    if (value == "epoch-us") {
        return {TimeFormat::Kind::epochMicroseconds, ""};
    }
    return {TimeFormat::Kind::pattern, std::string(value)};
}

TimeReader::TimeReader(const TimeFormat& format) : format_(format) {
    constexpr std::string_view kLetters = "YMDhmsf";
    const std::string& pattern = format_.pattern;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const std::size_t letter = kLetters.find(pattern[i]);
        const int field = letter == std::string_view::npos ? -1 : static_cast<int>(letter);
        fieldAt_.push_back(static_cast<signed char>(field));
        if (field < 0) {
            continue;
        }
        if (widthOf_[field] == 0) {
            firstPositionOf_[field] = static_cast<int>(i);
        }
        ++widthOf_[field];
    }
    const int tail = std::min(widthOf_[5] > 0 ? firstPositionOf_[5] : 1 << 30,
                              widthOf_[kFraction] > 0 ? firstPositionOf_[kFraction] : 1 << 30);
    bool minuteFirst = tail < (1 << 30);
    for (int field = 0; field < 5; ++field) {
        minuteFirst = minuteFirst && (widthOf_[field] == 0 || firstPositionOf_[field] < tail);
    }
    minuteEnd_ = minuteFirst ? static_cast<std::size_t>(tail) : 0;
    if (pattern.size() >= 16) {
        const std::size_t last = pattern.size() - 16;
        for (std::size_t i = 0; i < 16; ++i) {
            literalsFirst_[i] = fieldAt_[i] < 0 ? pattern[i] : '\0';
            digitsFirst_[i] = fieldAt_[i] < 0 ? '\0' : '\xff';
            literalsLast_[i] = fieldAt_[last + i] < 0 ? pattern[last + i] : '\0';
            digitsLast_[i] = fieldAt_[last + i] < 0 ? '\0' : '\xff';
        }
    }
}

std::optional<TickTime> TimeReader::read(std::string_view text) const {
    switch (format_.kind) {
        case TimeFormat::Kind::pattern:
            break;
        case TimeFormat::Kind::epochSeconds:
            return readEpoch(text, 1);
        case TimeFormat::Kind::epochMilliseconds:
            return readEpoch(text, 1000);
        case TimeFormat::Kind::epochMicroseconds:
            return readEpoch(text, 1000000);
        case TimeFormat::Kind::epochMillisecondsOrMicroseconds:
            if (text.size() != 13 && text.size() != 16) {
                return std::nullopt;
            }
            return readEpoch(text, text.size() == 13 ? 1000 : 1000000);
    }
    return readPattern(text);
}

// Whether the pattern's many characters at `text` are its digits and literals.
bool TimeReader::fitsPattern(const char* text) const {
    const std::string& pattern = format_.pattern;
    const std::size_t size = pattern.size();
#if defined(__SSE2__)
    if (size >= 16) {
        return time_digits::windowFits(text, literalsFirst_, digitsFirst_) &&
               time_digits::windowFits(text + size - 16, literalsLast_, digitsLast_);
    }
#endif
    for (std::size_t i = 0; i < size; ++i) {
        if (fieldAt_[i] < 0 ? text[i] != pattern[i] : static_cast<unsigned>(text[i] - '0') > 9) {
            return false;
        }
    }
    return true;
}

std::optional<TickTime> TimeReader::readPattern(std::string_view text) const {
    const std::size_t size = format_.pattern.size();
    if (minuteEnd_ > 0 && text.size() == size && hasMinute_ && sameMinute(text.data())) {
        TickTime time = lastMinuteTime_;
        time.second = secondIn(text.data());
        const int fraction = microsecondsOf(text.data());
        const bool leapSecond = time.second == 60 && time.hour == 23 && time.minute == 59;
        if (time.second > 59 && !leapSecond) {
            return std::nullopt;
        }
        time.millisecond = fraction / 1000;
        time.key += std::int64_t{time.second} * 1000000 + fraction;
        return time;
    }
    if (text.size() < size || !fitsPattern(text.data())) {
        return std::nullopt;
    }
    // After the pattern, nothing, or a zone whose offset is applied: the time is then UTC.
    std::optional<int> offset = 0;
    if (text.size() > size) {
        offset = zoneOffset(text.substr(size));
        if (!offset) {
            return std::nullopt;
        }
    }
    const auto field = [&](int index) {
        return time_digits::numberIn(text.data() + firstPositionOf_[index], widthOf_[index]);
    };
    const int fields[kFields] = {
        field(0), field(1), field(2), field(3), field(4), field(5), microsecondsOf(text.data())};
    TickTime time;
    // Two-digit years are years of this century: YY 24 is 2024.
    time.year = fields[0] + (widthOf_[0] > 0 && widthOf_[0] <= 2 ? 2000 : 0);
    time.month = fields[1];
    time.day = fields[2];
    time.hour = fields[3];
    time.minute = fields[4];
    time.second = fields[5];
    // Second 60 is a leap second only at 23:59:60.
    const bool leapSecond = time.second == 60 && time.hour == 23 && time.minute == 59;
    const std::optional<std::int64_t> day = dayOf(time);
    if (!day || time.hour > 23 || time.minute > 59 || (time.second > 59 && !leapSecond)) {
        return std::nullopt;
    }
    time.millisecond = fields[kFraction] / 1000;
    // Microseconds since 1970 as the fields stand; a leap second counts as the next day's
    // first, which keeps the order.
    const std::int64_t seconds = *day * 86400 + time.hour * 3600 + time.minute * 60 + time.second -
                                 std::int64_t{*offset} * 60;
    time.key = seconds * 1000000 + fields[kFraction];
    if (*offset != 0) {
        return timeOfMicros(time.key);
    }
    if (minuteEnd_ > 0 && text.size() == size) {
        lastMinute_.assign(text.data(), minuteEnd_);
        lastMinute_.resize(std::max<std::size_t>(minuteEnd_, 16), '\0');  // read 16 at a time
        hasMinute_ = true;
        lastMinuteTime_ = time;
        lastMinuteTime_.second = 0;
        lastMinuteTime_.millisecond = 0;
        lastMinuteTime_.key = time.key - std::int64_t{time.second} * 1000000 - fields[kFraction];
    }
    return time;
}

// The days since 1970 of the date that the fields the pattern has make, or nothing when that
// date does not exist: months are 1 to 12, days those the month has (February 29 in leap
// years; any day to 31 without a month), years from 1 on. The lines of a file mostly share
// their date, so the last one found is kept.
std::optional<std::int64_t> TimeReader::dayOf(const TickTime& time) const {
    if (time.year == lastDate_.year && time.month == lastDate_.month && time.day == lastDate_.day) {
        return lastDate_.days;
    }
    const bool hasYear = widthOf_[0] > 0;
    const bool hasMonth = widthOf_[1] > 0;
    const bool hasDay = widthOf_[2] > 0;
    if ((hasYear && time.year == 0) || (hasMonth && (time.month < 1 || time.month > 12))) {
        return std::nullopt;
    }
    const int days = hasMonth ? daysInMonth(hasYear ? time.year : 2000, time.month) : 31;
    if (hasDay && (time.day < 1 || time.day > days)) {
        return std::nullopt;
    }
    lastDate_ = {time.year, time.month, time.day,
                 daysFromCivil(time.year, std::max(time.month, 1), std::max(time.day, 1))};
    return lastDate_.days;
}

std::string_view isoTime(const TickTime& time, IsoText& text) {
    const int size = std::snprintf(text.data(), text.size(), "%04d-%02d-%02d %02d:%02d:%02d.%03d",
                                   time.year % 10000, time.month, time.day, time.hour, time.minute,
                                   time.second, time.millisecond);
    return {text.data(), static_cast<std::size_t>(size)};
}

}  // namespace vellumbrook::ticks
