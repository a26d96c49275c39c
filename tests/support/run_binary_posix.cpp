// Runs the converter as a child process on Unix: fork, redirect, exec.
#include "support/run_binary.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sstream>

#include "input/line_scan.hpp"

namespace vellumbrook::testing {

namespace fs = std::filesystem;

const bool kCanLimitTheChild = true;

namespace {

std::vector<std::string> wrapperWords() {
    std::vector<std::string> words;
    if (const char* wrapper = std::getenv("VELLUMBROOK_TEST_WRAPPER")) {
        std::istringstream in(wrapper);
        for (std::string word; in >> word;) {
            words.push_back(word);
        }
    }
    return words;
}

// Reads what the child writes to `fd` until it closes it.
std::string readAll(int fd) {
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

int openCapture(const fs::path& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

void sendAll(int fd, const std::string& text) {
    for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t n = ::write(fd, text.data() + sent, text.size() - sent);
        if (n <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

}  // namespace

std::vector<std::string> scanPathsToRun() {
    std::vector<std::string> paths{""};
    for (const ScanPath path : availableScanPaths()) {
        paths.emplace_back(nameOf(path));
    }
    return paths;
}

BinaryOutcome runBinary(const BinaryRun& run) {
    char scratchTemplate[] = "/tmp/vellumbrook-run-XXXXXX";
    const fs::path scratch = ::mkdtemp(scratchTemplate);
    const fs::path outPath = scratch / "stdout";
    const fs::path errPath = scratch / "stderr";

    // Messages name argv[0] as invoked, so the binary is always invoked as "vellumbrook"; a
    // wrapper finds it through PATH.
    // The scan path program is found the same way, through a link of that name.
    const fs::path binary = run.scanPath ? scratch / "vellumbrook" : fs::path(VELLUMBROOK_BINARY);
    if (run.scanPath) {
        fs::create_symlink(VELLUMBROOK_SCAN_PATH_BINARY, binary);
    }
    std::vector<std::string> words = wrapperWords();
    const bool wrapped = !words.empty();
    const std::string program = wrapped ? words.front() : binary.string();
    words.push_back("vellumbrook");
    if (run.scanPath) {
        words.push_back(*run.scanPath);
    }
    words.insert(words.end(), run.args.begin(), run.args.end());
    const std::string path = binary.parent_path().string() + ":" +
                             (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    int feed[2] = {-1, -1};
    int drain[2] = {-1, -1};
    if ((run.pipedInput && ::pipe2(feed, O_CLOEXEC) != 0) ||
        (run.stdoutPipe && ::pipe2(drain, O_CLOEXEC) != 0)) {
        return {};
    }
    std::signal(SIGPIPE, SIG_IGN);
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        const int in = run.pipedInput ? feed[0] : ::open("/dev/null", O_RDONLY);
        const int out = run.stdoutPipe     ? drain[1]
                        : run.stdoutDevice ? ::open(run.stdoutDevice->c_str(), O_WRONLY | O_CLOEXEC)
                                           : openCapture(outPath);
        const int err = openCapture(errPath);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
            ::dup2(err, 2) < 0 || ::chdir(run.workingDirectory.c_str()) != 0) {
            ::_exit(126);
        }
        if (run.addressSpaceLimit) {
            const rlimit limit{*run.addressSpaceLimit, *run.addressSpaceLimit};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        if (run.fileSizeLimit) {
            // Ignored, the signal lets a write past the limit fail as on a full disk.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{*run.fileSizeLimit, *run.fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        for (const auto& [name, value] : run.environment) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        ::alarm(300);  // a hang fails the case instead of the whole suite
        if (wrapped) {
            ::setenv("PATH", path.c_str(), 1);
            ::execvp(program.c_str(), argv.data());
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    if (run.pipedInput) {
        ::close(feed[0]);
        sendAll(feed[1], *run.pipedInput);
        ::close(feed[1]);
    }
    BinaryOutcome outcome;
    if (run.stdoutPipe) {
        ::close(drain[1]);
        outcome.out = readAll(drain[0]);
        ::close(drain[0]);
    }
    int wait = 0;
    while (::waitpid(child, &wait, 0) < 0 && errno == EINTR) {
    }
    outcome.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
    if (!run.stdoutPipe && !run.stdoutDevice) {
        outcome.out = readFile(outPath);
    }
    outcome.err = readFile(errPath);
    fs::remove_all(scratch);
    return outcome;
}

}  // namespace vellumbrook::testing
