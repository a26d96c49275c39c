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

// Hands out the lines of a stream from the first to the last, as they are read, in a buffer
// of bounded size. LF, CR LF and a CR alone each end a line; a line end at the very end adds
// no empty line.
class ForwardLines {
  public:
    // Bytes that may be read past the end of a line handed out, for scanning it in wide steps.
    static constexpr std::size_t kReadableAfterLine = 16;
    // No tick line is this long: a longer one is refused rather than held.
    static constexpr std::size_t kLongestLine = std::size_t{8} << 20;

    explicit ForwardLines(ReadBytes text, std::size_t blockSize = std::size_t{256} << 10);

    // The next line without its line end, valid until the next call; false at the end. Throws
    // std::length_error for a line longer than kLongestLine, and what reading throws.
    bool next(std::string_view& line);

    // The number of the last line handed out, from 1.
    std::int64_t lineNumber() const { return lineNumber_; }

    // Up to `most` bytes ahead of the lines handed out, read now if need be.
    std::string_view ahead(std::size_t most);

    // The bytes not handed out as lines, as a stream: what ahead() read first.
    std::size_t readOn(char* into, std::size_t size);

  private:
    bool readMore();  // false at the end of the stream

    ReadBytes text_;
    std::size_t blockSize_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;  // the bytes not handed out: [begin_, end_)
    std::size_t end_ = 0;
    bool ended_ = false;
    std::int64_t lineNumber_ = 0;
};

}  // namespace vellumbrook::ticks
