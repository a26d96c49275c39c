#include "input/tick_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace vellumbrook {

namespace {

constexpr char kEndOfData = '\x1a';

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

std::span<char> LineFramer::buffer() {
    if (lines_.full()) {
        // Lines past the most that can be held are read and dropped.
        discard_.resize(chunk_);
        next_ = discard_.data();
        return {discard_.data(), discard_.size()};
    }
    std::size_t available = 0;
    next_ = lines_.room(pending_, chunk_, available);
    return {next_, available};
}

bool LineFramer::commit(std::size_t count) {
    if (ended_) {
        return false;
    }
    const char* stop = next_ + count;
    if (const void* end = std::memchr(next_, kEndOfData, count)) {
        stop = static_cast<const char*>(end);
        ended_ = true;
    }
    if (next_ == discard_.data()) {
        pending_ = 0;
        return !ended_;
    }
    const char* lineStart = next_ - pending_;
    const char* scan = next_;
    while (const void* found = std::memchr(scan, '\n', static_cast<std::size_t>(stop - scan))) {
        const char* lf = static_cast<const char*>(found);
        auto length = static_cast<std::size_t>(lf - lineStart);
        std::size_t endLength = 1;
        if (length > 0 && lf[-1] == '\r') {
            --length;
            endLength = 2;
        }
        if (lines_.full()) {
            pending_ = 0;
            return !ended_;
        }
        lines_.addLine(length, endLength);
        lineStart = scan = lf + 1;
    }
    pending_ = static_cast<std::size_t>(stop - lineStart);
    return !ended_;
}

bool LineFramer::feed(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::span<char> into = buffer();
        const std::size_t count = std::min(into.size(), bytes.size());
        std::memcpy(into.data(), bytes.data(), count);
        bytes.remove_prefix(count);
        if (!commit(count)) {
            return false;
        }
    }
    return !ended_;
}

void LineFramer::finish() {
    if (pending_ > 0 && !lines_.full()) {
        lines_.addLine(pending_, 0);
    }
    pending_ = 0;
    ended_ = true;
}

TickFileStatus readTickFile(std::string_view fileName, TickLines& lines) {
    lines.clear();
    const std::string path(fileName);
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        return TickFileStatus::cannotOpen;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || S_ISDIR(info.st_mode)) {
        return TickFileStatus::cannotOpen;
    }
    (void)::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    LineFramer framer(lines);
    for (;;) {
        const std::span<char> into = framer.buffer();
        const ssize_t got = ::read(file.get(), into.data(), into.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return TickFileStatus::readError;
        }
        if (got == 0 || !framer.commit(static_cast<std::size_t>(got))) {
            break;
        }
    }
    framer.finish();
    return TickFileStatus::read;
}

}  // namespace vellumbrook
