#include "app/run.hpp"

int main(int argc, char** argv) {
    return vellumbrook::runVellumbrook(argc, argv, {});
}
