// Random argument vectors through the option scanner and the option handling, in process.
// The bytes are cut into arguments at NUL bytes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/options.hpp"
#include "fuzz/check.hpp"

namespace {

using namespace vellumbrook;
using fuzz::check;

struct Captured {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    Captured() = default;
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;
    ~Captured() {
        if (stream != nullptr) {
            std::fclose(stream);
        }
        std::free(text);
    }
    std::string take() {
        std::fflush(stream);
        return text ? std::string(text, size) : std::string();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args{"vellumbrook"};
    std::string current;
    for (std::size_t i = 0; i < size && args.size() < 32; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty()) {
        args.push_back(current);
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const std::vector<char*> before = argv;

    Captured out;
    Captured err;
    const Console console{out.stream, err.stream};
    RunSettings settings;
    OptionScanner scanner;
    const Flow flow =
        processOptions(static_cast<int>(args.size()), argv.data(), settings, scanner, console);
    const std::string written = out.take();
    const std::string messages = err.take();

    std::vector<char*> sortedBefore(before.begin(), before.end() - 1);
    std::vector<char*> sortedAfter(argv.begin(), argv.end() - 1);
    check(argv.front() == before.front(), "the program path moved");
    std::sort(sortedBefore.begin(), sortedBefore.end());
    std::sort(sortedAfter.begin(), sortedAfter.end());
    check(sortedBefore == sortedAfter, "the argument vector is no permutation of itself");

    if (flow == Flow::proceed) {
        check(settings.fileGiven == 1 && settings.showOptions == 0, "went on without a file");
        check(written.empty() && messages.empty(), "went on after writing a message");
        check(settings.emaSpan >= 1 && settings.ticksPerCandle >= 0 && settings.candleLimit >= 0 &&
                  settings.futureCount >= 0 && settings.emaOffset >= 0,
              "a negative or zero-span setting");
    } else {
        check(!written.empty() || !messages.empty(), "stopped without a message");
        // The scanner's message names the option letter as it is, so a letter that is itself a
        // newline makes its message two lines long.
        const bool newlineLetter =
            std::any_of(args.begin() + 1, args.end(),
                        [](const std::string& a) { return a.find('\n') != std::string::npos; });
        check(newlineLetter || std::count(messages.begin(), messages.end(), '\n') <= 1,
              "more than one error line");
    }
    return 0;
}
