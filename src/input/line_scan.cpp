#include "input/line_scan.hpp"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && !defined(_WIN32)
#include <immintrin.h>
#define VELLUMBROOK_AVX2 1
#endif

namespace vellumbrook {

namespace {

// Bits set in a word, in plain arithmetic: the build's baseline processor has no instruction
// for it, and the library call the compiler would make costs more than this.
inline unsigned countBits(std::uint64_t bits) {
    bits -= (bits >> 1) & 0x5555555555555555;
    bits = (bits & 0x3333333333333333) + ((bits >> 2) & 0x3333333333333333);
    bits = (bits + (bits >> 4)) & 0x0f0f0f0f0f0f0f0f;
    return static_cast<unsigned>((bits * 0x0101010101010101) >> 56);
}

// Adds one classified block to the index. Its positions are written a fixed number at a time
// whether or not that many are set, which spares a branch on their count that could not be
// predicted; the index has room for the extra entries.
template <typename CountBits>
[[gnu::always_inline]] inline void addBlock(BlockMasks mask, std::uint32_t base, BlockIndex& index,
                                            std::uint32_t*& commaOut, LineEnd*& endOut,
                                            CountBits countBits) {
    const auto commaCount = static_cast<std::uint32_t>(countBits(mask.commas));
    std::uint64_t commas = mask.commas;
    // A count fixed at compile time, so that the compiler unrolls the loop.
    constexpr std::uint32_t kCommasAtOnce = 8;
    for (std::uint32_t taken = 0; taken < kCommasAtOnce; ++taken) {
        commaOut[taken] = base + static_cast<std::uint32_t>(std::countr_zero(commas));
        commas &= commas - 1;
    }
    for (std::uint32_t taken = kCommasAtOnce; taken < commaCount; ++taken) {
        commaOut[taken] = base + static_cast<std::uint32_t>(std::countr_zero(commas));
        commas &= commas - 1;
    }
    const auto lineFeedCount = static_cast<std::uint32_t>(countBits(mask.lineFeeds));
    std::uint64_t lineFeeds = mask.lineFeeds;
    const auto commasBefore = static_cast<std::uint32_t>(commaOut - index.commas.data());
    const auto addLineEnd = [&](std::uint32_t taken) {
        const std::uint64_t below = (lineFeeds & (0 - lineFeeds)) - 1;
        endOut[taken] = {base + static_cast<std::uint32_t>(std::countr_zero(lineFeeds)),
                         commasBefore + static_cast<std::uint32_t>(countBits(mask.commas & below))};
        lineFeeds &= lineFeeds - 1;
    };
    addLineEnd(0);
    addLineEnd(1);
    for (std::uint32_t taken = 2; taken < lineFeedCount; ++taken) {
        addLineEnd(taken);
    }
    commaOut += commaCount;
    endOut += lineFeedCount;
    index.anyNul = index.anyNul || mask.nuls != 0;
}

// Classifies and indexes the blocks with `classify`; the last holds `lastBytes` bytes of data.
template <typename Classify, typename CountBits>
[[gnu::always_inline]] inline void scanWith(const char* bytes, std::size_t count,
                                            std::size_t lastBytes, BlockIndex& index,
                                            Classify classify, CountBits countBits) {
    constexpr std::size_t kSlack = 8;
    if (index.commas.size() < 64 * count + kSlack) {
        index.commas.resize(64 * count + kSlack);
        index.lineEnds.resize(64 * count + kSlack);
    }
    std::uint32_t* commaOut = index.commas.data();
    LineEnd* endOut = index.lineEnds.data() + 1;  // after the run's start
    index.lineEnds[0] = {};
    index.anyNul = false;
    for (std::size_t block = 0; block < count; ++block, bytes += 64) {
        BlockMasks mask = classify(bytes);
        if (block + 1 == count && lastBytes < 64) {
            // Whatever lies past the data is no part of it.
            const std::uint64_t data = (std::uint64_t{1} << lastBytes) - 1;
            mask = {mask.lineFeeds & data, mask.commas & data, mask.nuls & data};
        }
        addBlock(mask, static_cast<std::uint32_t>(64 * block), index, commaOut, endOut, countBits);
    }
    index.lineCount = static_cast<std::size_t>(endOut - index.lineEnds.data()) - 1;
}

BlockMasks classifyBytes(const char* bytes) {
    BlockMasks masks;
    for (unsigned i = 0; i < 64; ++i) {
        const std::uint64_t bit = std::uint64_t{1} << i;
        masks.lineFeeds |= bytes[i] == '\n' ? bit : 0;
        masks.commas |= bytes[i] == ',' ? bit : 0;
        masks.nuls |= bytes[i] == '\0' ? bit : 0;
    }
    return masks;
}

void scanBytes(const char* bytes, std::size_t count, std::size_t lastBytes, BlockIndex& index) {
    scanWith(bytes, count, lastBytes, index, classifyBytes, countBits);
}

#if defined(__SSE2__)
BlockMasks classifySse2(const char* bytes) {
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i zero = _mm_setzero_si128();
    BlockMasks masks;
    for (unsigned part = 0; part < 4; ++part) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * part));
        const auto maskOf = [&](__m128i wanted) {
            return static_cast<std::uint64_t>(
                       static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, wanted))))
                   << (16 * part);
        };
        masks.lineFeeds |= maskOf(lineFeed);
        masks.commas |= maskOf(comma);
        masks.nuls |= maskOf(zero);
    }
    return masks;
}

