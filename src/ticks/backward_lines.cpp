#include "ticks/backward_lines.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellumbrook::ticks {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// The index of the last LF or CR in bytes[0, size), 16 bytes at a time where it can.
std::size_t lastLineEnd(const char* bytes, std::size_t size) {
#if defined(__SSE2__)
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i carriageReturn = _mm_set1_epi8('\r');
    for (; size >= 16; size -= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + size - 16));
        const auto found = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(chunk, lineFeed), _mm_cmpeq_epi8(chunk, carriageReturn))));
        if (found != 0) {
            return size - 16 + static_cast<std::size_t>(31 - std::countl_zero(found));
        }
    }
#endif
    while (size > 0) {
        --size;
        if (bytes[size] == '\n' || bytes[size] == '\r') {
            return size;
        }
    }
    return kNone;
}

void readExactly(const platform::File& file, char* into, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const std::ptrdiff_t got = platform::readAt(file, into, size, offset);
        if (got <= 0) {
            throw std::runtime_error(got < 0 ? "cannot be read" : "changed while it was read");
        }
        into += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
}

}  // namespace

BackwardLines::BackwardLines(const platform::File& file, std::uint64_t begin, std::uint64_t end,
                             std::size_t blockSize)
    : file_(file),
      begin_(begin),
      blockSize_(std::max(blockSize, std::size_t{1})),
      bufferStart_(end),
      done_(end <= begin) {
    // The line end of the last line ends it; it starts no empty line after it.
    while (cursor_ < 2 && bufferStart_ > begin_) {
        loadEarlier();
    }
    if (cursor_ > 0 && buffer_[cursor_ - 1] == '\n') {
        --cursor_;
    }
    if (cursor_ > 0 && buffer_[cursor_ - 1] == '\r') {
        --cursor_;
    }
}

bool BackwardLines::loadEarlier() {
    const auto block =
        static_cast<std::size_t>(std::min<std::uint64_t>(blockSize_, bufferStart_ - begin_));
    if (block == 0) {
        return false;
    }
    if (buffer_.size() < block + cursor_ + kReadableAfterLine) {
        buffer_.resize(block + cursor_ + kReadableAfterLine);
    }
    std::memmove(buffer_.data() + block, buffer_.data(), cursor_);
    readExactly(file_, buffer_.data(), block, bufferStart_ - block);
    bufferStart_ -= block;
    cursor_ += block;
    return true;
}

bool BackwardLines::previous(std::string_view& line, std::uint64_t& start) {
    if (done_) {
        return false;
    }
    for (;;) {
        const char* data = buffer_.data();
        const std::size_t at = lastLineEnd(data, cursor_);
        // An LF at the front may be the second half of a CR LF: look at the byte before.
        if (at != kNone && !(at == 0 && data[0] == '\n' && loadEarlier())) {
            line = {data + at + 1, cursor_ - at - 1};
            start = bufferStart_ + at + 1;
            cursor_ = at > 0 && data[at] == '\n' && data[at - 1] == '\r' ? at - 1 : at;
            return true;
        }
        if (at == kNone && !loadEarlier()) {
            line = {data, cursor_};
            start = bufferStart_;
            done_ = true;
            return true;
        }
    }
}

namespace {

// Where the first line that starts at `at` or after it starts: after the first line end from
// `at - 1` on (a CR LF ends a line after its LF), or `end`.
std::uint64_t nextLineStart(const platform::File& file, std::uint64_t at, std::uint64_t end) {
    char block[4096];
    bool afterCr = false;
    for (std::uint64_t position = at - 1; position < end;) {
        const auto size =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, end - position));
        readExactly(file, block, size, position);
        for (std::size_t i = 0; i < size; ++i) {
            if (afterCr) {
                return position + i + (block[i] == '\n' ? 1 : 0);
            }
            if (block[i] == '\n') {
                return position + i + 1;
            }
            afterCr = block[i] == '\r';
        }
        position += size;
    }
    return end;
}

}  // namespace

std::vector<std::uint64_t> pieceStarts(const platform::File& file, std::uint64_t begin,
                                       std::uint64_t end, std::uint64_t size) {
    std::vector<std::uint64_t> starts{begin};
    size = std::max<std::uint64_t>(size, 1);
    for (std::uint64_t at = begin + size; at < end;) {
        const std::uint64_t start = nextLineStart(file, at, end);
        if (start >= end) {
            break;
        }
        starts.push_back(start);
        at = start + size;
    }
    starts.push_back(end);
    return starts;
}

std::string lineAt(const platform::File& file, std::uint64_t offset, std::uint64_t end) {
    std::string line;
    char block[4096];
    while (offset < end) {
        const auto size =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, end - offset));
        readExactly(file, block, size, offset);
        const char* const stop =
            std::find_if(block, block + size, [](char c) { return c == '\n' || c == '\r'; });
        line.append(block, static_cast<std::size_t>(stop - block));
        if (stop != block + size) {
            break;
        }
        offset += size;
    }
    return line;
}

std::int64_t lineNumberAt(const platform::File& file, std::uint64_t begin, std::uint64_t offset) {
    std::vector<char> block(BackwardLines::kBlockSize);
    std::int64_t number = 1;
    bool pendingCr = false;  // a CR is a line end of its own unless an LF follows it
    for (std::uint64_t at = begin; at < offset;) {
        const auto size =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), offset - at));
        readExactly(file, block.data(), size, at);
        for (std::size_t i = 0; i < size; ++i) {
            const char c = block[i];
            number += pendingCr && c != '\n' ? 1 : 0;
            pendingCr = c == '\r';
            number += c == '\n' ? 1 : 0;
        }
        at += size;
    }
    return number + (pendingCr ? 1 : 0);
}

}  // namespace vellumbrook::ticks
