#include "candles/aggregation.hpp"

#include <algorithm>
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
        // Selections rather than branches: which tick sets a new extreme cannot be
        // predicted, and a wrong guess would wait for the price's conversion.
        low_ = std::min(low_, price);    // price only when price < low_
        high_ = std::max(price, high_);  // price unless price < high_, like the low
    }
    double first() const { return first_; }
    double low() const { return hasNumber_ ? low_ : first_; }
    double high() const { return hasNumber_ ? high_ : first_; }

    // The range of prices added so far, none of them NaN, with these three.
    void startFrom(double first, double low, double high) {
        hasFirst_ = hasNumber_ = true;
        first_ = first;
        low_ = low;
        high_ = high;
    }

  private:
    bool hasFirst_ = false;
    bool hasNumber_ = false;
    double first_ = 0.0;
    double low_ = 0.0;
    double high_ = 0.0;
};

// The same range while the prices are short decimals with their points at one place, as they nearly
// always are: ordered as their doubles are, they need converting only for the four values kept.
class DecimalRange {
  public:
    // False, with nothing added, for a price whose point stands elsewhere than in the ones
    // before it.
    bool add(const ShortDecimal& price) {
        if (empty_) {
            first_ = low_ = high_ = last_ = price;
            empty_ = false;
            return true;
        }
        if (price.pointAt != first_.pointAt) {
            return false;
        }
        // Selections rather than branches, as for doubles.
        low_.packed = price.order() < low_.order() ? price.packed : low_.packed;
        high_.packed = price.order() < high_.order() ? high_.packed : price.packed;
        last_ = price;
        return true;
    }
    bool empty() const { return empty_; }
    const ShortDecimal& first() const { return first_; }
    const ShortDecimal& low() const { return low_; }
    const ShortDecimal& high() const { return high_; }
    const ShortDecimal& last() const { return last_; }

  private:
    bool empty_ = true;
    ShortDecimal first_;
    ShortDecimal low_;
    ShortDecimal high_;
    ShortDecimal last_;
};

}  // namespace

void aggregateGroup(LineReader& lines, std::int32_t groupSize, std::size_t firstLineNumber,
                    CandleRecord& record, std::uint8_t complete) {
    record.complete = complete;
    // A group without a usable line keeps the empty values the record started with.
    DecimalRange decimals;
    bool allDecimal = true;  // every usable price so far went into `decimals`
    bool anyUsable = false;
    PriceRange range;
    ShortDecimalReader decimalReader;
    std::size_t lineNumber = firstLineNumber - 1;
    lines.takeLines(groupSize, [&](const LineReader::ScannedLine& scanned) {
        ++lineNumber;
        if (!scanned.hasFields) {
            return;
        }
        if (!anyUsable) {
            anyUsable = true;
            record.timeText.assign(scanned.fields.timeText);
        }
        ShortDecimal decimal;
        if (allDecimal && decimalReader.read(scanned.fields.priceText, decimal) &&
            decimals.add(decimal)) {
            return;
        }
        if (allDecimal && !decimals.empty()) {
            // From here on the prices are doubles, starting from the decimals' range.
            range.startFrom(decimals.first().value(), decimals.low().value(),
                            decimals.high().value());
        }
        allDecimal = false;
        double price = 0.0;
        try {
            price = convertPrice(scanned.fields.priceText);
        } catch (const PriceConversionError& error) {
            throw PriceError(lineNumber, error);
        }
        range.add(price);
        record.open = price;
    });
    if (!anyUsable) {
        return;
    }
    if (allDecimal) {
        record.close = decimals.first().value();
        record.open = decimals.last().value();
        record.low = decimals.low().value();
        record.high = decimals.high().value();
    } else {
        record.close = range.first();
        record.low = range.low();
        record.high = range.high();
    }
}

}  // namespace vellumbrook
