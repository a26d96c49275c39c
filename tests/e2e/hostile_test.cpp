// Inputs built to break a converter: huge lines, floods of empty lines, binary garbage,
// extreme option values. Each must end in the exact output or one clear error line.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "candles/candle_builder.hpp"
#include "support/run_binary.hpp"

namespace vellumbrook {
namespace {

namespace fs = std::filesystem;

class Hostile : public ::testing::Test {
  protected:
    fs::path file = fs::temp_directory_path() /
                    ("vellumbrook-hostile-" +
                     std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    void write(const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
    void TearDown() override { fs::remove(file); }
    // The program's outcome, once every other scan path has been checked to give the same.
    testing::BinaryOutcome convert(std::vector<std::string> options) {
        testing::BinaryRun run;
        run.args = {"-f", file.string()};
        run.args.insert(run.args.end(), options.begin(), options.end());
        const testing::BinaryOutcome got = testing::runBinary(run);
        for (const std::string& path : testing::scanPathsToRun()) {
            if (!path.empty()) {
                run.scanPath = path;
                const testing::BinaryOutcome other = testing::runBinary(run);
                EXPECT_EQ(other.out, got.out) << path;
                EXPECT_EQ(other.err, got.err) << path;
                EXPECT_EQ(other.status, got.status) << path;
            }
        }
        return got;
    }
};

std::string repeated(const std::string& text, std::size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

TEST_F(Hostile, HugeLineWithoutCommasIsOneEmptyCandle) {
    write(std::string(50u << 20, 'x') + "\n");
    const testing::BinaryOutcome got = convert({});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, "Date,Open,High,Low,Close,ema(20)\n+00001,0,0,0,0,0\n,0,0,0,0,0\n");
    EXPECT_EQ(got.err, "");
}

TEST_F(Hostile, HugeLineWithCommasKeepsItsLastFields) {
    write(repeated("ab,", (50u << 20) / 3) + "T,1.5,x\n");
    const testing::BinaryOutcome got = convert({"-q", "-a", "-m", "0"});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, "T,1.5,1.5,1.5,1.5\n");
}

TEST_F(Hostile, MillionEmptyLinesMakeEmptyCandles) {
    write(std::string(1000000, '\n'));
    const testing::BinaryOutcome got = convert({"-q", "-a", "-m", "0"});
    EXPECT_EQ(got.status, 0);
    // 1,000,000 = 50 + 14285 x 70: one partial candle and 14285 full ones, all without ticks.
    EXPECT_EQ(got.out, repeated(",0,0,0,0\n", 14286));
}

TEST_F(Hostile, LineOfCommasHasAnEmptyPrice) {
    write(std::string(100000, ',') + "\n");
    const testing::BinaryOutcome got = convert({});
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "Price Error : line 1 : '' : invalid stod argument\n");
}

TEST_F(Hostile, BinaryGarbageEndsCleanly) {
    std::uint64_t state = 42;
    for (int round = 0; round < 20; ++round) {
        std::string bytes;
        for (int i = 0; i < 20000; ++i) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            bytes += static_cast<char>(state >> 56);
        }
        write(bytes);
        const testing::BinaryOutcome got = convert({"-t", std::to_string(1 + round)});
        if (got.status == 0) {
            EXPECT_EQ(got.err, "");
            EXPECT_EQ(got.out.rfind("Date,Open,High,Low,Close,ema(20)\n", 0), 0U);
        } else {
            EXPECT_EQ(got.status, 1);
            EXPECT_EQ(got.out, "");
            EXPECT_EQ(got.err.rfind("Price Error : line ", 0), 0U) << got.err;
        }
    }
}

TEST_F(Hostile, HundredThousandPlaceholdersCountDownPastFiveDigits) {
    write("S,T,2,x\n");
    const testing::BinaryOutcome got = convert({"-m", "100000", "-q", "-a"});
    ASSERT_EQ(got.status, 0);
    std::string expected;
    for (int number = 100000; number >= 1; --number) {
        const std::string digits = std::to_string(number);
        expected += '+';
        expected.append(digits.size() < 5 ? 5 - digits.size() : 0, '0');
        expected.append(digits).append(",0,0,0,0\n");
    }
    expected += "T,2,2,2,2\n";
    EXPECT_EQ(got.out, expected);
}

TEST_F(Hostile, LargestValuesWithLeadingZeros) {
    write("S,T1,1,x\nS,T2,2,x\n");
    const testing::BinaryOutcome got = convert(
        {"-t", "0002147483647", "-c", "02147483647", "-j", "002147483647", "-i", "02147483647"});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out,
              "Date,Open,High,Low,Close,ema(2147483647)\n+00001,0,0,0,0,0\nT1,2,2,1,1,0\n");
}

// Sanitizers reserve more address space than the limit leaves.
#if defined(__SANITIZE_ADDRESS__)
#define VELLUMBROOK_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELLUMBROOK_ADDRESS_SANITIZER 1
#endif
#endif

#define VELLUMBROOK_SKIP_UNLESS_THE_CHILD_CAN_BE_LIMITED()                                    \
    if (!testing::kCanLimitTheChild) {                                                        \
        GTEST_SKIP() << "needs Unix resource limits and TMPDIR, which Windows does not have"; \
    }

