#pragma once

#include <memory>
#include <span>

#include "ticks/layout.hpp"
#include "ticks/pieces.hpp"
#include "ticks/settings.hpp"
#include "ticks/source.hpp"

namespace vellumbrook::ticks {

class LineRewriter;

// Turns the lines of a piece into the converter's input lines "SYMBOL,TIME,PRICE,QUOTE", from
// the last to the first, checking each line and the order of their times. What stops the
// run is kept in the piece. Each thread reads with a rewriter of its own.
class Rewriter {
  public:
    Rewriter(const TicksSettings& settings, const Layout& layout, Quote quote,
             std::span<const Source> sources);
    Rewriter(Rewriter&&) noexcept;
    Rewriter& operator=(Rewriter&&) noexcept;
    ~Rewriter();

    void rewrite(Piece& piece);

  private:
    std::unique_ptr<LineRewriter> lines_;
};

}  // namespace vellumbrook::ticks
