#include "chart/table.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "output/quoted.hpp"

namespace vellumbrook::chart {

namespace {

constexpr std::string_view kHeader = "Date,Open,High,Low,Close";
constexpr std::array<std::string_view, 5> kColumnNames = {"Open", "High", "Low", "Close", "EMA"};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t digitsFrom(std::string_view text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && isDigit(text[end])) {
        ++end;
    }
    return end - at;
}

bool sameLetters(std::string_view text, std::string_view lowerCase) {
    return text.size() == lowerCase.size() &&
           std::equal(text.begin(), text.end(), lowerCase.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
           });
}

// The header line, or nothing: "Date,Open,High,Low,Close" with ",ema(SPAN)" or without, in
// any letter case (a spreadsheet may have saved it so), the EMA column's name as it stands.
bool isHeader(std::string_view line, std::string& emaLabel) {
    if (line.size() < kHeader.size() ||
        !sameLetters(line.substr(0, kHeader.size()), "date,open,high,low,close")) {
        return false;
    }
    const std::string_view rest = line.substr(kHeader.size());
    if (rest.empty()) {
        emaLabel.clear();
        return true;
    }
    if (rest.size() < 4 || !sameLetters(rest.substr(0, 4), ",ema") ||
        rest.find(',', 1) != std::string_view::npos) {
        return false;
    }
    emaLabel = rest.substr(1);
    return true;
}

// Days from 1970-01-01 to a date of the Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// A Date as microseconds since 1970, where it is a time in a form that the tools write:
// "2024.01.02 00:04:54.564" (the converter's), "20240102 00:04:54.564" and "20240102
// 000454564" (vendors' as vellumbrook-ticks keeps them), "02.01.2024 00:04:54.564", ISO 8601
// ("2024-01-02T00:04:54.564Z"), or an epoch count of 10, 13 or 16 digits (s, ms, us).
std::optional<std::int64_t> timeOf(std::string_view date) {
    std::array<std::string_view, 8> runs;
    std::size_t count = 0;
    for (std::size_t at = 0; at < date.size();) {
        const std::size_t digits = digitsFrom(date, at);
        if (digits > 0) {
            if (count == runs.size()) {
                return std::nullopt;
            }
            runs[count++] = date.substr(at, digits);
            at += digits;
        } else if (std::string_view(" .-:/TZ").find(date[at]) != std::string_view::npos) {
            ++at;
        } else {
            return std::nullopt;
        }
    }
    const auto value = [](std::string_view digits) {
        std::int64_t number = 0;
        for (const char digit : digits) {
            number = number * 10 + (digit - '0');
        }
        return number;
    };
    if (count == 1) {
        const std::size_t size = runs[0].size();
        const std::int64_t scale = size == 10 ? 1000000 : size == 13 ? 1000 : size == 16 ? 1 : 0;
        return scale == 0 ? std::nullopt : std::optional(value(runs[0]) * scale);
    }
    // Year, month, day, hour, minute, second and the fraction's digits, from the runs.
    std::array<std::string_view, 7> parts;
    std::size_t next = 0;
    if (count >= 1 && runs[0].size() == 8) {
        parts = {runs[0].substr(0, 4), runs[0].substr(4, 2), runs[0].substr(6, 2)};
        next = 1;
    } else if (count >= 3 && runs[0].size() == 4) {
        parts = {runs[0], runs[1], runs[2]};
        next = 3;
    } else if (count >= 3 && runs[0].size() == 2 && runs[2].size() == 4) {
        parts = {runs[2], runs[1], runs[0]};
        next = 3;
    } else {
        return std::nullopt;
    }
    if (next < count && (runs[next].size() == 6 || runs[next].size() == 9)) {
        const std::string_view clock = runs[next++];
        parts[3] = clock.substr(0, 2);
        parts[4] = clock.substr(2, 2);
        parts[5] = clock.substr(4, 2);
        parts[6] = clock.substr(6);
    } else {
        for (std::size_t part = 3; part < 7 && next < count; ++part) {
            parts[part] = runs[next++];
        }
    }
    if (next != count || parts[6].size() > 9) {
        return std::nullopt;
    }
    const std::int64_t limits[] = {9999, 12, 31, 23, 59, 60};
    std::int64_t fields[6] = {};
    for (std::size_t part = 0; part < 6; ++part) {
        const bool needed = part < 3 || !parts[3].empty();
        if ((needed && parts[part].empty()) || (part > 0 && parts[part].size() > 2)) {
            return std::nullopt;
        }
        fields[part] = value(parts[part]);
        if (fields[part] > limits[part] || (part > 0 && part < 3 && fields[part] == 0)) {
            return std::nullopt;
        }
    }
    std::string micros(parts[6].substr(0, 6));
    micros.resize(6, '0');
    const std::int64_t seconds =
        ((daysFromCivil(fields[0], static_cast<int>(fields[1]), static_cast<int>(fields[2])) * 24 +
          fields[3]) *
             60 +
         fields[4]) *
            60 +
        fields[5];
    return seconds * 1000000 + value(micros);
}

