#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vellumbrook::testing {

struct BinaryRun {
    std::vector<std::string> args;  // without argv[0], which is "vellumbrook"
    std::filesystem::path workingDirectory = std::filesystem::temp_directory_path();
    std::optional<std::string> pipedInput;              // fed through a pipe when given
    std::optional<std::filesystem::path> stdoutDevice;  // opened as standard output instead
    std::optional<std::size_t> addressSpaceLimit;       // bytes, for running out of memory
    std::optional<std::size_t> fileSizeLimit;           // bytes, for a file that cannot grow
    std::vector<std::pair<std::string, std::string>> environment;  // set on top of ours
    // Unix: run the converter through a test program that scans by this path ("scalar",
    // "sse2", "avx2") instead of the fastest, or read standard output through a pipe.
    std::optional<std::string> scanPath;
    bool stdoutPipe = false;
};

// Whether the runs can limit the child's address space and file size, set its environment,
// choose its scan path and give it a pipe for standard output (Unix), for the tests that
// need them.
extern const bool kCanLimitTheChild;

// The scan paths the converter can be run through on this machine, with "" (the program
// itself) first; only that one where the runs cannot choose.
std::vector<std::string> scanPathsToRun();

struct BinaryOutcome {
    std::string out;
    std::string err;
    int status = -1;  // the exit status, or 128 + the signal that ended the process
};

std::string readFile(const std::filesystem::path& path);

// Runs the built converter, with a time limit, and collects what it wrote. When the
// environment variable VELLUMBROOK_TEST_WRAPPER is set (for example to a valgrind command
// line), its words are put in front of the binary.
BinaryOutcome runBinary(const BinaryRun& run);

}  // namespace vellumbrook::testing
