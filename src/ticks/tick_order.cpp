#include "ticks/tick_order.hpp"

#include "ticks/backward_lines.hpp"
#include "ticks/fields.hpp"

namespace vellumbrook::ticks {

std::string timeTextAt(const Source& source, const Layout& layout, std::uint64_t start) {
    std::string line = lineAt(source.file, start, source.end);
    const std::size_t size = line.size();
    line.append(BackwardLines::kReadableAfterLine, '\0');
    LineFields fields(layout);
    return fields.split(std::string_view(line).substr(0, size)) ? std::string(fields.timeText())
                                                                : std::string();
}

[[noreturn]] void stopOutOfOrder(std::span<const Source> sources, const Layout& layout,
                                 const TickMark& older, const TickMark& newer) {
    const Source& olderSource = sources[older.sourceIndex];
    const Source& newerSource = sources[newer.sourceIndex];
    const std::string olderText = timeTextAt(olderSource, layout, older.start);
    const std::string newerText = timeTextAt(newerSource, layout, newer.start);
    if (older.sourceIndex == newer.sourceIndex) {
        throw stopAtLineOf(newerSource.name, lineNumberOf(newerSource, newer.start),
                           "the time goes back from " + shown(olderText) + " to " +
                               shown(newerText) + "; ticks must run oldest first");
    }
    throw stopAtLineOf(olderSource.name, lineNumberOf(olderSource, older.start),
                       "its last tick " + shown(olderText) + " comes after the first tick " +
                           shown(newerText) + " of " + shownName(newerSource.name) +
                           "; give the files oldest first");
}

}  // namespace vellumbrook::ticks