// A placeholder row's label: "+" and five digits or more.
bool isPlaceholderLabel(std::string_view date) {
    return date.size() >= 6 && date[0] == '+' && digitsFrom(date, 1) == date.size() - 1;
}

// Appends `text` as the inside of a JSON string that can stand inside a <script> element: "<"
// is escaped, so no "</script" can end it early, and a byte that is not UTF-8 shows as
// U+FFFD, as a browser would show it.
void appendJsonText(std::string& out, std::string_view text) {
    constexpr char kHex[] = "0123456789abcdef";
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\' && c != '<') {
            ++i;
            continue;
        }
        out.append(text.substr(plain, i - plain));
        std::size_t length = 1;
        if (c >= 0x80) {
            length = output::utf8Length(text.substr(i));
            if (length > 0) {
                out.append(text.substr(i, length));
            } else {
                out += "\\ufffd";
                length = 1;
            }
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
        i += length;
        plain = i;
    }
    out.append(text.substr(plain));
}

// Whether `text` is a number as JSON writes one, which every finite number that printf's %g
// writes is; if so, also how many decimals it needs: those after the point, less the
// exponent. One pass, since every price of a large table comes through here.
std::optional<int> decimalsOfNumber(std::string_view text) {
    std::size_t at = text.starts_with('-') ? 1 : 0;
    const std::size_t whole = digitsFrom(text, at);
    if (whole == 0 || (whole > 1 && text[at] == '0')) {
        return std::nullopt;
    }
    at += whole;
    int decimals = 0;
    if (at < text.size() && text[at] == '.') {
        const std::size_t fraction = digitsFrom(text, at + 1);
        if (fraction == 0) {
            return std::nullopt;
        }
        decimals = static_cast<int>(std::min<std::size_t>(fraction, 1000));
        at += 1 + fraction;
    }
    int raised = 0;  // a positive exponent's power
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        const bool negative = at < text.size() && text[at] == '-';
        at += at < text.size() && (text[at] == '+' || text[at] == '-') ? 1 : 0;
        const std::size_t power = digitsFrom(text, at);
        if (power == 0) {
            return std::nullopt;
        }
        int value = 0;
        for (const char digit : text.substr(at, power)) {
            value = std::min(value * 10 + (digit - '0'), 1000);
        }
        decimals += negative ? value : -value;
        raised = negative ? 0 : value;
        at += power;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    // Beyond the doubles (1e400, or a number of 400 digits), where the page would read
    // Infinity: no number.
    double parsed = 0;
    if (static_cast<std::int64_t>(whole) - 1 + raised >= 308 &&
        std::from_chars(text.data(), text.data() + text.size(), parsed).ec != std::errc()) {
        return std::nullopt;
    }
    return decimals;
}

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// The value of a number as JSON writes it. Most prices have at most 15 digits and no
// exponent: their digits as an integer, divided by an exact power of ten, give the correctly
// rounded double at once; the others take the general reading.
bool valueOf(std::string_view text, double& value) {
    const bool negative = text.starts_with('-');
    std::uint64_t digits = 0;
    int count = 0;
    int decimals = -1;
    for (std::size_t at = negative ? 1 : 0; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '.' && decimals < 0) {
            decimals = 0;
        } else if (isDigit(c) && count < 15) {
            digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
            ++count;
            decimals += decimals >= 0 ? 1 : 0;
        } else {
            return std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc();
        }
    }
    value = static_cast<double>(digits) / kPowersOfTen[std::max(decimals, 0)];
    value = negative ? -value : value;
    return count > 0;
}

bool isNotFinite(std::string_view text) {
    return text == "inf" || text == "-inf" || text == "nan" || text == "-nan";
}

// A price as the plain decimal it is written as: its digits as one integer, how many stand
// before the point and how many after.
struct Decimal {
    std::uint64_t digits = 0;
    int whole = 0;
    int fraction = 0;
    bool negative = false;
};

// A mask of the bytes of `word` (its high bits) that are `byte`, exact in every byte.
std::uint64_t bytesEqual(std::uint64_t word, unsigned char byte) {
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full;
    const std::uint64_t differs = word ^ (0x0101010101010101ull * byte);
    return ~(((differs & kLow7) + kLow7) | differs | kLow7);
}

