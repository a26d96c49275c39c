#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.hpp"

namespace vellumbrook::chart {

// A candle's prices: none (a row of zeros, a group without a tick), sound (its low at most
// its high, its open and close between them, as the converter makes them), or not.
enum class Prices { none, sound, unsound };

// Why a table cannot be charted: the line it stands on (0: the table as a whole) and the text.
struct TableError {
    std::uint64_t line = 0;
    std::string text;
};

// Part of a column's text, as one thread read it: each of its rows after a separator (a comma,
// or between Dates the "\n" escape), the first row's too.
struct TextPiece {
    std::string text;
    std::uint64_t rows = 0;
};
using ColumnText = std::vector<TextPiece>;

// A table that vellumbrook wrote, checked, as the page's data: each column as the inside of a
// JSON array, in the table's own order, placeholder rows included. nan and inf become null.
struct ChartTable {
    ColumnText dates;                   // d1\nd2\n... inside one JSON string
    std::array<ColumnText, 5> columns;  // Open, High, Low, Close, and the EMA when it has one
    bool hasEma = false;
    std::string emaLabel;  // the header's "ema(20)" inside a JSON string, or "ema" without one
    std::uint64_t rows = 0;
    std::uint64_t future = 0;  // placeholder rows
    bool newestFirst = true;
    bool orderFromDates = false;  // nothing but the Dates, read as times, told the order
    int decimals = 0;             // as many as the candles' prices need
};

// Reads the table as the converter writes it: with or without its header line (at the top,
// or at the bottom of a table turned over), with or without the EMA column, newest first
// with the placeholder rows at the top, or turned over with them (or its header) at the
// bottom. Without either sign the Dates tell the order where they are times of a known form,
// else `oldestFirst` does, else it is newest first. Signs that contradict each other are
// refused. Throws TableError.
class TableReader {
  public:
    explicit TableReader(bool oldestFirst) : oldestFirst_(oldestFirst) {}

    // One line, without its line end.
    void add(std::string_view line);
    // Whole lines, each ended by LF (or CR LF): runs of plain rows are read on two threads.
    void addLines(std::string_view lines);
    // The table, once every line was added.
    ChartTable finish();
    // How many lines were added.
    std::uint64_t lines() const { return line_; }

  private:
    using Fields = std::array<std::string_view, 6>;
    struct PlainRows;
    static PlainRows readPlainRows(std::string_view lines, std::size_t fields);
    void addRun(std::string_view lines, PlainRows rows);
    void addEach(std::string_view lines);
    bool plainRow(std::string_view line);
    void row(std::string_view line);
    void candle(const Fields& fields);
    std::string_view number(std::string_view text, std::size_t column, bool candle);
    void checkPrices(const Fields& fields);
    void checkCandle(Prices judged, const Fields& fields);
    void decideOrder();

    bool oldestFirst_;
    ChartTable table_;
    std::uint64_t line_ = 0;
    std::size_t fields_ = 0;        // per row; 0 until the header or first row says
    std::uint64_t headerLine_ = 0;  // where a header stood, if one did
    std::uint64_t candles_ = 0;
    std::uint64_t futureAtTop_ = 0;
    std::uint64_t firstFutureBelow_ = 0;  // the line of the first placeholder after a candle
    std::uint64_t realCandles_ = 0;       // with prices: not empty, no nan or inf
    std::uint64_t firstBlank_ = 0;        // a blank line, fine only when nothing follows
    // The oldest and newest candles' Dates as the table has them, first and last.
    struct DatedLine {
        std::uint64_t line = 0;
        std::string date;
    };
    DatedLine firstCandle_;
    DatedLine lastCandle_;
};

// Reads every line of `file` (LF or CR LF) into a TableReader. Throws TableError, and
// std::runtime_error when the file cannot be read.
ChartTable readTable(const platform::File& file, bool oldestFirst);

}  // namespace vellumbrook::chart
