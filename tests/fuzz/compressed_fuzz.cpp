// Arbitrary bytes as a file that vellumbrook-ticks is given: told as plain text, gzip or zip
// by its first bytes, its container read and its members inflated. Every input gives its
// bytes or one clear error, never a crash, and memory stays bounded however much a member
// inflates to: no more than a few MiB of it are read here.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/check.hpp"
#include "ticks/compressed.hpp"
#include "ticks/inputs.hpp"
#include "ticks/messages.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = vellumbrook::fuzz::scratchFile("compressed-fuzz.bin");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    using vellumbrook::fuzz::check;
    try {
        std::vector<vellumbrook::ticks::Input> inputs = vellumbrook::ticks::openInputs(path);
        check(!inputs.empty(), "a file gives at least one input");
        std::vector<char> block(std::size_t{1} << 16);
        for (vellumbrook::ticks::Input& input : inputs) {
            check(input.name.starts_with(path), "a member is named after its file");
            std::size_t total = 0;
            try {
                for (std::size_t got = 0; total < (std::size_t{4} << 20) &&
                                          (got = input.bytes(block.data(), block.size())) > 0;
                     total += got) {
                    check(got <= block.size(), "no more bytes than asked for");
                }
            } catch (const vellumbrook::ticks::CompressedError& error) {
                check(std::string_view(error.what()).find('\n') == std::string_view::npos,
                      "a damaged member is named in one line");
            }
        }
    } catch (const vellumbrook::ticks::Stop& stop) {
        check(stop.message.starts_with("vellumbrook-ticks: "), "a refusal is the program's line");
    }
    return 0;
}