// How long the Date at the start of `line` is, eight bytes at a time where the line has them:
// up to its comma, or npos where a byte before it is one that JSON escapes (a control byte, a
// quote, a backslash, or "<") or is not ASCII, or where no comma follows.
std::size_t plainDateLength(std::string_view line) {
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    std::size_t at = 0;
    for (; at + 8 <= line.size(); at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, line.data() + at, 8);
        if constexpr (std::endian::native == std::endian::big) {
            word = __builtin_bswap64(word);
        }
        const std::uint64_t control = ~((word & kLow7) + 0x6060606060606060ull) & kHigh;
        const std::uint64_t escaped = (word & kHigh) | control | bytesEqual(word, '"') |
                                      bytesEqual(word, '\\') | bytesEqual(word, '<');
        const std::uint64_t comma = bytesEqual(word, ',');
        if (comma != 0) {
            const std::uint64_t before = (comma & (~comma + 1)) - 1;
            return (escaped & before) != 0
                       ? std::string_view::npos
                       : at + static_cast<std::size_t>(std::countr_zero(comma)) / 8;
        }
        if (escaped != 0) {
            return std::string_view::npos;
        }
    }
    for (; at < line.size() && line[at] != ','; ++at) {
        const auto c = static_cast<unsigned char>(line[at]);
        if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\' || c == '<') {
            return std::string_view::npos;
        }
    }
    return at < line.size() ? at : std::string_view::npos;
}

// Eight bytes of a line as one word, the first byte the lowest.
std::uint64_t wordAt(const char* at) {
    std::uint64_t word = 0;
    std::memcpy(&word, at, 8);
    if constexpr (std::endian::native == std::endian::big) {
        word = __builtin_bswap64(word);
    }
    return word;
}

// The number that up to eight digits make, given as the low nibbles of a word's bytes, the
// first the most significant.
std::uint64_t digitsValue(std::uint64_t nibbles) {
    nibbles = (nibbles * 10 + (nibbles >> 8)) & 0x00ff00ff00ff00ffull;
    nibbles = (nibbles * 100 + (nibbles >> 16)) & 0x0000ffff0000ffffull;
    return (nibbles * 10000 + (nibbles >> 32)) & 0xffffffffull;
}

// A decimal that ends within the eight bytes at `at` (digits, maybe a point and more digits,
// then some other byte), read from them as one word; false where the eight bytes do not show
// all of it, which the reading a byte at a time then takes.
bool readShortDecimal(const char* at, Decimal& price) {
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    const std::uint64_t word = wordAt(at);
    const std::uint64_t low7 = word & kLow7;
    const std::uint64_t digit = (low7 + 0x5050505050505050ull) & ~(low7 + 0x4646464646464646ull) &
                                ~word & kHigh;  // '0' to '9'
    const std::uint64_t other = ~digit & kHigh;
    if (other == 0) {
        return false;
    }
    const int end = std::countr_zero(other);  // the high bit of the first byte after the digits
    const int whole = end / 8;
    int fraction = 0;
    if (((bytesEqual(word, '.') >> end) & 1) != 0) {
        const std::uint64_t after = other & (other - 1);
        if (after == 0) {
            return false;
        }
        fraction = std::countr_zero(after) / 8 - whole - 1;
        if (fraction == 0) {
            return false;
        }
    }
    if (whole == 0) {
        return false;
    }
    // The fraction's digits moved up to the whole's, over the point: one run of digits.
    const std::uint64_t nibbles = word & 0x0f0f0f0f0f0f0f0full;
    const std::uint64_t wholeBytes = (std::uint64_t{1} << (8 * whole)) - 1;
    const std::uint64_t run = (nibbles & wholeBytes) | ((nibbles >> 8) & ~wholeBytes);
    price.digits = digitsValue(run << (64 - 8 * (whole + fraction)));
    price.whole = whole;
    price.fraction = fraction;
    return true;
}