void scanSse2(const char* bytes, std::size_t count, std::size_t lastBytes, BlockIndex& index) {
    scanWith(bytes, count, lastBytes, index, classifySse2, countBits);
}
#endif

#if defined(VELLUMBROOK_AVX2)
// Built for AVX2 (and the bit-counting instructions that came before it) whatever the
// build's own target, and only called once the processor has said it runs them. The Windows
// build leaves it out: its stack is not kept aligned for 32-byte registers.
#define VELLUMBROOK_WIDE __attribute__((target("avx2,popcnt,bmi")))

VELLUMBROOK_WIDE inline std::uint64_t maskOf(__m256i low, __m256i high, __m256i wanted) {
    const auto lowBits =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted)));
    const auto highBits =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted)));
    return static_cast<std::uint64_t>(lowBits) | static_cast<std::uint64_t>(highBits) << 32;
}

VELLUMBROOK_WIDE BlockMasks classifyAvx2(const char* bytes) {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32));
    return {maskOf(low, high, _mm256_set1_epi8('\n')), maskOf(low, high, _mm256_set1_epi8(',')),
            maskOf(low, high, _mm256_setzero_si256())};
}

VELLUMBROOK_WIDE inline unsigned countBitsWide(std::uint64_t bits) {
    return static_cast<unsigned>(__builtin_popcountll(bits));
}

VELLUMBROOK_WIDE void scanAvx2(const char* bytes, std::size_t count, std::size_t lastBytes,
                               BlockIndex& index) {
    scanWith(bytes, count, lastBytes, index, classifyAvx2, countBitsWide);
}

bool processorHasAvx2() {
    return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("popcnt") != 0 &&
           __builtin_cpu_supports("bmi") != 0;
}
#endif

}  // namespace

std::vector<ScanPath> availableScanPaths() {
    std::vector<ScanPath> paths{ScanPath::scalar};
#if defined(__SSE2__)
    paths.push_back(ScanPath::sse2);
#endif
#if defined(VELLUMBROOK_AVX2)
    if (processorHasAvx2()) {
        paths.push_back(ScanPath::avx2);
    }
#endif
    return paths;
}

ScanPath fastestScanPath() {
    return availableScanPaths().back();
}

BlockScanner scannerFor(ScanPath path) {
    switch (path) {
#if defined(__SSE2__)
        case ScanPath::sse2:
            return scanSse2;
#endif
#if defined(VELLUMBROOK_AVX2)
        case ScanPath::avx2:
            return processorHasAvx2() ? scanAvx2 : scannerFor(ScanPath::sse2);
#endif
        default:
            return scanBytes;
    }
}

std::string_view nameOf(ScanPath path) {
    switch (path) {
        case ScanPath::sse2:
            return "sse2";
        case ScanPath::avx2:
            return "avx2";
        case ScanPath::scalar:
            break;
    }
    return "scalar";
}

}  // namespace vellumbrook
