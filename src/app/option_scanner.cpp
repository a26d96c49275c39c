#include "app/option_scanner.hpp"

#include <cstring>

namespace vellumbrook {

namespace {

enum class Mode { permute, stopAtWord, returnWords };

Mode modeOf(const char* optionSpec) {
    if (optionSpec[0] == '+') {
        return Mode::stopAtWord;
    }
    if (optionSpec[0] == '-') {
        return Mode::returnWords;
    }
    return Mode::permute;
}

bool colonPrefixed(const char* optionSpec) {
    const char* rest = (optionSpec[0] == '+' || optionSpec[0] == '-') ? optionSpec + 1 : optionSpec;
    return rest[0] == ':';
}

// Moves argv[from] to argv[last]; the words behind it move down by one.
void moveToBack(char** argv, int from, int last) {
    char* moved = argv[from];
    for (int i = from; i < last; ++i) {
        argv[i] = argv[i + 1];
    }
    argv[last] = moved;
}

bool anyOptionFrom(int argc, char** argv, int from) {
    for (int i = from; i < argc; ++i) {
        if (argv[i][0] == '-') {
            return true;
        }
    }
    return false;
}

std::int32_t widened(char c) {
    return static_cast<signed char>(c);
}

}  // namespace

std::int32_t OptionScanner::finish(int argc, char** argv) {
    const int end = argc - movedCount;
    for (int left = end - optind; left > 0; --left) {
        moveToBack(argv, optind, argc - 1);
    }
    movedCount = 0;
    clusterPos = 0;
    return -1;
}

std::int32_t OptionScanner::nextOption(int argc, char** argv, const char* optionSpec,
                                       std::FILE* messages) {
    const Mode mode = modeOf(optionSpec);
    while (optind < argc - movedCount) {
        const char* word = argv[optind];
        const char c = word[clusterPos];
        if (c == '\0') {
            ++optind;
            clusterPos = 0;
            continue;
        }
        if (clusterPos > 0) {
            const char* found = std::strchr(optionSpec, c);
            if (found == nullptr) {
                optopt = widened(c);
                std::fprintf(messages, "%s: invalid option -- %c\n", argv[0], c);
                ++clusterPos;
                return '?';
            }
            ++clusterPos;
            if (found[1] != ':') {
                if (word[clusterPos] == '\0') {
                    ++optind;
                    clusterPos = 0;
                }
                optarg = nullptr;
                return widened(c);
            }
            std::int32_t result = widened(c);
            if (word[clusterPos] != '\0') {
                optarg = word + clusterPos;
            } else if (++optind < argc - movedCount) {
                optarg = argv[optind];
            } else {
                optopt = widened(c);
                std::fprintf(messages, "%s: option requires an argument -- %c\n", argv[0], c);
                result = colonPrefixed(optionSpec) ? ':' : '?';
            }
            ++optind;
            clusterPos = 0;
            return result;
        }
        if (mode == Mode::permute) {
            while (argv[optind][0] != '-' && anyOptionFrom(argc, argv, optind)) {
                moveToBack(argv, optind, argc - 1);
                ++movedCount;
            }
        }
        word = argv[optind];
        if (word[0] != '-') {
            if (mode == Mode::returnWords) {
                optarg = word;
                ++optind;
                clusterPos = 0;
                return 1;
            }
            return finish(argc, argv);
        }
        if (std::strcmp(word, "--") == 0) {
            ++optind;
            return finish(argc, argv);
        }
        clusterPos = 1;
    }
    optarg = nullptr;
    return finish(argc, argv);
}

}  // namespace vellumbrook