// A candle's row as the converter writes it, read in one pass: a Date that holds nothing JSON
// escapes, then `count` - 1 decimals of at most 15 digits without an exponent, the first four
// of them its prices. False for any other line, which the general reading takes. The bytes
// up to `readable` may be read, the line's end (a CR or LF) and what follows it, if so.
bool readPlainRow(std::string_view line, const char* readable, std::size_t count,
                  std::array<std::string_view, 6>& fields, std::array<Decimal, 4>& prices) {
    if (line.empty() || line[0] == '+') {
        return false;  // a placeholder row, maybe
    }
    const std::size_t dateLength = plainDateLength(line);
    if (dateLength == std::string_view::npos) {
        return false;
    }
    fields[0] = line.substr(0, dateLength);
    const char* at = line.data() + dateLength;
    const char* const end = line.data() + line.size();
    std::size_t field = 1;
    for (; at != end; ++field) {
        if (field == count) {
            return false;
        }
        const char* const start = ++at;  // after the comma
        Decimal price;
        price.negative = at != end && *at == '-';
        at += price.negative ? 1 : 0;
        const char* const whole = at;
        if (readable - at >= 8 && readShortDecimal(at, price)) {
            at += price.whole + (price.fraction > 0 ? 1 + price.fraction : 0);
        } else {
            for (; at != end && isDigit(*at); ++at) {
                price.digits = price.digits * 10 + static_cast<std::uint64_t>(*at - '0');
            }
            price.whole = static_cast<int>(std::min<std::ptrdiff_t>(at - whole, 16));
        }
        if (price.fraction == 0 && at != end && *at == '.') {
            const char* const first = ++at;
            for (; at != end && isDigit(*at); ++at) {
                price.digits = price.digits * 10 + static_cast<std::uint64_t>(*at - '0');
            }
            price.fraction = static_cast<int>(std::min<std::ptrdiff_t>(at - first, 16));
            if (price.fraction == 0) {
                return false;
            }
        }
        if (price.whole == 0 || (price.whole > 1 && *whole == '0') ||
            price.whole + price.fraction > 15 || (at != end && *at != ',')) {
            return false;
        }
        if (field <= prices.size()) {
            prices[field - 1] = price;
        }
        fields[field] = std::string_view(start, at);
    }
    return field == count;
}

template <typename Number>
Prices judge(const std::array<Number, 4>& prices) {
    const auto [open, high, low, close] = prices;
    if (open == 0 && high == 0 && low == 0 && close == 0) {
        return Prices::none;
    }
    const bool sound =
        !(high < low) && !(open < low || open > high) && !(close < low || close > high);
    return sound ? Prices::sound : Prices::unsound;
}

// Plain decimals of at most 15 digits compare as their doubles do: distinct ones are distinct
// doubles. They are compared as integers scaled to as many decimals each, where those fit.
Prices judge(const std::array<Decimal, 4>& prices) {
    constexpr std::int64_t kScales[] = {1,
                                        10,
                                        100,
                                        1000,
                                        10000,
                                        100000,
                                        1000000,
                                        10000000,
                                        100000000,
                                        1000000000,
                                        10000000000,
                                        100000000000,
                                        1000000000000,
                                        10000000000000,
                                        100000000000000,
                                        1000000000000000};
    const auto [open, high, low, close] = prices;
    if (open.fraction == high.fraction && low.fraction == high.fraction &&
        close.fraction == high.fraction && !open.negative && !high.negative && !low.negative &&
        !close.negative) {
        return judge(std::array{open.digits, high.digits, low.digits, close.digits});
    }
    int decimals = 0;
    int widest = 0;
    for (const Decimal& price : prices) {
        decimals = std::max(decimals, price.fraction);
        widest = std::max(widest, price.whole);
    }
    const auto sign = [](const Decimal& price) { return price.negative ? -1 : 1; };
    if (widest + decimals > 18) {
        std::array<double, 4> values{};
        for (std::size_t i = 0; i < prices.size(); ++i) {
            values[i] = static_cast<double>(prices[i].digits) / kPowersOfTen[prices[i].fraction] *
                        sign(prices[i]);
        }
        return judge(values);
    }
    std::array<std::int64_t, 4> scaled{};
    for (std::size_t i = 0; i < prices.size(); ++i) {
        scaled[i] = static_cast<std::int64_t>(prices[i].digits) *
                    kScales[decimals - prices[i].fraction] * sign(prices[i]);
    }
    return judge(scaled);
}

// As many decimals as a candle's prices need, up to the 12 that the page shows at most.
int decimalsOf(const std::array<Decimal, 4>& prices) {
    int decimals = 0;
    for (const Decimal& price : prices) {
        decimals = std::max(decimals, price.fraction);
    }
    return std::min(decimals, 12);
}

// A price of a plain row with the comma before it in the line: its column's separator.
std::string_view withComma(std::string_view price) {
    return {price.data() - 1, price.size() + 1};
}

// The piece that a column's next row is appended to.
TextPiece& tail(ColumnText& column) {
    if (column.empty()) {
        column.emplace_back();
    }
    return column.back();
}

std::string plural(std::size_t count, std::string_view word) {
    return std::to_string(count) + " " + std::string(word) + (count == 1 ? "" : "s");
}

}  // namespace

