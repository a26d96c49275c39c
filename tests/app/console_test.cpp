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
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    testing::CapturedConsole captured;
    const Console console{full, captured.console().err};
    EXPECT_FALSE(console.writeOutLine("t,1,1,1,1,0"));
    EXPECT_EQ(captured.err(), "Write Error : stdout : 'No space left on device'\n");
    std::fclose(full);
}

}  // namespace
}  // namespace vellumbrook
