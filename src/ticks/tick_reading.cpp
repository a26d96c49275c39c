#include "ticks/tick_reading.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "input/tick_line.hpp"
#include "ticks/messages.hpp"

namespace vellumbrook::ticks {

namespace {

// The most fields, and the longest line, that readPlain() reads; others are read by read().
constexpr std::size_t kPlainFields = 16;
constexpr std::size_t kPlainLongest = 512;

}  // namespace

Layout recognisedLayout(std::string_view firstBytes, std::string_view name, std::FILE* messages) {
    const std::optional<Layout> found = recognise(firstBytes);
    if (!found) {
        std::string names;
        for (const std::string& preset : presetNames()) {
            names += (names.empty() ? "" : ", ") + preset;
        }
        throw stopInFile(name, "its layout is not one that can be told for sure; give --from (" +
                                   names + ", or the column options)");
    }
    say(messages, inFile(name, "read as " + found->name));
    return *found;
}

Quote quoteToRead(const TicksSettings& settings, const Layout& layout) {
    if (const std::optional<std::string> why = missingQuote(layout, settings.quote)) {
        throw stopWith(*why);
    }
    return settings.quote.value_or(layout.priceColumn > 0 ? Quote::price : Quote::bid);
}

void reportCounts(std::FILE* messages, std::string_view name, const Counts& counts) {
    say(messages, inFile(name, std::to_string(counts.ticks) + " ticks; passed over: " +
                                   std::to_string(counts.blank) + " blank lines, " +
                                   std::to_string(counts.headers) + " header lines, " +
                                   std::to_string(counts.withoutPrice) + " rows without a price"));
}

TickReading::TickReading(const TicksSettings& settings, const Layout& layout, Quote quote)
    : layout_(layout),
      quote_(quote),
      isoTime_(settings.isoTime),
      fields_(layout),
      times_(layout.time) {
    // A comma in the time text would end the converter's field; none can stand in a
    // pattern's own characters unless the pattern has one.
    patternSize_ = layout.time.isEpoch() || layout.time.pattern.find(',') != std::string::npos
                       ? 0
                       : layout.time.pattern.size();
    priceColumn_ = quote == Quote::bid   ? layout.bidColumn
                   : quote == Quote::ask ? layout.askColumn
                                         : layout.priceColumn;
    // A time read by its minute has no separator, comma or line end among its literals, so
    // the fields around it are found by their separators alone.
    const std::string& pattern = layout.time.pattern;
    readsPlain_ =
        !layout.quoted && layout.dateColumn == 0 && layout.timeColumn > 0 &&
        times_.readsByMinute() &&
        pattern.find_first_of(std::string{layout.separator} + ",\r\n") == std::string::npos &&
        layout.decimalMark == '.' && quote != Quote::mid && priceColumn_ > 0 &&
        fields_.wanted() <= kPlainFields;
    for (const std::string& header : layout.headers) {
        headerSizes_.push_back(header.size());
    }
}

bool TickReading::readPlain(std::string_view text, std::size_t start, PlainTick& tick) {
#if defined(__SSE2__)
    if (!readsPlain_) {
        return false;
    }
    const char* const line = text.data() + start;
    const std::size_t room = text.size() - start;
    const std::size_t wanted = fields_.wanted();
    // The separators that end the wanted fields, and where the line ends, in one pass of 16
    // bytes at a time.
    std::uint32_t cuts[kPlainFields];
    std::size_t cutCount = 0;
    std::size_t end = room;
    const __m128i separator = _mm_set1_epi8(layout_.separator);
    const __m128i feed = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (std::size_t at = 0; at < room; at += 16) {
        if (at >= kPlainLongest) {
            return false;
        }
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + at));
        unsigned inLine = room - at < 16 ? (1U << (room - at)) - 1 : 0xffffU;
        const unsigned ends =
            inLine & static_cast<unsigned>(_mm_movemask_epi8(
                         _mm_or_si128(_mm_cmpeq_epi8(bytes, feed), _mm_cmpeq_epi8(bytes, cr))));
        if (ends != 0) {
            inLine = (ends & (0U - ends)) - 1;  // the bytes before the first end
        }
        auto separators =
            inLine & static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, separator)));
        for (; separators != 0 && cutCount < wanted; separators &= separators - 1) {
            cuts[cutCount++] = static_cast<std::uint32_t>(at) +
                               static_cast<std::uint32_t>(std::countr_zero(separators));
        }
        if (ends != 0) {
            end = at + static_cast<std::size_t>(std::countr_zero(ends));
            break;
        }
    }
    if (cutCount + 1 < wanted ||
        std::find(headerSizes_.begin(), headerSizes_.end(), end) != headerSizes_.end()) {
        return false;  // too few fields, or maybe a header: read() tells
    }
    // A field runs from after the separator before it to its own, or to the line's end.
    const auto field = [&](int number) {
        const auto index = static_cast<std::size_t>(number - 1);
        const std::size_t from = index == 0 ? 0 : cuts[index - 1] + 1;
        const std::size_t to = index < cutCount ? cuts[index] : end;
        return std::string_view(line + from, to - from);
    };
    const std::string_view time = field(layout_.timeColumn);
    if (time.size() != times_.patternSize() || !times_.keyInLastMinute(time.data(), tick.key) ||
        !decimals_.read(field(priceColumn_), tick.price)) {
        return false;
    }
    tick.end = start + end;
    return true;
