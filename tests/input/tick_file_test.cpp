#include "input/tick_file.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/tick_bytes.hpp"

namespace vellumbrook {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::rewrite;
using testing::tickFileOf;

// The lines of the second pass; the fields it finds for each must be those that the scan of
// the line alone finds, which the tick line tests hold to the tick pattern.
std::vector<std::string> secondPass(const TickFile& ticks, std::size_t bufferSize,
                                    ScanPath path = fastestScanPath()) {
    LineReader reader(ticks, bufferSize, path);
    std::vector<std::string> lines;
    for (LineReader::ScannedLine scanned; reader.nextLine(scanned);) {
        lines.emplace_back(scanned.line);
        const std::optional<TickFields> expected = findTickFields(scanned.line);
        EXPECT_EQ(scanned.hasFields, expected.has_value())
            << nameOf(path) << ::testing::PrintToString(lines.back());
        if (expected && scanned.hasFields) {
            EXPECT_EQ(scanned.fields.timeText, expected->timeText) << nameOf(path);
            EXPECT_EQ(scanned.fields.priceText, expected->priceText) << nameOf(path);
        }
    }
    return lines;
}

struct FramingCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
};

class Framing : public ::testing::TestWithParam<FramingCase> {};

// Every buffer size from one byte up puts the cut between two reads at every place, and
// every way of classifying the bytes must frame them alike.
TEST_P(Framing, CountsAndCutsLinesTheSameWhereverTheReadsEnd) {
    const TickFile ticks = tickFileOf(GetParam().bytes);
    EXPECT_EQ(ticks.lineCount, static_cast<std::int32_t>(GetParam().lines.size()));
    for (std::size_t bufferSize = 1; bufferSize <= GetParam().bytes.size() + 1; ++bufferSize) {
        LineReader counter(ticks.file, true, nullptr, bufferSize);
        const LineReader::Count count = counter.countLines(TickFile::kMaxLines);
        EXPECT_EQ(count.lines, ticks.lineCount) << "buffer " << bufferSize;
        EXPECT_EQ(count.bytes, ticks.byteCount) << "buffer " << bufferSize;
        for (const ScanPath path : availableScanPaths()) {
            EXPECT_EQ(secondPass(ticks, bufferSize, path), GetParam().lines)
                << "buffer " << bufferSize << ", " << nameOf(path);
        }
    }
}

