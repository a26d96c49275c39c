#include "ticks/candle_table.hpp"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "candles/oldest_first.hpp"
#include "output/csv_writer.hpp"
#include "output/output_file.hpp"
#include "output/progress.hpp"
#include "platform/platform.hpp"
#include "ticks/chunks.hpp"
#include "ticks/inputs.hpp"
#include "ticks/messages.hpp"
#include "ticks/output_sink.hpp"
#include "ticks/pieces.hpp"
#include "ticks/text_stream.hpp"
#include "ticks/tick_reading.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellumbrook::ticks {

namespace {

// How much text a chunk holds: enough that handing it over costs nothing.
constexpr std::size_t kChunkSize = std::size_t{1} << 20;
// No tick line is this long: a longer one is refused rather than held.
constexpr std::size_t kLongestLine = std::size_t{8} << 20;
// Bytes that may be read past the end of a chunk's text, for scanning it in wide steps.
constexpr std::size_t kReadableAfterLine = 16;

// Cuts the texts of the inputs, one after another, into chunks of whole lines.
class ChunkCutter {
  public:
    explicit ChunkCutter(std::vector<Input>& inputs, std::vector<ReadBytes>& texts)
        : inputs_(inputs), texts_(texts) {}

    bool fill(Chunk& chunk) {
        for (; input_ < texts_.size(); ++input_, startsInput_ = true, carry_.clear()) {
            chunk.input = input_;
            chunk.startsInput = startsInput_;
            chunk.text.assign(carry_);
            try {
                if (!readInto(chunk.text)) {
                    if (chunk.text.empty()) {
                        continue;  // an empty input, or one whose last line was given
                    }
                    carry_.clear();
                    ended_ = true;
                    return finishChunk(chunk);
                }
            } catch (const Stop& stop) {
                return unreadable(chunk, {}, stop.message);
            } catch (const CompressedError& error) {
                return unreadable(chunk, error.what());
            } catch (const std::length_error& error) {
                return unreadable(chunk, error.what());
            } catch (const std::runtime_error&) {
                return unreadable(chunk, "cannot be read");
            }
            startsInput_ = false;
            return finishChunk(chunk);
        }
        return false;
    }

  private:
    // Reads until the text holds a chunk's worth ending at a line end; false at the input's
    // end. What follows the last line end is carried to the next chunk.
    bool readInto(ChunkText& text) {
        if (ended_) {
            ended_ = false;
            return false;
        }
        std::size_t searchedTo = 0;
        for (;;) {
            if (text.size() >= kChunkSize) {
                const std::size_t cut = cutAt(text.view(), searchedTo);
                if (cut != std::string::npos) {
                    carry_.assign(text.view().substr(cut));
                    text.cut(cut);
                    return true;
                }
                searchedTo = text.size();
                if (text.size() > kLongestLine) {
                    throw std::length_error("a line longer than 8 MiB, which is no tick line");
                }
            }
            constexpr std::size_t kRead = kChunkSize / 4;
            const std::size_t got = texts_[input_](text.room(kRead), kRead);
            if (got == 0) {
                return false;
            }
            text.added(got);
        }
    }

    // Just after the last line end of `text`: an LF, or a CR that is not its last byte (which
    // may be the first half of a CR LF); npos when it has none past `from`.
    static std::size_t cutAt(std::string_view text, std::size_t from) {
        const std::size_t feed = text.rfind('\n');
        if (feed != std::string_view::npos && feed + 1 > from) {
            return feed + 1;
        }
        const std::size_t cr =
            text.size() < 2 ? std::string_view::npos : text.rfind('\r', text.size() - 2);
        return cr != std::string_view::npos && cr + 1 > from ? cr + 1 : std::string_view::npos;
    }

    bool finishChunk(Chunk& chunk) {
        chunk.text.room(kReadableAfterLine);
        return true;
    }

