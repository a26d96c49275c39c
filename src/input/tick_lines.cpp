#include "input/tick_lines.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vellumbrook {

std::string_view TickLines::const_iterator::operator*() const {
    const Block& block = lines_->blocks_[block_];
    const std::size_t start = line_ == 0 ? 0 : block.lineEnds[line_ - 1];
    return {block.text.get() + start, block.lineEnds[line_] - start};
}

TickLines::const_iterator& TickLines::const_iterator::operator++() {
    ++line_;
    // Blocks are never left empty, so stepping past a block's last line lands on a line.
    if (line_ == lines_->blocks_[block_].lineEnds.size()) {
        ++block_;
        line_ = 0;
    }
    return *this;
}

void TickLines::FreeText::operator()(char* text) const {
    std::free(text);
}

// A block that a long line could not fit into gives its unused tail back, so that a file of
// lines just over half a block long does not cost twice its size.
void TickLines::closeBlock(Block& block) {
    block.lineEnds.shrink_to_fit();
    if (block.capacity - block.used > block.capacity / 8 && block.used > 0) {
        if (void* shrunk = std::realloc(block.text.get(), block.used)) {
            (void)block.text.release();
            block.text.reset(static_cast<char*>(shrunk));
            block.capacity = block.used;
        }
    }
}

void TickLines::clear() {
    blocks_.clear();
    count_ = 0;
}

TickLines::Block& TickLines::blockWithRoomFor(std::size_t length) {
    if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < length) {
        if (!blocks_.empty()) {
            closeBlock(blocks_.back());
        }
        Block block;
        block.capacity = std::max(blockSize_, length);
        block.text.reset(static_cast<char*>(std::malloc(std::max<std::size_t>(block.capacity, 1))));
        if (!block.text) {
            throw std::bad_alloc();
        }
        blocks_.push_back(std::move(block));
    }
    return blocks_.back();
}

bool TickLines::append(std::string_view line) {
    if (count_ >= kMaxLines) {
        return false;
    }
    Block& block = blockWithRoomFor(line.size());
    if (!line.empty()) {
        std::memcpy(block.text.get() + block.used, line.data(), line.size());
    }
    block.used += line.size();
    block.lineEnds.push_back(block.used);
    ++count_;
    return true;
}

std::size_t TickLines::reservedBytes() const {
    std::size_t bytes = 0;
    for (const Block& block : blocks_) {
        bytes += block.capacity + block.lineEnds.capacity() * sizeof(std::size_t);
    }
    return bytes;
}

}  // namespace vellumbrook
