#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.hpp"

namespace vellumbrook::output {

// Why an output file cannot be written; what() is the line's text after the program's name,
// beginning with the output's name.
struct OutputFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The file of -o, written whole or not at all. A regular file (or none yet) is written under
// a name of its own beside it and takes its name only when it is complete, keeping the owner,
// group and permissions of the file it replaces, and is removed if the run is interrupted; a
// link is written through, to the file it stands for; a device or a FIFO is written
// directly, as a shell's "> name" would, and so are "-" (standard output) and the names of
// open descriptors (/dev/stdout, /dev/fd/N, /proc/self/fd/N). A file that a shell's
// "> name" would refuse to write (read-only) is refused too, and so is an output that is one
// of the inputs, before anything is written.
class OutputFile {
  public:
    // Throws OutputFileError.
    OutputFile(const std::string& name, const std::vector<platform::FileId>& inputs);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // removes the partial file unless the output was committed

    // Appends `bytes`; throws OutputFileError when they cannot be written.
    void write(std::string_view bytes);
    // Gives the complete file its name; throws OutputFileError when it cannot.
    void commit();

  private:
    [[noreturn]] void fail(const std::string& reason) const;
    void openDirectly(const platform::OutputTarget& target);
    void createPart(const platform::OutputTarget& target);

    std::string name_;      // as given, for messages
    std::string target_;    // what the complete file is called: a link's target, else the name
    std::string partName_;  // empty when written directly
    std::optional<platform::RemovedOnInterrupt> removedOnInterrupt_;  // while the part is there
    platform::File file_;
    std::uint64_t written_ = 0;
    bool committed_ = false;
};

}  // namespace vellumbrook::output
