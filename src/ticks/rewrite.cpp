#include "ticks/rewrite.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "output/output_file.hpp"
#include "output/progress.hpp"
#include "platform/platform.hpp"
#include "ticks/backward_lines.hpp"
#include "ticks/pieces.hpp"
#include "ticks/source.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

bool isBlank(std::string_view line) {
    for (const char c : line) {
        if (c != ' ' && c != '\t') {
            return false;
        }
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// Where the decimal mark stands in `text` when it is a decimal number with that mark (a sign,
// digits with at most one mark, an exponent): npos when it has none; nothing when `text` is
// not such a number.
std::optional<std::size_t> decimalNumber(std::string_view text, char mark) {
    std::size_t i = 0;
    const auto digitsFrom = [&] {
        const std::size_t first = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
        }
        return i - first;
    };
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    std::size_t digits = digitsFrom();
    std::size_t markAt = std::string_view::npos;
    if (i < text.size() && text[i] == mark) {
        markAt = i++;
        digits += digitsFrom();
    }
    if (digits == 0) {
        return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
            ++i;
        }
        if (digitsFrom() == 0) {
            return std::nullopt;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    return markAt;
}

// Where the mark stands in `text` (npos when it has none) when it is digits with at most one
// mark; nothing when it is anything else, such as a sign or an exponent, which
// decimalNumber() then tells. `text` must be readable 16 bytes from its start.
inline std::optional<std::size_t> plainDecimal(std::string_view text, char mark) {
#if defined(__SSE2__)
    if (text.empty() || text.size() > 16) {
        return std::nullopt;
    }
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data()));
    const __m128i values = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(values, _mm_set1_epi8(9)), values);
    const unsigned inText = 0xffffU >> (16 - text.size());
    const unsigned digits = static_cast<unsigned>(_mm_movemask_epi8(isDigit)) & inText;
    const unsigned marks =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(mark)))) &
        inText;
    if ((digits | marks) != inText || (marks & (marks - 1)) != 0 || digits == 0) {
        return std::nullopt;
    }
    return marks == 0 ? std::string_view::npos : static_cast<std::size_t>(std::countr_zero(marks));
#else
    (void)text;
    (void)mark;
    return std::nullopt;
#endif
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

// The fields of one line, cut by the layout's separator (and quotes).
class LineFields {
  public:
    explicit LineFields(const Layout& layout)
        : layout_(layout),
          fields_(static_cast<std::size_t>(
              std::max({layout.dateColumn, layout.timeColumn, layout.bidColumn, layout.askColumn,
                        layout.priceColumn}))),
          unquoted_(layout.quoted ? fields_.size() : 0) {}

    // The number of fields a line needs.
    std::size_t wanted() const { return fields_.size(); }

    // Cuts `line` into its first wanted() fields; false when it has fewer. The line may be
    // read up to BackwardLines::kReadableAfterLine bytes past its end.
    bool split(std::string_view line) {
        if (layout_.quoted) {
            return splitQuoted(line);
        }
        const std::size_t wanted = fields_.size();
        std::size_t field = 0;
        std::size_t fieldStart = 0;
#if defined(__SSE2__)
        // Sixteen bytes at a time: each bit of the mask is a separator.
        const __m128i separator = _mm_set1_epi8(layout_.separator);
        for (std::size_t base = 0; base < line.size() && field < wanted; base += 16) {
            auto found = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + base)), separator)));
            if (line.size() - base < 16) {
                found &= (1U << (line.size() - base)) - 1;
            }
            for (; found != 0 && field < wanted; found &= found - 1) {
                const std::size_t at = base + static_cast<std::size_t>(std::countr_zero(found));
                fields_[field++] = {line.data() + fieldStart, at - fieldStart};
                fieldStart = at + 1;
            }
        }
#else
        for (std::size_t at = 0; at < line.size() && field < wanted; ++at) {
            if (line[at] == layout_.separator) {
                fields_[field++] = {line.data() + fieldStart, at - fieldStart};
                fieldStart = at + 1;
            }
        }
