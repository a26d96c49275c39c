#include "candles/aggregation.hpp"

#include <cmath>
#include <optional>

namespace vellumbrook {

namespace {

// The low and high that a stable ascending sort by less-than would leave at its two ends:
// the first of the smallest prices and the last of the largest (so of 0 and -0, in that
// order, 0 is the low and -0 the high). NaNs are left out, since less-than cannot order them;
// a group of NaNs only keeps its first price for both.
class PriceRange {
  public:
    void add(double price) {
        if (!hasFirst_) {
            first_ = price;
            hasFirst_ = true;
        }
        if (std::isnan(price)) {
            return;
        }
        if (!hasNumber_) {
            low_ = high_ = price;
            hasNumber_ = true;
            return;
        }
        if (price < low_) {
            low_ = price;
        }
        if (!(price < high_)) {
            high_ = price;
        }
    }
    double low() const { return hasNumber_ ? low_ : first_; }
    double high() const { return hasNumber_ ? high_ : first_; }

  private:
    bool hasFirst_ = false;
    bool hasNumber_ = false;
    double first_ = 0.0;
    double low_ = 0.0;
    double high_ = 0.0;
};

}  // namespace

void aggregateGroup(LineReader& lines, std::int32_t groupSize, std::size_t firstLineNumber,
                    CandleRecord& record, std::uint8_t complete) {
    record.complete = complete;
    // A group without a usable line keeps the empty values the record started with.
    bool anyUsable = false;
    PriceRange range;
    LineReader::ScannedLine scanned;
    for (std::int32_t taken = 0; taken < groupSize && lines.nextLine(scanned); ++taken) {
        if (!scanned.hasFields) {
            continue;
        }
        double price = 0.0;
        try {
            price = convertPriceInBuffer(scanned.fields.priceText);
        } catch (const PriceConversionError& error) {
            throw PriceError(firstLineNumber + static_cast<std::size_t>(taken), error);
        }
        if (!anyUsable) {
            anyUsable = true;
            record.timeText.assign(scanned.fields.timeText);
            record.close = price;
        }
        record.open = price;
        range.add(price);
    }
    if (anyUsable) {
        record.low = range.low();
        record.high = range.high();
    }
}

}  // namespace vellumbrook
