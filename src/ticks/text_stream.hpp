#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ticks/compressed.hpp"

namespace vellumbrook::ticks {

// UTF-16 code units, in blocks of any size, as UTF-8; a unit without its pair becomes U+FFFD.
class Utf16Decoder {
  public:
    explicit Utf16Decoder(bool bigEndian) : bigEndian_(bigEndian) {}
    void decode(const char* bytes, std::size_t size, std::string& out);

  private:
    bool bigEndian_;
    std::uint32_t highSurrogate_ = 0;
    int carried_ = -1;  // an odd byte left from the block before
};

// The text of a stream as UTF-8: a UTF-8 byte order mark is passed over, UTF-16 told by its
// mark is made UTF-8. `refuse` is called with the first bytes when the first line holds NUL
// bytes (UTF-16 without its mark, or no text at all).
ReadBytes textOf(ReadBytes bytes, std::function<void()> refuse);

// A stream of text whose first bytes can be looked at before it is read on: telling a
// layout reads its first 64 KiB, which are then read again as the rest is.
class PeekedText {
  public:
    explicit PeekedText(ReadBytes text) : text_(std::move(text)) {}

    // Up to `most` bytes from where the stream stands, read now if need be.
    std::string_view ahead(std::size_t most);

    // The next bytes of the stream: what ahead() read first.
    std::size_t readOn(char* into, std::size_t size);

  private:
    ReadBytes text_;
    std::string read_;  // read by ahead() and not yet handed on
    std::size_t at_ = 0;
};

}  // namespace vellumbrook::ticks
