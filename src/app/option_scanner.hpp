#pragma once

#include <cstdint>
#include <cstdio>

namespace vellumbrook {

// A POSIX getopt style scanner for single-letter options that also permutes: words that are
// not options are moved behind the options, so options may stand anywhere on the command
// line. The state keeps getopt's names; one scan per process, since nothing resets optind.
struct OptionScanner {
    std::int32_t optind = 1;
    std::int32_t clusterPos = 0;
    std::int32_t movedCount = 0;
    const char* optarg = nullptr;
    std::int32_t optopt = 0;

    // Returns the next option letter, '?' or ':' on an error, 1 for a word in '-' mode, and
    // -1 once the options are exhausted. Error messages go to `messages`, printf style,
    // naming argv[0] as invoked.
    std::int32_t nextOption(int argc, char** argv, const char* optionSpec,
                            std::FILE* messages = stderr);

  private:
    std::int32_t finish(int argc, char** argv);
};

}  // namespace vellumbrook
