#pragma once

// Everything that differs between the operating systems, behind one small table of calls:
// posix.cpp answers them on Linux and the other Unix systems, windows.cpp on Windows. Nothing
// above this folder includes a system header or asks which system it runs on. Failures come
// back as the system's own words, so that the error lines are made in one place above.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vellumbrook::platform {

// How many bytes one read asks for. On Linux 64 KiB keeps what the kernel copies in still in
// the cache when it is scanned (four times as fast a count as 1 MiB on a 2-core EPYC); on
// Windows each ReadFile call costs far more, and 1 MiB pays.
extern const std::size_t kReadSize;

// One open file of the system (a descriptor, or a Windows HANDLE), closed with the object.
class File {
  public:
    using Handle = std::intptr_t;
    static constexpr Handle kNone = -1;

    File() = default;
    explicit File(Handle handle) : handle_(handle) {}
    File(File&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}
    File& operator=(File&& other) noexcept {
        File gone(std::move(other));  // closes what this held, once it goes
        std::swap(handle_, gone.handle_);
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    bool isOpen() const { return handle_ != kNone; }
    Handle handle() const { return handle_; }

  private:
    Handle handle_ = kNone;
};

struct OpenedFile {
    File file;                   // not open when the name cannot be opened for reading
    bool rereadable = false;     // a regular file, to be read at any offset as often as needed
    std::uint64_t position = 0;  // where its reading starts
    std::string reason;          // why it could not be opened, in the system's words
};

// Opens `name` for reading while others may go on reading, writing, renaming or deleting it
// (a recorder may still be appending). A directory does not open. "/dev/stdin" is standard
// input on every system.
OpenedFile openForReading(std::string_view name);

// Standard input from where it stands: a regular file from its current position (the part
// before it was read by someone else), anything else as the stream it is.
OpenedFile openStandardInput();

// Which file an open file or a name is: its device and its number there (on Windows the
// volume and the file index), so that an output is never one of the inputs.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    bool operator==(const FileId&) const = default;
};
std::optional<FileId> idOf(const File& file);

// What stands at a name that is about to be written.
struct OutputTarget {
    // other: a device, a FIFO; descriptor: one this process already has open, named as
    // /dev/stdout, /dev/stderr, /dev/fd/N or /proc/self/fd/N.
    enum class Kind { missing, regular, folder, other, descriptor };
    Kind kind = Kind::missing;
    std::string path;          // what to write: a link's final target, else the name
    std::optional<FileId> id;  // of what stands there
    int descriptor = -1;       // for Kind::descriptor
};
OutputTarget inspectOutput(const std::string& name);

// Opens an existing device or FIFO for writing, as a shell's "> name" does.
File openForWriting(const std::string& name, std::string& reason);

// A handle of its own to the open descriptor of an OutputTarget, written where it stands.
File openDescriptor(int descriptor, std::string& reason);

// Whether this process may write the existing file `name`, as a shell's "> name" asks; false
// with the system's `reason` when it may not (a read-only file).
bool mayWrite(const std::string& name, std::string& reason);

// Writes all of `bytes` at the position of a stream (a device, a FIFO).
bool writeNext(const File& file, std::string_view bytes, std::string& reason);

// Gives `file` the owner, group and permissions that the file `like` has, as far as the
// system has such and lets this process set them.
void copyOwnerAndPermissions(const File& file, const std::string& like);

// The size in bytes of a rereadable file; -1 when the system does not say.
std::int64_t sizeOf(const File& file);

// Reads up to `size` bytes at `offset` of a rereadable file. The count read, 0 at the end,
// -1 when reading fails.
std::ptrdiff_t readAt(const File& file, char* into, std::size_t size, std::uint64_t offset);

// Reads the next bytes of a stream (a pipe, a terminal, a device), as `readAt` otherwise.
std::ptrdiff_t readNext(const File& file, char* into, std::size_t size);

// Writes all of `bytes` at `offset`; false with the system's `reason` when it cannot.
bool writeAt(const File& file, std::string_view bytes, std::uint64_t offset, std::string& reason);

// Cuts or extends the file to `size` bytes.
bool resize(const File& file, std::uint64_t size);

// Where copies of input that cannot be read twice go, and the setting that chose it: TMPDIR
// (else /tmp) on Unix, the folder that Windows gives (from TMP, TEMP, ...) on Windows.
struct TemporaryFolder {
    std::string_view setting;
    std::string path;
};
TemporaryFolder temporaryFolder();

// A new empty file in `folder`, open for reading and writing, that no name outlives: it has
// none, or loses it when closed. Not open, with the system's `reason`, when it cannot be made.
File makeTemporaryFile(const std::string& folder, std::string& reason);

// A new file `name`, open for writing; not open, with the system's `reason`, when the name
// is taken or cannot be made.
File createNewFile(const std::string& name, std::string& reason);

// Gives the file `from` the name `to`, replacing any file of that name in one step.
bool renameReplacing(const std::string& from, const std::string& to, std::string& reason);

// Removes the file `name`, if it can.
void removeFile(const std::string& name);

// While it lives, an interrupt (SIGINT, SIGTERM or SIGHUP; on Windows Ctrl-C, Ctrl-Break or
// the console closing) removes the file `name` before the process ends as the interrupt ends
// it, with its usual status. One lives at a time: the interrupt is the whole process's.
class RemovedOnInterrupt {
  public:
    explicit RemovedOnInterrupt(std::string name);
    RemovedOnInterrupt(const RemovedOnInterrupt&) = delete;
    RemovedOnInterrupt& operator=(const RemovedOnInterrupt&) = delete;
    ~RemovedOnInterrupt();

  private:
    std::string name_;
};

// The machine's physical memory in bytes; 0 when the system does not say.
std::uint64_t physicalMemory();

// Lowers the calling thread's priority below the process's other threads, where the system
// lets one thread's priority be set: helpers that split work many ways yield the processor to
// a thread whose work cannot be split, which would otherwise wait its turn among them.
void lowerThreadPriority();

// Drops what a failed write left in the buffer of `stream`, so that the exit flush cannot
// send a stray half line after the error has been reported.
void discardBufferedOutput(std::FILE* stream);

// Writes all of `bytes` to where `stream` writes, after anything the stream still holds,
// through the system's own write calls: a block goes out in one call, not cut where the C
// library's buffer happens to end. False, with errno saying why, when it cannot.
bool writeThrough(std::FILE* stream, std::string_view bytes);

// Whether `stream` is a terminal (a Windows console) that a person is looking at.
bool isTerminal(std::FILE* stream);
// Whether `stream` writes to a regular file or to the null device, where nobody reads its
// lines as they come.
bool isFileOrNullDevice(std::FILE* stream);

// Standard output and standard error write their bytes unchanged: a line ends with LF
// alone on every system.
void useBinaryStandardStreams();

}  // namespace vellumbrook::platform
