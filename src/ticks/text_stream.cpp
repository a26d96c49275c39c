#include "ticks/text_stream.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace vellumbrook::ticks {

namespace {

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xe0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

}  // namespace

void Utf16Decoder::decode(const char* bytes, std::size_t size, std::string& out) {
    for (std::size_t i = 0; i < size; ++i) {
        const int byte = static_cast<unsigned char>(bytes[i]);
        if (carried_ < 0) {
            carried_ = byte;
            continue;
        }
        const auto unit = static_cast<std::uint32_t>(bigEndian_ ? (carried_ << 8) | byte
                                                                : (byte << 8) | carried_);
        carried_ = -1;
        if (unit >= 0xd800 && unit < 0xdc00) {
            if (highSurrogate_ != 0) {
                appendUtf8(out, 0xfffd);
            }
            highSurrogate_ = unit;
        } else if (unit >= 0xdc00 && unit < 0xe000) {
            appendUtf8(out, highSurrogate_ != 0
                                ? 0x10000 + ((highSurrogate_ - 0xd800) << 10) + (unit - 0xdc00)
                                : 0xfffd);
            highSurrogate_ = 0;
        } else {
            if (highSurrogate_ != 0) {
                appendUtf8(out, 0xfffd);
                highSurrogate_ = 0;
            }
            appendUtf8(out, unit);
        }
    }
}

namespace {

// The state of textOf(): the first bytes looked at, then UTF-8 passed on or UTF-16 decoded.
struct TextState {
    ReadBytes bytes;
    std::function<void()> refuse;
    bool started = false;
    std::optional<Utf16Decoder> utf16;
    std::string pending;  // bytes ready to hand out
    std::size_t pendingAt = 0;
    std::vector<char> block;

    std::size_t read(char* into, std::size_t size) {
        if (!started) {
            start();
        }
        while (pendingAt == pending.size()) {
            pending.clear();
            pendingAt = 0;
            if (!utf16) {
                return bytes(into, size);
            }
            const std::size_t got = bytes(block.data(), block.size());
            if (got == 0) {
                return 0;
            }
            utf16->decode(block.data(), got, pending);
        }
        const std::size_t given = std::min(size, pending.size() - pendingAt);
        std::memcpy(into, pending.data() + pendingAt, given);
        pendingAt += given;
        return given;
    }

    // Reads the first 4 KiB (or all there is) to tell what the text is.
    void start() {
        started = true;
        std::string first(std::size_t{4} << 10, '\0');
        std::size_t got = 0;
        while (got < first.size()) {
            const std::size_t more = bytes(first.data() + got, first.size() - got);
            if (more == 0) {
                break;
            }
            got += more;
        }
        first.resize(got);
        std::string_view view = first;
        if (view.starts_with("\xff\xfe") || view.starts_with("\xfe\xff")) {
            utf16.emplace(view[0] == '\xfe');
            block.resize(std::size_t{64} << 10);
            utf16->decode(first.data() + 2, first.size() - 2, pending);
            return;
        }
        if (view.starts_with("\xef\xbb\xbf")) {
            view.remove_prefix(3);
        }
        if (view.substr(0, view.find('\n')).find('\0') != std::string_view::npos) {
            refuse();
        }
        pending.assign(view);
    }
};

}  // namespace

ReadBytes textOf(ReadBytes bytes, std::function<void()> refuse) {
    auto state = std::make_shared<TextState>();
    state->bytes = std::move(bytes);
    state->refuse = std::move(refuse);
    return [state](char* into, std::size_t size) { return state->read(into, size); };
}

std::string_view PeekedText::ahead(std::size_t most) {
    std::vector<char> block(std::size_t{64} << 10);
    while (read_.size() - at_ < most) {
        const std::size_t got = text_(block.data(), std::min(block.size(), most));
        if (got == 0) {
            break;
        }
        read_.append(block.data(), got);
    }
    return std::string_view(read_).substr(at_, most);
}

std::size_t PeekedText::readOn(char* into, std::size_t size) {
    if (at_ < read_.size()) {
        const std::size_t given = std::min(size, read_.size() - at_);
        std::memcpy(into, read_.data() + at_, given);
        at_ += given;
        if (at_ == read_.size()) {
            read_ = std::string();
            at_ = 0;
        }
        return given;
    }
    return text_(into, size);
}

}  // namespace vellumbrook::ticks
