#include "input/line_scan.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && !defined(_WIN32)
#include <immintrin.h>
#define VELLUMBROOK_AVX2 1
#endif

namespace vellumbrook {

namespace {

void classifyBytes(const char* bytes, std::size_t count, BlockMasks* masks) {
    for (std::size_t block = 0; block < count; ++block, bytes += 64) {
        BlockMasks found;
        for (unsigned i = 0; i < 64; ++i) {
            const std::uint64_t bit = std::uint64_t{1} << i;
            found.lineFeeds |= bytes[i] == '\n' ? bit : 0;
            found.commas |= bytes[i] == ',' ? bit : 0;
            found.nuls |= bytes[i] == '\0' ? bit : 0;
        }
        masks[block] = found;
    }
}

#if defined(__SSE2__)
void classifySse2(const char* bytes, std::size_t count, BlockMasks* masks) {
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i zero = _mm_setzero_si128();
    for (std::size_t block = 0; block < count; ++block, bytes += 64) {
        BlockMasks found;
        for (unsigned part = 0; part < 4; ++part) {
            const __m128i chunk =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * part));
            const auto maskOf = [&](__m128i wanted) {
                return static_cast<std::uint64_t>(
                           static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, wanted))))
                       << (16 * part);
            };
            found.lineFeeds |= maskOf(lineFeed);
            found.commas |= maskOf(comma);
            found.nuls |= maskOf(zero);
        }
        masks[block] = found;
    }
}
#endif

#if defined(VELLUMBROOK_AVX2)
// Built for AVX2 whatever the build's own target, and only called once the processor has
// said it runs it. The Windows build leaves it out: its stack is not kept aligned for 32-byte
// registers.
#define VELLUMBROOK_WIDE __attribute__((target("avx2")))

VELLUMBROOK_WIDE inline std::uint64_t maskOf(__m256i low, __m256i high, __m256i wanted) {
    const auto lowBits =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted)));
    const auto highBits =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted)));
    return static_cast<std::uint64_t>(lowBits) | static_cast<std::uint64_t>(highBits) << 32;
}

VELLUMBROOK_WIDE void classifyAvx2(const char* bytes, std::size_t count, BlockMasks* masks) {
    const __m256i lineFeed = _mm256_set1_epi8('\n');
    const __m256i comma = _mm256_set1_epi8(',');
    const __m256i zero = _mm256_setzero_si256();
    for (std::size_t block = 0; block < count; ++block, bytes += 64) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32));
        masks[block] = {maskOf(low, high, lineFeed), maskOf(low, high, comma),
                        maskOf(low, high, zero)};
    }
}

bool processorHasAvx2() {
    return __builtin_cpu_supports("avx2") != 0;
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

BlockClassifier classifierFor(ScanPath path) {
    switch (path) {
#if defined(__SSE2__)
        case ScanPath::sse2:
            return classifySse2;
#endif
#if defined(VELLUMBROOK_AVX2)
        case ScanPath::avx2:
            return processorHasAvx2() ? classifyAvx2 : classifierFor(ScanPath::sse2);
#endif
        default:
            return classifyBytes;
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
