// The platform calls on Linux and the other Unix systems.
#include <fcntl.h>
#include <signal.h>
#include <stdio_ext.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.hpp"

namespace vellumbrook::platform {

namespace {

int descriptor(const File& file) {
    return static_cast<int>(file.handle());
}

// The largest read or write asked of the kernel at once (Linux moves at most this anyway).
constexpr std::size_t kMostAtOnce = 0x7ffff000;

// A file that never has a name, so that nothing is left behind even when the process is
// killed; where the file system cannot make one, a named file unlinked at once.
int unnamedFile(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return fd;
    }
    std::string name = folder + "/vellumbrook-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0) {
        ::unlink(name.c_str());
    }
    return named;
}

// Writes all of `bytes` from `offset` on, a part at a time, through `writePart`, which
// answers as write(2) does.
template <typename WritePart>
bool writeAll(std::string_view bytes, std::uint64_t offset, std::string& reason,
              const WritePart& writePart) {
    while (!bytes.empty()) {
        const ssize_t written =
            writePart(bytes.data(), std::min(bytes.size(), kMostAtOnce), offset);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            errno = written < 0 ? errno : ENOSPC;
            reason = std::strerror(errno);
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
        offset += static_cast<std::uint64_t>(written);
    }
    return true;
}

// The descriptor of this process that `path` names (/dev/stdout, /dev/fd/N, /proc/self/fd/N
// and the like), or -1. Such a name is no file of its own: its link in /proc may stand for a
// pipe ("pipe:[N]") or a socket, which no name reaches.
int descriptorNamed(const std::string& path) {
    if (path == "/dev/stdin" || path == "/dev/stdout" || path == "/dev/stderr") {
        return path == "/dev/stdin" ? 0 : path == "/dev/stdout" ? 1 : 2;
    }
    for (const std::string& folder : {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
                                      "/proc/" + std::to_string(::getpid()) + "/fd/"}) {
        if (path.size() > folder.size() && path.size() <= folder.size() + 9 &&
            path.compare(0, folder.size(), folder) == 0 &&
            std::all_of(path.begin() + static_cast<std::ptrdiff_t>(folder.size()), path.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
            return std::stoi(path.substr(folder.size()));
        }
    }
    return -1;
}

// The name of the file an interrupt removes, while there is one.
std::atomic<const char*> removedOnInterrupt{nullptr};

void removeAndEnd(int signal) {
    if (const char* name = removedOnInterrupt.load()) {
        ::unlink(name);
    }
    // The handler was reset to the signal's usual action, which ends the process as soon as
    // this returns.
    ::raise(signal);
}

// Once for the process: the interrupts not ignored when it started remove the file first. A
// file that would grow past the size limit fails its write instead of ending the process, so
// that the run ends with a message and without its partial file.
void handleInterrupts() {
    static const bool handled = [] {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction before {};
            if (::sigaction(signal, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) {
                continue;
            }
            struct sigaction action {};
            action.sa_handler = removeAndEnd;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESETHAND;
            ::sigaction(signal, &action, nullptr);
        }
        struct sigaction before {};
        if (::sigaction(SIGXFSZ, nullptr, &before) == 0 && before.sa_handler == SIG_DFL) {
            ::signal(SIGXFSZ, SIG_IGN);
        }
        return true;
    }();
    (void)handled;
}

}  // namespace

const std::size_t kReadSize = std::size_t{64} << 10;

File::~File() {
    if (isOpen()) {
        ::close(descriptor(*this));
    }
}

