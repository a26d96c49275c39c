#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "chart/table.hpp"

namespace vellumbrook::chart {

// The parts the page is made of, embedded into the program when it is built: the page's own
// HTML, CSS and JavaScript from src/chart/, and the charting library as released.
namespace assets {
std::string_view pageHtml();
std::string_view pageCss();
std::string_view pageJs();
std::string_view library();
}  // namespace assets

// Fills the page template with the title, the style, the library, the script and the table,
// handing the page to `write` piece by piece.
void writePage(const ChartTable& table, std::string_view title,
               const std::function<void(std::string_view)>& write);

}  // namespace vellumbrook::chart
