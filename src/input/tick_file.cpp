#include "input/tick_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellumbrook {

namespace {

constexpr char kEndOfData = '\x1a';

// Counting is all the first pass does, so it goes 16 bytes at a time where it can: each
// byte lane counts its LFs for up to 255 blocks, then the lanes are summed.
std::uint64_t countLineFeeds(const char* bytes, std::size_t size) {
    std::uint64_t count = 0;
#if defined(__SSE2__)
    const __m128i lineFeed = _mm_set1_epi8('\n');
    while (size >= 16) {
        const std::size_t blocks = std::min<std::size_t>(size / 16, 255);
        __m128i lanes = _mm_setzero_si128();
        for (std::size_t block = 0; block < blocks; ++block) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(chunk, lineFeed));
            bytes += 16;
        }
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        count += static_cast<std::uint64_t>(_mm_cvtsi128_si32(sums)) +
                 static_cast<std::uint64_t>(_mm_extract_epi16(sums, 4));
        size -= blocks * 16;
    }
#endif
    return count + static_cast<std::uint64_t>(std::count(bytes, bytes + size, '\n'));
}

void writeAll(int fd, const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t written = ::write(fd, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            throw std::system_error(written < 0 ? errno : ENOSPC, std::generic_category());
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

// A file that never has a name, so that nothing is left behind even when the process is
// killed; where the file system cannot make one, a named file unlinked at once.
FileDescriptor makeTemporaryFile(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return FileDescriptor(fd);
    }
    std::string name = directory + "/vellumbrook-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0) {
        ::unlink(name.c_str());
    }
    return FileDescriptor(named);
}

}  // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

LineReader::LineReader(int source, bool seekable, int copyTo, std::size_t bufferSize)
    : source_(source),
      seekable_(seekable),
      copyTo_(copyTo),
      buffer_(std::max(bufferSize, std::size_t{1})) {}

LineReader::LineReader(const TickFile& ticks, std::size_t bufferSize)
    : source_(ticks.file.get()),
      seekable_(true),
      secondPass_(true),
      byteLimit_(ticks.byteCount),
      linesLeft_(ticks.lineCount),
      buffer_(std::max(bufferSize, std::size_t{1})) {}

std::size_t LineReader::readSome(char* into, std::size_t room) {
    for (;;) {
        const ssize_t got = seekable_ ? ::pread(source_, into, room, static_cast<off_t>(consumed_))
                                      : ::read(source_, into, room);
        if (got >= 0) {
            if (copyTo_ >= 0) {
                writeAll(copyTo_, into, static_cast<std::size_t>(got));
            }
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            throw TickReadError("the tick file cannot be read");
        }
    }
}

// Reads more bytes behind the unfinished line, which is moved to the front first. False when
// the data has ended and nothing more came.
bool LineReader::fill() {
    if (ended_) {
        return false;
    }
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        scan_ -= begin_;
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) {
        buffer_.resize(buffer_.size() * 2);  // one line fills the whole buffer
    }
    const std::size_t room = static_cast<std::size_t>(
        std::min<std::uint64_t>(buffer_.size() - end_, byteLimit_ - consumed_));
    std::size_t got = room == 0 ? 0 : readSome(buffer_.data() + end_, room);
    if (got == 0) {
        ended_ = true;
        if (secondPass_ && consumed_ < byteLimit_) {
            throw TickReadError("the tick file has shrunk");
        }
        return false;
    }
    consumed_ += got;
    char* fresh = buffer_.data() + end_;
    if (const void* stop = std::memchr(fresh, kEndOfData, got)) {
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
        const char* chunk = buffer_.data() + begin_;
        const std::size_t size = end_ - begin_;
        const std::uint64_t feeds = countLineFeeds(chunk, size);
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
        openLine = chunk[size - 1] != '\n';
        begin_ = scan_ = end_ = 0;
    }
    if (openLine) {
        ++count.lines;
    }
    return count;
}

bool LineReader::nextLine(std::string_view& line) {
    if (linesLeft_ == 0) {
        return false;
    }
    for (;;) {
        char* at = buffer_.data();
        if (const void* found = std::memchr(at + scan_, '\n', end_ - scan_)) {
            const auto lf = static_cast<std::size_t>(static_cast<const char*>(found) - at);
            const std::size_t length = lf - begin_;
            line = {at + begin_, length > 0 && at[lf - 1] == '\r' ? length - 1 : length};
            begin_ = scan_ = lf + 1;
            --linesLeft_;
            return true;
        }
        scan_ = end_;
        if (!fill()) {
            break;
        }
    }
    if (begin_ == end_) {
        throw TickReadError("the tick file has changed");
    }
    line = {buffer_.data() + begin_, end_ - begin_};
    begin_ = scan_ = end_;
    --linesLeft_;
    return true;
}

TickFileResult readTickFile(std::string_view fileName, const std::string& temporaryDirectory,
                            TickFile& ticks, std::int32_t maxLines) {
    const std::string path(fileName);
    FileDescriptor input(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (input.get() < 0 || ::fstat(input.get(), &info) != 0 || S_ISDIR(info.st_mode)) {
        return {TickFileStatus::cannotOpen};
    }
    try {
        LineReader::Count count;
        if (S_ISREG(info.st_mode)) {
            (void)::posix_fadvise(input.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
            count = LineReader(input.get(), true, -1).countLines(maxLines);
            ticks.file = std::move(input);
        } else {
            FileDescriptor copy = makeTemporaryFile(temporaryDirectory);
            if (copy.get() < 0) {
                return {TickFileStatus::temporaryFileError, errno};
            }
            count = LineReader(input.get(), false, copy.get()).countLines(maxLines);
            ticks.file = std::move(copy);
        }
        ticks.lineCount = count.lines;
        ticks.byteCount = count.bytes;
    } catch (const std::system_error& error) {  // from writing the copy
        return {TickFileStatus::temporaryFileError, error.code().value()};
    } catch (const TickReadError&) {
        return {TickFileStatus::readError};
    }
    return {TickFileStatus::read};
}

}  // namespace vellumbrook
