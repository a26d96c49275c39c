#include "ticks/messages.hpp"

#include <new>
#include <string>

#include "output/quoted.hpp"

namespace vellumbrook::ticks {

Stop stopWith(std::string_view text) {
    return Stop{std::string(kProgram) + ": " + std::string(text)};
}

std::string inFile(std::string_view file, std::string_view text) {
    return shownName(file) + ": " + std::string(text);
}

Stop stopInFile(std::string_view file, std::string_view text) {
    return stopWith(inFile(file, text));
}

Stop stopAtLineOf(std::string_view file, std::int64_t line, std::string_view text) {
    return stopWith(shownName(file) + ":" + std::to_string(line) + ": " + std::string(text));
}

std::string shown(std::string_view text) {
    return output::quoted(text);
}

std::string shownName(std::string_view name) {
    return output::escaped(name);
}

Stop stopFor(const std::exception& error, std::string_view file) {
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
        return stopWith("not enough memory");
    }
    return file.empty() ? stopWith(error.what()) : stopInFile(file, error.what());
}

void say(std::FILE* messages, const Stop& line) {
    std::fprintf(messages, "%s\n", line.message.c_str());
    std::fflush(messages);
}

void say(std::FILE* messages, std::string_view text) {
    say(messages, stopWith(text));
}

}  // namespace vellumbrook::ticks