    bool unreadable(Chunk& chunk, std::string_view what, std::string message = {}) {
        // The lines before the damage are read first; the part line before it is not.
        const std::size_t cut = cutAt(chunk.text.view(), 0);
        chunk.text.cut(cut == std::string_view::npos ? 0 : cut);
        chunk.unreadable =
            message.empty() ? stopInFile(inputs_[input_].name, what).message : std::move(message);
        input_ = texts_.size();
        return true;
    }

    std::vector<Input>& inputs_;
    std::vector<ReadBytes>& texts_;
    std::size_t input_ = 0;
    bool startsInput_ = true;
    bool ended_ = false;
    std::string carry_;
};

// Where the line that starts at `start` ends: its LF or CR, or the end of the text. The text
// may be read 16 bytes past its end.
std::size_t lineEndFrom(std::string_view text, std::size_t start) {
#if defined(__SSE2__)
    const __m128i feed = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (std::size_t at = start; at < text.size(); at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
        const auto ends = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, feed), _mm_cmpeq_epi8(bytes, cr))));
        if (ends != 0) {
            return std::min(text.size(), at + static_cast<std::size_t>(std::countr_zero(ends)));
        }
    }
    return text.size();
#else
    const std::size_t end = text.find_first_of("\r\n", start);
    return end == std::string_view::npos ? text.size() : end;
#endif
}

// Reads the lines of a chunk into its ticks, in a thread of its own.
void readChunk(TickReading& reading, Chunk& chunk) {
    const std::string_view text = chunk.text.view();
    std::size_t start = 0;
    std::uint32_t number = 0;
    // Where the line after one that ends at `end` starts: LF, CR LF and a CR alone end a line.
    const auto lineAfter = [text](std::size_t end) {
        return std::min(
            text.size(),
            end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1));
    };
    TickReading::PlainTick plain;
    std::int64_t lastKey = INT64_MIN;
    chunk.ordered = true;
    const auto ordered = [&](std::int64_t key) {
        chunk.ordered = chunk.ordered && lastKey <= key;
        lastKey = key;
    };
    while (start < text.size()) {
        if ((number > 0 || !chunk.startsInput) && reading.readPlain(text, start, plain)) {
            Chunk::Tick& tick = chunk.ticks.emplace_back();
            tick.key = plain.key;
            tick.line = ++number;
            tick.start = static_cast<std::uint32_t>(start);
            tick.size = static_cast<std::uint32_t>(plain.end - start);
            tick.isDecimal = true;
            tick.decimal = plain.price;
            ordered(plain.key);
            ++chunk.counts.ticks;
            start = lineAfter(plain.end);
            continue;
        }
        const std::size_t end = lineEndFrom(text, start);
        const std::size_t next = lineAfter(end);
        const std::string_view line(text.data() + start, end - start);
        ++number;
        LineKind kind = LineKind::blank;
        try {
            kind = reading.read(line, chunk.startsInput && number == 1);
        } catch (const LineFault& fault) {
            chunk.fault.emplace(number, fault.what + ": " + shown(fault.text));
            chunk.lines = number;
            return;
        }
        switch (kind) {
            case LineKind::blank:
                ++chunk.counts.blank;
                break;
            case LineKind::header:
                ++chunk.counts.headers;
                break;
            case LineKind::withoutPrice:
                ++chunk.counts.withoutPrice;
                break;
            case LineKind::tick: {
                Chunk::Tick& tick = chunk.ticks.emplace_back();
                tick.key = reading.time().key;
                ordered(tick.key);
                tick.line = number;
                tick.start = static_cast<std::uint32_t>(start);
                tick.size = static_cast<std::uint32_t>(end - start);
                tick.isDecimal = reading.shortDecimal(tick.decimal);
                if (!tick.isDecimal) {
                    tick.price = reading.priceValue();
                }
                ++chunk.counts.ticks;
                break;
            }
        }
        start = next;
    }
    chunk.lines = number;
}

