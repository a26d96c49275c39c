#include "ticks/fields.hpp"

namespace vellumbrook::ticks {

bool LineFields::splitQuoted(std::string_view line) {
    std::size_t field = 0;
    std::size_t at = 0;
    while (field < fields_.size()) {
        if (at < line.size() && line[at] == '"') {
            std::string& text = unquoted_[field];  // each field's text of its own
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
            fields_[field++] = text;
            at = line.find(layout_.separator, i);
        } else {
            const std::size_t end = std::min(line.find(layout_.separator, at), line.size());
            fields_[field++] = line.substr(at, end - at);
            at = end < line.size() ? end : std::string_view::npos;
        }
        if (at == std::string_view::npos) {
            break;
        }
        ++at;
    }
    return field == fields_.size();
}

}  // namespace vellumbrook::ticks
