#include "app/console.hpp"

#include <gtest/gtest.h>

#include <cstdio>

#include "support/capture.hpp"

namespace vellumbrook {
namespace {

TEST(Console, WriteErrorIsReportedOnce) {
#ifdef _WIN32
    GTEST_SKIP() << "needs /dev/full, a device that Windows does not have";
#endif
    // A line through the stream's buffer, and a block through the system's own write.
    for (const bool block : {false, true}) {
        std::FILE* full = std::fopen("/dev/full", "w");
        ASSERT_NE(full, nullptr);
        testing::CapturedConsole captured;
        const Console console{full, captured.console().err};
        EXPECT_FALSE(block ? console.writeOutLines("t,1,1,1,1,0\n")
                           : console.writeOutLine("t,1,1,1,1,0"));
        EXPECT_EQ(captured.err(), "Write Error : stdout : 'No space left on device'\n");
        std::fclose(full);
    }
}

TEST(Console, BlockFollowsWhatTheStreamStillHolds) {
    testing::CapturedConsole captured;
    const Console& console = captured.console();
    std::fputs("held,", console.out);  // still in the stream's buffer
    ASSERT_TRUE(console.writeOutLines("block\nof lines\n"));
    ASSERT_TRUE(console.writeOutLine("line"));
    EXPECT_EQ(captured.out(), "held,block\nof lines\nline\n");
}

}  // namespace
}  // namespace vellumbrook
