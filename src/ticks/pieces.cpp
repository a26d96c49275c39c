#include "ticks/pieces.hpp"

#include <algorithm>
#include <exception>
#include <string>
#include <system_error>

#include "ticks/messages.hpp"

namespace vellumbrook::ticks {

Pieces::Pieces(std::vector<Task> tasks, std::size_t threads, std::function<Reader()> makeReader)
    : tasks_(std::move(tasks)), slots_(2 * std::max<std::size_t>(threads, 1)) {
    threads = std::clamp<std::size_t>(threads, 1, std::max<std::size_t>(tasks_.size(), 1));
    for (std::size_t i = 0; i < threads; ++i) {
        try {
            threads_.emplace_back([this, makeReader] {
                Reader read;
                try {
                    read = makeReader();
                } catch (const std::exception& error) {
                    const std::string why = stopFor(error).message;
                    read = [why](Piece& piece) { piece.stop = why; };
                }
                work(read);
            });
        } catch (const std::system_error&) {
            if (threads_.empty()) {
                throw;  // not one thread: the run cannot go on
            }
            break;  // fewer threads than asked for do the same work
        }
    }
}

Pieces::~Pieces() {
    {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

Piece& Pieces::take(std::size_t index) {
    Slot& slot = slots_[index % slots_.size()];
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return slot.ready; });
    return slot.piece;
}

void Pieces::release(std::size_t index) {
    {
        const std::lock_guard lock(mutex_);
        slots_[index % slots_.size()].ready = false;
        released_ = index + 1;
    }
    changed_.notify_all();
}

void Pieces::work(const Reader& read) {
    for (;;) {
        std::size_t index = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] {
                return cancelled_ || next_ == tasks_.size() || next_ < released_ + slots_.size();
            });
            if (cancelled_ || next_ == tasks_.size()) {
                return;
            }
            index = next_++;
        }
        Slot& slot = slots_[index % slots_.size()];
        const Task& task = tasks_[index];
        slot.piece.reset(task.sourceIndex, task.begin, task.end);
        read(slot.piece);
        {
            const std::lock_guard lock(mutex_);
            slot.ready = true;
        }
        changed_.notify_all();
    }
}

}  // namespace vellumbrook::ticks
