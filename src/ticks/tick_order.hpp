#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "ticks/layout.hpp"
#include "ticks/pieces.hpp"
#include "ticks/source.hpp"

namespace vellumbrook::ticks {

// The time text of the line that starts at `start`, for a message.
std::string timeTextAt(const Source& source, const Layout& layout, std::uint64_t start);

// Throws the one line that says why `older`, read after `newer`, may not have a later time.
[[noreturn]] void stopOutOfOrder(std::span<const Source> sources, const Layout& layout,
                                 const TickMark& older, const TickMark& newer);

// Stops with the one line that says why, when `older`, read after `newer`, has a later time.
inline void checkOrder(std::span<const Source> sources, const Layout& layout, const TickMark& older,
                       const TickMark& newer) {
    if (older.key > newer.key) {
        stopOutOfOrder(sources, layout, older, newer);
    }
}

}  // namespace vellumbrook::ticks
