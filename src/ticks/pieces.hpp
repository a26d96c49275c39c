#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vellumbrook::ticks {

struct Counts {
    std::int64_t ticks = 0;
    std::int64_t blank = 0;
    std::int64_t headers = 0;
    std::int64_t withoutPrice = 0;

    Counts& operator+=(const Counts& other) {
        ticks += other.ticks;
        blank += other.blank;
        headers += other.headers;
        withoutPrice += other.withoutPrice;
        return *this;
    }
};

// A tick written, as the order check needs it.
struct TickMark {
    std::int64_t key = 0;
    std::uint64_t start = 0;  // where its line starts
    std::size_t sourceIndex = 0;
};

// Output bytes made in memory, written at a pointer.
class OutputBytes {
  public:
    // Room for `size` more bytes, to be written at the pointer and then handed to written().
    char* room(std::size_t size) {
        if (used_ + size > bytes_.size()) {
            bytes_.resize(std::max(bytes_.size() * 2, used_ + size));
        }
        return bytes_.data() + used_;
    }
    void written(const char* end) { used_ = static_cast<std::size_t>(end - bytes_.data()); }
    std::string_view view() const { return {bytes_.data(), used_}; }
    void clear() { used_ = 0; }

  private:
    std::vector<char> bytes_;
    std::size_t used_ = 0;
};

// One piece of a source, whole lines, and what reading it gave.
struct Piece {
    std::size_t sourceIndex = 0;
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    OutputBytes output;  // its ticks, newest first
    Counts counts;
    std::optional<TickMark> newest;   // the first tick written
    std::optional<TickMark> oldest;   // the last one
    std::optional<std::string> stop;  // the line that ends the run, after the ticks above
    std::uint64_t unread = 0;  // bytes [begin, unread) were not read: the output grew too big

    void reset(std::size_t source, std::uint64_t from, std::uint64_t to) {
        sourceIndex = source;
        begin = from;
        end = to;
        output.clear();
        counts = Counts();
        newest.reset();
        oldest.reset();
        stop.reset();
        unread = from;
    }
};

// Reads the pieces side by side, a few threads each taking the next piece, and hands them
// out in order, newest first. At most a few pieces wait to be written, so that memory stays
// small whatever the size of the files.
class Pieces {
  public:
    struct Task {
        std::size_t sourceIndex;
        std::uint64_t begin;
        std::uint64_t end;
    };

    using Reader = std::function<void(Piece&)>;

    // Starts `threads` threads, each with the reader that `makeReader` makes in that thread
    // (so that what each one writes on every line lies apart from the others' memory); a
    // reader fills in the piece it is given.
    Pieces(std::vector<Task> tasks, std::size_t threads, std::function<Reader()> makeReader);
    Pieces(const Pieces&) = delete;
    Pieces& operator=(const Pieces&) = delete;
    ~Pieces();

    std::size_t size() const { return tasks_.size(); }

    // The piece `index`, once it is read; valid until release().
    Piece& take(std::size_t index);

    // Piece `index` is done with: its room may take a later piece.
    void release(std::size_t index);

  private:
    struct Slot {
        Piece piece;
        bool ready = false;
    };

    void work(const Reader& read);

    std::vector<Task> tasks_;
    std::vector<Slot> slots_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;      // the next task to read
    std::size_t released_ = 0;  // the pieces before this one are written
    bool cancelled_ = false;
};

}  // namespace vellumbrook::ticks
