#include <fstream>
#include <sstream>

#include "support/run_binary.hpp"

namespace vellumbrook::testing {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace vellumbrook::testing
