#include "chart/page.hpp"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "output/quoted.hpp"

namespace vellumbrook::chart {

namespace {

std::string htmlEscaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// Where row `row` of a piece starts, at its separator (a comma in a column, a "\n" escape in
// the Dates, where a backslash that only escapes another is no separator); after its last
// row, the piece's end.
std::size_t rowStart(std::string_view text, std::uint64_t row, bool dates) {
    std::size_t at = 0;
    for (std::uint64_t found = 0; found < row && at != std::string_view::npos; ++found) {
        if (!dates) {
            at = text.find(',', at + 1);
            continue;
        }
        for (at += 2; (at = text.find('\\', at)) != std::string_view::npos; at += 2) {
            if (text[at + 1] == 'n') {
                break;
            }
        }
    }
    return std::min(at, text.size());
}

// The rows `from` .. `to` - 1 (in the table's order) of one of its texts, written piece by
// piece, without the separator before the first.
void writeRowsOf(const ColumnText& column, std::uint64_t from, std::uint64_t to, bool dates,
                 const std::function<void(std::string_view)>& write) {
    std::uint64_t before = 0;  // rows in the pieces passed
    bool first = true;
    for (const TextPiece& piece : column) {
        const std::uint64_t after = before + piece.rows;
        if (piece.rows > 0 && after > from && before < to) {
            std::size_t begin = from > before ? rowStart(piece.text, from - before, dates) : 0;
            const std::size_t end =
                to < after ? rowStart(piece.text, to - before, dates) : piece.text.size();
            begin += first ? (dates ? 2 : 1) : 0;
            first = false;
            write(std::string_view(piece.text).substr(begin, end - begin));
        }
        before = after;
    }
}

// The table's data as a JSON block that the page reads, column by column: its rows `from` ..
// `to` - 1 in its own order, the rest being its `skipped` oldest rows.
void writeRows(const ChartTable& table, std::uint64_t from, std::uint64_t to,
               const std::function<void(std::string_view)>& write) {
    const std::uint64_t skipped = table.rows - (to - from);
    write("{\"newestFirst\":" + std::string(table.newestFirst ? "true" : "false") +
          ",\"orderFromDates\":" + std::string(table.orderFromDates ? "true" : "false") +
          ",\"future\":" + std::to_string(table.future) + ",\"skipped\":" +
          std::to_string(skipped) + ",\"decimals\":" + std::to_string(table.decimals) +
          ",\"emaLabel\":\"" + table.emaLabel + "\",\"dates\":\"");
    writeRowsOf(table.dates, from, to, true, write);
    constexpr std::string_view kNames[] = {"open", "high", "low", "close", "ema"};
    for (std::size_t column = 0; column < table.columns.size(); ++column) {
        if (column < 4 || table.hasEma) {
            write(std::string(column == 0 ? "\"" : "]") + ",\"" + std::string(kNames[column]) +
                  "\":[");
            writeRowsOf(table.columns[column], from, to, false, write);
        }
    }
    write("]}");
}

// The newest rows come first, in a block of their own, so that the page can draw them before
// it has the whole: the future rows and as many candles as the page's window holds.
constexpr std::uint64_t kNewestCandles = 9000;

}  // namespace

void writePage(const ChartTable& table, std::string_view title,
               const std::function<void(std::string_view)>& write) {
    const std::string_view page = assets::pageHtml();
    const std::string shownTitle = htmlEscaped(output::readableText(title));
    std::size_t done = 0;
    for (std::size_t open; (open = page.find("{{", done)) != std::string_view::npos;) {
        const std::size_t close = page.find("}}", open);
        const std::string_view name = page.substr(open + 2, close - open - 2);
        write(page.substr(done, open - done));
        if (name == "title") {
            write(shownTitle);
        } else if (name == "style") {
            write(assets::pageCss());
        } else if (name == "library") {
            write(assets::library());
        } else if (name == "script") {
            write(assets::pageJs());
        } else if (name == "newest") {
            const std::uint64_t held = std::min(table.rows, table.future + kNewestCandles);
            if (table.newestFirst) {
                writeRows(table, 0, held, write);
            } else {
                writeRows(table, table.rows - held, table.rows, write);
            }
        } else if (name == "table") {
            if (table.rows > table.future + kNewestCandles) {
                writeRows(table, 0, table.rows, write);
            } else {
                write("null");  // the newest rows were all of them
            }
        } else {
            throw std::logic_error("the page template names an unknown part");
        }
        done = close + 2;
    }
    write(page.substr(done));
}

}  // namespace vellumbrook::chart