OpenedFile openForReading(std::string_view name) {
    const std::string path(name);
    File file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (descriptor(file) < 0 || ::fstat(descriptor(file), &info) != 0) {
        OpenedFile failed;
        failed.reason = std::strerror(errno);
        return failed;
    }
    if (S_ISDIR(info.st_mode)) {
        OpenedFile failed;
        failed.reason = std::strerror(EISDIR);
        return failed;
    }
    const bool regular = S_ISREG(info.st_mode);
    if (regular) {
        (void)::posix_fadvise(descriptor(file), 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    return {std::move(file), regular, 0, {}};
}

OpenedFile openStandardInput() {
    File file(::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0));
    struct stat info {};
    if (descriptor(file) < 0 || ::fstat(descriptor(file), &info) != 0 || S_ISDIR(info.st_mode)) {
        return {};
    }
    const off_t position = S_ISREG(info.st_mode) ? ::lseek(descriptor(file), 0, SEEK_CUR) : -1;
    if (position < 0) {
        return {std::move(file), false, 0, {}};
    }
    return {std::move(file), true, static_cast<std::uint64_t>(position), {}};
}

std::optional<FileId> idOf(const File& file) {
    struct stat info {};
    if (::fstat(descriptor(file), &info) != 0) {
        return std::nullopt;
    }
    return FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

OutputTarget inspectOutput(const std::string& name) {
    // A link is written through: follow it, hop by hop, to the name it finally stands for.
    std::string path = name;
    for (int hop = 0; hop < 40; ++hop) {
        if (const int open = descriptorNamed(path); open >= 0) {
            struct stat info {};
            return {OutputTarget::Kind::descriptor, path,
                    ::fstat(open, &info) == 0
                        ? std::optional(FileId{static_cast<std::uint64_t>(info.st_dev),
                                               static_cast<std::uint64_t>(info.st_ino)})
                        : std::nullopt,
                    open};
        }
        struct stat link {};
        if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
            break;
        }
        std::string target(static_cast<std::size_t>(link.st_size > 0 ? link.st_size : 4096), '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length <= 0) {
            break;
        }
        target.resize(static_cast<std::size_t>(length));
        const std::size_t slash = path.rfind('/');
        path = target[0] == '/' || slash == std::string::npos ? target
                                                              : path.substr(0, slash + 1) + target;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return {OutputTarget::Kind::missing, path, std::nullopt, -1};
    }
    const FileId id{static_cast<std::uint64_t>(info.st_dev),
                    static_cast<std::uint64_t>(info.st_ino)};
    const OutputTarget::Kind kind = S_ISREG(info.st_mode)   ? OutputTarget::Kind::regular
                                    : S_ISDIR(info.st_mode) ? OutputTarget::Kind::folder
                                                            : OutputTarget::Kind::other;
    return {kind, path, id, -1};
}

File openForWriting(const std::string& name, std::string& reason) {
    // Not waiting for a reader: a FIFO that nobody reads would hold the run forever.
    File file(::open(name.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.isOpen()) {
        reason = errno == ENXIO ? "it is a FIFO that no program reads" : std::strerror(errno);
        return file;
    }
    const int flags = ::fcntl(descriptor(file), F_GETFL);
    (void)::fcntl(descriptor(file), F_SETFL, flags & ~O_NONBLOCK);
    return file;
}

File openDescriptor(int descriptor, std::string& reason) {
    File file(::fcntl(descriptor, F_DUPFD_CLOEXEC, 0));
    if (!file.isOpen()) {
        reason = std::strerror(errno);
    }
    return file;
}

bool mayWrite(const std::string& name, std::string& reason) {
    if (::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
}

bool writeNext(const File& file, std::string_view bytes, std::string& reason) {
    return writeAll(bytes, 0, reason, [&](const char* from, std::size_t size, std::uint64_t) {
        return ::write(descriptor(file), from, size);
    });
}

void copyOwnerAndPermissions(const File& file, const std::string& like) {
    struct stat info {};
    if (::stat(like.c_str(), &info) != 0) {
        return;
    }
    // Root may give the file its owner; others at most a group they belong to. The mode
    // comes after, since a change of owner clears the set-ID bits.
    if (::fchown(descriptor(file), info.st_uid, info.st_gid) != 0) {
        (void)::fchown(descriptor(file), static_cast<uid_t>(-1), info.st_gid);
    }
    (void)::fchmod(descriptor(file), info.st_mode & 07777);
}

std::int64_t sizeOf(const File& file) {
    struct stat info {};
    return ::fstat(descriptor(file), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

std::ptrdiff_t readAt(const File& file, char* into, std::size_t size, std::uint64_t offset) {
    for (;;) {
        const ssize_t got = ::pread(descriptor(file), into, std::min(size, kMostAtOnce),
                                    static_cast<off_t>(offset));
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

std::ptrdiff_t readNext(const File& file, char* into, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(descriptor(file), into, std::min(size, kMostAtOnce));
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

bool writeAt(const File& file, std::string_view bytes, std::uint64_t offset, std::string& reason) {
    return writeAll(bytes, offset, reason,
                    [&](const char* from, std::size_t size, std::uint64_t at) {
                        return ::pwrite(descriptor(file), from, size, static_cast<off_t>(at));
                    });
}

bool resize(const File& file, std::uint64_t size) {
    return ::ftruncate(descriptor(file), static_cast<off_t>(size)) == 0;
}

TemporaryFolder temporaryFolder() {
    // As for any Unix tool: $TMPDIR, else /tmp; an empty TMPDIR counts as unset.
    const char* folder = std::getenv("TMPDIR");
    return {"TMPDIR", folder != nullptr && *folder != '\0' ? folder : "/tmp"};
}

File makeTemporaryFile(const std::string& folder, std::string& reason) {
    File file(unnamedFile(folder));
    if (descriptor(file) < 0) {
        reason = std::strerror(errno);
        return {};
    }
    return file;
}

File createNewFile(const std::string& name, std::string& reason) {
    File file(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!file.isOpen()) {
        reason = std::strerror(errno);
    }
    return file;
}

bool renameReplacing(const std::string& from, const std::string& to, std::string& reason) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
}

void removeFile(const std::string& name) {
    (void)::unlink(name.c_str());
}

RemovedOnInterrupt::RemovedOnInterrupt(std::string name) : name_(std::move(name)) {
    handleInterrupts();
    removedOnInterrupt.store(name_.c_str());
}

RemovedOnInterrupt::~RemovedOnInterrupt() {
    removedOnInterrupt.store(nullptr);
}

std::uint64_t physicalMemory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

void lowerThreadPriority() {
#if defined(__linux__)
    // On Linux a nice value belongs to each thread; ten steps further, at most 19, so that a
    // process started under nice keeps its own.
    const auto thread = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, thread);
    if (errno == 0) {
        (void)::setpriority(PRIO_PROCESS, thread, std::min(now + 10, 19));
    }
#endif
}

void discardBufferedOutput(std::FILE* stream) {
    __fpurge(stream);
}

bool writeThrough(std::FILE* stream, std::string_view bytes) {
    if (std::fflush(stream) != 0) {
        return false;
    }
    const int out = ::fileno(stream);
    std::string reason;
    return writeAll(bytes, 0, reason, [out](const char* from, std::size_t size, std::uint64_t) {
        return ::write(out, from, size);
    });
}

bool isTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

bool isFileOrNullDevice(std::FILE* stream) {
    struct stat written {};
    if (::fstat(::fileno(stream), &written) != 0) {
        return false;
    }
    if (S_ISREG(written.st_mode)) {
        return true;
    }
    struct stat null {};
    return S_ISCHR(written.st_mode) && ::stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode) &&
           written.st_rdev == null.st_rdev;
}

void useBinaryStandardStreams() {
    // Unix streams never change line ends.
}

}  // namespace vellumbrook::platform