// A tick already read, as the order check and its messages need it.
struct SeenTick {
    std::int64_t key = 0;
    std::string timeText;  // as the file spells it
    std::int64_t line = 0;
    std::size_t input = 0;
};

// Takes the read chunks in order: the order of the times, the first failure in the order of
// the files, and the candles.
class ChunkTaker {
  public:
    ChunkTaker(const TicksSettings& settings, const Layout& layout, Quote quote,
               std::vector<Input>& inputs, OldestFirstCandles& candles, Progress& progress)
        : inputs_(inputs),
          reading_(settings, layout, quote),
          candles_(candles),
          progress_(progress),
          counts_(inputs.size()) {}

    void take(const Chunk& chunk) {
        if (chunk.startsInput) {
            endInput();
            input_ = chunk.input;
            lineBase_ = 0;
            firstOfFile_.reset();
            progress_.begin("reading " + shownName(inputs_[input_].name));
        }
        if (inOrderAfterLast(chunk)) {
            addInOrder(chunk);
        } else {
            for (const Chunk::Tick& tick : chunk.ticks) {
                takeTick(chunk, tick);
            }
        }
        if (chunk.fault) {
            if (secondPending_) {
                stopOutOfOrder(*firstOfFile_, second_);
            }
            throw stopAtLineOf(inputs_[input_].name, lineBase_ + chunk.fault->first,
                               chunk.fault->second);
        }
        if (chunk.unreadable) {
            throw Stop{*chunk.unreadable};
        }
        if (!chunk.ticks.empty()) {
            last_->timeText = rawTimeText(chunk, chunk.ticks.back());
            lastWritten_ = writtenTimeText(chunk, chunk.ticks.back());
        }
        lineBase_ += chunk.lines;
        counts_[input_] += chunk.counts;
        progress_.advance(inputs_[input_].bytesRead(), inputs_[input_].size);
    }

    // After the last chunk.
    void endInput() {
        if (secondPending_) {
            stopNewestFirst(*firstOfFile_, second_.timeText);
        }
    }

    const std::vector<Counts>& counts() const { return counts_; }
    const std::string& lastTimeText() const { return lastWritten_; }

  private:
    // Whether every tick of the chunk comes after the last one taken and after each other,
    // past the first tick of its file, and within the most ticks a table takes: the order
    // then has nothing to tell, and the ticks only go to the candles.
    bool inOrderAfterLast(const Chunk& chunk) const {
        return chunk.ordered && !chunk.ticks.empty() && !secondPending_ && last_ && firstOfFile_ &&
               last_->key <= chunk.ticks.front().key &&
               OldestFirstCandles::kMaxTicks - candles_.tickCount() >=
                   static_cast<std::int64_t>(chunk.ticks.size());
    }

    // Takes such a chunk's ticks as takeTick() would.
    void addInOrder(const Chunk& chunk) {
        for (const Chunk::Tick& tick : chunk.ticks) {
            addToCandles(chunk, tick);
        }
        const Chunk::Tick& newest = chunk.ticks.back();
        last_->key = newest.key;
        last_->timeText.clear();
        last_->line = lineBase_ + newest.line;
        last_->input = input_;
        lastChunk_ = &chunk;
        lastTick_ = newest;
    }

