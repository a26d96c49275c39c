#include "ticks/line_rewriter.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

#include "ticks/backward_lines.hpp"
#include "ticks/fields.hpp"
#include "ticks/price_text.hpp"
#include "ticks/tick_order.hpp"

namespace vellumbrook::ticks {

namespace {

const char* quoteName(Quote quote) {
    switch (quote) {
        case Quote::bid:
            return "bid";
        case Quote::ask:
            return "ask";
        case Quote::mid:
            return "mid";
        case Quote::price:
            break;
    }
    return "price";
}

// Copies `text` to `out` and gives the end: the fields written are mostly a few bytes, and
// two overlapping moves copy them without a call.
inline char* copyShort(char* out, std::string_view text) {
    const char* from = text.data();
    const std::size_t size = text.size();
    if (size >= 8 && size <= 16) {
        std::memcpy(out, from, 8);
        std::memcpy(out + size - 8, from + size - 8, 8);
    } else if (size >= 4 && size < 8) {
        std::memcpy(out, from, 4);
        std::memcpy(out + size - 4, from + size - 4, 4);
    } else if (size < 4) {
        for (std::size_t i = 0; i < size; ++i) {
            out[i] = from[i];
        }
    } else {
        std::memcpy(out, from, size);
    }
    return out + size;
}

}  // namespace

// Turns the lines of a piece into the converter's input lines, from the last to the first.
class alignas(64) LineRewriter {
  public:
    LineRewriter(const TicksSettings& settings, const Layout& layout, Quote quote,
                 std::span<const Source> sources)
        : layout_(layout),
          quote_(quote),
          isoTime_(settings.isoTime),
          sources_(sources),
          fields_(layout),
          times_(layout.time),
          symbol_(settings.symbol + ","),
          quoteName_(std::string(",") + quoteName(quote) + "\n"),
          outputCap_(2 * std::max<std::uint64_t>(settings.pieceSize, 1)) {
        // A comma in the time text would end the converter's field; none can stand in a
        // pattern's own characters unless the pattern has one.
        patternSize_ = layout.time.isEpoch() || layout.time.pattern.find(',') != std::string::npos
                           ? 0
                           : layout.time.pattern.size();
    }

    void rewrite(Piece& piece) {
        const Source& source = sources_[piece.sourceIndex];
        try {
            BackwardLines lines(source.file, piece.begin, piece.end);
            std::string_view line;
            std::uint64_t start = 0;
            while (lines.previous(line, start)) {
                rewriteLine(source, line, start, piece);
                if (piece.output.view().size() >= outputCap_ && start > piece.begin) {
                    piece.unread = start;  // lines that make much more than they read
                    break;
                }
            }
        } catch (const Stop& stop) {
            piece.stop = stop.message;
        } catch (const std::exception& error) {
            piece.stop = stopFor(error, source.name).message;
        }
    }

  private:
    // The price text of a column, checked; nothing for an empty one that may be left out.
    std::optional<PriceText> priceIn(const Source& source, std::uint64_t start, int columnNumber,
                                     const char* what) const {
        const std::string_view text = trimmed(fields_.column(columnNumber));
        if (text.empty() && layout_.rowsWithoutPriceLeftOut) {
            return std::nullopt;
        }
        // Most prices are plain decimals in the line itself, which can be read 16 bytes on.
        const bool inLine =
            text.data() >= line_.data() && text.data() + text.size() <= line_.data() + line_.size();
        std::optional<std::size_t> markAt =
            inLine ? plainDecimal(text, layout_.decimalMark) : std::nullopt;
        const bool plain = markAt.has_value();
        if (!plain) {
            markAt = decimalNumber(text, layout_.decimalMark);
        }
        if (!markAt) {
            stopAtLine(source, start, std::string("no number in the ") + what, text);
        }
        const PriceText price{text, layout_.decimalMark == '.' ? std::string_view::npos : *markAt};
        if (!plain) {
            // A plain decimal of 16 characters at most always fits; a longer one or one with
            // an exponent may not, and the converter would stop on it.
            (void)valueOf(source, start, price, what);
        }
        return price;
    }

    static double valueOf(const Source& source, std::uint64_t start, const PriceText& price,
                          const char* what) {
        const std::optional<double> value = priceValue(price);
        if (!value) {
            stopAtLine(source, start, std::string("the ") + what + " is out of range", price.text);
        }
        return *value;
    }

