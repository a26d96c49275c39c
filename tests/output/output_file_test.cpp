#include "output/output_file.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/run_binary.hpp"

namespace vellumbrook::output {
namespace {

namespace fs = std::filesystem;

class Output : public ::testing::Test {
  protected:
    fs::path folder =
        fs::temp_directory_path() /
        ("vellumbrook-output-" +
         std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    void SetUp() override {
        fs::create_directories(folder);
        std::ofstream(folder / "old.csv", std::ios::binary) << "what was there\n";
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string name(const char* file) const { return (folder / file).string(); }
    void write(const std::string& to, const std::vector<platform::FileId>& inputs = {}) const {
        OutputFile output(to, inputs);
        output.write("new\n");
        output.commit();
    }
};

TEST_F(Output, ReplacesAFileWholeOnlyWhenCommitted) {
    {
        OutputFile output(name("old.csv"), {});
        output.write("half");
    }
    EXPECT_EQ(testing::readFile(folder / "old.csv"), "what was there\n");
    write(name("old.csv"));
    EXPECT_EQ(testing::readFile(folder / "old.csv"), "new\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "a partial file was left behind";
}

TEST_F(Output, RefusesAnInputAndAFolder) {
    const platform::OpenedFile input = platform::openForReading(name("old.csv"));
    const std::optional<platform::FileId> id = platform::idOf(input.file);
    ASSERT_TRUE(id);
    EXPECT_THROW(write(name("old.csv"), {*id}), OutputFileError);
    EXPECT_THROW(write(folder.string()), OutputFileError);
    EXPECT_EQ(testing::readFile(folder / "old.csv"), "what was there\n");
#ifndef _WIN32
    // The name reaches the terminal with its control bytes escaped.
    fs::create_directory(folder / "a\x1b[2J");
    try {
        write(name("a\x1b[2J"));
        ADD_FAILURE() << "a folder was written";
    } catch (const OutputFileError& error) {
        EXPECT_EQ(std::string(error.what()),
                  name("a\\x1b[2J") + ": cannot be written: it is a folder");
    }
#endif
}

#ifndef _WIN32
TEST_F(Output, KeepsPermissionsAndWritesThroughALink) {
    fs::permissions(folder / "old.csv", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("old.csv", folder / "link.csv");
    write(name("link.csv"));
    EXPECT_TRUE(fs::is_symlink(folder / "link.csv"));
    EXPECT_EQ(testing::readFile(folder / "old.csv"), "new\n");
    EXPECT_EQ(fs::status(folder / "old.csv").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(Output, WritesADeviceDirectly) {
    write("/dev/null");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}
#endif

}  // namespace
}  // namespace vellumbrook::output
