// Tick file bytes through framing, candle building and CSV writing, under a few option sets
// picked by the first bytes. Checks what must hold for any input.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "candles/aggregation.hpp"
#include "candles/candle_builder.hpp"
#include "fuzz/check.hpp"
#include "input/tick_file.hpp"
#include "output/csv_writer.hpp"
#include "support/tick_bytes.hpp"

namespace {

using namespace vellumbrook;
using fuzz::check;

struct FuzzSettings {
    CandleSettings candles;
    CsvLayout layout;
};

FuzzSettings settingsFrom(const std::uint8_t* data, std::size_t size) {
    FuzzSettings settings;
    if (size < 4) {
        return settings;
    }
    settings.candles.ticksPerCandle = data[0] % 9;  // 0 counts as 1
    settings.candles.candleLimit = data[1] % 7 == 6 ? 2147483647 : data[1] % 6;
    settings.candles.futureCount = data[2] % 4;
    settings.candles.emaOffset = (data[2] >> 2) % 4;
    settings.candles.emaSpan = 1 + data[3] % 5;
    settings.layout.header = ((data[3] >> 4) & 1) == 0;
    settings.layout.ema = ((data[3] >> 5) & 1) == 0;
    settings.layout.emaSpan = settings.candles.emaSpan;
    return settings;
}

// A candle as the plain reading gives it: the fields searched line by line, every price
// converted as a double, low and high the ends of a stable sort by less-than with NaNs left
// out.
struct PlainCandle {
    bool usable = false;
    std::string timeText;
    double open = 0.0, high = 0.0, low = 0.0, close = 0.0;
};

PlainCandle plainCandle(const std::vector<std::string>& lines, std::size_t from, std::size_t to) {
    PlainCandle candle;
    bool anyNumber = false;
    for (std::size_t at = from; at < to; ++at) {
        const std::optional<TickFields> fields = findTickFields(lines[at]);
        if (!fields) {
            continue;
        }
        const double price = convertPrice(fields->priceText);
        if (!candle.usable) {
            candle = {true, std::string(fields->timeText), price, price, price, price};
        }
        candle.open = price;
        if (!std::isnan(price)) {
            candle.low = !anyNumber || price < candle.low ? price : candle.low;
            candle.high = !anyNumber || !(price < candle.high) ? price : candle.high;
            anyNumber = true;
        }
    }
    return candle;
}

// Equal to the bit of the sign: -0 is not 0, and "-nan" is written apart from "nan".
bool samePrice(double got, double expected) {
    return (std::isnan(got) ? std::isnan(expected) : got == expected) &&
           std::signbit(got) == std::signbit(expected);
}

// The kept candles must be those of the plain reading of the same lines.
void checkAgainstPlainReading(const TickFile& ticks, const CandleList& candles,
                              std::size_t placeholders, std::size_t perCandle) {
    std::vector<std::string> lines;
    LineReader reader(ticks);
    for (std::string_view line; reader.nextLine(line);) {
        lines.emplace_back(line);
    }
    const std::size_t partial = lines.size() % perCandle;
    std::size_t from = 0;
    std::size_t row = 0;
    for (const CandleRecord& record : candles) {
        if (row++ < placeholders) {
            continue;
        }
        const std::size_t to = from + (from == 0 && partial > 0 ? partial : perCandle);
        const PlainCandle expected = plainCandle(lines, from, to);
        check(record.timeText == expected.timeText, "time text differs from the plain reading");
        check(samePrice(record.open, expected.open) && samePrice(record.high, expected.high) &&
                  samePrice(record.low, expected.low) && samePrice(record.close, expected.close),
              "prices differ from the plain reading");
        from = to;
    }
}

std::string csvOf(const CandleList& candles, const CsvLayout& layout) {
    std::string csv;
    check(writeCsv(candles, layout,
                   [&csv](std::string_view line) {
                       csv.append(line).append("\n");
                       return true;
                   }),
          "writing to memory fails");
    return csv;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzSettings fuzzed = settingsFrom(data, size);
    const CandleSettings& settings = fuzzed.candles;
    const std::size_t skip = size < 4 ? 0 : 4;
    const TickFile ticks =
        vellumbrook::testing::tickFileOf({reinterpret_cast<const char*>(data) + skip, size - skip});

    // The steps of a build, with a buffer small enough that lines are cut between reads.
    CandleList candles;
    CandleBuilder builder;
    builder.plan(ticks.lineCount, settings);
    try {
        const std::vector<ScanPath> paths = availableScanPaths();
        LineReader lines(ticks, 1 + size % 17, paths[size % paths.size()]);
        builder.groupTicks(lines, candles);
    } catch (const PriceError&) {
        check(candles.empty(), "a failed build leaves rows behind");
        return 0;
    }
    builder.addPlaceholders(candles);
    builder.computeEma(candles);
    const std::size_t tickCount = static_cast<std::size_t>(ticks.lineCount);

    const std::size_t placeholders = static_cast<std::size_t>(settings.futureCount);
    const std::size_t perCandle = static_cast<std::size_t>(std::max(settings.ticksPerCandle, 1));
    const std::size_t candleCount = (tickCount + perCandle - 1) / perCandle;
    const std::size_t kept = std::min(candleCount, static_cast<std::size_t>(settings.candleLimit));
    check(candles.size() == placeholders + kept, "row count is not kept candles + placeholders");

    std::size_t row = 0;
    for (const CandleRecord& record : candles) {
        if (row < placeholders) {
            check(
                record.timeText == placeholderLabel(static_cast<std::int32_t>(placeholders - row)),
                "placeholder label");
            check(record.open == 0 && record.high == 0 && record.low == 0 && record.close == 0,
                  "placeholder prices");
        } else {
            const bool anyNan = std::isnan(record.open) || std::isnan(record.close) ||
                                std::isnan(record.high) || std::isnan(record.low);
            check(anyNan || record.high >= record.low, "high below low");
            check(anyNan || (record.low <= record.open && record.open <= record.high),
                  "open outside the range");
            check(record.timeText.find(',') == std::string::npos, "comma in a time text");
            check(record.complete == (row > placeholders || tickCount % perCandle == 0 ? 1 : 0),
                  "complete flag");
        }
        ++row;
    }

    checkAgainstPlainReading(ticks, candles, placeholders, perCandle);

    const std::string csv = csvOf(candles, fuzzed.layout);
    const std::size_t fields = fuzzed.layout.ema ? 6 : 5;
    std::size_t lines = 0;
    for (std::string_view rest = csv; !rest.empty(); ++lines) {
        const std::size_t end = rest.find('\n');
        check(end != std::string_view::npos, "a line without its newline");
        const std::string_view line = rest.substr(0, end);
        check(static_cast<std::size_t>(std::count(line.begin(), line.end(), ',')) == fields - 1,
              "a line with the wrong number of fields");
        rest.remove_prefix(end + 1);
    }
    check(lines == candles.size() + (fuzzed.layout.header ? 1 : 0), "line count");
    return 0;
}
