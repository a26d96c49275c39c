// Runs every case folder under tests/golden through the built binary and compares standard
// output, standard error and the exit status exactly. A case folder holds:
//   args           one argument per line (an empty line is an empty argument)
//   stdout         expected standard output (absent: empty)
//   stderr         expected standard error (absent: empty)
//   status         expected exit status (absent: 0)
//   stdin          optional: fed to the binary through a pipe
//   stdout-device  optional: a path opened as standard output instead of a capture file
//   skip-on-windows  optional: why the case cannot hold on Windows, where it is skipped
// plus whatever input files the arguments name; the binary runs inside the case folder.
// On Unix each case also runs with standard output a pipe (written a line at a time, where a
// file takes blocks) and through every scan path this processor has.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "support/run_binary.hpp"

namespace vellumbrook {
namespace {

namespace fs = std::filesystem;

using testing::readFile;

std::string readIfPresent(const fs::path& path, const std::string& otherwise = "") {
    return fs::exists(path) ? readFile(path) : otherwise;
}

// How a case is run: "" as a user runs the program, "pipe" with standard output a pipe, or
// the name of a scan path.
constexpr std::string_view kThroughPipe = "pipe";

testing::BinaryRun runOf(const fs::path& caseDir, const std::string& way) {
    testing::BinaryRun run;
    run.stdoutPipe = way == kThroughPipe;
    if (!way.empty() && !run.stdoutPipe) {
        run.scanPath = way;
    }
    run.workingDirectory = caseDir;
    std::istringstream lines(readFile(caseDir / "args"));
    for (std::string line; std::getline(lines, line);) {
        run.args.push_back(line);
    }
    if (fs::exists(caseDir / "stdin")) {
        run.pipedInput = readFile(caseDir / "stdin");
    }
    if (fs::exists(caseDir / "stdout-device")) {
        run.stdoutDevice = readFile(caseDir / "stdout-device");
    }
    return run;
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

std::vector<std::string> waysToRun() {
    std::vector<std::string> ways = testing::scanPathsToRun();
    if (testing::kCanLimitTheChild) {
        ways.insert(ways.begin() + 1, std::string(kThroughPipe));
    }
    return ways;
}

class Golden : public ::testing::TestWithParam<std::tuple<std::string, std::string>> {};

TEST_P(Golden, MatchesExactly) {
    const auto& [name, way] = GetParam();
    const fs::path caseDir = fs::path(GOLDEN_DIR) / name;
#ifdef _WIN32
    if (fs::exists(caseDir / "skip-on-windows")) {
        GTEST_SKIP() << readFile(caseDir / "skip-on-windows");
    }
#endif
    if (way == kThroughPipe && fs::exists(caseDir / "stdout-device")) {
        GTEST_SKIP() << "writes to a device of its own";
    }
    const testing::BinaryOutcome got = testing::runBinary(runOf(caseDir, way));
    EXPECT_EQ(got.status, std::stoi(readIfPresent(caseDir / "status", "0")));
    if (!fs::exists(caseDir / "stdout-device")) {
        EXPECT_EQ(got.out, readIfPresent(caseDir / "stdout"));
    }
    EXPECT_EQ(got.err, readIfPresent(caseDir / "stderr"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Golden,
    ::testing::Combine(::testing::ValuesIn(caseNames()), ::testing::ValuesIn(waysToRun())),
    [](const auto& info) {
        const std::string& way = std::get<1>(info.param);
        std::string name = std::get<0>(info.param) + (way.empty() ? "" : "_" + way);
        std::replace_if(
            name.begin(), name.end(), [](unsigned char c) { return std::isalnum(c) == 0; }, '_');
        return name;
    });

}  // namespace
}  // namespace vellumbrook
