#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_settings.hpp"
#include "candles/candle_record.hpp"
#include "input/tick_line.hpp"
#include "input/tick_lines.hpp"

namespace vellumbrook {

// Turns the tick lines into the finished candle list: works out the plan, then groups the
// ticks into candles, puts the future placeholders in front and fills the EMA column.
class CandleBuilder {
  public:
    // The plan. emaOffset and ticksPerCandle may differ from the settings of the same name:
    // the offset never reaches past the placeholders, and a candle holds at least one tick.
    std::int32_t emaOffset = 0;
    std::int32_t emaSpan = 0;
    std::int32_t tickCount = 0;
    std::int32_t candleCount = 0;
    std::int32_t remainder = 0;
    std::int32_t ticksPerCandle = 0;
    std::int32_t candleLimit = 0;
    std::int32_t futureCount = 0;

    // A process computes the EMA seed at most once.
    bool emaSeedPending = true;

    // Fills the empty `candles`. Throws PriceError, leaving `candles` empty, when a price of an
    // aggregated group does not convert, and std::bad_alloc when the rows cannot be held.
    void build(const TickLines& ticks, const RunSettings& settings, CandleList& candles);

    void plan(const TickLines& ticks, const RunSettings& settings);
    void groupTicks(const TickLines& ticks, CandleList& candles);
    void addPlaceholders(CandleList& candles) const;
    void computeEma(CandleList& candles);

  private:
    std::vector<std::string_view> groupLines_;
    TickLineParser parser_;
};

// "+" and the number, zero-padded to five digits: +00001, +99999, +100000.
std::string placeholderLabel(std::int32_t number);

// How many rows of the candle list the machine's physical memory could hold at most.
std::size_t rowsThatFitInMemory();

}  // namespace vellumbrook
