#include "ticks/backward_lines.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/tick_bytes.hpp"

namespace vellumbrook::ticks {
namespace {

struct LinesCase {
    std::string bytes;
    std::vector<std::string> lines;  // in file order
    std::vector<std::int64_t> numbers;
};

class Backward : public ::testing::TestWithParam<LinesCase> {};

// Every block size from one byte up puts the cut between two reads at every place.
TEST_P(Backward, GivesTheLinesLastFirstWhereverTheBlocksEnd) {
    const TickFile file = testing::tickFileOf(GetParam().bytes);
    const std::vector<std::string> expected(GetParam().lines.rbegin(), GetParam().lines.rend());
    for (std::size_t block = 1; block <= GetParam().bytes.size() + 1; ++block) {
        BackwardLines lines(file.file, 0, GetParam().bytes.size(), block);
        std::vector<std::string> got;
        std::string_view line;
        std::uint64_t start = 0;
        std::size_t index = GetParam().lines.size();
        while (lines.previous(line, start)) {
            got.emplace_back(line);
            ASSERT_GT(index, 0U);
            EXPECT_EQ(lineNumberAt(file.file, 0, start), GetParam().numbers[--index]);
        }
        EXPECT_EQ(got, expected) << "block " << block;
    }
}

// Cut into pieces of every size, read last piece first, the lines are the same.
TEST_P(Backward, GivesTheSameLinesPieceByPiece) {
    const TickFile file = testing::tickFileOf(GetParam().bytes);
    const std::vector<std::string> expected(GetParam().lines.rbegin(), GetParam().lines.rend());
    for (std::size_t size = 1; size <= GetParam().bytes.size() + 1; ++size) {
        const std::vector<std::uint64_t> starts =
            pieceStarts(file.file, 0, GetParam().bytes.size(), size);
        std::vector<std::string> got;
        for (std::size_t piece = starts.size() - 1; piece-- > 0;) {
            BackwardLines lines(file.file, starts[piece], starts[piece + 1]);
            std::string_view line;
            std::uint64_t start = 0;
            while (lines.previous(line, start)) {
                got.emplace_back(line);
                EXPECT_EQ(lineAt(file.file, start, GetParam().bytes.size()), line);
            }
        }
        EXPECT_EQ(got, expected) << "pieces of " << size;
    }
}

INSTANTIATE_TEST_SUITE_P(
    BackwardLines, Backward,
    ::testing::Values(LinesCase{"", {}, {}}, LinesCase{"\n", {""}, {1}},
                      LinesCase{"a\nb\n", {"a", "b"}, {1, 2}},
                      LinesCase{"a\r\nb", {"a", "b"}, {1, 2}},
                      LinesCase{"a\rb\rc\r", {"a", "b", "c"}, {1, 2, 3}},
                      LinesCase{"a\r\rb\r\n\r\nc", {"a", "", "b", "", "c"}, {1, 2, 3, 4, 5}},
                      LinesCase{"\n\nlong line here\r\n", {"", "", "long line here"}, {1, 2, 3}}));

}  // namespace
}  // namespace vellumbrook::ticks
