#include "platform/platform.hpp"
#include "ticks/driver.hpp"

int main(int argc, char** argv) {
    vellumbrook::platform::useBinaryStandardStreams();
    return vellumbrook::ticks::runTicksProgram(argc, argv, stdout, stderr);
}