#endif
        if (field < wanted) {  // the last field runs to the end of the line
            fields_[field++] = line.substr(std::min(fieldStart, line.size()));  // may be empty
        }
        return field == wanted;
    }

    std::string_view column(int number) const {
        return fields_[static_cast<std::size_t>(number - 1)];
    }

    // The time text: the time column, or the date and time columns joined by a blank.
    std::string_view timeText() {
        if (layout_.dateColumn == 0) {
            return column(layout_.timeColumn);
        }
        joinedTime_.assign(column(layout_.dateColumn))
            .append(" ")
            .append(column(layout_.timeColumn));
        return joinedTime_;
    }

  private:
    bool splitQuoted(std::string_view line) {
        std::size_t field = 0;
        std::size_t at = 0;
        while (field < fields_.size()) {
            if (at < line.size() && line[at] == '"') {
                std::string& text = unquoted_[field];  // each field's text of its own
                text.clear();
                std::size_t i = at + 1;
                for (; i < line.size(); ++i) {
                    if (line[i] == '"') {
                        if (i + 1 < line.size() && line[i + 1] == '"') {
                            text += '"';
                            ++i;
                            continue;
                        }
                        break;
                    }
                    text += line[i];
                }
                fields_[field++] = text;
                at = line.find(layout_.separator, i);
            } else {
                const std::size_t end = std::min(line.find(layout_.separator, at), line.size());
                fields_[field++] = line.substr(at, end - at);
                at = end < line.size() ? end : std::string_view::npos;
            }
            if (at == std::string_view::npos) {
                break;
            }
            ++at;
        }
        return field == fields_.size();
    }

    const Layout& layout_;
    std::vector<std::string_view> fields_;
    std::vector<std::string> unquoted_;
    std::string joinedTime_;
};

// The time text of the line that starts at `start`, for a message.
std::string timeTextAt(const Source& source, const Layout& layout, std::uint64_t start) {
    std::string line = lineAt(source.file, start, source.end);
    const std::size_t size = line.size();
    line.append(BackwardLines::kReadableAfterLine, '\0');
    LineFields fields(layout);
    return fields.split(std::string_view(line).substr(0, size)) ? std::string(fields.timeText())
                                                                : std::string();
}

// Throws the one line that says why `older`, read after `newer`, may not have a later time.
[[noreturn]] void stopOutOfOrder(const std::vector<Source>& sources, const Layout& layout,
                                 const TickMark& older, const TickMark& newer) {
    const Source& olderSource = sources[older.sourceIndex];
    const Source& newerSource = sources[newer.sourceIndex];
    const std::string olderText = timeTextAt(olderSource, layout, older.start);
    const std::string newerText = timeTextAt(newerSource, layout, newer.start);
    if (older.sourceIndex == newer.sourceIndex) {
        throw Stop{
            where(newerSource, lineNumberAt(newerSource.file, newerSource.begin, newer.start)) +
            "the time goes back from '" + olderText + "' to '" + newerText +
            "'; ticks must run oldest first"};
    }
    throw Stop{where(olderSource, lineNumberAt(olderSource.file, olderSource.begin, older.start)) +
               "its last tick '" + olderText + "' comes after the first tick '" + newerText +
               "' of " + newerSource.name + "; give the files oldest first"};
}

// Stops with the one line that says why, when `older`, read after `newer`, has a later time.
inline void checkOrder(const std::vector<Source>& sources, const Layout& layout,
                       const TickMark& older, const TickMark& newer) {
    if (older.key > newer.key) {
        stopOutOfOrder(sources, layout, older, newer);
    }
}

