#include "platform/platform.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace vellumbrook {
namespace {

namespace fs = std::filesystem;

class Platform : public ::testing::Test {
  protected:
    fs::path folder =
        fs::temp_directory_path() /
        ("vellumbrook-platform-" +
         std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    void SetUp() override { fs::create_directories(folder); }
    void TearDown() override { fs::remove_all(folder); }
};

std::string readBack(const platform::File& file, std::size_t size) {
    std::string bytes(size, '\0');
    const std::ptrdiff_t got = platform::readAt(file, bytes.data(), bytes.size(), 0);
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

TEST_F(Platform, TemporaryFileHoldsWhatIsWrittenAndLeavesNoName) {
    std::string reason;
    {
        const platform::File copy = platform::makeTemporaryFile(folder.string(), reason);
        ASSERT_TRUE(copy.isOpen()) << reason;
        ASSERT_TRUE(platform::writeAt(copy, "a\nb\n", 0, reason)) << reason;
        ASSERT_TRUE(platform::writeAt(copy, "c\n", 4, reason)) << reason;
        EXPECT_EQ(readBack(copy, 100), "a\nb\nc\n");
        ASSERT_TRUE(platform::resize(copy, 2));
        EXPECT_EQ(readBack(copy, 100), "a\n");
    }
    EXPECT_TRUE(fs::is_empty(folder)) << "the copy kept a name";
}

TEST_F(Platform, TemporaryFileInAMissingFolderGivesTheSystemsReason) {
    std::string reason;
    EXPECT_FALSE(platform::makeTemporaryFile((folder / "missing").string(), reason).isOpen());
    EXPECT_FALSE(reason.empty());
}

TEST_F(Platform, OnlyFilesThatExistOpenAndARegularFileCanBeReadAgain) {
    EXPECT_FALSE(platform::openForReading((folder / "missing").string()).file.isOpen());
    EXPECT_FALSE(platform::openForReading(folder.string()).file.isOpen());
    EXPECT_FALSE(platform::openForReading("").file.isOpen());
    std::ofstream(folder / "ticks.csv", std::ios::binary) << "S,T,1.5,x\n";
    const platform::OpenedFile opened = platform::openForReading((folder / "ticks.csv").string());
    ASSERT_TRUE(opened.file.isOpen());
    EXPECT_TRUE(opened.rereadable);
    EXPECT_EQ(readBack(opened.file, 4), "S,T,");
    EXPECT_EQ(readBack(opened.file, 100), "S,T,1.5,x\n");
}

// A recorder keeps its file open for writing, and may rename or delete it while a
// conversion reads it; neither side may shut the other out.
TEST_F(Platform, FileHeldOpenForWritingIsReadAndCanStillBeRenamed) {
    const fs::path path = folder / "recording.csv";
    std::ofstream recorder(path, std::ios::binary);
    recorder << "S,T,1.5,x\n" << std::flush;
    const platform::OpenedFile opened = platform::openForReading(path.string());
    ASSERT_TRUE(opened.file.isOpen());
    recorder << "S,U,2.5,x\n" << std::flush;
    EXPECT_EQ(readBack(opened.file, 100), "S,T,1.5,x\nS,U,2.5,x\n");
    recorder.close();
    std::error_code error;
    fs::rename(path, folder / "rotated.csv", error);
    EXPECT_FALSE(error) << error.message();
}

TEST_F(Platform, NamesBeyondAsciiOpen) {
    const std::u8string name = u8"тики €.csv";
    std::ofstream(folder / name) << "S,T,1.5,x\n";
    const std::u8string full = (folder / name).u8string();
    EXPECT_TRUE(platform::openForReading(std::string(full.begin(), full.end())).file.isOpen());
}

}  // namespace
}  // namespace vellumbrook
