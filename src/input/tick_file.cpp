#include "input/tick_file.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vellumbrook {

namespace {

constexpr char kEndOfData = '\x1a';

}  // namespace

LineReader::LineReader(const platform::File& source, bool rereadable, const platform::File* copyTo,
                       std::size_t bufferSize, ScanPath path)
    : source_(source),
      rereadable_(rereadable),
      copyTo_(copyTo),
      buffer_(std::max(bufferSize, std::size_t{1}) + kBlockSlack),
      countLineFeeds_(counterFor(path)) {}

LineReader::LineReader(const TickFile& ticks, std::size_t bufferSize, ScanPath path)
    : source_(ticks.file),
      rereadable_(true),
      secondPass_(true),
      byteLimit_(ticks.byteCount),
      buffer_(std::max(bufferSize, std::size_t{1}) + kBlockSlack),
      classify_(classifierFor(path)),
      masks_(kRunBlocks + 1) {
    at_.linesLeft = ticks.lineCount;
}

std::size_t LineReader::readSome(char* into, std::size_t room) {
    const std::ptrdiff_t got = rereadable_ ? platform::readAt(source_, into, room, consumed_)
                                           : platform::readNext(source_, into, room);
    if (got < 0) {
        throw TickReadError("the tick file cannot be read");
    }
    std::string reason;
    if (copyTo_ != nullptr &&
        !platform::writeAt(*copyTo_, {into, static_cast<std::size_t>(got)}, consumed_, reason)) {
        throw CopyError(reason);
    }
    return static_cast<std::size_t>(got);
}

// Reads more bytes behind the unfinished line, which is moved to the front first. False when
// the data has ended and nothing more came.
bool LineReader::fill() {
    if (ended_) {
        return false;
    }
    if (at_.begin > 0) {
        std::memmove(buffer_.data(), buffer_.data() + at_.begin, end_ - at_.begin);
        scan_ -= at_.begin;
        end_ -= at_.begin;
        at_.begin = 0;
    }
    if (end_ == capacity()) {
        buffer_.resize(capacity() * 2 + kBlockSlack);  // one line fills the whole buffer
    }
    const std::size_t room = static_cast<std::size_t>(
        std::min<std::uint64_t>(capacity() - end_, byteLimit_ - consumed_));
    std::size_t got = room == 0 ? 0 : readSome(buffer_.data() + end_, room);
    if (got == 0) {
        // Reading runs ahead of the lines asked for, so a file that ends early is an error
        // only once a line is asked for that it no longer holds.
        ended_ = true;
        shrunk_ = secondPass_ && consumed_ < byteLimit_;
        return false;
    }
    consumed_ += got;
    if (hook_) {
        hook_(consumed_, total_);
    }
    // The first pass looks for the end of the data while it counts the line feeds.
    char* fresh = buffer_.data() + end_;
    const void* stop = secondPass_ ? std::memchr(fresh, kEndOfData, got) : nullptr;
    if (stop != nullptr) {
        got = static_cast<std::size_t>(static_cast<const char*>(stop) - fresh);
        ended_ = true;
    }
    end_ += got;
    return got > 0;
}

LineReader::Count LineReader::countLines(std::int32_t maxLines) {
    Count count;
    bool openLine = false;  // bytes after the last LF
    while (fill()) {
        const char* chunk = buffer_.data() + at_.begin;
        const LineFeedCount found = countLineFeeds_(chunk, end_ - at_.begin);
        const std::size_t size = found.dataSize;
        const std::uint64_t feeds = found.lineFeeds;
        ended_ = ended_ || size < end_ - at_.begin;
        if (static_cast<std::uint64_t>(count.lines) + feeds >=
            static_cast<std::uint64_t>(maxLines)) {
            // The most lines are here: what follows the LF of the last one is never used.
            const char* at = chunk;
            for (std::int32_t wanted = maxLines - count.lines; wanted > 0; --wanted) {
                at = static_cast<const char*>(
                         std::memchr(at, '\n', static_cast<std::size_t>(chunk + size - at))) +
                     1;
            }
            count.bytes += static_cast<std::uint64_t>(at - chunk);
            count.lines = maxLines;
            return count;
        }
        count.lines += static_cast<std::int32_t>(feeds);
        count.bytes += size;
        if (size > 0) {
            openLine = chunk[size - 1] != '\n';
        }
        at_.begin = scan_ = end_ = 0;
    }
    if (openLine) {
        ++count.lines;
    }
    return count;
}