// Turns the lines of a piece into the converter's input lines, from the last to the first.
class alignas(64) Rewriter {
  public:
    Rewriter(const TicksSettings& settings, const Layout& layout, Quote quote,
             const std::vector<Source>& sources)
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
        } catch (const std::runtime_error& error) {
            piece.stop = std::string(kProgram) + ": " + source.name + ": " + error.what();
        } catch (const std::exception& error) {
            piece.stop = std::string(kProgram) + ": " + error.what();
        }
    }

  private:
    // The price text of a column, checked; nothing for an empty one that may be left out.
    struct PriceText {
        std::string_view text;
        std::size_t markAt = std::string_view::npos;  // a decimal comma, written as a point
    };
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
        std::string digits(price.text.substr(!price.text.empty() && price.text[0] == '+'));
        if (price.markAt != std::string_view::npos) {
            digits[price.markAt - (price.text.size() - digits.size())] = '.';
        }
        double value = 0.0;
        // As for the converter's strtod, a result beyond the doubles or below their normal
        // range (where strtod says ERANGE) is out of range.
        if (std::from_chars(digits.data(), digits.data() + digits.size(), value).ec !=
                std::errc() ||
            std::fpclassify(value) == FP_SUBNORMAL) {
            stopAtLine(source, start, std::string("the ") + what + " is out of range", price.text);
        }
        return value;
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
        const double bidValue = valueOf(source, start, *bid, "bid");
        const double askValue = valueOf(source, start, *ask, "ask");
        // Halving the sum rounds once; where the sum itself is beyond the doubles, the halves
        // are added instead, so that the mid of two large prices is never inf.
        const double sum = bidValue + askValue;
        const double mid = std::isfinite(sum) ? sum / 2 : bidValue / 2 + askValue / 2;
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
    const std::vector<Source>& sources_;
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

// Writes the output, to standard output or to the output file.
class Sink {
  public:
    Sink(std::FILE* stream, output::OutputFile* file, Progress& progress)
        : stream_(stream),
          file_(file),
          progress_(progress),
          toTerminal_(file == nullptr && platform::isTerminal(stream)) {}

    void write(std::string_view bytes) {
        if (bytes.empty()) {
            return;
        }
        if (toTerminal_) {
            progress_.erase();  // the status line would stand in the middle of the output
        }
        if (file_ != nullptr) {
            file_->write(bytes);
        } else if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size() ||
                   std::fflush(stream_) != 0) {
            throw Stop{std::string(kProgram) +
                       ": standard output cannot be written: " + std::strerror(errno)};
        }
    }

  private:
    std::FILE* stream_;
    output::OutputFile* file_;
    Progress& progress_;
    bool toTerminal_;
};

// Each source from its end, the last source first, in pieces of whole lines.
std::vector<Pieces::Task> piecesOf(const std::vector<Source>& sources, std::uint64_t pieceSize) {
    std::vector<Pieces::Task> tasks;
    for (std::size_t i = sources.size(); i-- > 0;) {
        const Source& source = sources[i];
        if (source.begin >= source.end) {
            continue;
        }
        std::vector<std::uint64_t> starts;
        try {
            starts = pieceStarts(source.file, source.begin, source.end, pieceSize);
        } catch (const std::runtime_error& error) {
            stopWithFile(source, error.what());
        }
        for (std::size_t k = starts.size() - 1; k-- > 0;) {
            tasks.push_back({i, starts[k], starts[k + 1]});
        }
    }
    return tasks;
}

