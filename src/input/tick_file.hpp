#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellumbrook {

// Owns one open file descriptor.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    ~FileDescriptor();
    int get() const { return fd_; }

  private:
    int fd_ = -1;
};

// The tick file, open and counted by the first pass: it can be read again from its start,
// and its first `byteCount` bytes hold the `lineCount` lines that the conversion uses.
// Whatever the file holds past them (a recorder may still be appending) is never read.
struct TickFile {
    static constexpr std::int32_t kMaxLines = 2147483647;

    FileDescriptor file;
    std::int32_t lineCount = 0;
    std::uint64_t byteCount = 0;
};

// Reading failed, or the file no longer holds the lines it was counted with.
class TickReadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Frames the tick file into lines out of one buffer, the same way in both passes: LF ends a
// line, a CR right before the LF belongs to the line end, any other CR stays in the line, a
// byte 1A hex ends the data, and a last line without LF still counts. A line longer than the
// buffer grows it; no line is kept once the next one is asked for.
class LineReader {
  public:
    // Small enough that what the kernel copies in is still in the cache when it is scanned;
    // on a 2-core EPYC, 64 KiB made the counting pass four times as fast as 1 MiB.
    static constexpr std::size_t kBufferSize = std::size_t{64} << 10;

    struct Count {
        std::int32_t lines = 0;
        std::uint64_t bytes = 0;  // what those lines and their line ends cover
    };

    // The first pass over `source` from its start: by position when `seekable`, else as a
    // stream, each piece read also written to `copyTo` unless that is -1 (a failed write
    // throws std::system_error).
    LineReader(int source, bool seekable, int copyTo, std::size_t bufferSize = kBufferSize);
    // The second pass: the counted lines of `ticks`, from the first.
    explicit LineReader(const TickFile& ticks, std::size_t bufferSize = kBufferSize);

    // First pass: counts the lines, keeping at most `maxLines`.
    Count countLines(std::int32_t maxLines);
    // Second pass: the next line without its line end, valid until the next call; false once
    // every counted line has been given. Throws TickReadError when reading fails or the file
    // ends before its counted lines.
    bool nextLine(std::string_view& line);

  private:
    bool fill();
    std::size_t readSome(char* into, std::size_t room);

    int source_;
    bool seekable_;
    int copyTo_ = -1;
    bool secondPass_ = false;
    std::uint64_t byteLimit_ = UINT64_MAX;
    std::int32_t linesLeft_ = 0;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;  // the unfinished line
    std::size_t scan_ = 0;   // where the search for its LF goes on
    std::size_t end_ = 0;    // the end of what has been read
    std::uint64_t consumed_ = 0;
    bool ended_ = false;
};

enum class TickFileStatus { read, cannotOpen, readError, temporaryFileError };

struct TickFileResult {
    TickFileStatus status = TickFileStatus::read;
    int errorNumber = 0;  // why the temporary file failed
};

// Opens `fileName` and counts its lines (the first pass). A directory counts as a file that
// cannot be opened. Input that cannot be read twice (a pipe, a terminal, a socket, a
// device) is copied, while it is counted, to an unnamed file in `temporaryDirectory`, which
// the second pass then reads.
TickFileResult readTickFile(std::string_view fileName, const std::string& temporaryDirectory,
                            TickFile& ticks, std::int32_t maxLines = TickFile::kMaxLines);

}  // namespace vellumbrook