// Classifies the bytes that follow the classified ones, in blocks of 64, reading more first
// when fewer are left; only the data's last block may be shorter. False once every byte of
// the data has been classified.
bool LineReader::classifyMore() {
    if (!ended_ && end_ - scan_ < 64) {
        while (fill() && end_ - scan_ < 64) {
        }
    }
    if (scan_ == end_) {
        return false;
    }
    // A run of 8 KiB keeps its bytes and its masks in the processor's nearest caches while its
    // lines are handed on.
    const std::size_t size = end_ - scan_;
    const std::size_t blocks = std::min(ended_ ? (size + 63) / 64 : size / 64, kRunBlocks);
    // The run's first block follows the last one of the run before.
    masks_[0] = masks_[runBlocks_];
    classify_(buffer_.data() + scan_, blocks, masks_.data() + 1);
    const std::size_t lastBytes = size - 64 * (blocks - 1);
    if (lastBytes < 64) {
        // Whatever lies past the data is no part of it.
        const std::uint64_t data = (std::uint64_t{1} << lastBytes) - 1;
        BlockMasks& last = masks_[blocks];
        last = {last.lineFeeds & data, last.commas & data, last.nuls & data};
    }
    runBlocks_ = blocks;
    at_.block = 1;
    at_.blockStart = scan_;
    at_.lineFeeds = masks_[1].lineFeeds;
    scan_ += std::min(size, 64 * blocks);
    return true;
}

bool LineReader::nextLineOfNextRun(ScannedLine& scanned) {
    if (at_.linesLeft == 0) {
        return false;
    }
    while (classifyMore()) {
        if (findLineFeed(at_)) {
            takeLine(at_, scanned);
            return true;
        }
    }
    if (shrunk_) {
        throw TickReadError("the tick file has shrunk");
    }
    if (at_.begin == end_) {
        throw TickReadError("the tick file has changed");
    }
    scanned.line = {buffer_.data() + at_.begin, end_ - at_.begin};
    scanned.setFields(findTickFields(scanned.line));
    at_.begin = scan_ = end_;
    --at_.linesLeft;
    return true;
}

bool LineReader::nextLine(std::string_view& line) {
    ScannedLine scanned;
    const bool given = nextLine(scanned);
    line = scanned.line;
    return given;
}

TickFileResult readTickFile(std::string_view fileName, const std::string& temporaryFolder,
                            TickFile& ticks, std::int32_t maxLines, const ReadHook& hook,
                            ScanPath path) {
    platform::OpenedFile input = platform::openForReading(fileName);
    if (!input.file.isOpen()) {
        return {TickFileStatus::cannotOpen, {}};
    }
    try {
        LineReader::Count count;
        if (input.rereadable) {
            LineReader reader(input.file, true, nullptr, platform::kReadSize, path);
            const std::int64_t size = platform::sizeOf(input.file);
            reader.watch(hook, size > 0 ? static_cast<std::uint64_t>(size) : 0);
            count = reader.countLines(maxLines);
            ticks.file = std::move(input.file);
        } else {
            std::string reason;
            platform::File copy = platform::makeTemporaryFile(temporaryFolder, reason);
            if (!copy.isOpen()) {
                return {TickFileStatus::temporaryFileError, reason};
            }
            LineReader reader(input.file, false, &copy, platform::kReadSize, path);
            reader.watch(hook, 0);
            count = reader.countLines(maxLines);
            ticks.file = std::move(copy);
        }
        ticks.lineCount = count.lines;
        ticks.byteCount = count.bytes;
    } catch (const CopyError& error) {
        return {TickFileStatus::temporaryFileError, error.what()};
    } catch (const TickReadError&) {
        return {TickFileStatus::readError, {}};
    }
    return {TickFileStatus::read, {}};
}

}  // namespace vellumbrook
