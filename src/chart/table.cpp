#include "chart/table.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
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

// The header line, or nothing: "Date,Open,High,Low,Close" with ",ema(SPAN)" or without.
bool isHeader(std::string_view line, std::string& emaLabel) {
    if (!line.starts_with(kHeader)) {
        return false;
    }
    const std::string_view rest = line.substr(kHeader.size());
    if (rest.empty()) {
        emaLabel.clear();
        return true;
    }
    if (rest.size() < 7 || !rest.starts_with(",ema(") || rest.back() != ')' ||
        digitsFrom(rest, 5) != rest.size() - 6) {
        return false;
    }
    emaLabel = rest.substr(1);
    return true;
}

// A placeholder row's label: "+" and five digits or more.
bool isPlaceholderLabel(std::string_view date) {
    return date.size() >= 6 && date[0] == '+' && digitsFrom(date, 1) == date.size() - 1;
}

// The length of the UTF-8 character at the start of `text`, or 0 when it is not one.
std::size_t utf8Length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t length = lead < 0xc2   ? 0
                               : lead < 0xe0 ? 2
                               : lead < 0xf0 ? 3
                               : lead < 0xf5 ? 4
                                             : 0;
    if (length == 0 || text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80) {
            return 0;
        }
    }
    // No overlong forms, no surrogates, nothing beyond U+10FFFF.
    const unsigned char second = byte(1);
    if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second >= 0xa0) ||
        (lead == 0xf0 && second < 0x90) || (lead == 0xf4 && second >= 0x90)) {
        return 0;
    }
    return length;
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
            length = utf8Length(text.substr(i));
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
        at += power;
        // Beyond the doubles (1e400), where the page would read Infinity: no number.
        double parsed = 0;
        if (!negative && static_cast<int>(whole) - 1 + value >= 308 &&
            std::from_chars(text.data(), text.data() + text.size(), parsed).ec != std::errc()) {
            return std::nullopt;
        }
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return decimals;
}

bool isNotFinite(std::string_view text) {
    return text == "inf" || text == "-inf" || text == "nan" || text == "-nan";
}

std::string plural(std::size_t count, std::string_view word) {
    return std::to_string(count) + " " + std::string(word) + (count == 1 ? "" : "s");
}

}  // namespace

void TableReader::add(std::string_view line) {
    ++line_;
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
        table_.emaLabel = emaLabel;
        return;
    }
    row(line);
}

void TableReader::row(std::string_view line) {
    // One look at each byte: the lines are short, and a call per comma would cost more.
    std::array<std::string_view, 6> fields;
    std::size_t count = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
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
        if (firstFutureBelow_ != 0) {
            throw TableError{firstFutureBelow_, "a placeholder row between candles"};
        }
        ++candles_;
    }
    // The dates stand in one string, a line each: far fewer objects for the page to hold.
    table_.dates += table_.rows == 0 ? "" : "\\n";
    appendJsonText(table_.dates, date);
    const std::string_view separator = table_.rows == 0 ? "" : ",";
    for (std::size_t column = 0; column + 1 < fields_; ++column) {
        table_.columns[column] += separator;
        table_.columns[column] += number(fields[column + 1], column, !placeholder);
    }
    ++table_.rows;
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

ChartTable TableReader::finish() {
    if (candles_ == 0) {
        throw TableError{0, "no candles in it"};
    }
    if (futureAtTop_ > 0 && firstFutureBelow_ != 0) {
        throw TableError{firstFutureBelow_, "placeholder rows at both ends"};
    }
    if (futureAtTop_ > 0 && oldestFirst_) {
        throw TableError{0,
                         "its placeholder rows stand at the top, so it runs newest first, "
                         "not --oldest-first"};
    }
    table_.newestFirst = futureAtTop_ > 0 || (firstFutureBelow_ == 0 && !oldestFirst_);
    if (table_.hasEma && table_.emaLabel.empty()) {
        table_.emaLabel = "ema";
    }
    return std::move(table_);
}

ChartTable readTable(const platform::File& file, bool oldestFirst) {
    TableReader reader(oldestFirst);
    std::vector<char> buffer(std::size_t{1} << 20);
    std::size_t held = 0;  // the start of a line not yet ended
    // No row of the converter's comes near this, and endless input without a line end must
    // not take all memory.
    constexpr std::size_t kLongestLine = std::size_t{64} << 20;
    for (;;) {
        if (held == buffer.size()) {
            if (buffer.size() >= kLongestLine) {
                throw TableError{reader.lines() + 1,
                                 "a line of more than 64 MiB; not a table of vellumbrook"};
            }
            buffer.resize(buffer.size() * 2);  // a line longer than the buffer
        }
        const std::ptrdiff_t got =
            platform::readNext(file, buffer.data() + held, buffer.size() - held);
        if (got < 0) {
            throw std::runtime_error("it cannot be read");
        }
        const std::string_view bytes(buffer.data(), held + static_cast<std::size_t>(got));
        // The converter's rows end at a NUL, so a NUL means something else (/dev/zero, UTF-16):
        // the lines before it are read, then the run stops on its line.
        const std::size_t nul = bytes.find('\0', held);
        const std::string_view framed = bytes.substr(0, nul);
        std::size_t start = 0;
        for (std::size_t end; (end = framed.find('\n', start)) != std::string_view::npos;
             start = end + 1) {
            std::string_view line = framed.substr(start, end - start);
            reader.add(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
        }
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
        held = bytes.size() - start;
        std::memmove(buffer.data(), buffer.data() + start, held);
    }
}

}  // namespace vellumbrook::chart