TEST_F(Hostile, RunningOutOfMemoryIsAnErrorNotACrash) {
    VELLUMBROOK_SKIP_UNLESS_THE_CHILD_CAN_BE_LIMITED();
#ifdef VELLUMBROOK_ADDRESS_SANITIZER
    GTEST_SKIP() << "an address space limit cannot hold under AddressSanitizer";
#endif
    write("S,T,2,x\n");
    testing::BinaryRun run;
    run.args = {"-f", file.string(), "-m", "20000000"};
    run.addressSpaceLimit = std::size_t{256} << 20;
    const testing::BinaryOutcome got = testing::runBinary(run);
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "Memory Error : -f : '" + file.string() + "' : out of memory\n");
}

TEST_F(Hostile, MorePlaceholdersThanMemoryCanHoldAreRefusedAtOnce) {
    if (rowsThatFitInMemory() >= 2147483647U) {
        GTEST_SKIP() << "this machine could hold 2147483647 rows";
    }
    write("S,T,2,x\n");
    const testing::BinaryOutcome got = convert({"-m", "2147483647"});
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "Memory Error : -f : '" + file.string() + "' : out of memory\n");
}

// Neither pass holds the file: a group of every line costs no more than a group of 70, for a
// regular file and for the same bytes through a pipe.
TEST_F(Hostile, MemoryDoesNotGrowWithTheFile) {
    VELLUMBROOK_SKIP_UNLESS_THE_CHILD_CAN_BE_LIMITED();
#ifdef VELLUMBROOK_ADDRESS_SANITIZER
    GTEST_SKIP() << "an address space limit cannot hold under AddressSanitizer";
#endif
    const std::string ticks = "S,T,2,x\n" + repeated("S,t,1.5,x\n", (64u << 20) / 10);
    write(ticks);
    testing::BinaryRun run;
    run.args = {"-f", file.string(), "-t", "2147483647", "-q", "-a", "-m", "0"};
    run.addressSpaceLimit = std::size_t{16} << 20;
    const testing::BinaryOutcome fromFile = testing::runBinary(run);
    EXPECT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_EQ(fromFile.out, "T,1.5,2,1.5,2\n");
    run.args[1] = "/dev/stdin";
    run.pipedInput = ticks;
    const testing::BinaryOutcome fromPipe = testing::runBinary(run);
    EXPECT_EQ(fromPipe.status, 0) << fromPipe.err;
    EXPECT_EQ(fromPipe.out, fromFile.out);
}

// What does grow is the candle list: at most 16 MiB and 192 bytes a kept candle.
TEST_F(Hostile, MemoryGrowsWithTheCandlesWithinItsBudget) {
    VELLUMBROOK_SKIP_UNLESS_THE_CHILD_CAN_BE_LIMITED();
#ifdef VELLUMBROOK_ADDRESS_SANITIZER
    GTEST_SKIP() << "an address space limit cannot hold under AddressSanitizer";
#endif
    constexpr std::size_t kCandles = 200000;
    write(repeated("S,2024.01.03 10:00:00.000,1.5,x\n", kCandles));
    testing::BinaryRun run;
    run.args = {"-f", file.string(), "-t", "1", "-a", "-q", "-m", "0"};
    run.addressSpaceLimit = (std::size_t{16} << 20) + 192 * kCandles;
    const testing::BinaryOutcome got = testing::runBinary(run);
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.out, repeated("2024.01.03 10:00:00.000,1.5,1.5,1.5,1.5\n", kCandles));
}

TEST_F(Hostile, OutputThatCannotGrowMidwayThroughABlockIsAWriteError) {
    VELLUMBROOK_SKIP_UNLESS_THE_CHILD_CAN_BE_LIMITED();
    write(repeated("S,2024.01.03 10:00:00.000,1.5,x\n", 100000));
    testing::BinaryRun run;
    run.args = {"-f", file.string(), "-t", "1", "-a", "-q", "-m", "0"};
    run.fileSizeLimit = (std::size_t{3} << 20) / 2;
    const testing::BinaryOutcome got = testing::runBinary(run);
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.err, "Write Error : stdout : 'File too large'\n");
    EXPECT_EQ(got.out.size(), *run.fileSizeLimit);
}

TEST_F(Hostile, PipeNeedsRoomInTheTemporaryDirectory) {
    VELLUMBROOK_SKIP_UNLESS_THE_CHILD_CAN_BE_LIMITED();
    testing::BinaryRun run;
    run.args = {"-f", "/dev/stdin"};
    run.pipedInput = repeated("S,T,1.5,x\n", 200000);
    run.environment = {{"TMPDIR", "/nonexistent/scratch"}};
    testing::BinaryOutcome got = testing::runBinary(run);
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err,
              "Temporary File Error : TMPDIR : '/nonexistent/scratch' : No such file or "
              "directory\n");

    // A copy that cannot grow, as on a full disk; an empty TMPDIR means /tmp.
    run.environment = {{"TMPDIR", ""}};
    run.fileSizeLimit = std::size_t{1} << 20;
    got = testing::runBinary(run);
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "Temporary File Error : TMPDIR : '/tmp' : File too large\n");
}

}  // namespace
}  // namespace vellumbrook
