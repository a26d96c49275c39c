#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

namespace vellumbrook {

// The lines of the tick file, in file order, without their line ends. Tick files run to tens
// of millions of short lines, so the text is packed into a few large blocks instead of one
// allocation per line; a line never straddles two blocks.
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
        const_iterator(const TickLines* lines, std::size_t block, std::size_t line)
            : lines_(lines), block_(block), line_(line) {}
        const TickLines* lines_ = nullptr;
        std::size_t block_ = 0;
        std::size_t line_ = 0;
    };

    explicit TickLines(std::size_t blockSize = kDefaultBlockSize) : blockSize_(blockSize) {}

    void clear();
    // Copies the line in. Returns false, keeping nothing, once kMaxLines lines are held.
    bool append(std::string_view line);

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    const_iterator begin() const { return {this, 0, 0}; }
    const_iterator end() const { return {this, blocks_.size(), 0}; }

    // Bytes reserved for text, for memory accounting in tests and benchmarks.
    std::size_t reservedBytes() const;

  private:
    static constexpr std::size_t kDefaultBlockSize = std::size_t{8} << 20;

    struct FreeText {
        void operator()(char* text) const;
    };
    struct Block {
        std::unique_ptr<char, FreeText> text;
        std::size_t capacity = 0;
        std::size_t used = 0;
        std::vector<std::size_t> lineEnds;  // offset just past each line
    };

    Block& blockWithRoomFor(std::size_t length);
    static void closeBlock(Block& block);

    std::size_t blockSize_;
    std::vector<Block> blocks_;
    std::size_t count_ = 0;
};

}  // namespace vellumbrook
