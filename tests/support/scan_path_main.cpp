// The converter as its main runs it, but with the scan path named by the first argument
// ("scalar", "sse2" or "avx2"): vellumbrook_scan_path sse2 -f ticks.csv -t 5
#include <string_view>
#include <vector>

#include "app/run.hpp"
#include "input/line_scan.hpp"
#include "platform/platform.hpp"

int main(int argc, char** argv) {
    using vellumbrook::ScanPath;
    if (argc < 2) {
        return 125;
    }
    const std::string_view wanted = argv[1];
    ScanPath path = ScanPath::scalar;
    for (const ScanPath available : vellumbrook::availableScanPaths()) {
        if (vellumbrook::nameOf(available) == wanted) {
            path = available;
        }
    }
    if (vellumbrook::nameOf(path) != wanted) {
        return 125;  // a path this processor cannot run
    }
    std::vector<char*> arguments{argv[0]};
    arguments.insert(arguments.end(), argv + 2, argv + argc);
    arguments.push_back(nullptr);
    vellumbrook::platform::useBinaryStandardStreams();
    return vellumbrook::runVellumbrook(argc - 1, arguments.data(), {}, path);
}
