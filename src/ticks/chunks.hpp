#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "input/tick_line.hpp"
#include "ticks/pieces.hpp"

namespace vellumbrook::ticks {

// Text read straight into its room: unlike a string's, the room is not set to zeros first.
class ChunkText {
  public:
    const char* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::string_view view() const { return {bytes_.get(), size_}; }
    void clear() { size_ = 0; }
    void assign(std::string_view text);
    // Where `more` bytes after the text go; added() counts those that were written.
    char* room(std::size_t more);
    void added(std::size_t count) { size_ += count; }
    void cut(std::size_t size) { size_ = std::min(size, size_); }

  private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// A run of whole lines of one input, read forward, and what reading them gave.
struct Chunk {
    std::size_t input = 0;
    bool startsInput = false;               // its first line is the first line of its input
    ChunkText text;                         // whole lines; 16 more bytes may be read past its end
    std::optional<std::string> unreadable;  // the input cannot be read on from here: the line

    // What a reader of the lines found:
    struct Tick {
        std::int64_t key = 0;
        std::uint32_t line = 0;  // of the chunk, from 1
        std::uint32_t start = 0;
        std::uint32_t size = 0;
        bool isDecimal = false;
        ShortDecimal decimal;
        double price = 0.0;
    };
    std::int64_t lines = 0;
    std::vector<Tick> ticks;
    bool ordered = true;  // no tick's time goes back from the one before it in the chunk
    Counts counts;
    // The first line that cannot be read, after the ticks above: its line in the chunk and
    // what is wrong with it, as the message says it.
    std::optional<std::pair<std::int64_t, std::string>> fault;
};

// Chunks made one after another by `fill` in a thread of its own, read side by side by a few
// threads, each with the reader `makeReader` makes for it, and handed out in order. Only a
// few chunks are held at a time, so that memory stays small whatever the inputs.
class Chunks {
  public:
    // Fills the next chunk (its text, input and flags); false when there is none.
    using Fill = std::function<bool(Chunk&)>;
    using Reader = std::function<void(Chunk&)>;

    Chunks(Fill fill, std::size_t readers, std::function<Reader()> makeReader);
    Chunks(const Chunks&) = delete;
    Chunks& operator=(const Chunks&) = delete;
    ~Chunks();

    // Chunk `index` once it is read, valid until release(); nothing past the last one.
    Chunk* take(std::size_t index);
    void release(std::size_t index);

  private:
    enum class State { free, filled, reading, read };
    struct Slot {
        Chunk chunk;
        State state = State::free;
        std::size_t index = 0;
    };

    void produce();
    void read(const Reader& reader);

    Fill fill_;
    std::vector<Slot> slots_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t filled_ = 0;  // chunks made so far
    bool allFilled_ = false;
    std::size_t released_ = 0;  // chunks before this one are done with
    bool cancelled_ = false;
};

}  // namespace vellumbrook::ticks
