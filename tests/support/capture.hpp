#pragma once

#include <cstdio>
#include <string>

#include "app/console.hpp"

namespace vellumbrook::testing {

// A Console whose two streams are temporary files, for stages driven in-process.
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
    Console console_;
};

}  // namespace vellumbrook::testing
