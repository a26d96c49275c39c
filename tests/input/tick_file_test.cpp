#include "input/tick_file.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace vellumbrook {
namespace {

std::vector<std::string> linesOf(const TickLines& lines) {
    return {lines.begin(), lines.end()};
}

// Frames `bytes` fed in pieces of `piece` bytes, so that every cut point is exercised.
std::vector<std::string> frame(const std::string& bytes, std::size_t piece) {
    // Tiny blocks and reads, so that lines spread over many blocks and unfinished lines move.
    TickLines lines(16);
    LineFramer framer(lines, 4);
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        if (!framer.feed(std::string_view(bytes).substr(at, piece))) {
            break;
        }
    }
    framer.finish();
    return linesOf(lines);
}

struct FramingCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
};

class Framing : public ::testing::TestWithParam<FramingCase> {};

TEST_P(Framing, CutsLinesTheSameWhereverTheReadsEnd) {
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{1000}}) {
        EXPECT_EQ(frame(GetParam().bytes, piece), GetParam().lines) << "piece " << piece;
    }
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    TickFile, Framing,
    ::testing::Values(FramingCase{"empty", "", {}}, FramingCase{"one_lf", "\n", {""}},
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
                      FramingCase{"cr_before_end_of_data", "a\r\x1a\n", {"a\r"}},
                      FramingCase{"nul_bytes_stay", "a\0b\n\0\n"s, {"a\0b"s, "\0"s}},
                      FramingCase{"line_longer_than_a_block",
                                  std::string(40, 'x') + "\ny",
                                  {std::string(40, 'x'), "y"}}),
    [](const ::testing::TestParamInfo<FramingCase>& info) { return std::string(info.param.name); });

TEST(TickFile, LinesPastTheMostAreReadAndDropped) {
    TickLines lines(16, 3);
    LineFramer framer(lines, 2);
    EXPECT_TRUE(framer.feed("a\nbb\ncc"));
    EXPECT_TRUE(framer.feed("c\nd\ne\nf"));
    framer.finish();
    EXPECT_EQ(linesOf(lines), (std::vector<std::string>{"a", "bb", "ccc"}));
    EXPECT_EQ(lines.size(), 3U);
}

TEST(TickLines, KeepsLinesAcrossBlocksInOrder) {
    TickLines lines(10);
    std::vector<std::string> expected;
    for (int i = 0; i < 200; ++i) {
        expected.push_back(
            std::string(static_cast<std::size_t>(i % 13), static_cast<char>('a' + i % 26)));
        ASSERT_TRUE(lines.append(expected.back()));
    }
    EXPECT_EQ(lines.size(), 200U);
    EXPECT_EQ(linesOf(lines), expected);
    lines.clear();
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(lines.begin(), lines.end());
}

class TickFileOnDisk : public ::testing::Test {
  protected:
    std::string path = ::testing::TempDir() + "vellumbrook_tick_file_test.csv";
    void write(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    void TearDown() override { std::remove(path.c_str()); }
};

TEST_F(TickFileOnDisk, ReadsEveryLineAndReplacesWhatWasThere) {
    std::string big;
    for (int i = 0; i < 100000; ++i) {
        big += "S,t" + std::to_string(i) + ",1.5,x\r\n";
    }
    write(big);
    TickLines lines;
    ASSERT_TRUE(lines.append("stale"));
    ASSERT_EQ(readTickFile(path, lines), TickFileStatus::read);
    ASSERT_EQ(lines.size(), 100000U);
    EXPECT_EQ(*lines.begin(), "S,t0,1.5,x");
    std::string last;
    for (const std::string_view line : lines) {
        last = line;
    }
    EXPECT_EQ(last, "S,t99999,1.5,x");
}

TEST_F(TickFileOnDisk, CannotOpenMissingFilesDirectoriesAndEmptyNames) {
    TickLines lines;
    EXPECT_EQ(readTickFile(path + ".missing", lines), TickFileStatus::cannotOpen);
    EXPECT_EQ(readTickFile(::testing::TempDir(), lines), TickFileStatus::cannotOpen);
    EXPECT_EQ(readTickFile("", lines), TickFileStatus::cannotOpen);
}

TEST(TickFile, ReadFailureAfterOpenIsReported) {
    TickLines lines;
    EXPECT_EQ(readTickFile("/proc/self/mem", lines), TickFileStatus::readError);
}

}  // namespace
}  // namespace vellumbrook
