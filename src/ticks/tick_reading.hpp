#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/tick_line.hpp"
#include "ticks/fields.hpp"
#include "ticks/layout.hpp"
#include "ticks/pieces.hpp"
#include "ticks/price_text.hpp"
#include "ticks/settings.hpp"
#include "ticks/time_reading.hpp"

namespace vellumbrook::ticks {

// The layout that the first bytes of the file `name` show, said on `messages`; stops when no
// layout fits them for sure.
Layout recognisedLayout(std::string_view firstBytes, std::string_view name, std::FILE* messages);

// The price to read: the one asked for, else the bid, or the one price of a trades layout;
// stops when the layout has no such price.
Quote quoteToRead(const TicksSettings& settings, const Layout& layout);

// "-v": how many ticks a file gave and how many lines it passed over.
void reportCounts(std::FILE* messages, std::string_view name, const Counts& counts);

// What one line of a source is.
enum class LineKind { blank, header, withoutPrice, tick };

// Why a line cannot be read, and its text as the message shows it (valid until the next line).
struct LineFault {
    std::string what;
    std::string_view text;
};

// Reads the lines of one layout, one at a time, whichever way the file is walked: blank lines
// and headers, the time, and the price asked for, each checked. Each thread reads with one of
// its own.
class TickReading {
  public:
    TickReading(const TicksSettings& settings, const Layout& layout, Quote quote);

    // What `line` is; throws LineFault. `line` may be read 16 bytes past its end.
    // `firstLine`: the first line of its file, where a header may stand.
    LineKind read(std::string_view line, bool firstLine);

    // A tick line as nearly every line of a file is, read in one pass: no quotes, a time in
    // the minute of the line before, a short decimal price. Where it ends (as an LF, a CR or
    // the end of `text`), its time's key and its price.
    struct PlainTick {
        std::size_t end = 0;
        std::int64_t key = 0;
        ShortDecimal price;
    };
    // Reads the line at `start` of `text` (readable 16 bytes past its end) as read() does, when
    // it is such a line and not the first of its file; false for any other line, which read()
    // then reads.
    bool readPlain(std::string_view text, std::size_t start, PlainTick& tick);

    // The tick of the last line read as one: its time, the time text to write, its price.
    const TickTime& time() const { return time_; }
    std::string_view timeText() { return isoTime_ ? isoTime(time_, isoText_) : rawTime_; }
    const PriceText& price() const { return price_; }
    // The time text as the file spells it (the date and time joined by a blank).
    std::string_view rawTimeText() const { return rawTime_; }

    // The price as the converter reads the text written: a decimal comma is a point there.
    double priceValue() const;
    // The price as a short decimal, read a word at a time, as most prices are; false when it
    // is no such decimal.
    bool shortDecimal(ShortDecimal& price);

  private:
    std::optional<PriceText> priceIn(int columnNumber, const char* what);
    static double valueOf(const PriceText& price, const char* what);
    std::optional<PriceText> priceOf();
    bool readsAsTick(std::string_view line);
    bool isHeader(std::string_view line) const;

    const Layout& layout_;
    Quote quote_;
    bool isoTime_;
    LineFields fields_;
    TimeReader times_;
    std::size_t patternSize_ = 0;  // the part of the time text that can hold no comma
    bool readsPlain_ = false;      // whether readPlain() may read lines of this layout
    int priceColumn_ = 0;          // of the price read
    std::vector<std::size_t> headerSizes_;
    std::string_view line_;  // the line being read
    TickTime time_;
    std::string_view rawTime_;
    PriceText price_;
    IsoText isoText_{};
    char mid_[64] = {};
    ShortDecimalReader decimals_;
    ShortDecimal decimal_;     // the price, when it was read as a short decimal
    bool hasDecimal_ = false;  // of the line read last
};

}  // namespace vellumbrook::ticks
