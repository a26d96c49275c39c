#include "app/run.hpp"
#include "platform/platform.hpp"

int main(int argc, char** argv) {
    vellumbrook::platform::useBinaryStandardStreams();
    return vellumbrook::runVellumbrook(argc, argv, {});
}