    // The price to write; nothing for a row that has none and may be left out.
    std::optional<PriceText> priceOf(const Source& source, std::uint64_t start) {
        switch (quote_) {
            case Quote::bid:
                return priceIn(source, start, layout_.bidColumn, "bid");
            case Quote::ask:
                return priceIn(source, start, layout_.askColumn, "ask");
            case Quote::price:
                return priceIn(source, start, layout_.priceColumn, "price");
            case Quote::mid:
                break;
        }
        const std::optional<PriceText> bid = priceIn(source, start, layout_.bidColumn, "bid");
        if (!bid) {
            return std::nullopt;
        }
        const std::optional<PriceText> ask = priceIn(source, start, layout_.askColumn, "ask");
        if (!ask) {
            return std::nullopt;
        }
        // The shortest text that reads back as the same double.
        const double mid =
            midOf(valueOf(source, start, *bid, "bid"), valueOf(source, start, *ask, "ask"));
        const char* end = std::to_chars(mid_, mid_ + sizeof mid_, mid).ptr;
        return PriceText{{mid_, static_cast<std::size_t>(end - mid_)}};
    }

    void rewriteLine(const Source& source, std::string_view line, std::uint64_t start,
                     Piece& piece) {
        line_ = line;
        const bool firstLine = start == source.begin;
        if (isBlank(line)) {
            ++piece.counts.blank;
            return;
        }
        // A first line to skip is no header when it reads as a tick: a file without its
        // header keeps its first tick.
        if (isHeader(line) ||
            (firstLine && layout_.header == Layout::Header::skip && !readsAsTick(line))) {
            ++piece.counts.headers;
            return;
        }
        if (firstLine && layout_.header == Layout::Header::check) {
            stopAtLine(source, start, "not a " + layout_.name + " header", line);
        }
        if (!fields_.split(line)) {
            if (fields_.unclosedQuote()) {
                stopAtLine(source, start, "a quote that is never closed", line);
            }
            stopAtLine(
                source, start,
                "fewer than the " + std::to_string(fields_.wanted()) + " fields of " + layout_.name,
                line);
        }
        const std::string_view timeText = fields_.timeText();
        const std::optional<TickTime> time = times_.read(timeText);
        // A comma would end the converter's time field; a time written anew as ISO has none.
        if (!time || (!isoTime_ && timeText.find(',', std::min(patternSize_, timeText.size())) !=
                                       std::string_view::npos)) {
            stopAtLine(source, start, "not a time of " + layout_.name, timeText);
        }
        const std::optional<PriceText> price = priceOf(source, start);
        if (!price) {
            ++piece.counts.withoutPrice;
            return;
        }
        const TickMark tick{time->key, start, piece.sourceIndex};
        if (piece.oldest) {
            checkOrder(sources_, layout_, tick, *piece.oldest);
        } else {
            piece.newest = tick;
        }
        piece.oldest = tick;
        write(piece.output, isoTime_ ? isoTime(*time, isoText_) : timeText, *price);
        ++piece.counts.ticks;
    }

    bool readsAsTick(std::string_view line) {
        return fields_.split(line) && times_.read(fields_.timeText()).has_value();
    }

    bool isHeader(std::string_view line) const {
        for (const std::string& header : layout_.headers) {
            if (line == header) {
                return true;
            }
        }
        return false;
    }

    // SYMBOL,TIME,PRICE,QUOTE
    void write(OutputBytes& output, std::string_view timeText, const PriceText& price) {
        char* out = output.room(symbol_.size() + timeText.size() + 1 + price.text.size() +
                                quoteName_.size());
        const auto put = [&out](std::string_view text) { out = copyShort(out, text); };
        put(symbol_);
        put(timeText);
        *out++ = ',';
        char* const priceAt = out;
        put(price.text);
        if (price.markAt != std::string_view::npos) {
            priceAt[price.markAt] = '.';
        }
        put(quoteName_);
        output.written(out);
    }

    const Layout& layout_;
    Quote quote_;
    bool isoTime_;
    std::span<const Source> sources_;
    LineFields fields_;
    TimeReader times_;
    std::string symbol_;           // "SYMBOL,"
    std::string quoteName_;        // ",bid\n"
    std::uint64_t outputCap_;      // a piece stops once its output has grown to this
    std::size_t patternSize_ = 0;  // the part of the time text that can hold no comma
    IsoText isoText_{};
    std::string_view line_;  // the line being read
    char mid_[64] = {};
};

Rewriter::Rewriter(const TicksSettings& settings, const Layout& layout, Quote quote,
                   std::span<const Source> sources)
    : lines_(std::make_unique<LineRewriter>(settings, layout, quote, sources)) {}

Rewriter::Rewriter(Rewriter&&) noexcept = default;
Rewriter& Rewriter::operator=(Rewriter&&) noexcept = default;
Rewriter::~Rewriter() = default;

void Rewriter::rewrite(Piece& piece) {
    lines_->rewrite(piece);
}

}  // namespace vellumbrook::ticks
