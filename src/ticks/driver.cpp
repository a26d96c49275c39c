#include "ticks/driver.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "output/output_file.hpp"
#include "output/progress.hpp"
#include "platform/platform.hpp"
#include "ticks/backward_lines.hpp"
#include "ticks/candle_table.hpp"
#include "ticks/command_line.hpp"
#include "ticks/first_failure.hpp"
#include "ticks/line_rewriter.hpp"
#include "ticks/messages.hpp"
#include "ticks/output_sink.hpp"
#include "ticks/pieces.hpp"
#include "ticks/source.hpp"
#include "ticks/tick_order.hpp"
#include "ticks/tick_reading.hpp"

namespace vellumbrook::ticks {

namespace {

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

Layout layoutFor(const TicksSettings& settings, const Source& first, std::FILE* messages) {
    return settings.layout
               ? *settings.layout
               : recognisedLayout(firstBytes(first, std::size_t{64} << 10), first.name, messages);
}

// How much of a stream is copied before its first lines are looked at: as much as telling
// its layout reads.
constexpr std::size_t kFirstLinesSize = std::size_t{64} << 10;

// Whether the first lines of a stream copied so far fit: each line up to the first that is
// neither blank nor a header is read as a piece of its own, which stops with the message the
// whole run would give. Endless input that is no tick file (a runaway pipe) is then not
// copied until the disk is full.
bool firstLinesFit(const TicksSettings& settings, const Layout& layout, Quote quote,
                   const Source& copied) {
    const std::string bytes = firstBytes(copied, kFirstLinesSize);
    Rewriter rewriter(settings, layout, quote, std::span(&copied, 1));
    Piece piece;
    for (std::size_t from = 0, end = 0; (end = bytes.find('\n', from)) != std::string::npos;
         from = end + 1) {
        piece.reset(0, copied.begin + from, copied.begin + end + 1);
        rewriter.rewrite(piece);
        if (piece.stop) {
            throw Stop{*piece.stop};
        }
        if (piece.counts.ticks + piece.counts.withoutPrice > 0) {
            return true;
        }
    }
    stopWithFile(copied, "its first 64 KiB hold no tick line");
}

// The same file named twice, by one path or by two, would give its ticks twice. The members
// of one zip are one file, named once.
void refuseNamedTwice(const std::vector<Source>& before, const std::vector<Source>& opened) {
    for (const Source& earlier : before) {
        if (!opened.empty() && opened.front().named && earlier.named == opened.front().named) {
            stopWithFile(opened.front(), "is the same file as " + shownName(earlier.name) +
                                             ", named before it; each file is read once");
        }
    }
}

}  // namespace

int rewriteTicks(const TicksSettings& settings, std::FILE* out, std::FILE* messages) {
    // Progress shows on a terminal only: files, pipes and scripts get exactly the same bytes.
    Progress progress(platform::isTerminal(messages) ? messages : nullptr, std::string(kProgram));
    try {
        // The layout is told from the first file, which may be a stream still being copied.
        std::optional<Layout> known = settings.layout;
        const FirstLinesCheck check = [&](const Source& copied) {
            if (copied.end - copied.begin < kFirstLinesSize) {
                return false;
            }
            known = known ? known : layoutFor(settings, copied, messages);
            return firstLinesFit(settings, *known, quoteToRead(settings, *known), copied);
        };
        std::vector<Source> sources;
        for (const std::string& name : settings.files) {
            std::vector<Source> opened = openSources(name, progress, check);
            refuseNamedTwice(sources, opened);
            std::move(opened.begin(), opened.end(), std::back_inserter(sources));
            known = known ? known : layoutFor(settings, sources.front(), messages);
        }
        const Layout layout = *known;
        const Quote quote = quoteToRead(settings, layout);
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
                return [rewriter = std::make_shared<Rewriter>(settings, layout, quote, sources)](
                           Piece& piece) { rewriter->rewrite(piece); };
            });
            std::size_t shownSource = sources.size();
            const auto writeOut = [&](const Piece& piece) {
                const Source& source = sources[piece.sourceIndex];
                if (piece.sourceIndex != shownSource) {
                    shownSource = piece.sourceIndex;
                    progress.begin("reading " + shownName(source.name));
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
                reportCounts(messages, sources[i].name, counts[i]);
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

int runTicksProgram(int argc, char** argv, std::FILE* out, std::FILE* messages,
                    std::uint64_t pieceSize) {
    Command command = readCommandLine(argc, argv);
    if (pieceSize > 0) {
        command.settings.pieceSize = pieceSize;
    }
    switch (command.action) {
        case Command::Action::help:
            std::fputs(helpText().c_str(), out);
            return std::fflush(out) == 0 ? 0 : 1;
        case Command::Action::version:
            std::fprintf(out, "%s\n", kVersion.data());
            return std::fflush(out) == 0 ? 0 : 1;
        case Command::Action::fail:
            say(messages, command.error);
            return 2;
        case Command::Action::rewrite:
            break;
    }
    return command.settings.candles ? writeCandleTable(command.settings, out, messages)
                                    : rewriteTicks(command.settings, out, messages);
}

}  // namespace vellumbrook::ticks
