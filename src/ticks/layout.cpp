#include "ticks/layout.hpp"

#include <algorithm>
#include <string>

namespace vellumbrook::ticks {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
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

std::optional<std::string> missingQuote(const Layout& layout, std::optional<Quote> asked) {
    const bool onePrice = layout.priceColumn > 0;
    const Quote quote = asked.value_or(onePrice ? Quote::price : Quote::bid);
    const bool fits =
        onePrice ? quote == Quote::price
                 : (quote == Quote::bid && layout.bidColumn > 0) ||
                       (quote == Quote::ask && layout.askColumn > 0) ||
                       (quote == Quote::mid && layout.bidColumn > 0 && layout.askColumn > 0);
    if (fits) {
        return std::nullopt;
    }
    constexpr const char* kNames[] = {"bid", "ask", "mid", "price"};
    return layout.name + " has no " + kNames[static_cast<int>(quote)] +
           (onePrice ? " (it has one price: --price=price)" : " (--price=bid, ask or mid)");
}

namespace {

// `layout` with its time a count since 1970.
Layout withEpochTime(Layout layout, TimeFormat::Kind kind) {
    layout.time.kind = kind;
    return layout;
}

// `layout` with the header lines it may have.
Layout withHeaders(Layout layout, std::vector<std::string> headers, Layout::Header header) {
    layout.headers = std::move(headers);
    layout.header = header;
    return layout;
}

Layout binance() {
    Layout layout;
    layout.name = "binance";
    layout.timeColumn = 5;
    layout.priceColumn = 2;
    layout.time.kind = TimeFormat::Kind::epochMillisecondsOrMicroseconds;
    layout.headers = {"id,price,qty,quote_qty,time,is_buyer_maker,is_best_match"};
    layout.zone = "UTC, milliseconds since 1970 (microseconds from 2025)";
    return layout;
}

Layout mt5Export() {
    Layout layout = withHeaders(
        fxQuotes("mt5-export", '\t', 2, 3, 4, "YYYY.MM.DD hh:mm:ss.fff", "the trade server's time"),
        {"<DATE>\t<TIME>\t<BID>\t<ASK>\t<LAST>\t<VOLUME>\t<FLAGS>"}, Layout::Header::check);
    layout.dateColumn = 1;
    layout.rowsWithoutPriceLeftOut = true;
    return layout;
}

// Every preset, in the order the help lists them.
const std::vector<Layout>& presets() {
    static const std::vector<Layout> all{
        fxQuotes("truefx", ',', 2, 3, 4, "YYYYMMDD hh:mm:ss.fff", "UTC"),
        fxQuotes("histdata", ',', 1, 2, 3, "YYYYMMDD hhmmssfff",
                 "EST (UTC-5) all year, no daylight saving"),
        withHeaders(
            fxQuotes("dukascopy", ',', 1, 3, 2, "DD.MM.YYYY hh:mm:ss.fff",
                     "GMT, or local time under a 'Local time' header"),
            {"Gmt time,Ask,Bid,AskVolume,BidVolume", "Local time,Ask,Bid,AskVolume,BidVolume"},
            Layout::Header::check),
        binance(),
        mt5Export(),
        withHeaders(withEpochTime(
                        fxQuotes("mt5-recorder", '\t', 1, 2, 3, "", "UTC, milliseconds since 1970"),
                        TimeFormat::Kind::epochMilliseconds),
                    {}, Layout::Header::skip),
    };
    return all;
}

}  // namespace

const std::vector<std::string>& presetNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const Layout& layout : presets()) {
            all.push_back(layout.name);
        }
        return all;
    }();
    return names;
}

std::optional<Layout> preset(std::string_view name) {
    for (const Layout& layout : presets()) {
        if (layout.name == name) {
            return layout;
        }
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
    for (const Layout& layout : presets()) {
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
