#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

namespace vellumbrook {

// The lines of the tick file, in file order, without their line ends. Tick files run to tens
// of millions of short lines, so the text stays in a few large blocks, read into them in
// place, instead of one allocation per line; a line never straddles two blocks.
class TickLines {
  public:
    static constexpr std::size_t kMaxLines = 2147483647;

    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = const std::string_view*;
        using reference = std::string_view;

        const_iterator() = default;
        std::string_view operator*() const;
        const_iterator& operator++();
        const_iterator operator++(int) {
            const_iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const const_iterator& other) const {
            return block_ == other.block_ && line_ == other.line_;
        }

      private:
        friend class TickLines;
        const_iterator(const TickLines* lines, std::size_t block) : lines_(lines), block_(block) {}
        const TickLines* lines_ = nullptr;
        std::size_t block_ = 0;
        std::size_t line_ = 0;
        std::size_t start_ = 0;  // offset of the line in its block
    };

    explicit TickLines(std::size_t blockSize = kDefaultBlockSize, std::size_t maxLines = kMaxLines)
        : blockSize_(blockSize), maxLines_(maxLines) {}

    void clear();
    bool full() const { return count_ >= maxLines_; }
    // Copies a line in. Returns false, keeping nothing, once the most lines are held.
    bool append(std::string_view line);

    // Reading in place. The text of the unfinished last line, `pendingBytes` long, stands at
    // the end of the last block; room() makes space for at least `wanted` more bytes behind
    // it (moving the unfinished text into a new block when needed) and returns where they go.
    // addLine() then closes a line of `length` bytes that starts with the unfinished text,
    // followed in the block by its line end of `endLength` bytes (0, 1 or 2).
    char* room(std::size_t pendingBytes, std::size_t wanted, std::size_t& available);
    void addLine(std::size_t length, std::size_t endLength);

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    const_iterator begin() const { return count_ == 0 ? end() : const_iterator{this, 0}; }
    // The last block may hold only the start of an unfinished line, and no line yet.
    const_iterator end() const {
        return {this, blocks_.size() - (!blocks_.empty() && blocks_.back().lineEnds.empty())};
    }

  private:
    static constexpr std::size_t kDefaultBlockSize = std::size_t{8} << 20;
    // Each entry holds a line's end offset and, in its top bits, the length of the line end
    // that follows it, which is where the next line starts.
    static constexpr int kEndShift = 62;
    static constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kEndShift) - 1;

    struct FreeText {
        void operator()(char* text) const;
    };
    struct Block {
        std::unique_ptr<char, FreeText> text;
        std::size_t capacity = 0;
        std::size_t used = 0;  // bytes of closed lines and their line ends
        std::vector<std::uint64_t> lineEnds;
    };

    static std::size_t nextStart(std::uint64_t entry) {
        return static_cast<std::size_t>((entry & kOffsetMask) + (entry >> kEndShift));
    }
    void startBlock(std::size_t capacity);
    static void closeBlock(Block& block);

    std::size_t blockSize_;
    std::size_t maxLines_;
    std::vector<Block> blocks_;
    std::size_t count_ = 0;
};

}  // namespace vellumbrook
