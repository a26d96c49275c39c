// Matches the tick pattern over every line of a file and does nothing else: the floor under
// the converter's time. Prints the seconds spent and the number of matching lines.
#include <boost/regex.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pattern_only FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::pair<const char*, const char*>> lines;
    for (const char* at = text.data(); at < text.data() + text.size();) {
        const char* end =
            static_cast<const char*>(std::memchr(at, '\n', text.data() + text.size() - at));
        if (end == nullptr) {
            end = text.data() + text.size();
        }
        lines.emplace_back(at, end);
        at = end + 1;
    }

    const auto start = std::chrono::steady_clock::now();
    const boost::regex pattern("(.*),(.*),(.*),(.*)");
    boost::match_results<const char*> match;
    std::size_t matched = 0;
    for (const auto& [first, last] : lines) {
        matched += boost::regex_search(first, last, match, pattern) ? 1 : 0;
    }
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    std::printf("%.3f %zu\n", spent.count(), matched);
    return 0;
}
