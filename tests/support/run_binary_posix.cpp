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

BinaryOutcome runBinary(const BinaryRun& run) {
    char scratchTemplate[] = "/tmp/vellumbrook-run-XXXXXX";
    const fs::path scratch = ::mkdtemp(scratchTemplate);
    const fs::path outPath = scratch / "stdout";
    const fs::path errPath = scratch / "stderr";

    // Messages name argv[0] as invoked, so the binary is always invoked as "vellumbrook"; a
    // wrapper finds it through PATH.
    std::vector<std::string> words = wrapperWords();
    const bool wrapped = !words.empty();
    const std::string program = wrapped ? words.front() : VELLUMBROOK_BINARY;
    words.push_back("vellumbrook");
    words.insert(words.end(), run.args.begin(), run.args.end());
    const std::string path = fs::path(VELLUMBROOK_BINARY).parent_path().string() + ":" +
                             (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    int feed[2] = {-1, -1};
    if (run.pipedInput && ::pipe(feed) != 0) {
        return {};
    }
    std::signal(SIGPIPE, SIG_IGN);
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        const int in = run.pipedInput ? feed[0] : ::open("/dev/null", O_RDONLY);
        const int out = run.stdoutDevice ? ::open(run.stdoutDevice->c_str(), O_WRONLY | O_CLOEXEC)
                                         : openCapture(outPath);
        const int err = openCapture(errPath);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
            ::dup2(err, 2) < 0 || ::chdir(run.workingDirectory.c_str()) != 0) {
            ::_exit(126);
        }
        if (run.pipedInput) {
            ::close(feed[1]);
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
    int wait = 0;
    while (::waitpid(child, &wait, 0) < 0 && errno == EINTR) {
    }
    BinaryOutcome outcome;
    outcome.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
    outcome.out = run.stdoutDevice ? "" : readFile(outPath);
    outcome.err = readFile(errPath);
    fs::remove_all(scratch);
    return outcome;
}

}  // namespace vellumbrook::testing
