#include "ticks/line_rewriter.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

#include "ticks/backward_lines.hpp"
#include "ticks/tick_order.hpp"
#include "ticks/tick_reading.hpp"

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
          sources_(sources),
          reading_(settings, layout, quote),
          symbol_(settings.symbol + ","),
          quoteName_(std::string(",") + quoteName(quote) + "\n"),
          outputCap_(2 * std::max<std::uint64_t>(settings.pieceSize, 1)) {}

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
    void rewriteLine(const Source& source, std::string_view line, std::uint64_t start,
                     Piece& piece) {
        LineKind kind = LineKind::blank;
        try {
            kind = reading_.read(line, start == source.begin);
        } catch (const LineFault& fault) {
            stopAtLine(source, start, fault.what, fault.text);
        }
        switch (kind) {
            case LineKind::blank:
                ++piece.counts.blank;
                return;
            case LineKind::header:
                ++piece.counts.headers;
                return;
            case LineKind::withoutPrice:
                ++piece.counts.withoutPrice;
                return;
            case LineKind::tick:
                break;
        }
        const TickMark tick{reading_.time().key, start, piece.sourceIndex};
        if (piece.oldest) {
            checkOrder(sources_, layout_, tick, *piece.oldest);
        } else {
            piece.newest = tick;
        }
        piece.oldest = tick;
        write(piece.output, reading_.timeText(), reading_.price());
        ++piece.counts.ticks;
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
    std::span<const Source> sources_;
    TickReading reading_;
    std::string symbol_;       // "SYMBOL,"
    std::string quoteName_;    // ",bid\n"
    std::uint64_t outputCap_;  // a piece stops once its output has grown to this
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
