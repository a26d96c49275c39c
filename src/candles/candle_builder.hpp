#pragma once

#include <cstdint>
#include <string>

#include "candles/candle_record.hpp"
#include "input/tick_file.hpp"

namespace vellumbrook {

// What the candle plan takes from the command line.
struct CandleSettings {
    std::int32_t ticksPerCandle = 70;
    std::int32_t candleLimit = 2147483647;
    std::int32_t futureCount = 1;
    std::int32_t emaOffset = 1;
    std::int32_t emaSpan = 20;
};

// Turns the counted tick file into the finished candle list: works out the plan, then groups
// the ticks into candles as they are read, puts the future placeholders in front and fills
// the EMA column.
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

    // Fills the empty `candles`, reading the tick file a second time. Throws PriceError,
    // leaving `candles` empty, when a price of an aggregated group does not convert,
    // TickReadError when the file cannot be read again as it was counted, and
    // std::bad_alloc when the rows cannot be held.
    // `hook` is told how far the reading has come; `path` classifies the bytes.
    void build(const TickFile& ticks, const CandleSettings& settings, CandleList& candles,
               const ReadHook& hook = {}, ScanPath path = fastestScanPath());

    void plan(std::int32_t lineCount, const CandleSettings& settings);
    void groupTicks(LineReader& lines, CandleList& candles);
    void addPlaceholders(CandleList& candles) const;
    void computeEma(CandleList& candles);
};

// "+" and the number, zero-padded to five digits: +00001, +99999, +100000.
std::string placeholderLabel(std::int32_t number);

// How many rows of the candle list the machine's physical memory could hold at most.
std::size_t rowsThatFitInMemory();

}  // namespace vellumbrook