#else
    (void)text;
    (void)start;
    (void)tick;
    return false;
#endif
}

std::optional<PriceText> TickReading::priceIn(int columnNumber, const char* what) {
    const std::string_view text = trimmed(fields_.column(columnNumber));
    if (text.empty() && layout_.rowsWithoutPriceLeftOut) {
        return std::nullopt;
    }
    // Most prices are plain decimals in the line itself, which can be read 16 bytes on: a
    // short one is read as its digits at once, and so checked.
    const bool inLine =
        text.data() >= line_.data() && text.data() + text.size() <= line_.data() + line_.size();
    if (inLine && layout_.decimalMark == '.' && decimals_.read(text, decimal_)) {
        hasDecimal_ = true;
        return PriceText{text};
    }
    std::optional<std::size_t> markAt =
        inLine ? plainDecimal(text, layout_.decimalMark) : std::nullopt;
    const bool plain = markAt.has_value();
    if (!plain) {
        markAt = decimalNumber(text, layout_.decimalMark);
    }
    if (!markAt) {
        throw LineFault{std::string("no number in the ") + what, text};
    }
    const PriceText price{text, layout_.decimalMark == '.' ? std::string_view::npos : *markAt};
    if (!plain) {
        // A plain decimal of 16 characters at most always fits; a longer one or one with
        // an exponent may not, and the converter would stop on it.
        (void)valueOf(price, what);
    }
    return price;
}

double TickReading::valueOf(const PriceText& price, const char* what) {
    const std::optional<double> value = ticks::priceValue(price);
    if (!value) {
        throw LineFault{std::string("the ") + what + " is out of range", price.text};
    }
    return *value;
}

std::optional<PriceText> TickReading::priceOf() {
    switch (quote_) {
        case Quote::bid:
            return priceIn(layout_.bidColumn, "bid");
        case Quote::ask:
            return priceIn(layout_.askColumn, "ask");
        case Quote::price:
            return priceIn(layout_.priceColumn, "price");
        case Quote::mid:
            break;
    }
    const std::optional<PriceText> bid = priceIn(layout_.bidColumn, "bid");
    if (!bid) {
        return std::nullopt;
    }
    const std::optional<PriceText> ask = priceIn(layout_.askColumn, "ask");
    if (!ask) {
        return std::nullopt;
    }
    // The shortest text that reads back as the same double.
    hasDecimal_ = false;  // the decimal read is the ask's, not the mid
    const double mid = midOf(valueOf(*bid, "bid"), valueOf(*ask, "ask"));
    const char* end = std::to_chars(mid_, mid_ + sizeof mid_, mid).ptr;
    return PriceText{{mid_, static_cast<std::size_t>(end - mid_)}};
}

LineKind TickReading::read(std::string_view line, bool firstLine) {
    line_ = line;
    hasDecimal_ = false;
    if (isBlank(line)) {
        return LineKind::blank;
    }
    // A first line to skip is no header when it reads as a tick: a file without its
    // header keeps its first tick.
    if (isHeader(line) ||
        (firstLine && layout_.header == Layout::Header::skip && !readsAsTick(line))) {
        return LineKind::header;
    }
    if (firstLine && layout_.header == Layout::Header::check) {
        throw LineFault{"not a " + layout_.name + " header", line};
    }
    if (!fields_.split(line)) {
        if (fields_.unclosedQuote()) {
            throw LineFault{"a quote that is never closed", line};
        }
        throw LineFault{
            "fewer than the " + std::to_string(fields_.wanted()) + " fields of " + layout_.name,
            line};
    }
    rawTime_ = fields_.timeText();
    const std::optional<TickTime> time = times_.read(rawTime_);
    // A comma would end the converter's time field; a time written anew as ISO has none.
    if (!time || (!isoTime_ && rawTime_.find(',', std::min(patternSize_, rawTime_.size())) !=
                                   std::string_view::npos)) {
        throw LineFault{"not a time of " + layout_.name, rawTime_};
    }
    const std::optional<PriceText> price = priceOf();
    if (!price) {
        return LineKind::withoutPrice;
    }
    time_ = *time;
    price_ = *price;
    return LineKind::tick;
}

bool TickReading::shortDecimal(ShortDecimal& price) {
    if (hasDecimal_) {
        price = decimal_;
        return true;
    }
    return price_.markAt == std::string_view::npos && decimals_.read(price_.text, price);
}

double TickReading::priceValue() const {
    if (price_.markAt == std::string_view::npos) {
        return convertPrice(price_.text);
    }
    // A decimal comma is a point in the text the converter reads. A price that needs one is
    // short: it is copied to the stack, not to a string of its own.
    char written[64];
    if (price_.text.size() > sizeof written) {
        std::string longer(price_.text);
        longer[price_.markAt] = '.';
        return convertPrice(longer);
    }
    std::memcpy(written, price_.text.data(), price_.text.size());
    written[price_.markAt] = '.';
    return convertPrice({written, price_.text.size()});
}

bool TickReading::readsAsTick(std::string_view line) {
    return fields_.split(line) && times_.read(fields_.timeText()).has_value();
}

bool TickReading::isHeader(std::string_view line) const {
    for (const std::string& header : layout_.headers) {
        if (line == header) {
            return true;
        }
    }
    return false;
}

}  // namespace vellumbrook::ticks