    void takeTick(const Chunk& chunk, const Chunk::Tick& tick) {
        const std::int64_t line = lineBase_ + tick.line;
        if (secondPending_) {
            // A step back at a file's second tick, and again at its third: the file runs
            // newest first, and is named so.
            if (tick.key < second_.key) {
                stopNewestFirst(*firstOfFile_, rawTimeText(chunk, tick));
            }
            stopOutOfOrder(*firstOfFile_, second_);
        }
        if (last_ && last_->key > tick.key) {
            if (last_->timeText.empty()) {
                last_->timeText = rawTimeText(*lastChunk_, lastTick_);
            }
            const SeenTick newer{tick.key, rawTimeText(chunk, tick), line, input_};
            if (last_->input == input_ && firstOfFile_ && last_->line == firstOfFile_->line) {
                secondPending_ = true;
                second_ = newer;
                return;
            }
            stopOutOfOrder(*last_, newer);
        }
        if (!last_) {
            last_.emplace();
        }
        last_->key = tick.key;
        last_->timeText.clear();  // read again from its line if a message needs it
        last_->line = line;
        last_->input = input_;
        lastChunk_ = &chunk;
        lastTick_ = tick;
        if (!firstOfFile_) {
            firstOfFile_ = *last_;
            firstOfFile_->timeText = rawTimeText(chunk, tick);
        }
        if (candles_.tickCount() == OldestFirstCandles::kMaxTicks) {
            throw stopAtLineOf(inputs_[input_].name, line,
                               "more than 2147483647 ticks, the most a candle table takes");
        }
        addToCandles(chunk, tick);
    }

    void addToCandles(const Chunk& chunk, const Chunk::Tick& tick) {
        const std::string_view time =
            candles_.nextClosesGroup() ? writtenTimeText(chunk, tick) : std::string_view();
        if (tick.isDecimal) {
            candles_.add(time, tick.decimal);
        } else {
            candles_.add(time, tick.price);
        }
    }

    // The line of a tick read again, for its time text: only where it is needed.
    void readAgain(const Chunk& chunk, const Chunk::Tick& tick) {
        (void)reading_.read({chunk.text.data() + tick.start, tick.size},
                            chunk.startsInput && tick.line == 1);
    }
    std::string rawTimeText(const Chunk& chunk, const Chunk::Tick& tick) {
        readAgain(chunk, tick);
        return std::string(reading_.rawTimeText());
    }
    std::string_view writtenTimeText(const Chunk& chunk, const Chunk::Tick& tick) {
        readAgain(chunk, tick);
        return reading_.timeText();
    }

    [[noreturn]] void stopNewestFirst(const SeenTick& first, std::string_view down) {
        throw stopInFile(inputs_[first.input].name,
                         "runs newest first, from " + shown(first.timeText) + " down to " +
                             shown(down) +
                             "; give its ticks oldest first, as the sources publish them");
    }

    [[noreturn]] void stopOutOfOrder(const SeenTick& older, const SeenTick& newer) {
        if (older.input == newer.input) {
            throw stopAtLineOf(inputs_[newer.input].name, newer.line,
                               "the time goes back from " + shown(older.timeText) + " to " +
                                   shown(newer.timeText) + "; ticks must run oldest first");
        }
        throw stopAtLineOf(inputs_[older.input].name, older.line,
                           "its last tick " + shown(older.timeText) +
                               " comes after the first tick " + shown(newer.timeText) + " of " +
                               shownName(inputs_[newer.input].name) +
                               "; give the files oldest first");
    }

    std::vector<Input>& inputs_;
    TickReading reading_;  // reads again the few lines whose texts are needed
    OldestFirstCandles& candles_;
    Progress& progress_;
    std::vector<Counts> counts_;
    std::size_t input_ = 0;
    std::int64_t lineBase_ = 0;     // lines of the input before the chunk
    std::optional<SeenTick> last_;  // the newest tick so far
    const Chunk* lastChunk_ = nullptr;
    Chunk::Tick lastTick_;
    std::string lastWritten_;  // its time text as written
    std::optional<SeenTick> firstOfFile_;
    bool secondPending_ = false;  // a step back at a file's second tick, to be told
    SeenTick second_;
};

// The table in blocks that end at line ends.
void writeTable(const CandleList& candles, const TicksSettings& settings, Sink& sink) {
    const CsvLayout layout{!settings.noHeader, !settings.noEma, settings.candleSettings.emaSpan};
    constexpr std::size_t kBlockSize = std::size_t{1} << 20;
    std::string block;
    block.reserve(kBlockSize + 4096);
    if (layout.header) {
        block.append(csvHeader(layout)).push_back('\n');
    }
    for (const CandleRecord& row : candles) {
        appendCsvLine(block, row, layout);
        block.push_back('\n');
        if (block.size() >= kBlockSize) {
            sink.write(block);
            block.clear();
        }
    }
    sink.write(block);
}

}  // namespace

