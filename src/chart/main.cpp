#include <cstdio>

#include "chart/command_line.hpp"
#include "platform/platform.hpp"

int main(int argc, char** argv) {
    vellumbrook::platform::useBinaryStandardStreams();
    return vellumbrook::chart::runChartProgram(argc, argv, stdout, stderr);
}
