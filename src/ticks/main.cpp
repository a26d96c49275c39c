#include "platform/platform.hpp"
#include "ticks/command_line.hpp"

int main(int argc, char** argv) {
    vellumbrook::platform::useBinaryStandardStreams();
    return vellumbrook::ticks::runTicksProgram(argc, argv);
}
