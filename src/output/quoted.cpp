#include "output/quoted.hpp"

namespace vellumbrook::output {

std::string quoted(std::string_view text) {
    constexpr std::size_t kShown = 200;
    constexpr char kHex[] = "0123456789abcdef";
    std::string shown = "'";
    for (const char c : text.substr(0, kShown)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 15];
        } else {
            shown += c;
        }
    }
    return shown + (text.size() > kShown ? "'..." : "'");
}

}  // namespace vellumbrook::output
