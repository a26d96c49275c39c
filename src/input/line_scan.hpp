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

// A line feed of a run of classified blocks: its offset from the run's first byte, and how
// many commas the run holds before it.
struct LineEnd {
    std::uint32_t at = 0;
    std::uint32_t commasBefore = 0;
};

// The line feeds and commas of a run of blocks, in order. lineEnds[0] stands for the run's
// start, so that line k (from 1) holds the commas from lineEnds[k - 1].commasBefore up to
// lineEnds[k].commasBefore.
struct BlockIndex {
    std::vector<std::uint32_t> commas;  // their offsets from the run's first byte
    std::vector<LineEnd> lineEnds;
    std::size_t lineCount = 0;
    bool anyNul = false;  // in the run
};

// Classifies and indexes `count` blocks of 64 bytes from `bytes` (at most 2^25, so that
// offsets fit in 32 bits), which must all be readable; the last of them holds `lastBytes`
// bytes of the run (1 to 64), and what follows is no part of it.
using BlockScanner = void (*)(const char* bytes, std::size_t count, std::size_t lastBytes,
                              BlockIndex& index);

// The paths this build can run on this processor, the fastest last.
std::vector<ScanPath> availableScanPaths();
ScanPath fastestScanPath();
BlockScanner scannerFor(ScanPath path);
std::string_view nameOf(ScanPath path);

}  // namespace vellumbrook
