#include "input/tick_lines.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vellumbrook {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Large blocks are aligned to huge pages and offered to the kernel as such: filling fresh
// memory a 4 KiB page fault at a time costs more than reading the file.
char* allocateText(std::size_t bytes) {
    char* text = nullptr;
    if (bytes >= kHugePage) {
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        text = static_cast<char*>(std::aligned_alloc(kHugePage, rounded));
        if (text != nullptr) {
            (void)::madvise(text, rounded, MADV_HUGEPAGE);
        }
    } else {
        text = static_cast<char*>(std::malloc(std::max<std::size_t>(bytes, 1)));
    }
    if (text == nullptr) {
        throw std::bad_alloc();
    }
    return text;
}

}  // namespace

std::string_view TickLines::const_iterator::operator*() const {
    const Block& block = lines_->blocks_[block_];
    const std::size_t end = static_cast<std::size_t>(block.lineEnds[line_] & kOffsetMask);
    return {block.text.get() + start_, end - start_};
}

TickLines::const_iterator& TickLines::const_iterator::operator++() {
    const Block& block = lines_->blocks_[block_];
    start_ = nextStart(block.lineEnds[line_]);
    ++line_;
    // Blocks without lines are never kept, so stepping past a block's last line lands on a
    // line or on the end.
    if (line_ == block.lineEnds.size()) {
        ++block_;
        line_ = 0;
        start_ = 0;
    }
    return *this;
}

void TickLines::FreeText::operator()(char* text) const {
    std::free(text);
}

void TickLines::clear() {
    blocks_.clear();
    count_ = 0;
}

void TickLines::startBlock(std::size_t capacity) {
    if (!blocks_.empty()) {
        closeBlock(blocks_.back());
    }
    Block block;
    block.capacity = capacity;
    block.text.reset(allocateText(capacity));
    blocks_.push_back(std::move(block));
}

// A closed block gives its unused tail back, so that a file of lines just over half a block
// long does not cost twice its size.
void TickLines::closeBlock(Block& block) {
    block.lineEnds.shrink_to_fit();
    if (block.used > 0 && block.capacity - block.used > block.capacity / 8) {
        if (void* shrunk = std::realloc(block.text.get(), block.used)) {
            (void)block.text.release();
            block.text.reset(static_cast<char*>(shrunk));
            block.capacity = block.used;
        }
    }
}

char* TickLines::room(std::size_t pendingBytes, std::size_t wanted, std::size_t& available) {
    if (blocks_.empty()) {
        startBlock(std::max(blockSize_, wanted));
    }
    Block* block = &blocks_.back();
    if (block->capacity - block->used - pendingBytes < wanted) {
        const std::size_t needed = pendingBytes + wanted;
        if (block->lineEnds.empty()) {
            // Only the unfinished line is here: grow the block itself, doubling, so that a
            // very long line costs amortised linear time.
            const std::size_t grown = std::max({blockSize_, needed, block->capacity * 2});
            auto* text = static_cast<char*>(std::realloc(block->text.get(), grown));
            if (text == nullptr) {
                throw std::bad_alloc();
            }
            (void)block->text.release();
            block->text.reset(text);
            block->capacity = grown;
        } else {
            const char* pending = block->text.get() + block->used;
            Block fresh;
            fresh.capacity = std::max(blockSize_, needed);
            fresh.text.reset(allocateText(fresh.capacity));
            if (pendingBytes > 0) {
                std::memcpy(fresh.text.get(), pending, pendingBytes);
            }
            closeBlock(*block);
            blocks_.push_back(std::move(fresh));
            block = &blocks_.back();
        }
    }
    available = block->capacity - block->used - pendingBytes;
    return block->text.get() + block->used + pendingBytes;
}

void TickLines::addLine(std::size_t length, std::size_t endLength) {
    Block& block = blocks_.back();
    block.lineEnds.push_back(static_cast<std::uint64_t>(block.used + length) |
                             (static_cast<std::uint64_t>(endLength) << kEndShift));
    block.used += length + endLength;
    ++count_;
}

bool TickLines::append(std::string_view line) {
    if (full()) {
        return false;
    }
    std::size_t available = 0;
    char* at = room(0, line.size(), available);
    if (!line.empty()) {
        std::memcpy(at, line.data(), line.size());
    }
    addLine(line.size(), 0);
    return true;
}

}  // namespace vellumbrook
