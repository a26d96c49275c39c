#include "ticks/layout.hpp"

#include <cstdio>
#include <string>

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

std::optional<TickTime> readEpoch(std::string_view text) {
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
    const std::int64_t micros = text.size() >= 16 ? count : count * 1000;
    TickTime time;
    time.key = micros;
    const std::int64_t seconds = micros / 1000000;
    const std::int64_t secondOfDay = seconds % 86400;
    civilFromDays(seconds / 86400, time);
    time.hour = static_cast<int>(secondOfDay / 3600);
    time.minute = static_cast<int>(secondOfDay / 60 % 60);
    time.second = static_cast<int>(secondOfDay % 60);
    time.millisecond = static_cast<int>(micros / 1000 % 1000);
    return time;
}

std::optional<TickTime> readPattern(std::string_view text, std::string_view pattern) {
    if (text.size() < pattern.size() ||
        (text.size() > pattern.size() && text[pattern.size()] != ' ')) {
        return std::nullopt;
    }
    int fields[6] = {0, 0, 0, 0, 0, 0};  // Y M D h m s
    std::int64_t micros = 0;
    int fractionDigits = 0;
    // Each letter's field, worked out once per pattern: the same few patterns come again on
    // every line, and a table lookup keeps the loop free of unpredictable branches.
    thread_local std::string lastPattern;
    thread_local std::vector<signed char> fieldAt;
    if (pattern != lastPattern) {
        lastPattern.assign(pattern);
        fieldAt.clear();
        constexpr std::string_view kLetters = "YMDhmsf";
        for (const char letter : pattern) {
            const std::size_t field = kLetters.find(letter);
            fieldAt.push_back(field == std::string_view::npos ? -1
                                                              : static_cast<signed char>(field));
        }
    }
    std::int64_t fraction[1] = {0};
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = text[i];
        const int field = fieldAt[i];
        if (field < 0) {
            if (c != pattern[i]) {
                return std::nullopt;
            }
            continue;
        }
        const auto digit = static_cast<unsigned>(c - '0');
        if (digit > 9) {
            return std::nullopt;
        }
        if (field < 6) {
            fields[field] = fields[field] * 10 + static_cast<int>(digit);
        } else if (fractionDigits++ < 6) {
            fraction[0] = fraction[0] * 10 + digit;
        }
    }
    micros = fraction[0];
    for (; fractionDigits < 6; ++fractionDigits) {
        micros *= 10;
    }
    TickTime time;
    time.year = fields[0];
    time.month = fields[1];
    time.day = fields[2];
    time.hour = fields[3];
    time.minute = fields[4];
    time.second = fields[5];
    if (time.month > 12 || time.day > 31 || time.hour > 23 || time.minute > 59 ||
        time.second > 60) {
        return std::nullopt;
    }
    time.millisecond = static_cast<int>(micros / 1000);
    time.key =
        (((((std::int64_t{time.year} * 13 + time.month) * 32 + time.day) * 24 + time.hour) * 60 +
          time.minute) *
             61 +
         time.second) *
            1000000 +
        micros;
    return time;
}

Layout fxQuotes(std::string name, char separator, int timeColumn, int bidColumn, int askColumn,
                std::string pattern, std::string zone) {
    Layout layout;
    layout.name = std::move(name);
    layout.separator = separator;
    layout.timeColumn = timeColumn;
    layout.bidColumn = bidColumn;
    layout.askColumn = askColumn;
    layout.time.pattern = std::move(pattern);
    layout.zone = std::move(zone);
    return layout;
}

// What a line of each preset looks like, for recognising it: the first field's shape and the
// number of fields.
bool startsLike(std::string_view line, std::string_view shape) {
    if (line.size() < shape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == '9'   ? !isDigit(line[i])
            : shape[i] == 'A' ? !(line[i] >= 'A' && line[i] <= 'Z')
                              : line[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

std::size_t fieldCount(std::string_view line, char separator) {
    std::size_t count = 1;
    for (const char c : line) {
        count += c == separator ? 1 : 0;
    }
    return count;
}

}  // namespace

std::optional<TickTime> readTime(std::string_view text, const TimeFormat& format) {
    return format.kind == TimeFormat::Kind::epoch ? readEpoch(text)
                                                  : readPattern(text, format.pattern);
}

std::string isoTime(const TickTime& time) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", time.year % 10000,
                  time.month, time.day, time.hour, time.minute, time.second, time.millisecond);
    return text;
}