int writeCandleTable(const TicksSettings& settings, std::FILE* out, std::FILE* messages) {
    Progress progress(platform::isTerminal(messages) ? messages : nullptr, std::string(kProgram));
    try {
        std::vector<Input> inputs;
        std::vector<PeekedText> lines;
        for (const std::string& name : settings.files) {
            for (Input& input : openInputs(name)) {
                const auto before =
                    std::find_if(inputs.begin(), inputs.end(), [&](const Input& earlier) {
                        return input.named && earlier.named == input.named &&
                               earlier.file != input.file;
                    });
                if (before != inputs.end()) {
                    throw stopInFile(name, "is the same file as " + shownName(before->name) +
                                               ", named before it; each file is read once");
                }
                const std::string shownAs = input.name;
                lines.emplace_back(textOf(input.bytes, [shownAs] {
                    throw stopInFile(shownAs,
                                     "its first line holds NUL bytes: UTF-16 text needs its byte "
                                     "order mark (iconv -f UTF-16LE -t UTF-8 makes it UTF-8), and "
                                     "other bytes are no tick file");
                }));
                inputs.push_back(std::move(input));
            }
        }
        std::optional<Layout> layout = settings.layout;
        if (!layout && !inputs.empty()) {
            std::string_view first;
            try {
                first = lines.front().ahead(std::size_t{64} << 10);
            } catch (const CompressedError& error) {
                throw stopInFile(inputs.front().name, error.what());
            } catch (const std::runtime_error&) {
                throw stopInFile(inputs.front().name, "cannot be read");
            }
            layout = recognisedLayout(first, inputs.front().name, messages);
        }
        const Quote quote = quoteToRead(settings, *layout);
        std::optional<output::OutputFile> outputFile;
        if (!settings.output.empty()) {
            std::vector<platform::FileId> ids;
            for (const Input& input : inputs) {
                if (input.named) {
                    ids.push_back(*input.named);
                }
            }
            outputFile.emplace(settings.output, ids);
        }
        OldestFirstCandles candles(settings.candleSettings);
        ChunkTaker taker(settings, *layout, quote, inputs, candles, progress);
        {
            std::vector<ReadBytes> texts;
            for (PeekedText& text : lines) {
                texts.push_back(
                    [&text](char* into, std::size_t size) { return text.readOn(into, size); });
            }
            ChunkCutter cutter(inputs, texts);
            // One thread cuts (and inflates) the texts, two read the chunks; this one takes
            // them in order.
            Chunks chunks(
                [&cutter](Chunk& chunk) { return cutter.fill(chunk); }, 2,
                [&settings, &layout, quote] {
                    return [reading = std::make_shared<TickReading>(settings, *layout, quote)](
                               Chunk& chunk) { readChunk(*reading, chunk); };
                });
            for (std::size_t index = 0;; ++index) {
                const Chunk* chunk = chunks.take(index);
                if (chunk == nullptr) {
                    break;
                }
                taker.take(*chunk);
                chunks.release(index);
            }
            taker.endInput();
        }
        lines.clear();
        const CandleList table = candles.finish(taker.lastTimeText());
        Sink sink(out, outputFile ? &*outputFile : nullptr, progress);
        writeTable(table, settings, sink);
        if (outputFile) {
            outputFile->commit();
        }
        progress.erase();
        if (settings.verbose) {
            for (std::size_t i = 0; i < inputs.size(); ++i) {
                reportCounts(messages, inputs[i].name, taker.counts()[i]);
            }
        }
        return 0;
    } catch (const Stop& stop) {
        progress.erase();
        say(messages, stop);
    } catch (const std::exception& error) {
        progress.erase();
        say(messages, stopFor(error));
    }
    return 1;
}

}  // namespace vellumbrook::ticks
