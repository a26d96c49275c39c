#pragma once

#include <span>

#include "ticks/layout.hpp"
#include "ticks/messages.hpp"
#include "ticks/settings.hpp"
#include "ticks/source.hpp"

namespace vellumbrook::ticks {

// The failure that stands first in the files, in their order. Pieces are read from the end,
// so the one found there may have others before it: the files are read again from their
// start, piece by piece, to the first piece that fails (by a line of its own, or by its
// first tick against the piece before), and that piece line by line. `found` is what the
// reading from the end stopped on, which this cannot come after.
Stop firstFailure(const TicksSettings& settings, const Layout& layout, Quote quote,
                  std::span<const Source> sources, const Stop& found);

}  // namespace vellumbrook::ticks