// Lines drawn from the bytes that decide the framing and the fields, long and short, so that
// line ends, commas and NULs fall on every side of the 64-byte blocks: each way of
// classifying them must give every line and the fields its own scan gives.
TEST(TickFile, EveryScanPathFindsTheFieldsOfEachLineOfARandomFile) {
    const std::vector<std::string> pieces{",",
                                          ",",
                                          ",,",
                                          "\r",
                                          "\r\n",
                                          "\n",
                                          "\n",
                                          std::string(1, '\0'),
                                          "1.5",
                                          "T",
                                          "x",
                                          std::string(23, 'a'),
                                          std::string(61, 'b')};
    std::mt19937_64 random(21);
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        for (std::size_t count = random() % 60; count > 0; --count) {
            bytes += pieces[random() % pieces.size()];
        }
        const TickFile ticks = tickFileOf(bytes);
        const std::vector<std::string> expected = secondPass(ticks, 1, ScanPath::scalar);
        for (const ScanPath path : availableScanPaths()) {
            for (const std::size_t bufferSize :
                 {std::size_t{7}, std::size_t{64}, std::size_t{100}, platform::kReadSize}) {
                ASSERT_EQ(secondPass(ticks, bufferSize, path), expected)
                    << nameOf(path) << ", buffer " << bufferSize << ::testing::PrintToString(bytes);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    TickFile, Framing,
    ::testing::Values(
        FramingCase{"empty", "", {}}, FramingCase{"one_lf", "\n", {""}},
        FramingCase{"crlf_and_no_final_lf", "a\r\nb", {"a", "b"}},
        FramingCase{"final_lf_adds_no_line", "a\nb\n", {"a", "b"}},
        FramingCase{"empty_lines_kept", "\n\na\n\n", {"", "", "a", ""}},
        FramingCase{"lone_cr_stays", "a\rb\nc\r", {"a\rb", "c\r"}},
        FramingCase{"only_one_cr_belongs_to_the_end", "a\r\r\n", {"a\r"}},
        FramingCase{"end_of_data_byte",
                    "a\nb\x1a"
                    "c\nd\n",
                    {"a", "b"}},
        FramingCase{"end_of_data_after_lf",
                    "a\n\x1a"
                    "b\n",
                    {"a"}},
        FramingCase{"end_of_data_first", "\x1a\n", {}},
        FramingCase{"end_of_data_far_in",
                    std::string(100, 'x') + "\n\n" + std::string(40, 'y') + "\x1a\nz\n",
                    {std::string(100, 'x'), "", std::string(40, 'y')}},
        FramingCase{"cr_before_end_of_data", "a\r\x1a\n", {"a\r"}},
        FramingCase{"nul_bytes_stay", "a\0b\n\0\n"s, {"a\0b"s, "\0"s}},
        FramingCase{"long_line", std::string(40, 'x') + "\r\ny", {std::string(40, 'x'), "y"}},
        FramingCase{"fields_across_a_block_end",
                    std::string(60, 'x') + ",t,1.5,y\n,T,2,\n",
                    {std::string(60, 'x') + ",t,1.5,y", ",T,2,"}},
        FramingCase{"nul_a_block_before_the_fields",
                    "a\0"s + std::string(70, 'x') + ",t,1.5,y\n",
                    {"a\0"s + std::string(70, 'x') + ",t,1.5,y"}},
        FramingCase{"fields_of_a_line_over_three_blocks",
                    std::string(130, 'x') + ",t,1.5,y\r\n,\n",
                    {std::string(130, 'x') + ",t,1.5,y", ","}}),
    [](const ::testing::TestParamInfo<FramingCase>& info) { return std::string(info.param.name); });

TEST(TickFile, LinesPastTheMostAreNeitherCountedNorRead) {
    for (std::size_t bufferSize : {std::size_t{1}, std::size_t{3}, platform::kReadSize}) {
        const std::string bytes = "a\nbb\nccc\nd\ne";
        TickFile ticks = tickFileOf(bytes, 3);
        LineReader counter(ticks.file, true, nullptr, bufferSize);
        EXPECT_EQ(counter.countLines(3).bytes, 9U);
        EXPECT_EQ(ticks.lineCount, 3);
        EXPECT_EQ(secondPass(ticks, bufferSize), (std::vector<std::string>{"a", "bb", "ccc"}));
    }
    EXPECT_EQ(tickFileOf("a\nb", 2).byteCount, 3U);  // the last line needs no LF
}

// A recorder may append while the file is converted: what the first pass counted is read,
// and nothing behind it.
TEST(TickFile, FileThatGrowsIsReadAsItWasCounted) {
    const TickFile ticks = tickFileOf("a\nb");
    rewrite(ticks, "a\nbcd\ne\n");
    EXPECT_EQ(secondPass(ticks, 1), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(secondPass(ticks, platform::kReadSize), (std::vector<std::string>{"a", "b"}));
}

TEST(TickFile, FileThatShrinksOrLosesLinesCannotBeReadAgain) {
    const TickFile ticks = tickFileOf("a\nb\nc\n");
    for (const std::string& changed : {"a\nb\n"s, ""s, "a\nb\nc"s, "a\nb\x1a\n\n"s, "a,b,c\n"s}) {
        rewrite(ticks, changed);
        for (std::size_t bufferSize : {std::size_t{1}, platform::kReadSize}) {
            EXPECT_THROW(secondPass(ticks, bufferSize), TickReadError)
                << ::testing::PrintToString(changed);
        }
    }
}

class TickFileOnDisk : public ::testing::Test {
  protected:
    fs::path directory =
        fs::path(::testing::TempDir()) /
        ("vellumbrook-tick-file-" +
         std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::path path = directory / "ticks.csv";
    void SetUp() override { fs::create_directories(directory); }
    void TearDown() override { fs::remove_all(directory); }
    void write(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
};

TEST_F(TickFileOnDisk, CountsARegularFileInPlace) {
    std::string big;
    for (int i = 0; i < 100000; ++i) {
        big += "S,t" + std::to_string(i) + ",1.5,x\r\n";
    }
    write(big);
    TickFile ticks;
    ASSERT_EQ(readTickFile(path.string(), "/nonexistent", ticks).status, TickFileStatus::read);
    EXPECT_EQ(ticks.lineCount, 100000);
    EXPECT_EQ(ticks.byteCount, big.size());
    const std::vector<std::string> lines = secondPass(ticks, platform::kReadSize);
    EXPECT_EQ(lines.front(), "S,t0,1.5,x");
    EXPECT_EQ(lines.back(), "S,t99999,1.5,x");
}

TEST_F(TickFileOnDisk, CannotOpenMissingFilesDirectoriesAndEmptyNames) {
    TickFile ticks;
    for (const std::string& name : {(directory / "missing").string(), directory.string(), ""s}) {
        EXPECT_EQ(readTickFile(name, "/tmp", ticks).status, TickFileStatus::cannotOpen) << name;
    }
}

#ifndef _WIN32
// Unix files and devices whose like Windows does not have; the Windows build meets pipes
// end to end instead.

TEST(TickFile, ReadFailureAfterOpenIsReported) {
    TickFile ticks;
    EXPECT_EQ(readTickFile("/proc/self/mem", "/tmp", ticks).status, TickFileStatus::readError);
}

// A pipe whose writing end is closed once `bytes` are in it.
int pipeWith(const std::string& bytes) {
    int ends[2];
    if (::pipe(ends) != 0 ||
        ::write(ends[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        return -1;
    }
    ::close(ends[1]);
    return ends[0];
}

TEST_F(TickFileOnDisk, PipeIsCopiedToAnUnnamedFileAndReadTwice) {
    const platform::File pipe(pipeWith("a\nb\r\nc"));
    const fs::path scratch = directory / "scratch";
    fs::create_directory(scratch);
    TickFile ticks;
    const std::string name = "/proc/self/fd/" + std::to_string(pipe.handle());
    ASSERT_EQ(readTickFile(name, scratch.string(), ticks).status, TickFileStatus::read);
    EXPECT_EQ(ticks.lineCount, 3);
    EXPECT_EQ(secondPass(ticks, 2), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(fs::is_empty(scratch)) << "the copy has a name";
}

TEST_F(TickFileOnDisk, TemporaryFileThatCannotBeMadeIsReported) {
    const platform::File pipe(pipeWith("a\n"));
    TickFile ticks;
    const TickFileResult result = readTickFile("/proc/self/fd/" + std::to_string(pipe.handle()),
                                               (directory / "missing").string(), ticks);
    EXPECT_EQ(result.status, TickFileStatus::temporaryFileError);
    EXPECT_EQ(result.reason, std::strerror(ENOENT));
}

TEST(TickFile, CopyThatCannotBeWrittenIsReported) {
    const platform::File pipe(pipeWith("a\nb\n"));
    const platform::File full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(full.isOpen());
    LineReader reader(pipe, false, &full);
    try {
        (void)reader.countLines(TickFile::kMaxLines);
        FAIL() << "the copy went nowhere unnoticed";
    } catch (const CopyError& error) {
        EXPECT_STREQ(error.what(), std::strerror(ENOSPC));
    }
}

#endif

}  // namespace
}  // namespace vellumbrook
