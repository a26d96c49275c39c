#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "candles/candle_record.hpp"
#include "input/tick_file.hpp"
#include "input/tick_line.hpp"

namespace vellumbrook {

// A price that does not convert, with the 1-based number of its line in the tick file.
class PriceError : public std::runtime_error {
  public:
    PriceError(std::size_t lineNumber, const PriceConversionError& cause)
        : std::runtime_error(cause.what()),
          lineNumber_(lineNumber),
          priceText_(cause.priceText()) {}
    std::size_t lineNumber() const { return lineNumber_; }
    const std::string& priceText() const { return priceText_; }

  private:
    std::size_t lineNumber_;
    std::string priceText_;
};

// Fills `record` from the next `groupSize` lines of `lines`, taken one at a time in file
// order, newest first: the close and the time text come from the first usable line, the
// open from the last. `firstLineNumber` is the file line number of the group's first line,
// for error messages. Throws PriceError, and TickReadError from the reader.
void aggregateGroup(LineReader& lines, std::int32_t groupSize, std::size_t firstLineNumber,
                    CandleRecord& record, std::uint8_t complete);

}  // namespace vellumbrook
