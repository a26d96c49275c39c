#include "ticks/fields.hpp"

namespace vellumbrook::ticks {

bool LineFields::splitQuoted(std::string_view line) {
    unclosedQuote_ = false;
    std::size_t field = 0;
    std::string scratch;  // the text of a field beyond those wanted, which nobody keeps
    // Every field of the line is walked, those the layout does not use too, so that a quote
    // left open anywhere is found.
    for (std::size_t at = 0;;) {
        const bool wanted = field < fields_.size();
        if (at < line.size() && line[at] == '"') {
            std::string& text = wanted ? unquoted_[field] : scratch;  // each its own text
            text.clear();
            std::size_t i = at + 1;
            for (; i < line.size(); ++i) {
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        text += '"';
                        ++i;
                        continue;
                    }
                    break;
                }
                text += line[i];
            }
            if (i >= line.size()) {
                unclosedQuote_ = true;
                return false;
            }
            if (wanted) {
                fields_[field] = unquoted_[field];
            }
            at = line.find(layout_.separator, i);
        } else {
            const std::size_t end = std::min(line.find(layout_.separator, at), line.size());
            if (wanted) {
                fields_[field] = line.substr(at, end - at);
            }
            at = end < line.size() ? end : std::string_view::npos;
        }
        ++field;
        if (at == std::string_view::npos) {
            break;
        }
        ++at;
    }
    return field >= fields_.size();
}

}  // namespace vellumbrook::ticks
