#include "output/quoted.hpp"

namespace vellumbrook::output {

std::string escaped(std::string_view text) {
    constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 15];
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string quoted(std::string_view text) {
    constexpr std::size_t kShown = 200;
    std::string shown = "'";
    shown += escaped(text.substr(0, kShown));
    shown += text.size() > kShown ? "'..." : "'";
    return shown;
}

}  // namespace vellumbrook::output