const std::vector<std::string>& presetNames() {
    static const std::vector<std::string> names{"truefx",  "histdata",   "dukascopy",
                                                "binance", "mt5-export", "mt5-recorder"};
    return names;
}

std::optional<Layout> preset(std::string_view name) {
    if (name == "truefx") {
        return fxQuotes("truefx", ',', 2, 3, 4, "YYYYMMDD hh:mm:ss.fff", "UTC");
    }
    if (name == "histdata") {
        return fxQuotes("histdata", ',', 1, 2, 3, "YYYYMMDD hhmmssfff",
                        "EST (UTC-5) all year, no daylight saving");
    }
    if (name == "dukascopy") {
        Layout layout = fxQuotes("dukascopy", ',', 1, 3, 2, "DD.MM.YYYY hh:mm:ss.fff",
                                 "GMT, or local time under a 'Local time' header");
        layout.headers = {"Gmt time,Ask,Bid,AskVolume,BidVolume",
                          "Local time,Ask,Bid,AskVolume,BidVolume"};
        layout.header = Layout::Header::check;
        return layout;
    }
    if (name == "binance") {
        Layout layout;
        layout.name = "binance";
        layout.timeColumn = 5;
        layout.priceColumn = 2;
        layout.time.kind = TimeFormat::Kind::epoch;
        layout.headers = {"id,price,qty,quote_qty,time,is_buyer_maker,is_best_match"};
        layout.zone = "UTC, milliseconds since 1970 (microseconds from 2025)";
        return layout;
    }
    if (name == "mt5-export") {
        Layout layout = fxQuotes("mt5-export", '\t', 2, 3, 4, "YYYY.MM.DD hh:mm:ss.fff",
                                 "the trade server's time");
        layout.dateColumn = 1;
        layout.headers = {"<DATE>\t<TIME>\t<BID>\t<ASK>\t<LAST>\t<VOLUME>\t<FLAGS>"};
        layout.header = Layout::Header::check;
        layout.rowsWithoutPriceLeftOut = true;
        return layout;
    }
    if (name == "mt5-recorder") {
        Layout layout = fxQuotes("mt5-recorder", '\t', 1, 2, 3, "", "UTC, milliseconds since 1970");
        layout.time.kind = TimeFormat::Kind::epoch;
        layout.header = Layout::Header::skip;
        return layout;
    }
    return std::nullopt;
}

std::optional<Layout> recognise(std::string_view firstLines) {
    std::vector<std::string_view> lines;
    while (!firstLines.empty() && lines.size() < 3) {
        const std::size_t end = firstLines.find_first_of("\r\n");
        lines.push_back(firstLines.substr(0, end));
        firstLines.remove_prefix(end == std::string_view::npos ? firstLines.size() : end);
        while (!firstLines.empty() && (firstLines.front() == '\r' || firstLines.front() == '\n')) {
            firstLines.remove_prefix(1);
        }
    }
    if (lines.empty()) {
        return std::nullopt;
    }
    for (const std::string& name : presetNames()) {
        const Layout layout = *preset(name);
        for (const std::string& header : layout.headers) {
            if (lines[0] == header) {
                return layout;
            }
        }
    }
    // No known header: the shape of the first data line, checked on every line seen.
    const auto all = [&](auto&& fits) {
        for (const std::string_view line : lines) {
            if (!fits(line)) {
                return false;
            }
        }
        return true;
    };
    if (all([](std::string_view l) {
            return startsLike(l, "AAA/AAA,99999999 99:99:99.999,") && fieldCount(l, ',') == 4;
        })) {
        return preset("truefx");
    }
    if (all([](std::string_view l) {
            return startsLike(l, "99999999 999999999,") && fieldCount(l, ',') == 4;
        })) {
        return preset("histdata");
    }
    if (all([](std::string_view l) {
            return fieldCount(l, ',') == 7 && (l.ends_with(",True") || l.ends_with(",False")) &&
                   startsLike(l, "9");
        })) {
        return preset("binance");
    }
    const auto recorderData = [](std::string_view l) {
        return startsLike(l, "9999999999999\t") && fieldCount(l, '\t') >= 3;
    };
    if (lines.size() >= 2 && !recorderData(lines[0]) && recorderData(lines[1])) {
        return preset("mt5-recorder");
    }
    return std::nullopt;
}

}  // namespace vellumbrook::ticks
