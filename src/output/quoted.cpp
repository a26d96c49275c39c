#include "output/quoted.hpp"

namespace vellumbrook::output {

std::size_t utf8Length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t length = lead < 0xc2   ? 0
                               : lead < 0xe0 ? 2
                               : lead < 0xf0 ? 3
                               : lead < 0xf5 ? 4
                                             : 0;
    if (length == 0 || text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80) {
            return 0;
        }
    }
    // No overlong forms, no surrogates, nothing beyond U+10FFFF.
    const unsigned char second = byte(1);
    if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second >= 0xa0) ||
        (lead == 0xf0 && second < 0x90) || (lead == 0xf4 && second >= 0x90)) {
        return 0;
    }
    return length;
}

std::string readableText(std::string_view text) {
    std::string shown;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte < 0x80 ? 1 : utf8Length(text.substr(i));
        if (byte < 0x20 || byte == 0x7f) {
            shown += ' ';
        } else if (length == 0) {
            shown += "\xef\xbf\xbd";  // U+FFFD, as a browser shows a byte that is no UTF-8
        } else {
            shown.append(text.substr(i, length));
        }
        i += length == 0 ? 1 : length;
    }
    return shown;
}

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
