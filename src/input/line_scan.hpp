#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vellumbrook {

// Where the bytes that the line and field rules turn on stand in one block of 64 bytes: bit i
// is set when byte i is a line feed, a comma or a NUL.
struct BlockMasks {
    std::uint64_t lineFeeds = 0;
    std::uint64_t commas = 0;
    std::uint64_t nuls = 0;
};

// The ways a block can be classified: a byte at a time (any processor), 16 bytes at a time
// (SSE2, every x86-64) or 32 bytes at a time (AVX2, chosen when the processor has it). They
// give the same masks; only the speed differs.
enum class ScanPath { scalar, sse2, avx2 };

// Classifies `count` blocks of 64 bytes from `bytes`, which must all be readable, into
// `masks[0]` to `masks[count - 1]`.
using BlockClassifier = void (*)(const char* bytes, std::size_t count, BlockMasks* masks);

// The paths this build can run on this processor, the fastest last.
std::vector<ScanPath> availableScanPaths();
ScanPath fastestScanPath();
BlockClassifier classifierFor(ScanPath path);
std::string_view nameOf(ScanPath path);

// The line feeds among the first `size` bytes at `bytes` that come before a byte 1A hex (which
// ends the data), and how many bytes come before that byte: `size` when there is none.
struct LineFeedCount {
    std::uint64_t lineFeeds = 0;
    std::size_t dataSize = 0;
};
// Counted by `path`, as the classifiers are chosen.
using LineFeedCounter = LineFeedCount (*)(const char* bytes, std::size_t size);
LineFeedCounter counterFor(ScanPath path);

// The mask bits of the 64 bytes that end right before bit `at` of the block mask `here`, where
// `before` is the mask of the block before it: bit 63 stands for the byte right before the one
// at `at`, bit 0 for the byte 64 places before it.
inline std::uint64_t windowBefore(std::uint64_t before, std::uint64_t here, unsigned at) {
    // Shifting `here` in two steps keeps `at` 0 defined: its bits then all fall off.
    return ((here << 1) << (63 - at)) | (before >> at);
}

}  // namespace vellumbrook
