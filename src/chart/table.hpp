#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace vellumbrook::chart {

// Why a table cannot be charted: the line it stands on (0: the table as a whole) and the text.
struct TableError {
    std::uint64_t line = 0;
    std::string text;
};

// A table that vellumbrook wrote, checked, as the page's data: each column as the inside of a
// JSON array, in the table's own order, placeholder rows included. nan and inf become null.
struct ChartTable {
    std::string dates;                   // d1\nd2\n... inside one JSON string
    std::array<std::string, 5> columns;  // Open, High, Low, Close, and the EMA when it has one
    bool hasEma = false;
    std::string emaLabel;  // the header's "ema(20)", or "ema" when there is no header
    std::uint64_t rows = 0;
    std::uint64_t future = 0;  // placeholder rows
    bool newestFirst = true;
    int decimals = 0;  // as many as the candles' prices need
};

// Reads the table as the converter writes it: with or without its header line (at the top,
// or at the bottom of a table turned over), with or without the EMA column, newest first
// with the placeholder rows at the top, or turned over with them at the bottom. Without
// placeholder rows the table is taken as newest first unless `oldestFirst` says otherwise.
// Throws TableError.
class TableReader {
  public:
    explicit TableReader(bool oldestFirst) : oldestFirst_(oldestFirst) {}

    // One line, without its line end.
    void add(std::string_view line);
    // The table, once every line was added.
    ChartTable finish();
    // How many lines were added.
    std::uint64_t lines() const { return line_; }

  private:
    void header(std::string_view line);
    void row(std::string_view line);
    std::string_view number(std::string_view text, std::size_t column, bool candle);

    bool oldestFirst_;
    ChartTable table_;
    std::uint64_t line_ = 0;
    std::size_t fields_ = 0;        // per row; 0 until the header or first row says
    std::uint64_t headerLine_ = 0;  // where a header stood, if one did
    std::uint64_t candles_ = 0;
    std::uint64_t futureAtTop_ = 0;
    std::uint64_t firstFutureBelow_ = 0;  // the line of the first placeholder after a candle
};

// Reads every line of `file` (LF or CR LF) into a TableReader. Throws TableError, and
// std::runtime_error when the file cannot be read.
ChartTable readTable(const platform::File& file, bool oldestFirst);

}  // namespace vellumbrook::chart
