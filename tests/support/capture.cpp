#include "support/capture.hpp"

#include <cstdlib>

namespace vellumbrook::testing {

CapturedConsole::CapturedConsole()
    : console_{open_memstream(&outText_, &outSize_), open_memstream(&errText_, &errSize_)} {}

CapturedConsole::~CapturedConsole() {
    std::fclose(console_.out);
    std::fclose(console_.err);
    std::free(outText_);
    std::free(errText_);
}

std::string CapturedConsole::out() {
    std::fflush(console_.out);
    return outText_ ? std::string(outText_, outSize_) : std::string();
}

std::string CapturedConsole::err() {
    std::fflush(console_.err);
    return errText_ ? std::string(errText_, errSize_) : std::string();
}

}  // namespace vellumbrook::testing
