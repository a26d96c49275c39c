#include "app/options.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/capture.hpp"

namespace vellumbrook {
namespace {

struct Processed {
    Flow flow;
    RunSettings settings;
    std::string out;
    std::string err;
};

Processed process(std::vector<std::string> args) {
    args.insert(args.begin(), "vellumbrook");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    testing::CapturedConsole captured;
    RunSettings settings;
    OptionScanner scanner;
    const Flow flow = processOptions(static_cast<int>(args.size()), argv.data(), settings, scanner,
                                     captured.console());
    // The value texts refer into `args`, which is gone after this function.
    settings.fileName = {};
    settings.emaOffsetText = settings.emaSpanText = settings.futureCountText =
        settings.ticksPerCandleText = settings.candleLimitText = std::nullopt;
    return {flow, settings, captured.out(), captured.err()};
}

TEST(IsAllDigits, AcceptsDigitsOnly) {
    EXPECT_TRUE(isAllDigits(""));
    EXPECT_TRUE(isAllDigits("0123456789"));
    for (const char* bad : {"-5", "+5", " 5", "5 ", "1.5", "x", "\x80", "\xb9"}) {
        EXPECT_FALSE(isAllDigits(bad)) << bad;
    }
}

TEST(ProcessOptions, DefaultsWithOnlyAFile) {
    const Processed got = process({"-f", "ticks.csv"});
    ASSERT_EQ(got.flow, Flow::proceed);
    EXPECT_EQ(got.settings.ticksPerCandle, 70);
    EXPECT_EQ(got.settings.candleLimit, 2147483647);
    EXPECT_EQ(got.settings.futureCount, 1);
    EXPECT_EQ(got.settings.emaOffset, 1);
    EXPECT_EQ(got.settings.emaSpan, 20);
    EXPECT_EQ(got.settings.noHeader, 0);
    EXPECT_EQ(got.settings.noEma, 0);
    EXPECT_FALSE(got.settings.optionsPending);
    EXPECT_EQ(got.out + got.err, "");
}

struct ValueCase {
    std::vector<std::string> args;
    std::int32_t RunSettings::*field;
    std::int32_t expected;
};

class AcceptedValues : public ::testing::TestWithParam<ValueCase> {};

TEST_P(AcceptedValues, AreConverted) {
    std::vector<std::string> args = GetParam().args;
    args.insert(args.end(), {"-f", "x"});
    const Processed got = process(args);
    ASSERT_EQ(got.flow, Flow::proceed) << got.err;
    EXPECT_EQ(got.settings.*GetParam().field, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    ProcessOptions, AcceptedValues,
    ::testing::Values(ValueCase{{"-t", "007"}, &RunSettings::ticksPerCandle, 7},
                      ValueCase{{"-t", "0"}, &RunSettings::ticksPerCandle, 0},
                      ValueCase{{"-t", "x", "-t", "5"}, &RunSettings::ticksPerCandle, 5},
                      ValueCase{{"-c", "0002147483647"}, &RunSettings::candleLimit, 2147483647},
                      ValueCase{{"-m0"}, &RunSettings::futureCount, 0},
                      ValueCase{{"-i", "0"}, &RunSettings::emaOffset, 0},
                      ValueCase{{"-j", "3"}, &RunSettings::emaSpan, 3},
                      ValueCase{{"-q", "-i", "x"}, &RunSettings::emaOffset, 1},
                      ValueCase{{"-q", "-j", "0"}, &RunSettings::emaSpan, 20},
                      ValueCase{{"-q", "-j", "50"}, &RunSettings::emaSpan, 20}));

TEST(ProcessOptions, FlagsAndIgnoredOptions) {
    const Processed got = process({"-adr", "-s", "x", "-u", "y", "-q", "-f", "z"});
    ASSERT_EQ(got.flow, Flow::proceed);
    EXPECT_EQ(got.settings.noHeader, 1);
    EXPECT_EQ(got.settings.noEma, 1);
    EXPECT_EQ(got.settings.fileGiven, 1);
}

struct RejectedCase {
    std::vector<std::string> args;
    std::string out;
    std::string err;
};

class Rejected : public ::testing::TestWithParam<RejectedCase> {};

TEST_P(Rejected, EndWithOneMessage) {
    const Processed got = process(GetParam().args);
    EXPECT_EQ(got.flow, Flow::fail);
    EXPECT_EQ(got.out, GetParam().out);
    EXPECT_EQ(got.err, GetParam().err);
}

// The exact lines of every refusal are checked end to end (tests/golden); these are the
// cases that only an in-process run shows cheaply.
INSTANTIATE_TEST_SUITE_P(
    ProcessOptions, Rejected,
    ::testing::Values(RejectedCase{{"-c", "99999999999", "-f", "x"},
                                   "",
                                   "Candle Sticks Error : -c : '99999999999'\n"},
                      RejectedCase{{"-j", "1 ", "-f", "x"}, "", "EMA Span Error : -j : '1 '\n"},
                      RejectedCase{{"-f"},
                                   "error! opt:'63' optopt:'102'\n",
                                   "vellumbrook: option requires an argument -- f\n"}));

TEST(ProcessOptions, UsageScreenShowsTheValuesInForce) {
    const Processed shown = process({"-v", "-t", "100", "-c", "5", "-f", "x"});
    EXPECT_EQ(shown.flow, Flow::fail);
    EXPECT_NE(shown.out.find("  -t : Ticks By Candle Stick : '-t100'\n"), std::string::npos);
    EXPECT_NE(shown.out.find("  -c : Candle Sticks         : '-c2147483647'\n"), std::string::npos);
}

}  // namespace
}  // namespace vellumbrook
