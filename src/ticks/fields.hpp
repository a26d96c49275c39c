#pragma once

#include <algorithm>
#include <bit>
#include <string>
#include <string_view>
#include <vector>

#include "ticks/layout.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellumbrook::ticks {

// A line of blanks and tabs only.
inline bool isBlank(std::string_view line) {
    for (const char c : line) {
        if (c != ' ' && c != '\t') {
            return false;
        }
    }
    return true;
}

// `text` without blanks and tabs around it.
inline std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
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

    // Whether the last line split failed on a quote that is never closed (with --quoted).
    bool unclosedQuote() const { return unclosedQuote_; }

    // Cuts `line` into its first wanted() fields; false when it has fewer, or when a quoted
    // field anywhere in it is never closed. The line may be
    // read up to BackwardLines::kReadableAfterLine bytes past its end.
    bool split(std::string_view line) {
        if (layout_.quoted) {
            return splitQuoted(line);
        }
        const std::size_t wanted = fields_.size();
        std::string_view* const fields = fields_.data();  // kept in a register, not reloaded
        const char* const text = line.data();
        const std::size_t size = line.size();
        std::size_t field = 0;
        std::size_t fieldStart = 0;
#if defined(__SSE2__)
        // Sixteen bytes at a time: each bit of the mask is a separator.
        const __m128i separator = _mm_set1_epi8(layout_.separator);
        for (std::size_t base = 0; base < size && field < wanted; base += 16) {
            auto found = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + base)), separator)));
            if (size - base < 16) {
                found &= (1U << (size - base)) - 1;
            }
            for (; found != 0 && field < wanted; found &= found - 1) {
                const std::size_t at = base + static_cast<std::size_t>(std::countr_zero(found));
                fields[field++] = {text + fieldStart, at - fieldStart};
                fieldStart = at + 1;
            }
        }
#else
        for (std::size_t at = 0; at < size && field < wanted; ++at) {
            if (text[at] == layout_.separator) {
                fields[field++] = {text + fieldStart, at - fieldStart};
                fieldStart = at + 1;
            }
        }
#endif
        if (field < wanted) {  // the last field runs to the end of the line
            fields[field++] = line.substr(std::min(fieldStart, size));  // may be empty
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
    bool splitQuoted(std::string_view line);

    const Layout& layout_;
    std::vector<std::string_view> fields_;
    std::vector<std::string> unquoted_;
    std::string joinedTime_;
    bool unclosedQuote_ = false;
};

}  // namespace vellumbrook::ticks
