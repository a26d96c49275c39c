#pragma once

#include <cstdio>
#include <string>

#include "app/console.hpp"

namespace vellumbrook::testing {

// A Console whose two streams are in-memory files, for stages driven in-process.
class CapturedConsole {
  public:
    CapturedConsole();
    CapturedConsole(const CapturedConsole&) = delete;
    CapturedConsole& operator=(const CapturedConsole&) = delete;
    ~CapturedConsole();

    const Console& console() const { return console_; }
    std::string out();
    std::string err();

  private:
    char* outText_ = nullptr;
    std::size_t outSize_ = 0;
    char* errText_ = nullptr;
    std::size_t errSize_ = 0;
    Console console_;
};

}  // namespace vellumbrook::testing