void TableReader::add(std::string_view line) {
    ++line_;
    // A row after a header at the bottom is refused below.
    if (fields_ != 0 && firstBlank_ == 0 && headerLine_ + 1 != line_ && plainRow(line)) {
        return;
    }
    // A spreadsheet saves a byte order mark; blank lines at the end are no rows, as for the
    // converter's own reading.
    if (line_ == 1 && line.starts_with("\xef\xbb\xbf")) {
        line.remove_prefix(3);
    }
    if (line.empty()) {
        firstBlank_ = firstBlank_ == 0 ? line_ : firstBlank_;
        return;
    }
    if (firstBlank_ != 0) {
        throw TableError{firstBlank_, "a blank line in the middle of the table"};
    }
    if (headerLine_ != 0 && headerLine_ + 1 == line_ && headerLine_ != 1) {
        throw TableError{headerLine_, "a header line in the middle of the table"};
    }
    std::string emaLabel;
    if (isHeader(line, emaLabel)) {
        if (headerLine_ != 0) {
            throw TableError{line_, "a second header line"};
        }
        headerLine_ = line_;
        const std::size_t fields = emaLabel.empty() ? 5 : 6;
        if (fields_ != 0 && fields_ != fields) {
            throw TableError{line_, "the header has " + std::to_string(fields) +
                                        " fields, the rows above it " + std::to_string(fields_)};
        }
        fields_ = fields;
        table_.hasEma = fields == 6;
        table_.emaLabel.clear();
        appendJsonText(table_.emaLabel, emaLabel);
        return;
    }
    row(line);
}

void TableReader::row(std::string_view line) {
    // One look at each byte: the lines are short, and a call per comma would cost more.
    std::array<std::string_view, 6> fields;
    std::size_t count = 0;
    std::size_t start = 0;
    bool carriageReturn = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        carriageReturn |= line[i] == '\r';
        if (line[i] == ',') {
            if (count < fields.size()) {
                fields[count] = line.substr(start, i - start);
            }
            ++count;
            start = i + 1;
        }
    }
    if (count < fields.size()) {
        fields[count] = line.substr(start);
    }
    ++count;
    if (carriageReturn) {
        throw TableError{line_,
                         "a CR inside a line: its lines end in CR alone (classic Mac OS); "
                         "tr '\\r' '\\n' makes them LF"};
    }

    if (fields_ == 0) {
        if (count != 5 && count != 6) {
            throw TableError{line_, plural(count, "field") +
                                        "; a table of vellumbrook has 5 (Date,Open,High,Low,"
                                        "Close) or 6 (and the EMA)"};
        }
        fields_ = count;
        table_.hasEma = count == 6;
    } else if (count != fields_) {
        throw TableError{
            line_, plural(count, "field") + " where the table has " + std::to_string(fields_)};
    }
    const std::string_view date = fields[0];
    const bool placeholder = isPlaceholderLabel(date) && fields[1] == "0" && fields[2] == "0" &&
                             fields[3] == "0" && fields[4] == "0";
    if (placeholder) {
        if (candles_ == 0) {
            ++futureAtTop_;
        } else if (firstFutureBelow_ == 0) {
            firstFutureBelow_ = line_;
        }
        ++table_.future;
    } else {
        candle(fields);
        checkPrices(fields);
    }
    // The dates stand in one string, a line each: far fewer objects for the page to hold.
    TextPiece& dates = tail(table_.dates);
    dates.text += "\\n";
    appendJsonText(dates.text, date);
    ++dates.rows;
    for (std::size_t column = 0; column + 1 < fields_; ++column) {
        TextPiece& piece = tail(table_.columns[column]);
        piece.text += ',';
        piece.text += number(fields[column + 1], column, !placeholder);
        ++piece.rows;
    }
    ++table_.rows;
}

bool TableReader::plainRow(std::string_view line) {
    Fields fields;
    std::array<Decimal, 4> prices;
    if (!readPlainRow(line, line.data() + line.size(), fields_, fields, prices)) {
        return false;
    }
    candle(fields);
    checkCandle(judge(prices), fields);
    table_.decimals = std::max(table_.decimals, decimalsOf(prices));
    for (std::size_t column = 0; column < fields_; ++column) {
        TextPiece& piece = tail(column == 0 ? table_.dates : table_.columns[column - 1]);
        if (column == 0) {
            piece.text += "\\n";
            piece.text += fields[0];
        } else {
            piece.text += withComma(fields[column]);
        }
        ++piece.rows;
    }
    ++table_.rows;
    return true;
}

