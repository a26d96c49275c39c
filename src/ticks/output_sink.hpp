#pragma once

#include <cstdio>
#include <string_view>

#include "output/output_file.hpp"
#include "output/progress.hpp"
#include "platform/platform.hpp"

namespace vellumbrook::ticks {

// Writes the output, to standard output or to the output file.
class Sink {
  public:
    Sink(std::FILE* stream, output::OutputFile* file, Progress& progress)
        : stream_(stream),
          file_(file),
          progress_(progress),
          toTerminal_(file == nullptr && platform::isTerminal(stream)) {}

    // Throws Stop when the bytes cannot be written.
    void write(std::string_view bytes);

  private:
    std::FILE* stream_;
    output::OutputFile* file_;
    Progress& progress_;
    bool toTerminal_;
};

}  // namespace vellumbrook::ticks
