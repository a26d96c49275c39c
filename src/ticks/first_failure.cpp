#include "ticks/first_failure.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "ticks/backward_lines.hpp"
#include "ticks/line_rewriter.hpp"
#include "ticks/pieces.hpp"
#include "ticks/tick_order.hpp"

namespace vellumbrook::ticks {

Stop firstFailure(const TicksSettings& settings, const Layout& layout, Quote quote,
                  std::span<const Source> sources, const Stop& found) {
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
                        return stopInFile(
                            source.name,
                            "runs newest first, from " +
                                shown(timeTextAt(source, layout, before->start)) + " down to " +
                                shown(timeTextAt(source, layout, (third ? *third : second).start)) +
                                "; give its ticks oldest first, as the sources publish them");
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

}  // namespace vellumbrook::ticks
