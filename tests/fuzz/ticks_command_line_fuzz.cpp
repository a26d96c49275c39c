// Random argument vectors through vellumbrook-ticks' own driver, in a scratch folder that
// holds three tick files; the bytes are cut into arguments at NUL bytes. Whatever the
// options, -o among them: the status is 0, 1 or 2, a failure says why in the program's own
// lines, no file but the output is changed, and a failed run changes nothing.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz/check.hpp"
#include "fuzz/ticks_run.hpp"

namespace {

namespace fs = std::filesystem;
using vellumbrook::fuzz::check;

const std::map<std::string, std::string>& inputs() {
    static const std::map<std::string, std::string> files{
        {"a.csv",
         "EUR/USD,20240102 00:00:00.000,1.1,1.2\nEUR/USD,20240102 00:00:01.000,1.15,1.25\n"},
        {"b.csv",
         "id,price,qty,quote_qty,time,is_buyer_maker,is_best_match\n"
         "1,42000.5,0.1,4200.05,1704153600000,True,True\n"},
        {"c.csv",
         "Gmt time,Ask,Bid,AskVolume,BidVolume\n"
         "02.01.2024 00:00:00.000,1.2,1.1,1,1\n"},
    };
    return files;
}

// A scratch folder of this process's own, entered for one run (libFuzzer reads its corpus by
// relative names), with the inputs written afresh.
class InScratchFolder {
  public:
    InScratchFolder() {
        static const fs::path folder = vellumbrook::fuzz::scratchFile("ticks-cli-fuzz");
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::current_path(folder);
        for (const auto& [name, bytes] : inputs()) {
            std::ofstream(name, std::ios::binary) << bytes;
        }
    }
    InScratchFolder(const InScratchFolder&) = delete;
    InScratchFolder& operator=(const InScratchFolder&) = delete;
    ~InScratchFolder() { fs::current_path(before_); }

  private:
    fs::path before_ = fs::current_path();
};

// What the folder holds, by name.
std::map<std::string, std::string> folderContents() {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(".")) {
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().filename().string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

// A word that could reach outside the folder, or standard input (which would wait), names
// an input instead.
std::string keptInFolder(std::string word) {
    if (word == "-" || word == "." || word.find("..") != std::string::npos ||
        word.find_first_of("/\\") != std::string::npos) {
        return "a.csv";
    }
    return word;
}

// The names that may be given to -o: an input may be one, and then be written over.
std::set<std::string> outputNames(const std::vector<std::string>& args) {
    std::set<std::string> names;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& word = args[i];
        if ((word == "-o" || word == "--output") && i + 1 < args.size()) {
            names.insert(args[i + 1]);
        } else if (word.starts_with("--output=")) {
            names.insert(word.substr(9));
        } else if (word.starts_with("-o")) {
            names.insert(word.substr(2));
        }
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args{"vellumbrook-ticks"};
    std::string current;
    for (std::size_t i = 0; i <= size && args.size() < 24; ++i) {
        if (i == size || data[i] == 0) {
            args.push_back(keptInFolder(current));
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    const InScratchFolder scratch;
    const vellumbrook::fuzz::TicksRun run = vellumbrook::fuzz::runTicks(args, 1 + size % 64);
    check(run.status == 0 || run.status == 1 || run.status == 2, "status is 0, 1 or 2");
    check(run.status == 0 || !run.messages.empty(), "a failure says why");
    check(vellumbrook::fuzz::linesAreSound(run.messages, "vellumbrook-ticks"),
          "messages are the program's lines, escaped");
    const std::map<std::string, std::string> after = folderContents();
    const std::set<std::string> outputs = outputNames(args);
    for (const auto& [name, bytes] : inputs()) {
        check((run.status == 0 && outputs.contains(name)) ||
                  (after.contains(name) && after.at(name) == bytes),
              "only the output file is written, and only by a run that succeeds");
    }
    check(run.status == 0 || after.size() == inputs().size(), "a failed run leaves no file");
    return 0;
}
