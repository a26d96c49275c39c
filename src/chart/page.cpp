#include "chart/page.hpp"

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

// The table's data as the JSON block that the page reads, column by column.
void writeTable(const ChartTable& table, const std::function<void(std::string_view)>& write) {
    write("{\"newestFirst\":" + std::string(table.newestFirst ? "true" : "false") +
          ",\"orderFromDates\":" + std::string(table.orderFromDates ? "true" : "false") +
          ",\"future\":" + std::to_string(table.future) + ",\"decimals\":" +
          std::to_string(table.decimals) + ",\"emaLabel\":\"" + table.emaLabel + "\",\"dates\":\"");
    write(table.dates);
    constexpr std::string_view kNames[] = {"open", "high", "low", "close", "ema"};
    for (std::size_t column = 0; column < table.columns.size(); ++column) {
        if (column < 4 || table.hasEma) {
            write(std::string(column == 0 ? "\"" : "]") + ",\"" + std::string(kNames[column]) +
                  "\":[");
            write(table.columns[column]);
        }
    }
    write("]}");
}

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
        } else if (name == "table") {
            writeTable(table, write);
        } else {
            throw std::logic_error("the page template names an unknown part");
        }
        done = close + 2;
    }
    write(page.substr(done));
}

}  // namespace vellumbrook::chart
