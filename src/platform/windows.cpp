// The platform calls on Windows. Names and texts are 8-bit in the process's code page, which
// the program's manifest makes UTF-8 (Windows 10 1903 and later); the system is always asked
// through its wide-character calls, so that names beyond ASCII and long paths work.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/platform.hpp"

namespace vellumbrook::platform {

namespace {

HANDLE nativeOf(const File& file) {
    return reinterpret_cast<HANDLE>(file.handle());
}

File fileOf(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return {};
    }
    return File(reinterpret_cast<File::Handle>(handle));
}

// The largest read or write asked of the system at once: ReadFile counts in 32 bits.
constexpr std::size_t kMostAtOnce = std::size_t{1} << 30;

std::wstring wide(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int length =
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, result.data(),
                              length);
    }
    return result;
}

std::string narrow(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int length =
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(std::max(length, 0)), '\0');
    if (length > 0) {
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, result.data(), length, nullptr,
                              nullptr);
    }
    return result;
}

// The system's words for an error code, without the line end and full stop it ends with, so
// that they fit the end of an error line as the C library's texts do.
std::string describe(DWORD code) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
        nullptr);
    std::string words = length > 0 ? std::string(text, length) : "error " + std::to_string(code);
    ::LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                              words.back() == '.')) {
        words.pop_back();
    }
    return words;
}

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

