#include "input/tick_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace vellumbrook {

namespace {

constexpr char kEndOfData = '\x1a';
constexpr std::size_t kReadChunk = std::size_t{1} << 20;

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

std::string_view withoutTrailingCr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

}  // namespace

void LineFramer::keep(std::string_view line) {
    // Lines past the most that can be held are read and dropped.
    (void)lines_.append(line);
}

bool LineFramer::feed(std::string_view bytes) {
    if (ended_) {
        return false;
    }
    if (const void* stop = std::memchr(bytes.data(), kEndOfData, bytes.size())) {
        bytes = bytes.substr(
            0, static_cast<std::size_t>(static_cast<const char*>(stop) - bytes.data()));
        ended_ = true;
    }
    while (!bytes.empty()) {
        const void* lf = std::memchr(bytes.data(), '\n', bytes.size());
        if (lf == nullptr) {
            pending_.append(bytes);
            break;
        }
        const auto length = static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data());
        if (pending_.empty()) {
            keep(withoutTrailingCr(bytes.substr(0, length)));
        } else {
            pending_.append(bytes.substr(0, length));
            keep(withoutTrailingCr(pending_));
            pending_.clear();
        }
        bytes.remove_prefix(length + 1);
    }
    return !ended_;
}

void LineFramer::finish() {
    if (!pending_.empty()) {
        keep(pending_);
        pending_.clear();
    }
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
    const auto buffer = std::make_unique_for_overwrite<char[]>(kReadChunk);
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer.get(), kReadChunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return TickFileStatus::readError;
        }
        if (got == 0 || !framer.feed({buffer.get(), static_cast<std::size_t>(got)})) {
            break;
        }
    }
    framer.finish();
    return TickFileStatus::read;
}

}  // namespace vellumbrook
