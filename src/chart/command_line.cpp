#include "chart/command_line.hpp"

#include <array>
#include <new>
#include <optional>
#include <string_view>

#include "chart/page.hpp"
#include "chart/table.hpp"
#include "output/output_file.hpp"
#include "output/quoted.hpp"
#include "platform/platform.hpp"

namespace vellumbrook::chart {

namespace {

constexpr std::string_view kProgram = "vellumbrook-chart";
constexpr std::string_view kVersion = "vellumbrook-chart 1.0.0";

// The options: the long name, the short one (or none), and whether a value follows.
struct Option {
    std::string_view name;
    char letter;
    bool takesValue;
};
constexpr std::array<Option, 5> kOptions = {{
    {"output", 'o', true},
    {"title", 0, true},
    {"oldest-first", 0, false},
    {"help", 0, false},
    {"version", 0, false},
}};

const Option* optionNamed(std::string_view name) {
    for (const Option& option : kOptions) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

ChartCommand failed(std::string error) {
    ChartCommand command;
    command.action = ChartCommand::Action::fail;
    command.error = std::move(error);
    return command;
}

std::string helpText() {
    return "Usage: vellumbrook-chart [OPTION]... [TABLE|-] -o PAGE.html\n"
           "Turns a table that vellumbrook wrote into one HTML page with an interactive\n"
           "candlestick chart, its EMA line and the future slots, that opens offline in any\n"
           "current browser: the charting library, the page and the data are all inside it.\n"
           "Without TABLE, or with -, the table is read from standard input.\n"
           "\n"
           "Options:\n"
           "  -o, --output=FILE    write the page to FILE, whole or not at all (required)\n"
           "      --title=TEXT     the page's title (default: the table's file name)\n"
           "      --oldest-first   the table runs oldest first; needed only when it has no\n"
           "                       placeholder rows, which otherwise tell its order\n"
           "      --help           show this help and exit\n"
           "      --version        show the version and exit\n"
           "\n"
           "Exit status: 0 when the page was written, 1 when the table cannot be charted or\n"
           "the page cannot be written (one line on standard error says where and why; no\n"
           "file is left), 2 for a bad command line.\n";
}

bool apply(const Option& option, const std::string& value, ChartCommand& command) {
    ChartSettings& settings = command.settings;
    if (option.name == "output") {
        if (value.empty()) {
            command = failed("--output needs a file name");
            return false;
        }
        settings.output = value;
    } else if (option.name == "title") {
        settings.title = value;
    } else if (option.name == "oldest-first") {
        settings.oldestFirst = true;
    } else {
        command.action =
            option.name == "help" ? ChartCommand::Action::help : ChartCommand::Action::version;
    }
    return true;
}

// The title a page gets by default: the table's file name without its folders.
std::string defaultTitle(const std::string& table) {
    if (table == "-") {
        return "vellumbrook chart";
    }
    const std::size_t slash = table.find_last_of("/\\");
    return slash == std::string::npos ? table : table.substr(slash + 1);
}

// Reads the table and writes its page; throws what the caller turns into one message line.
void makePage(const ChartSettings& settings) {
    platform::OpenedFile opened = settings.table == "-" ? platform::openStandardInput()
                                                        : platform::openForReading(settings.table);
    if (!opened.file.isOpen()) {
        throw TableError{0, "cannot be opened: " + opened.reason};
    }
    const platform::File& file = opened.file;
    std::vector<platform::FileId> inputs;
    if (const std::optional<platform::FileId> id = platform::idOf(file)) {
        inputs.push_back(*id);
    }
    const ChartTable table = readTable(file, settings.oldestFirst);
    output::OutputFile page(settings.output, inputs);
    writePage(table, settings.title.empty() ? defaultTitle(settings.table) : settings.title,
              [&](std::string_view bytes) { page.write(bytes); });
    page.commit();
}

}  // namespace

ChartCommand readChartCommandLine(int argc, char** argv) {
    ChartCommand command;
    std::optional<std::string> table;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (optionsEnded || word == "-" || word.empty() || word[0] != '-') {
            if (table) {
                return failed("one table at a time: " + output::quoted(*table) + " and " +
                              output::quoted(word));
            }
            table = word;
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const Option* option = nullptr;
        std::optional<std::string> value;
        if (word.starts_with("--")) {
            const std::size_t equals = word.find('=');
            option = optionNamed(std::string_view(word).substr(2, equals - 2));
            if (equals != std::string::npos) {
                value = word.substr(equals + 1);
            }
        } else if (word[1] == 'o') {
            option = optionNamed("output");
            if (word.size() > 2) {
                value = word.substr(2);
            }
        }
        if (option == nullptr) {
            return failed("unknown option " + output::quoted(word) + " (see --help)");
        }
        if (option->takesValue && !value) {
            if (i + 1 >= argc) {
                return failed("--" + std::string(option->name) + " needs a value");
            }
            value = argv[++i];
        } else if (!option->takesValue && value) {
            return failed("--" + std::string(option->name) + " takes no value");
        }
        if (!apply(*option, value.value_or(""), command)) {
            return command;
        }
    }
    if (command.action != ChartCommand::Action::chart) {
        return command;
    }
    if (table && table->empty()) {
        return failed("the table's name is empty");
    }
    command.settings.table = table.value_or("-");
    if (command.settings.output.empty()) {
        return failed("say where the page goes: -o PAGE.html (see --help)");
    }
    return command;
}

int runChartProgram(int argc, char** argv, std::FILE* out, std::FILE* messages) {
    const ChartCommand command = readChartCommandLine(argc, argv);
    switch (command.action) {
        case ChartCommand::Action::help:
            std::fputs(helpText().c_str(), out);
            return std::fflush(out) == 0 ? 0 : 1;
        case ChartCommand::Action::version:
            std::fprintf(out, "%s\n", kVersion.data());
            return std::fflush(out) == 0 ? 0 : 1;
        case ChartCommand::Action::fail:
            std::fprintf(messages, "%s: %s\n", kProgram.data(), command.error.c_str());
            std::fflush(messages);
            return 2;
        case ChartCommand::Action::chart:
            break;
    }
    const std::string& table = command.settings.table;
    std::string message;
    try {
        makePage(command.settings);
        return 0;
    } catch (const TableError& error) {
        message = output::escaped(table) +
                  (error.line > 0 ? ":" + std::to_string(error.line) : "") + ": " + error.text;
    } catch (const output::OutputFileError& error) {
        message = error.what();
    } catch (const std::bad_alloc&) {
        message = output::escaped(table) + ": too large to chart in this machine's memory";
    } catch (const std::exception& error) {
        message = output::escaped(table) + ": " + error.what();
    }
    std::fprintf(messages, "%s: %s\n", kProgram.data(), message.c_str());
    std::fflush(messages);
    return 1;
}

}  // namespace vellumbrook::chart
