#include "ticks/candle_table.hpp"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "candles/oldest_first.hpp"
#include "output/csv_writer.hpp"
#include "output/output_file.hpp"
#include "output/progress.hpp"
#include "platform/platform.hpp"
#include "ticks/forward_lines.hpp"
#include "ticks/inputs.hpp"
#include "ticks/messages.hpp"
#include "ticks/output_sink.hpp"
#include "ticks/pieces.hpp"
#include "ticks/tick_reading.hpp"

namespace vellumbrook::ticks {

namespace {

// A tick already read, as the order check and its messages need it.
struct SeenTick {
    std::int64_t key = 0;
    std::string timeText;  // as the file spells it
    std::int64_t line = 0;
    std::size_t input = 0;
};

// The one reading of all the inputs, oldest first, into the candles.
class ForwardReading {
  public:
    ForwardReading(const TicksSettings& settings, const Layout& layout, Quote quote,
                   std::vector<Input>& inputs, OldestFirstCandles& candles, Progress& progress)
        : inputs_(inputs),
          reading_(settings, layout, quote),
          candles_(candles),
          progress_(progress),
          counts_(inputs.size()) {}

    void readAll(std::vector<ForwardLines>& lines) {
        for (std::size_t i = 0; i < inputs_.size(); ++i) {
            progress_.begin("reading " + shownName(inputs_[i].name));
            try {
                readInput(i, lines[i]);
            } catch (const CompressedError& error) {
                throw stopInFile(inputs_[i].name, error.what());
            } catch (const std::length_error& error) {
                throw stopAtLineOf(inputs_[i].name, lines[i].lineNumber() + 1, error.what());
            } catch (const std::runtime_error&) {
                throw stopInFile(inputs_[i].name, "cannot be read");
            }
        }
    }

    const std::vector<Counts>& counts() const { return counts_; }

  private:
    void readInput(std::size_t index, ForwardLines& lines) {
        const Input& input = inputs_[index];
        Counts& counts = counts_[index];
        std::string_view line;
        std::optional<SeenTick> firstOfFile;  // when a step back at its second tick is pending
        bool secondPending = false;
        SeenTick second;
        std::int64_t shown = 0;
        while (lines.next(line)) {
            if (++shown % 65536 == 0) {
                progress_.advance(input.bytesRead(), input.size);
            }
            LineKind kind = LineKind::blank;
            try {
                kind = reading_.read(line, lines.lineNumber() == 1);
            } catch (const LineFault& fault) {
                if (secondPending) {
                    stopGoesBack(*firstOfFile, second);
                }
                throw stopAtLineOf(input.name, lines.lineNumber(),
                                   fault.what + ": " + ticks::shown(fault.text));
            }
            switch (kind) {
                case LineKind::blank:
                    ++counts.blank;
                    continue;
                case LineKind::header:
                    ++counts.headers;
                    continue;
                case LineKind::withoutPrice:
                    ++counts.withoutPrice;
                    continue;
                case LineKind::tick:
                    break;
            }
            const std::int64_t key = reading_.time().key;
            if (secondPending) {
                // A step back at a file's second tick, and again at its third: the file
                // runs newest first, and is named so.
                if (key < second.key) {
                    stopNewestFirst(input, *firstOfFile, reading_.rawTimeText());
                }
                stopGoesBack(*firstOfFile, second);
            }
            if (last_ && last_->key > key) {
                if (last_->input == index && firstOfFile && last_->line == firstOfFile->line) {
                    secondPending = true;
                    second = {key, std::string(reading_.rawTimeText()), lines.lineNumber(), index};
                    continue;
                }
                stopOutOfOrder(
                    *last_, {key, std::string(reading_.rawTimeText()), lines.lineNumber(), index});
            }
            if (!last_) {
                last_.emplace();
            }
            last_->key = key;
            last_->timeText.assign(reading_.rawTimeText());
            last_->line = lines.lineNumber();
            last_->input = index;
            if (!firstOfFile) {
                firstOfFile = *last_;
            }
            if (candles_.tickCount() == OldestFirstCandles::kMaxTicks) {
                throw stopAtLineOf(input.name, lines.lineNumber(),
                                   "more than 2147483647 ticks, the most a candle table takes");
            }
            candles_.add(reading_.timeText(), reading_.priceValue());
            ++counts.ticks;
        }
        if (secondPending) {
            stopNewestFirst(input, *firstOfFile, second.timeText);
        }
    }

    [[noreturn]] void stopNewestFirst(const Input& input, const SeenTick& first,
                                      std::string_view down) {
        throw stopInFile(input.name, "runs newest first, from " + shown(first.timeText) +
                                         " down to " + shown(down) +
                                         "; give its ticks oldest first, as the sources publish "
                                         "them");
    }

    [[noreturn]] void stopGoesBack(const SeenTick& older, const SeenTick& newer) {
        stopOutOfOrder(older, newer);
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
    TickReading reading_;
    OldestFirstCandles& candles_;
    Progress& progress_;
    std::vector<Counts> counts_;
    std::optional<SeenTick> last_;  // the newest tick so far
};

// The table in blocks that end at line ends.
void writeTable(const CandleList& candles, const TicksSettings& settings, Sink& sink) {
    const CsvLayout layout{!settings.noHeader, !settings.noEma, settings.candleSettings.emaSpan};
    constexpr std::size_t kBlockSize = std::size_t{1} << 20;
    std::string block;
    block.reserve(kBlockSize + 4096);
    writeCsv(candles, layout, [&](std::string_view line) {
        block.append(line).push_back('\n');
        if (block.size() >= kBlockSize) {
            sink.write(block);
            block.clear();
        }
        return true;
    });
    sink.write(block);
}

}  // namespace

int writeCandleTable(const TicksSettings& settings, std::FILE* out, std::FILE* messages) {
    Progress progress(platform::isTerminal(messages) ? messages : nullptr, std::string(kProgram));
    try {
        std::vector<Input> inputs;
        std::vector<ForwardLines> lines;
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
        ForwardReading reading(settings, *layout, quote, inputs, candles, progress);
        reading.readAll(lines);
        lines.clear();
        const CandleList table = candles.finish();
        Sink sink(out, outputFile ? &*outputFile : nullptr, progress);
        writeTable(table, settings, sink);
        if (outputFile) {
            outputFile->commit();
        }
        progress.erase();
        if (settings.verbose) {
            for (std::size_t i = 0; i < inputs.size(); ++i) {
                reportCounts(messages, inputs[i].name, reading.counts()[i]);
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
