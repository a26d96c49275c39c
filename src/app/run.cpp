#include "app/run.hpp"

#include <exception>
#include <new>
#include <string>

#include "app/options.hpp"
#include "candles/aggregation.hpp"
#include "candles/candle_builder.hpp"
#include "input/tick_file.hpp"
#include "output/csv_writer.hpp"
#include "platform/platform.hpp"

namespace vellumbrook {

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

Flow readTicks(const RunSettings& settings, ScanPath path, TickFile& ticks,
               const Console& console) {
    const platform::TemporaryFolder folder = platform::temporaryFolder();
    console.progress->begin("counting lines");
    const TickFileResult result = readTickFile(
        settings.fileName, folder.path, ticks, TickFile::kMaxLines,
        [&console](std::uint64_t done, std::uint64_t total) {
            console.progress->advance(done, total);
        },
        path);
    switch (result.status) {
        case TickFileStatus::read:
            return Flow::proceed;
        case TickFileStatus::cannotOpen:
            console.reportError("File Not Found", "-f", settings.fileName);
            return Flow::fail;
        case TickFileStatus::readError:
            // A table cut short by a read error would look complete; print none.
            console.reportError("File Read Error", "-f", settings.fileName);
            return Flow::fail;
        case TickFileStatus::temporaryFileError:
            console.reportError("Temporary File Error", folder.setting, folder.path, result.reason);
            return Flow::fail;
    }
    return Flow::fail;
}

CandleSettings candleSettingsOf(const RunSettings& settings) {
    return {settings.ticksPerCandle, settings.candleLimit, settings.futureCount, settings.emaOffset,
            settings.emaSpan};
}

Flow buildCandles(const TickFile& ticks, const RunSettings& settings, ScanPath path,
                  CandleList& candles, const Console& console) {
    try {
        CandleBuilder builder;
        console.progress->begin("building candles");
        builder.build(
            ticks, candleSettingsOf(settings), candles,
            [&console](std::uint64_t done, std::uint64_t total) {
                console.progress->advance(done, total);
            },
            path);
        return Flow::proceed;
    } catch (const PriceError& error) {
        console.reportError("Price Error", "line " + std::to_string(error.lineNumber()),
                            error.priceText(), error.what());
        return Flow::fail;
    } catch (const TickReadError&) {
        // Unreadable the second time, or no longer holding the lines it was counted with.
        console.reportError("File Read Error", "-f", settings.fileName);
        return Flow::fail;
    }
}

// A reader of a pipe or a terminal sees each line the moment it is complete. A file or the
// null device takes the table in large blocks: the table is whole before its first line is
// written, so nobody can tell the difference, but the write calls are far fewer.
Flow printCandles(const CandleList& candles, const RunSettings& settings, const Console& console) {
    const CsvLayout layout{settings.noHeader == 0, settings.noEma == 0, settings.emaSpan};
    if (!platform::isFileOrNullDevice(console.out)) {
        const bool written = writeCsv(candles, layout, [&console](std::string_view line) {
            return console.writeOutLine(line);
        });
        return written ? Flow::proceed : Flow::fail;
    }
    constexpr std::size_t kBlockSize = std::size_t{1} << 20;
    std::string block;
    block.reserve(kBlockSize + 4096);
    const bool written = writeCsv(candles, layout,
                                  [&console, &block](std::string_view line) {
                                      block.append(line).push_back('\n');
                                      if (block.size() < kBlockSize) {
                                          return true;
                                      }
                                      const bool sent = console.writeOutLines(block);
                                      block.clear();
                                      return sent;
                                  }) &&
                         console.writeOutLines(block);
    return written ? Flow::proceed : Flow::fail;
}

Flow convert(const RunSettings& settings, ScanPath path, const Console& console) {
    TickFile ticks;
    if (readTicks(settings, path, ticks, console) == Flow::fail) {
        return Flow::fail;
    }
    CandleList candles;
    if (buildCandles(ticks, settings, path, candles, console) == Flow::fail) {
        return Flow::fail;
    }
    return printCandles(candles, settings, console);
}

}  // namespace

int runVellumbrook(int argc, char** argv, const Console& given, ScanPath path) {
    // Progress shows on a terminal only: files, pipes and scripts get exactly the same bytes.
    Progress progress(platform::isTerminal(given.err) ? given.err : nullptr, "vellumbrook");
    Console console = given;
    console.progress = &progress;
    RunSettings settings;
    OptionScanner scanner;
    if (processOptions(argc, argv, settings, scanner, console) == Flow::fail) {
        return kFailure;
    }
    // Nothing has been written to standard output when these are thrown: the table is only
    // printed once it is complete.
    try {
        return convert(settings, path, console) == Flow::proceed ? kSuccess : kFailure;
    } catch (const std::bad_alloc&) {
        console.reportError("Memory Error", "-f", settings.fileName, "out of memory");
    } catch (const std::exception& error) {
        console.reportError("Run Error", "-f", settings.fileName, error.what());
    }
    return kFailure;
}

}  // namespace vellumbrook
