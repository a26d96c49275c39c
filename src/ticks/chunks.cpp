#include "ticks/chunks.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <system_error>

#include "platform/platform.hpp"
#include "ticks/messages.hpp"

namespace vellumbrook::ticks {

void ChunkText::assign(std::string_view text) {
    size_ = 0;
    if (!text.empty()) {  // no room may have been made yet
        std::memcpy(room(text.size()), text.data(), text.size());
    }
    size_ = text.size();
}

char* ChunkText::room(std::size_t more) {
    if (capacity_ - size_ < more) {
        const std::size_t capacity = std::max(size_ + more, capacity_ * 2);
        auto bytes = std::make_unique_for_overwrite<char[]>(capacity);
        if (size_ > 0) {
            std::memcpy(bytes.get(), bytes_.get(), size_);
        }
        bytes_ = std::move(bytes);
        capacity_ = capacity;
    }
    return bytes_.get() + size_;
}

Chunks::Chunks(Fill fill, std::size_t readers, std::function<Reader()> makeReader)
    : fill_(std::move(fill)), slots_(2 * std::max<std::size_t>(readers, 1) + 2) {
    threads_.emplace_back([this] { produce(); });
    for (std::size_t i = 0; i < std::max<std::size_t>(readers, 1); ++i) {
        try {
            threads_.emplace_back([this, makeReader] {
                // The chunks are made by one thread and taken by one, each in order, and
                // read by several: the readers give way to the two.
                platform::lowerThreadPriority();
                Reader reader;
                try {
                    reader = makeReader();
                } catch (const std::exception& error) {
                    const std::string why = stopFor(error).message;
                    reader = [why](Chunk& chunk) { chunk.unreadable = why; };
                }
                read(reader);
            });
        } catch (const std::system_error&) {
            if (threads_.size() < 2) {
                cancelled_ = true;
                changed_.notify_all();
                threads_.front().join();
                throw;  // not one reader: the run cannot go on
            }
            break;  // fewer readers do the same work
        }
    }
}

Chunks::~Chunks() {
    {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

void Chunks::produce() {
    for (std::size_t index = 0;; ++index) {
        Slot* slot = nullptr;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return cancelled_ || index < released_ + slots_.size(); });
            if (cancelled_) {
                return;
            }
            slot = &slots_[index % slots_.size()];
        }
        Chunk& chunk = slot->chunk;
        chunk.text.clear();
        chunk.unreadable.reset();
        chunk.startsInput = false;
        bool more = false;
        try {
            more = fill_(chunk);
        } catch (const std::exception& error) {
            chunk.unreadable = stopFor(error).message;
            more = true;
        }
        const std::lock_guard lock(mutex_);
        if (!more) {
            allFilled_ = true;
            changed_.notify_all();
            return;
        }
        slot->index = index;
        slot->state = State::filled;
        filled_ = index + 1;
        changed_.notify_all();
        if (chunk.unreadable) {
            allFilled_ = true;  // nothing is read past a chunk that cannot be read
            return;
        }
    }
}

void Chunks::read(const Reader& reader) {
    for (;;) {
        Slot* slot = nullptr;
        {
            std::unique_lock lock(mutex_);
            const auto next = [&]() -> Slot* {
                Slot* found = nullptr;
                for (Slot& candidate : slots_) {
                    if (candidate.state == State::filled &&
                        (found == nullptr || candidate.index < found->index)) {
                        found = &candidate;
                    }
                }
                return found;
            };
            changed_.wait(lock, [&] {
                return cancelled_ || next() != nullptr || (allFilled_ && released_ >= filled_);
            });
            if (cancelled_ || (next() == nullptr && allFilled_)) {
                return;
            }
            slot = next();
            slot->state = State::reading;
        }
        Chunk& chunk = slot->chunk;
        chunk.lines = 0;
        chunk.ticks.clear();
        chunk.counts = Counts();
        chunk.fault.reset();
        reader(chunk);  // the lines before a part that cannot be read count first
        {
            const std::lock_guard lock(mutex_);
            slot->state = State::read;
        }
        changed_.notify_all();
    }
}

Chunk* Chunks::take(std::size_t index) {
    Slot& slot = slots_[index % slots_.size()];
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] {
        return (slot.state == State::read && slot.index == index) ||
               (allFilled_ && index >= filled_);
    });
    return slot.state == State::read && slot.index == index ? &slot.chunk : nullptr;
}

void Chunks::release(std::size_t index) {
    {
        const std::lock_guard lock(mutex_);
        slots_[index % slots_.size()].state = State::free;
        released_ = index + 1;
    }
    changed_.notify_all();
}

}  // namespace vellumbrook::ticks
