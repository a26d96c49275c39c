#pragma once

#include <cstdio>
#include <cstdlib>

namespace vellumbrook::fuzz {

// Ends the fuzz run with a crash report when an invariant does not hold.
inline void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

}  // namespace vellumbrook::fuzz
