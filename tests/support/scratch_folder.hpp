#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace vellumbrook::testing {

// A folder of one test's own, made and entered when the test starts and left and removed when
// it ends, so that the program under test is given plain file names.
class InScratchFolder {
  public:
    explicit InScratchFolder(const std::string& name)
        : folder_(std::filesystem::temp_directory_path() / name),
          before_(std::filesystem::current_path()) {
        std::filesystem::create_directories(folder_);
        std::filesystem::current_path(folder_);
    }
    InScratchFolder(const InScratchFolder&) = delete;
    InScratchFolder& operator=(const InScratchFolder&) = delete;
    ~InScratchFolder() {
        std::filesystem::current_path(before_);
        std::filesystem::remove_all(folder_);
    }

  private:
    std::filesystem::path folder_;
    std::filesystem::path before_;
};

// What a program wrote to `messages` (a std::tmpfile), which is then closed.
inline std::string readAndClose(std::FILE* messages) {
    std::rewind(messages);
    std::string said(4096, '\0');
    said.resize(std::fread(said.data(), 1, said.size(), messages));
    std::fclose(messages);
    return said;
}

}  // namespace vellumbrook::testing