// The failure that stands first in the files, in their order. Pieces are read from the end,
// so the one found there may have others before it: the files are read again from their
// start, piece by piece, to the first piece that fails (by a line of its own, or by its
// first tick against the piece before), and that piece line by line. `found` is what the
// reading from the end stopped on, which this cannot come after.
Stop firstFailure(const TicksSettings& settings, const Layout& layout, Quote quote,
                  const std::vector<Source>& sources, const Stop& found) {
    TicksSettings whole = settings;
    whole.pieceSize = std::numeric_limits<std::uint64_t>::max() / 4;  // no output cap here
    Rewriter rewriter(whole, layout, quote, sources);
    Piece piece;
    std::optional<TickMark> before;  // the last tick of what was read so far
    const auto fails = [&](std::size_t index, std::uint64_t from, std::uint64_t to) {
        piece.reset(index, from, to);
        rewriter.rewrite(piece);
        return piece.stop || (before && piece.oldest && before->key > piece.oldest->key);
    };
    TickMark firstTick;  // of the file being read
    // The tick of the first line from `from` on that has one, read a line at a time so that
    // the size of the pieces does not matter; nothing when a line fails first, and then
    // `atEnd` is false, or when the file ends first.
    const auto tickFrom = [&](std::size_t index, const std::vector<std::uint64_t>& starts,
                              std::size_t k, std::uint64_t from,
                              bool& atEnd) -> std::optional<TickMark> {
        atEnd = false;
        for (std::size_t chunk = k; chunk + 1 < starts.size(); ++chunk) {
            const std::uint64_t begin = std::max(from, starts[chunk]);
            if (begin >= starts[chunk + 1]) {
                continue;
            }
            const std::vector<std::uint64_t> lines =
                pieceStarts(sources[index].file, begin, starts[chunk + 1], 1);
            for (std::size_t line = 0; line + 1 < lines.size(); ++line) {
                piece.reset(index, lines[line], lines[line + 1]);
                rewriter.rewrite(piece);
                if (piece.stop) {
                    return std::nullopt;
                }
                if (piece.oldest) {
                    return piece.oldest;
                }
            }
        }
        atEnd = true;
        return std::nullopt;
    };
    for (std::size_t index = 0; index < sources.size(); ++index) {
        const Source& source = sources[index];
        if (source.begin >= source.end) {
            continue;
        }
        const std::vector<std::uint64_t> starts =
            pieceStarts(source.file, source.begin, source.end, settings.pieceSize);
        for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
            if (!fails(index, starts[k], starts[k + 1])) {
                if (piece.oldest && (!before || before->sourceIndex != index)) {
                    firstTick = *piece.oldest;
                }
                before = piece.newest ? piece.newest : before;
                continue;
            }
            // The failing piece, a line at a time, in the order of the file.
            const std::vector<std::uint64_t> lines =
                pieceStarts(source.file, starts[k], starts[k + 1], 1);
            for (std::size_t line = 0; line + 1 < lines.size(); ++line) {
                if (!fails(index, lines[line], lines[line + 1])) {
                    if (piece.newest && (!before || before->sourceIndex != index)) {
                        firstTick = *piece.newest;
                    }
                    before = piece.newest ? piece.newest : before;
                    continue;
                }
                if (before && piece.oldest && before->key > piece.oldest->key) {
                    // A step back at a file's second tick, and again at its third (or no third
                    // tick at all): the file runs newest first, and is named so.
                    const TickMark second = *piece.oldest;
                    bool atEnd = false;
                    const std::optional<TickMark> third =
                        tickFrom(index, starts, k, lines[line + 1], atEnd);
                    if (before->sourceIndex == index && before->start == firstTick.start &&
                        (third ? third->key < second.key : atEnd)) {
                        return Stop{std::string(kProgram) + ": " + source.name +
                                    ": runs newest first, from '" +
                                    timeTextAt(source, layout, before->start) + "' down to '" +
                                    timeTextAt(source, layout, (third ? *third : second).start) +
                                    "'; give its ticks oldest first, as the sources publish them"};
                    }
                    try {
                        stopOutOfOrder(sources, layout, *before, second);
                    } catch (const Stop& stop) {
                        return stop;
                    }
                }
                return Stop{*piece.stop};
            }
            return found;
        }
    }
    return found;
}

Layout layoutFor(const TicksSettings& settings, const Source& first, std::FILE* messages) {
    if (settings.layout) {
        return *settings.layout;
    }
    const std::optional<Layout> found = recognise(firstBytes(first, std::size_t{64} << 10));
    if (!found) {
        std::string names;
        for (const std::string& name : presetNames()) {
            names += (names.empty() ? "" : ", ") + name;
        }
        stopWithFile(first, "its layout is not one that can be told for sure; give --from (" +
                                names + ", or the column options)");
    }
    std::fprintf(messages, "%s: %s: read as %s\n", kProgram.data(), first.name.c_str(),
                 found->name.c_str());
    std::fflush(messages);
    return *found;
}

Quote quoteFor(const TicksSettings& settings, const Layout& layout) {
    if (const std::optional<std::string> why = missingQuote(layout, settings.quote)) {
        throw Stop{std::string(kProgram) + ": " + *why};
    }
    return settings.quote.value_or(layout.priceColumn > 0 ? Quote::price : Quote::bid);
}