// A candle's row, not a placeholder: none may stand between candles.
void TableReader::candle(const Fields& fields) {
    if (firstFutureBelow_ != 0) {
        throw TableError{firstFutureBelow_, "a placeholder row between candles"};
    }
    ++candles_;
    lastCandle_.line = line_;
    lastCandle_.date.assign(fields[0]);
    if (firstCandle_.line == 0) {
        firstCandle_ = lastCandle_;
    }
}

// What a run of lines gives when read apart from the table's reading, on a thread of its own:
// its plain rows up to the first line that needs more, as the table's reading takes them.
struct TableReader::PlainRows {
    std::size_t fields = 0;  // per row, as the table had them when the run was read
    std::uint64_t lines = 0;
    std::size_t bytes = 0;  // of those lines, their ends included
    std::uint64_t real = 0;
    int decimals = 0;
    std::string_view firstDate;
    std::string_view lastDate;
    TextPiece dates;
    std::array<TextPiece, 5> columns;
};

TableReader::PlainRows TableReader::readPlainRows(std::string_view lines, std::size_t fields) {
    PlainRows rows;
    rows.fields = fields;
    Fields row;
    std::array<Decimal, 4> prices;
    for (std::size_t start = 0; start < lines.size();) {
        const std::size_t end = lines.find('\n', start);
        const std::string_view line = lines.substr(start, end - start);
        if (!readPlainRow(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line,
                          lines.data() + lines.size(), fields, row, prices)) {
            break;
        }
        const Prices judged = judge(prices);
        if (judged == Prices::unsound) {
            break;  // the table's reading says why
        }
        rows.real += judged == Prices::sound ? 1 : 0;
        rows.decimals = std::max(rows.decimals, decimalsOf(prices));
        if (rows.lines == 0) {
            // The rows of a table are much alike: the first tells how large the run's texts grow.
            const std::size_t expected = lines.size() / (line.size() + 1) * 5 / 4 + 16;
            rows.firstDate = row[0];
            rows.dates.text.reserve(expected * (row[0].size() + 2));
            for (std::size_t column = 1; column < fields; ++column) {
                rows.columns[column - 1].text.reserve(expected * (row[column].size() + 1));
            }
        }
        rows.lastDate = row[0];
        rows.dates.text += "\\n";
        rows.dates.text += row[0];
        for (std::size_t column = 1; column < fields; ++column) {
            rows.columns[column - 1].text += withComma(row[column]);
        }
        ++rows.lines;
        start = end + 1;
        rows.bytes = start;
    }
    return rows;
}

// A run of lines, its plain rows read apart: they are taken as they were read where the
// table's reading would have read them so (it has as many fields a row, and no blank line or
// header at the bottom before them), the rest line by line.
void TableReader::addRun(std::string_view lines, PlainRows rows) {
    if (rows.lines == 0 || rows.fields != fields_ || firstBlank_ != 0 ||
        (headerLine_ > 1 && headerLine_ == line_)) {
        addEach(lines);
        return;
    }
    if (firstFutureBelow_ != 0) {
        throw TableError{firstFutureBelow_, "a placeholder row between candles"};
    }
    if (firstCandle_.line == 0) {
        firstCandle_ = {line_ + 1, std::string(rows.firstDate)};
    }
    line_ += rows.lines;
    candles_ += rows.lines;
    lastCandle_.line = line_;
    lastCandle_.date.assign(rows.lastDate);
    realCandles_ += rows.real;
    table_.decimals = std::max(table_.decimals, rows.decimals);
    table_.rows += rows.lines;
    rows.dates.rows = rows.lines;
    table_.dates.push_back(std::move(rows.dates));
    for (std::size_t column = 0; column + 1 < fields_; ++column) {
        rows.columns[column].rows = rows.lines;
        table_.columns[column].push_back(std::move(rows.columns[column]));
    }
    addEach(lines.substr(rows.bytes));
}

