// Runs every case folder under tests/golden through the built binary and compares standard
// output, standard error and the exit status exactly. A case folder holds:
//   args           one argument per line (an empty line is an empty argument)
//   stdout         expected standard output (absent: empty)
//   stderr         expected standard error (absent: empty)
//   status         expected exit status (absent: 0)
//   stdin          optional: fed to the binary through a pipe
//   stdout-device  optional: a path opened as standard output instead of a capture file
// plus whatever input files the arguments name; the binary runs inside the case folder.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string readIfPresent(const fs::path& path, const std::string& otherwise = "") {
    return fs::exists(path) ? readFile(path) : otherwise;
}

std::vector<std::string> argumentsOf(const fs::path& path) {
    std::vector<std::string> args;
    std::istringstream lines(readFile(path));
    for (std::string line; std::getline(lines, line);) {
        args.push_back(line);
    }
    return args;
}

struct Outcome {
    std::string out;
    std::string err;
    int status = -1;
};

int openCapture(const fs::path& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

Outcome run(const fs::path& caseDir) {
    const fs::path scratch =
        fs::temp_directory_path() / ("vellumbrook-golden-" + caseDir.filename().string());
    fs::create_directories(scratch);
    const fs::path outPath = scratch / "stdout";
    const fs::path errPath = scratch / "stderr";
    const fs::path device = readIfPresent(caseDir / "stdout-device");
    const bool pipeInput = fs::exists(caseDir / "stdin");
    const std::string input = readIfPresent(caseDir / "stdin");

    std::vector<std::string> args = argumentsOf(caseDir / "args");
    args.insert(args.begin(), "vellumbrook");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    int feed[2] = {-1, -1};
    if (pipeInput && ::pipe(feed) != 0) {
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const int in = pipeInput ? feed[0] : ::open("/dev/null", O_RDONLY);
        const int out =
            device.empty() ? openCapture(outPath) : ::open(device.c_str(), O_WRONLY | O_CLOEXEC);
        const int err = openCapture(errPath);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
            ::dup2(err, 2) < 0 || ::chdir(caseDir.c_str()) != 0) {
            ::_exit(126);
        }
        if (pipeInput) {
            ::close(feed[1]);
        }
        ::alarm(120);  // a hang fails the case instead of the whole suite
        ::execv(VELLUMBROOK_BINARY, argv.data());
        ::_exit(127);
    }
    if (pipeInput) {
        ::close(feed[0]);
        std::signal(SIGPIPE, SIG_IGN);
        for (std::size_t sent = 0; sent < input.size();) {
            const ssize_t n = ::write(feed[1], input.data() + sent, input.size() - sent);
            if (n <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
        ::close(feed[1]);
    }
    int wait = 0;
    while (::waitpid(child, &wait, 0) < 0 && errno == EINTR) {
    }
    Outcome outcome;
    outcome.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
    outcome.out = device.empty() ? readFile(outPath) : "";
    outcome.err = readFile(errPath);
    fs::remove_all(scratch);
    return outcome;
}

std::vector<std::string> caseNames() {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(GOLDEN_DIR)) {
        if (entry.is_directory()) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, MatchesExactly) {
    const fs::path caseDir = fs::path(GOLDEN_DIR) / GetParam();
    const Outcome got = run(caseDir);
    EXPECT_EQ(got.status, std::stoi(readIfPresent(caseDir / "status", "0")));
    if (!fs::exists(caseDir / "stdout-device")) {
        EXPECT_EQ(got.out, readIfPresent(caseDir / "stdout"));
    }
    EXPECT_EQ(got.err, readIfPresent(caseDir / "stderr"));
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, ::testing::ValuesIn(caseNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace_if(
                                 name.begin(), name.end(),
                                 [](char c) {
                                     return !std::isalnum(static_cast<unsigned char>(c));
                                 },
                                 '_');
                             return name;
                         });

}  // namespace