File duplicatedStandardInput() {
    HANDLE own = nullptr;
    const HANDLE process = ::GetCurrentProcess();
    if (!::DuplicateHandle(process, ::GetStdHandle(STD_INPUT_HANDLE), process, &own, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        return {};
    }
    return fileOf(own);
}

// `name` opened for writing as `disposition` says; not open, with the system's `reason`,
// when it cannot be.
File openToWrite(const std::string& name, DWORD sharing, DWORD disposition, std::string& reason) {
    const std::wstring path = wide(name);
    File file = fileOf(::CreateFileW(path.c_str(), GENERIC_WRITE, sharing, nullptr, disposition,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.isOpen()) {
        reason = describe(path.empty() ? ERROR_PATH_NOT_FOUND : ::GetLastError());
    }
    return file;
}

// Writes all of `bytes`, from `offset` on, or at the stream's position without one.
bool writeAll(const File& file, std::string_view bytes, std::optional<std::uint64_t> offset,
              std::string& reason) {
    while (!bytes.empty()) {
        OVERLAPPED position = at(offset.value_or(0));
        DWORD written = 0;
        if (!::WriteFile(nativeOf(file), bytes.data(),
                         static_cast<DWORD>(std::min(bytes.size(), kMostAtOnce)), &written,
                         offset ? &position : nullptr)) {
            reason = describe(::GetLastError());
            return false;
        }
        if (written == 0) {
            reason = describe(ERROR_DISK_FULL);
            return false;
        }
        bytes.remove_prefix(written);
        if (offset) {
            *offset += written;
        }
    }
    return true;
}

using GetTempPath2Call = DWORD(WINAPI*)(DWORD, LPWSTR);

// GetTempPath2W where the system has it (Windows 11, and 10 from build 20348), for the
// folder it gives programs that run as SYSTEM; GetTempPathW elsewhere.
DWORD temporaryPath(DWORD size, wchar_t* into) {
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel != nullptr ? ::GetProcAddress(kernel, "GetTempPath2W") : nullptr;
    if (found != nullptr) {
        GetTempPath2Call call = nullptr;
        static_assert(sizeof call == sizeof found);
        std::memcpy(&call, &found, sizeof call);
        return call(size, into);
    }
    return ::GetTempPathW(size, into);
}

}  // namespace

const std::size_t kReadSize = std::size_t{1} << 20;

File::~File() {
    if (isOpen()) {
        ::CloseHandle(nativeOf(*this));
    }
}

OpenedFile openForReading(std::string_view name) {
    File file;
    if (name == "/dev/stdin") {
        file = duplicatedStandardInput();
    } else if (const std::wstring path = wide(name); !path.empty()) {
        // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open.
        file = fileOf(::CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    }
    if (!file.isOpen()) {
        OpenedFile failed;
        failed.reason = describe(name.empty() ? ERROR_PATH_NOT_FOUND : ::GetLastError());
        return failed;
    }
    const bool rereadable = ::GetFileType(nativeOf(file)) == FILE_TYPE_DISK;
    return {std::move(file), rereadable, 0, {}};
}

OpenedFile openStandardInput() {
    File file = duplicatedStandardInput();
    if (!file.isOpen()) {
        return {};
    }
    LARGE_INTEGER position{};
    const bool disk = ::GetFileType(nativeOf(file)) == FILE_TYPE_DISK &&
                      ::SetFilePointerEx(nativeOf(file), LARGE_INTEGER{}, &position, FILE_CURRENT);
    return {std::move(file), disk, disk ? static_cast<std::uint64_t>(position.QuadPart) : 0, {}};
}

std::optional<FileId> idOf(const File& file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(nativeOf(file), &info)) {
        return std::nullopt;
    }
    return FileId{info.dwVolumeSerialNumber,
                  (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

namespace {

// The standard stream that `name` stands for (1 and 2, as on Unix), or -1.
int standardStreamNamed(const std::string& name) {
    return name == "/dev/stdout" ? 1 : name == "/dev/stderr" ? 2 : -1;
}

HANDLE standardHandle(int descriptor) {
    return ::GetStdHandle(descriptor == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

// The name of the file an interrupt removes, while there is one.
std::atomic<const std::string*> removedOnInterrupt{nullptr};

BOOL WINAPI removeOnInterrupt(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        if (const std::string* name = removedOnInterrupt.load()) {
            // Open with delete sharing: it goes when the process's handle closes.
            ::DeleteFileW(wide(*name).c_str());
        }
    }
    return FALSE;  // the usual handling goes on, and ends the process with its usual status
}

}  // namespace

OutputTarget inspectOutput(const std::string& name) {
    if (const int stream = standardStreamNamed(name); stream >= 0) {
        const HANDLE handle = standardHandle(stream);
        BY_HANDLE_FILE_INFORMATION info{};
        std::optional<FileId> id;
        if (::GetFileType(handle) == FILE_TYPE_DISK &&
            ::GetFileInformationByHandle(handle, &info)) {
            id = FileId{info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
        }
        return {OutputTarget::Kind::descriptor, name, id, stream};
    }
    const std::wstring path = wide(name);
    // Opening follows links; it asks for no access, so a file in use opens too.
    const File probe = fileOf(
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (path.empty() || !probe.isOpen()) {
        return {OutputTarget::Kind::missing, name, std::nullopt, -1};
    }
    if (::GetFileType(nativeOf(probe)) != FILE_TYPE_DISK) {
        return {OutputTarget::Kind::other, name, std::nullopt, -1};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(nativeOf(probe), &info)) {
        return {OutputTarget::Kind::other, name, std::nullopt, -1};
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {OutputTarget::Kind::folder, name, idOf(probe), -1};
    }
    std::string target = name;
    if ((::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A link is written through: the new file takes the name the link stands for.
        std::wstring final(32768, L'\0');
        const DWORD length = ::GetFinalPathNameByHandleW(
            nativeOf(probe), final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
        if (length > 0 && length < final.size()) {
            target = narrow({final.data(), length});
        }
    }
    return {OutputTarget::Kind::regular, target, idOf(probe), -1};
}

File openForWriting(const std::string& name, std::string& reason) {
    return openToWrite(name, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, reason);
}

bool writeNext(const File& file, std::string_view bytes, std::string& reason) {
    return writeAll(file, bytes, std::nullopt, reason);
}

File openDescriptor(int descriptor, std::string& reason) {
    HANDLE own = nullptr;
    const HANDLE process = ::GetCurrentProcess();
    if (!::DuplicateHandle(process, standardHandle(descriptor), process, &own, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        reason = describe(::GetLastError());
        return {};
    }
    return fileOf(own);
}

bool mayWrite(const std::string& name, std::string& reason) {
    const DWORD attributes = ::GetFileAttributesW(wide(name).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        reason = describe(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

void copyOwnerAndPermissions(const File&, const std::string&) {
    // A new file takes its folder's access rules, as a file that a program saves does.
}

std::int64_t sizeOf(const File& file) {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(nativeOf(file), &size) ? static_cast<std::int64_t>(size.QuadPart) : -1;
}

std::ptrdiff_t readAt(const File& file, char* into, std::size_t size, std::uint64_t offset) {
    OVERLAPPED position = at(offset);
    DWORD got = 0;
    if (!::ReadFile(nativeOf(file), into, static_cast<DWORD>(std::min(size, kMostAtOnce)), &got,
                    &position)) {
        return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return static_cast<std::ptrdiff_t>(got);
}

std::ptrdiff_t readNext(const File& file, char* into, std::size_t size) {
    DWORD got = 0;
    if (!::ReadFile(nativeOf(file), into, static_cast<DWORD>(std::min(size, kMostAtOnce)), &got,
                    nullptr)) {
        // A pipe whose writer has closed it has simply ended.
        return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return static_cast<std::ptrdiff_t>(got);
}

bool writeAt(const File& file, std::string_view bytes, std::uint64_t offset, std::string& reason) {
    return writeAll(file, bytes, offset, reason);
}

bool resize(const File& file, std::uint64_t size) {
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(nativeOf(file), end, nullptr, FILE_BEGIN) &&
           ::SetEndOfFile(nativeOf(file));
}

TemporaryFolder temporaryFolder() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = temporaryPath(MAX_PATH + 1, path);
    return {"TMP", length > 0 && length <= MAX_PATH ? narrow({path, length}) : std::string()};
}

File makeTemporaryFile(const std::string& folder, std::string& reason) {
    const std::wstring where = wide(folder);
    wchar_t name[MAX_PATH] = {};
    // Makes a new empty file with a name of its own, so that two runs never share one.
    if (where.empty() || ::GetTempFileNameW(where.c_str(), L"vbk", 0, name) == 0) {
        reason = describe(where.empty() ? ERROR_PATH_NOT_FOUND : ::GetLastError());
        return {};
    }
    File file = fileOf(::CreateFileW(
        name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file.isOpen()) {
        reason = describe(::GetLastError());
        ::DeleteFileW(name);
    }
    return file;
}

File createNewFile(const std::string& name, std::string& reason) {
    return openToWrite(name, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW, reason);
}

bool renameReplacing(const std::string& from, const std::string& to, std::string& reason) {
    if (!::MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        reason = describe(::GetLastError());
        return false;
    }
    return true;
}

void removeFile(const std::string& name) {
    ::DeleteFileW(wide(name).c_str());
}

RemovedOnInterrupt::RemovedOnInterrupt(std::string name) : name_(std::move(name)) {
    static const bool handled = ::SetConsoleCtrlHandler(removeOnInterrupt, TRUE) != 0;
    (void)handled;
    removedOnInterrupt.store(&name_);
}

RemovedOnInterrupt::~RemovedOnInterrupt() {
    removedOnInterrupt.store(nullptr);
}

std::uint64_t physicalMemory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return ::GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

void lowerThreadPriority() {
    (void)::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

void discardBufferedOutput(std::FILE*) {
    // The C runtime's fflush already empties the buffer of a stream whose write failed.
}

bool isTerminal(std::FILE* stream) {
    // _isatty is true for NUL too; only a console has a console mode.
    DWORD mode = 0;
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    return ::_isatty(::_fileno(stream)) != 0 && ::GetConsoleMode(handle, &mode) != 0;
}

bool isFileOrNullDevice(std::FILE* stream) {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    const DWORD type = ::GetFileType(handle);
    if (type == FILE_TYPE_DISK) {
        return true;
    }
    // NUL is a character device without a console mode. (So are serial and printer ports,
    // which see the same bytes, only in fewer writes.)
    DWORD mode = 0;
    return type == FILE_TYPE_CHAR && ::GetConsoleMode(handle, &mode) == 0;
}

bool writeThrough(std::FILE* stream, std::string_view bytes) {
    if (std::fflush(stream) != 0) {
        return false;
    }
    // The C runtime's own write: in binary mode one WriteFile call, with errno set as the
    // stream's writes set it.
    const int out = ::_fileno(stream);
    while (!bytes.empty()) {
        const int written =
            ::_write(out, bytes.data(), static_cast<unsigned>(std::min(bytes.size(), kMostAtOnce)));
        if (written <= 0) {
            errno = written < 0 ? errno : ENOSPC;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

void useBinaryStandardStreams() {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
}

}  // namespace vellumbrook::platform
