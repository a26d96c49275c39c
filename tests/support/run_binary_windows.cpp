// Runs the converter as a child process on Windows: CreateProcessW with its three standard
// handles given, standard input a pipe (or NUL), the two outputs files in a scratch folder.
#include <windows.h>

#include <chrono>
#include <random>

#include "support/run_binary.hpp"

namespace vellumbrook::testing {

namespace fs = std::filesystem;

const bool kCanLimitTheChild = false;

std::vector<std::string> scanPathsToRun() {
    return {""};
}

namespace {

// Owns one HANDLE.
class Handle {
  public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }
    HANDLE get() const { return handle_; }
    HANDLE* out() { return &handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void close() {
        if (valid()) {
            ::CloseHandle(handle_);
        }
        handle_ = nullptr;
    }

  private:
    HANDLE handle_;
};

// One word of a command line as the C runtime splits it back: quoted when it is empty or
// holds blanks or quotes, backslashes doubled where a quote follows them.
std::wstring quoted(const std::wstring& word) {
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return word;
    }
    std::wstring text = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        text += c;
    }
    text.append(2 * backslashes, L'\\');
    return text + L"\"";
}

std::wstring wide(const std::string& text) {
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                          length);
    return result;
}

HANDLE inheritableFile(const fs::path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return ::CreateFileW(path.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void sendAll(HANDLE pipe, const std::string& text) {
    for (std::size_t sent = 0; sent < text.size();) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - sent, 1 << 20));
        if (!::WriteFile(pipe, text.data() + sent, chunk, &written, nullptr) || written == 0) {
            return;
        }
        sent += written;
    }
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

fs::path scratchFolder() {
    std::random_device seed;
    return fs::temp_directory_path() / ("vellumbrook-run-" + std::to_string(seed()) + "-" +
                                        std::to_string(::GetCurrentProcessId()));
}

}  // namespace

BinaryOutcome runBinary(const BinaryRun& run) {
    const fs::path scratch = scratchFolder();
    fs::create_directories(scratch);
    const fs::path outPath = scratch / "stdout";
    const fs::path errPath = scratch / "stderr";
    const fs::path program = fs::absolute(fs::path(VELLUMBROOK_BINARY).make_preferred());

    std::wstring commandLine = L"vellumbrook";
    for (const std::string& arg : run.args) {
        commandLine += L" " + quoted(wide(arg));
    }

    Handle input;
    Handle feed;
    if (run.pipedInput) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        if (!::CreatePipe(input.out(), feed.out(), &inherit, 0)) {
            return {};
        }
        ::SetHandleInformation(feed.get(), HANDLE_FLAG_INHERIT, 0);
    } else {
        *input.out() = inheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
    }
    Handle out(inheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS));
    Handle err(inheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS));
    if (!input.valid() || !out.valid() || !err.valid()) {
        return {};
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    PROCESS_INFORMATION started{};
    const std::wstring folder = fs::absolute(run.workingDirectory).make_preferred().wstring();
    if (!::CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                          nullptr, folder.c_str(), &startup, &started)) {
        return {};
    }
    Handle process(started.hProcess);
    Handle thread(started.hThread);
    input.close();
    out.close();
    err.close();
    if (run.pipedInput) {
        sendAll(feed.get(), *run.pipedInput);
        feed.close();
    }
    // A hang fails the case instead of the whole suite.
    if (::WaitForSingleObject(process.get(), 300000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 128 + 14);
        ::WaitForSingleObject(process.get(), INFINITE);
    }
    DWORD status = 0;
    ::GetExitCodeProcess(process.get(), &status);

    BinaryOutcome outcome;
    outcome.status = static_cast<int>(status);
    outcome.out = readFile(outPath);
    outcome.err = readFile(errPath);
    // Under Wine the program's own name arrives as its full path, whatever it was started as;
    // the messages that name it are compared as if it had been started as "vellumbrook".
    replaceAll(outcome.err, program.string() + ": ", "vellumbrook: ");
    fs::remove_all(scratch);
    return outcome;
}

}  // namespace vellumbrook::testing
