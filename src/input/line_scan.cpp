#include "input/line_scan.hpp"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && !defined(_WIN32)
#include <immintrin.h>
#define VELLUMBROOK_AVX2 1
#endif

namespace vellumbrook {

namespace {

constexpr char kEndOfData = '\x1a';

// Counts on a byte at a time from `done`, where `count` line feeds have been found.
LineFeedCount countRest(const char* bytes, std::size_t size, std::size_t done,
                        std::uint64_t count) {
    const void* stop = std::memchr(bytes + done, kEndOfData, size - done);
    const std::size_t dataSize =
        stop == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(stop) - bytes);
    return {count + static_cast<std::uint64_t>(std::count(bytes + done, bytes + dataSize, '\n')),
            dataSize};
}

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
// Each byte lane counts its line feeds for up to 255 vectors, then the lanes are summed; a
// batch that holds a 1A is left to the count a byte at a time.
LineFeedCount countSse2(const char* bytes, std::size_t size) {
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i endOfData = _mm_set1_epi8(kEndOfData);
    std::uint64_t count = 0;
    std::size_t done = 0;
    while (size - done >= 16) {
        const std::size_t vectors = std::min<std::size_t>((size - done) / 16, 255);
        __m128i lanes = _mm_setzero_si128();
        __m128i ends = _mm_setzero_si128();
        for (std::size_t vector = 0; vector < vectors; ++vector) {
            const __m128i chunk =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + done + 16 * vector));
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(chunk, lineFeed));
            ends = _mm_or_si128(ends, _mm_cmpeq_epi8(chunk, endOfData));
        }
        if (_mm_movemask_epi8(ends) != 0) {
            break;
        }
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        count += static_cast<std::uint64_t>(_mm_cvtsi128_si32(sums)) +
                 static_cast<std::uint64_t>(_mm_extract_epi16(sums, 4));
        done += 16 * vectors;
    }
    return countRest(bytes, size, done, count);
}

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

VELLUMBROOK_WIDE LineFeedCount countAvx2(const char* bytes, std::size_t size) {
    const __m256i lineFeed = _mm256_set1_epi8('\n');
    const __m256i endOfData = _mm256_set1_epi8(kEndOfData);
    std::uint64_t count = 0;
    std::size_t done = 0;
    while (size - done >= 32) {
        const std::size_t vectors = std::min<std::size_t>((size - done) / 32, 255);
        __m256i lanes = _mm256_setzero_si256();
        __m256i ends = _mm256_setzero_si256();
        for (std::size_t vector = 0; vector < vectors; ++vector) {
            const __m256i chunk =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + done + 32 * vector));
            lanes = _mm256_sub_epi8(lanes, _mm256_cmpeq_epi8(chunk, lineFeed));
            ends = _mm256_or_si256(ends, _mm256_cmpeq_epi8(chunk, endOfData));
        }
        if (_mm256_movemask_epi8(ends) != 0) {
            break;
        }
        const __m256i sums = _mm256_sad_epu8(lanes, _mm256_setzero_si256());
        count += static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 0)) +
                 static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 1)) +
                 static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 2)) +
                 static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 3));
        done += 32 * vectors;
    }
    return countRest(bytes, size, done, count);
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

LineFeedCounter counterFor(ScanPath path) {
    switch (path) {
#if defined(__SSE2__)
        case ScanPath::sse2:
            return countSse2;
#endif
#if defined(VELLUMBROOK_AVX2)
        case ScanPath::avx2:
            return processorHasAvx2() ? countAvx2 : counterFor(ScanPath::sse2);
#endif
        default:
            return [](const char* bytes, std::size_t size) { return countRest(bytes, size, 0, 0); };
    }
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