void TableReader::addEach(std::string_view lines) {
    for (std::size_t start = 0; start < lines.size();) {
        const std::size_t end = lines.find('\n', start);
        const std::string_view line = lines.substr(start, end - start);
        add(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
        start = end + 1;
    }
}

void TableReader::addLines(std::string_view lines) {
    // The first rows say how many fields a row has, and the runs are read knowing it; the
    // placeholder rows at the top are no plain rows.
    while ((fields_ == 0 || lines.starts_with('+')) && !lines.empty()) {
        const std::size_t end = lines.find('\n');
        addEach(lines.substr(0, end + 1));
        lines.remove_prefix(end + 1);
    }
    // Below this, starting a thread costs more than it saves.
    constexpr std::size_t kWorthAThread = std::size_t{256} << 10;
    if (lines.size() < kWorthAThread) {
        addEach(lines);
        return;
    }
    const std::size_t half = lines.find('\n', lines.size() / 2) + 1;
    const std::string_view first = lines.substr(0, half);
    const std::string_view second = lines.substr(half);
    std::future<PlainRows> later;
    try {
        later = std::async(std::launch::async, readPlainRows, second, fields_);
    } catch (const std::system_error&) {
        // no thread to be had: the second half is read after the first
    }
    addRun(first, readPlainRows(first, fields_));
    addRun(second, later.valid() ? later.get() : readPlainRows(second, fields_));
}

std::string_view TableReader::number(std::string_view text, std::size_t column, bool candle) {
    if (isNotFinite(text)) {
        return "null";
    }
    const std::optional<int> decimals = decimalsOfNumber(text);
    if (!decimals) {
        throw TableError{line_, output::quoted(text) + " in the " +
                                    std::string(kColumnNames[column]) + " column is not a number"};
    }
    if (candle && column < 4) {
        table_.decimals = std::max(table_.decimals, std::min(*decimals, 12));
    }
    return text;
}

// A candle's prices, where its fields are numbers: nan or inf are no prices.
void TableReader::checkPrices(const Fields& fields) {
    std::array<double, 4> prices{};
    for (std::size_t column = 0; column < 4; ++column) {
        const std::string_view text = fields[column + 1];
        if (isNotFinite(text) || !valueOf(text, prices[column])) {
            return;  // reported as no number, or drawn as an empty slot
        }
    }
    checkCandle(judge(prices), fields);
}

// A candle's prices as the converter makes them (counted as real), a row of zeros (a group
// without a tick), or refused with the comparison that fails.
void TableReader::checkCandle(Prices judged, const Fields& fields) {
    if (judged == Prices::none) {
        return;
    }
    ++realCandles_;
    if (judged == Prices::sound) {
        return;
    }
    std::array<double, 4> prices{};
    for (std::size_t column = 0; column < 4; ++column) {
        valueOf(fields[column + 1], prices[column]);
    }
    const double low = prices[2];
    const double high = prices[1];
    const auto price = [&](std::size_t column) {
        return std::string(kColumnNames[column]) + " " + output::quoted(fields[column + 1]);
    };
    if (high < low) {
        throw TableError{line_, "its " + price(1) + " is below its " + price(2)};
    }
    for (const std::size_t column : {0, 3}) {
        if (prices[column] < low || prices[column] > high) {
            throw TableError{
                line_, "its " + price(column) + " is outside its " + price(2) + " and " + price(1)};
        }
    }
}

// Which end is the newest: placeholder rows at the top say newest first; placeholder rows or
// the header at the bottom (a table turned over) say oldest first; --oldest-first says so
// for a table without either. Where the first and last candles' Dates are times, they must
// agree, and without any other sign they decide.
void TableReader::decideOrder() {
    const bool headerBelow = headerLine_ > 1;
    if (futureAtTop_ > 0 && firstFutureBelow_ != 0) {
        throw TableError{firstFutureBelow_, "placeholder rows at both ends"};
    }
    if (futureAtTop_ > 0 && headerBelow) {
        throw TableError{headerLine_,
                         "a header at the bottom says it runs oldest first, but its "
                         "placeholder rows stand at the top, so it runs newest first"};
    }
    if (futureAtTop_ > 0 && oldestFirst_) {
        throw TableError{0,
                         "its placeholder rows stand at the top, so it runs newest first, "
                         "not --oldest-first"};
    }
    const std::string_view sign =
        futureAtTop_ > 0         ? "its placeholder rows at the top say newest first"
        : firstFutureBelow_ != 0 ? "its placeholder rows at the bottom say oldest first"
        : headerBelow            ? "its header at the bottom says oldest first"
        : oldestFirst_           ? "--oldest-first says oldest first"
                                 : "";
    table_.newestFirst = futureAtTop_ > 0 || sign.empty();
    const std::optional<std::int64_t> first = timeOf(firstCandle_.date);
    const std::optional<std::int64_t> last = timeOf(lastCandle_.date);
    if (!first || !last || *first == *last) {
        return;
    }
    const bool datesNewestFirst = *first > *last;
    if (sign.empty()) {
        table_.newestFirst = datesNewestFirst;
        table_.orderFromDates = !datesNewestFirst;
    } else if (datesNewestFirst != table_.newestFirst) {
        throw TableError{lastCandle_.line,
                         "its Dates run " + std::string(datesNewestFirst ? "newest" : "oldest") +
                             " first (" + output::quoted(firstCandle_.date) + " on line " +
                             std::to_string(firstCandle_.line) + ", " +
                             output::quoted(lastCandle_.date) + " here), but " + std::string(sign)};
    }
}

ChartTable TableReader::finish() {
    if (candles_ == 0) {
        throw TableError{0, "no candles in it"};
    }
    if (realCandles_ == 0) {
        throw TableError{0, "none of its " + plural(candles_, "row") +
                                " has prices: each is empty (0,0,0,0, as the converter writes "
                                "for lines it cannot read) or holds nan or inf"};
    }
    decideOrder();
    if (table_.hasEma && table_.emaLabel.empty()) {
        table_.emaLabel = "ema";
    }
    return std::move(table_);
}

namespace {

// A buffer that files are read into: its bytes are not set before.
class ReadBuffer {
  public:
    explicit ReadBuffer(std::size_t size)
        : bytes_(std::make_unique_for_overwrite<char[]>(size)), size_(size) {}
    char* data() { return bytes_.get(); }
    std::size_t size() const { return size_; }
    // At least `size` bytes, what it held dropped.
    void fit(std::size_t size) {
        if (size > size_) {
            *this = ReadBuffer(size);
        }
    }

  private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_;
};

// Reads until `size` bytes are in or the input ends (a pipe gives some at a time): how many
// came, 0 at the end, -1 when reading fails.
std::ptrdiff_t fill(const platform::File& file, char* into, std::size_t size) {
    std::size_t filled = 0;
    while (filled < size) {
        const std::ptrdiff_t got = platform::readNext(file, into + filled, size - filled);
        if (got < 0) {
            return got;
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    return static_cast<std::ptrdiff_t>(filled);
}

}  // namespace

ChartTable readTable(const platform::File& file, bool oldestFirst) {
    TableReader reader(oldestFirst);
    // Two buffers: the next block is read into one while the lines of the other are.
    ReadBuffer buffer(std::size_t{8} << 20);
    ReadBuffer spare(buffer.size());
    // No row of the converter's comes near this, and endless input without a line end must
    // not take all memory.
    constexpr std::size_t kLongestLine = std::size_t{64} << 20;
    std::size_t held = 0;  // the bytes of a line not yet ended, at the buffer's start
    std::ptrdiff_t got = fill(file, buffer.data(), buffer.size());
    for (;;) {
        if (got < 0) {
            throw std::runtime_error("it cannot be read");
        }
        std::string_view bytes(buffer.data(), held + static_cast<std::size_t>(got));
        // The converter's rows end at a NUL, so a NUL means something else (/dev/zero, UTF-16):
        // the lines before it are read, then the run stops on its line. A 1A byte ends the
        // data, as in the converter's own reading (DOS's end of file).
        // Two searches for one byte each: a search for either of two bytes tests them one
        // byte at a time.
        const std::size_t stop = std::min(bytes.find('\0', held), bytes.find('\x1a', held));
        const std::size_t nul =
            stop != std::string_view::npos && bytes[stop] == '\0' ? stop : std::string_view::npos;
        if (stop != std::string_view::npos && nul == std::string_view::npos) {
            bytes = bytes.substr(0, stop);
            got = 0;
        }
        const std::string_view framed = bytes.substr(0, nul);
        const std::size_t start = framed.rfind('\n') + 1;  // 0 without a line end
        const std::size_t unended = bytes.size() - start;
        const auto readNext = [&file, &spare, unended] {
            return fill(file, spare.data() + unended, spare.size() - unended);
        };
        std::future<std::ptrdiff_t> next;
        if (got != 0 && nul == std::string_view::npos) {
            if (unended == buffer.size() && buffer.size() >= kLongestLine) {
                throw TableError{reader.lines() + 1,
                                 "a line of more than 64 MiB; not a table of vellumbrook"};
            }
            // A line longer than the buffer gets one twice as large.
            spare.fit(buffer.size() * (unended == buffer.size() ? 2 : 1));
            std::memcpy(spare.data(), bytes.data() + start, unended);
            try {
                next = std::async(std::launch::async, readNext);
            } catch (const std::system_error&) {
                // no thread to be had: the next block is read after this one's lines
            }
        }
        reader.addLines(framed.substr(0, start));
        if (nul != std::string_view::npos) {
            throw TableError{reader.lines() + 1, "a NUL byte; not a table of vellumbrook"};
        }
        if (got == 0) {
            if (start < bytes.size()) {
                const std::string_view line = bytes.substr(start);
                reader.add(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
            }
            return reader.finish();
        }
        got = next.valid() ? next.get() : readNext();
        std::swap(buffer, spare);
        held = unended;
    }
}

}  // namespace vellumbrook::chart