void reportCounts(std::FILE* messages, const Source& source, const Counts& counts) {
    std::fprintf(messages,
                 "%s: %s: %lld ticks; passed over: %lld blank lines, %lld header lines, %lld "
                 "rows without a price\n",
                 kProgram.data(), source.name.c_str(), static_cast<long long>(counts.ticks),
                 static_cast<long long>(counts.blank), static_cast<long long>(counts.headers),
                 static_cast<long long>(counts.withoutPrice));
}

}  // namespace

int rewriteTicks(const TicksSettings& settings, std::FILE* out, std::FILE* messages) {
    // Progress shows on a terminal only: files, pipes and scripts get exactly the same bytes.
    Progress progress(platform::isTerminal(messages) ? messages : nullptr, std::string(kProgram));
    try {
        std::vector<Source> sources;
        for (const std::string& name : settings.files) {
            sources.push_back(openSource(name, progress));
        }
        const Layout layout = layoutFor(settings, sources.front(), messages);
        const Quote quote = quoteFor(settings, layout);
        std::optional<output::OutputFile> outputFile;
        if (!settings.output.empty()) {
            std::vector<platform::FileId> inputs;
            for (const Source& source : sources) {
                if (const std::optional<platform::FileId> id = platform::idOf(source.file)) {
                    inputs.push_back(*id);
                }
            }
            outputFile.emplace(settings.output, inputs);
        }
        Sink sink(out, outputFile ? &*outputFile : nullptr, progress);
        std::vector<Counts> counts(sources.size());
        std::optional<TickMark> later;  // the oldest tick written so far
        {
            // A few threads: beyond that, writing the output is what takes the time.
            const std::size_t threads = std::clamp(std::thread::hardware_concurrency(), 1U, 4U);
            Pieces pieces(piecesOf(sources, settings.pieceSize), threads, [&] {
                return [rewriter = Rewriter(settings, layout, quote, sources)](
                           Piece& piece) mutable { rewriter.rewrite(piece); };
            });
            std::size_t shownSource = sources.size();
            const auto writeOut = [&](const Piece& piece) {
                const Source& source = sources[piece.sourceIndex];
                if (piece.sourceIndex != shownSource) {
                    shownSource = piece.sourceIndex;
                    progress.begin("reading " + source.name);
                }
                try {
                    if (piece.newest && later) {
                        checkOrder(sources, layout, *piece.newest, *later);
                    }
                    if (piece.stop) {
                        throw Stop{*piece.stop};
                    }
                } catch (const Stop& stop) {
                    throw firstFailure(settings, layout, quote, sources, stop);
                }
                sink.write(piece.output.view());
                counts[piece.sourceIndex] += piece.counts;
                later = piece.oldest ? piece.oldest : later;
                progress.advance(source.end - piece.unread, source.end - source.begin);
            };
            // What a piece left unread, because its output grew far beyond its size (a long
            // --symbol on short lines), is read here, a capped part at a time.
            Rewriter ownRewriter(settings, layout, quote, sources);
            Piece rest;
            for (std::size_t i = 0; i < pieces.size(); ++i) {
                const Piece& piece = pieces.take(i);
                writeOut(piece);
                for (std::uint64_t unread = piece.unread; unread > piece.begin;) {
                    rest.reset(piece.sourceIndex, piece.begin, unread);
                    ownRewriter.rewrite(rest);
                    writeOut(rest);
                    unread = rest.unread;
                }
                pieces.release(i);
            }
        }
        if (outputFile) {
            outputFile->commit();
        }
        progress.erase();
        if (settings.verbose) {
            for (std::size_t i = 0; i < sources.size(); ++i) {
                reportCounts(messages, sources[i], counts[i]);
            }
        }
        return 0;
    } catch (const Stop& stop) {
        progress.erase();
        std::fprintf(messages, "%s\n", stop.message.c_str());
    } catch (const std::exception& error) {
        progress.erase();
        std::fprintf(messages, "%s: %s\n", kProgram.data(), error.what());
    }
    std::fflush(messages);
    return 1;
}

}  // namespace vellumbrook::ticks
