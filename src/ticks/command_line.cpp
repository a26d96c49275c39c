#include "ticks/command_line.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

namespace vellumbrook::ticks {

namespace {

std::optional<int> columnNumber(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > 1000) {
        return std::nullopt;
    }
    return value;
}

// A time pattern's fields are numbers of a few digits in one run each: a year of at most
// four, the others of at most two, the fraction of any number.
bool isTimePattern(std::string_view pattern) {
    constexpr std::string_view kLetters = "YMDhmsf";
    for (std::size_t i = 0; i < kLetters.size(); ++i) {
        const std::size_t first = pattern.find(kLetters[i]);
        if (first == std::string_view::npos) {
            continue;
        }
        const std::size_t width = pattern.find_last_of(kLetters[i]) - first + 1;
        const auto count =
            static_cast<std::size_t>(std::count(pattern.begin(), pattern.end(), kLetters[i]));
        if (count != width || (i < 6 && width > (i == 0 ? 4U : 2U))) {
            return false;
        }
    }
    return true;
}

// The number of single-letter edits that turn one word into the other.
std::size_t editDistance(std::string_view from, std::string_view to) {
    std::vector<std::size_t> row(to.size() + 1);
    for (std::size_t j = 0; j <= to.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= from.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= to.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min(
                {row[j] + 1, row[j - 1] + 1, diagonal + (from[i - 1] == to[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[to.size()];
}

// "; did you mean NAME?" for the layout nearest to a misspelt one, if one is near.
std::string nearestLayout(const std::string& given) {
    std::vector<std::string> names = presetNames();
    names.insert(names.end(), {"auto", "custom"});
    std::string nearest;
    std::size_t best = 3;  // more edits than two are no misspelling
    for (const std::string& name : names) {
        if (const std::size_t distance = editDistance(given, name); distance < best) {
            best = distance;
            nearest = name;
        }
    }
    return nearest.empty() ? "" : "; did you mean " + nearest + "?";
}

// Everything given on the command line, before it is turned into settings.
struct Given {
    std::string from;
    // name, value: applied to the layout in the order given, so that a later one wins
    std::vector<std::pair<std::string, std::string>> layoutOptions;
};

bool applyLayoutOption(Layout& layout, const std::string& name, const std::string& value,
                       std::string& error) {
    const auto bad = [&] {
        error = "--" + name + " cannot be '" + value + "'";
        return false;
    };
    if (name == "separator") {
        const std::map<std::string, char> separators{
            {"comma", ','}, {"semicolon", ';'}, {"tab", '\t'}};
        const auto found = separators.find(value);
        if (found == separators.end()) {
            return bad();
        }
        layout.separator = found->second;
    } else if (name == "decimal") {
        if (value != "point" && value != "comma") {
            return bad();
        }
        layout.decimalMark = value == "point" ? '.' : ',';
    } else if (name == "quoted") {
        layout.quoted = true;
    } else if (name == "header") {
        if (value != "none" && value != "skip") {
            return bad();
        }
        layout.header = value == "none" ? Layout::Header::none : Layout::Header::skip;
        layout.headers.clear();
    } else if (name == "header-text") {
        layout.headers = {value};
        layout.header = Layout::Header::check;
    } else if (name == "time-format") {
        layout.time = timeFormatNamed(value);
        if (value.empty() || !isTimePattern(value)) {
            return bad();
        }
    } else if (name == "time-column") {
        const std::size_t comma = value.find(',');
        const std::optional<int> first = columnNumber(std::string_view(value).substr(0, comma));
        const std::optional<int> second =
            comma == std::string::npos ? std::optional<int>(0)
                                       : columnNumber(std::string_view(value).substr(comma + 1));
        if (!first || !second) {
            return bad();
        }
        layout.dateColumn = *second != 0 ? *first : 0;
        layout.timeColumn = *second != 0 ? *second : *first;
    } else {
        const std::optional<int> column = columnNumber(value);
        if (!column) {
            return bad();
        }
        (name == "bid-column"   ? layout.bidColumn
         : name == "ask-column" ? layout.askColumn
                                : layout.priceColumn) = *column;
        if (name == "price-column") {
            layout.bidColumn = layout.askColumn = 0;
        }
    }
    return true;
}

// The layout of --from with the layout options on top; an error when it is incomplete.
bool layoutOf(const Given& given, TicksSettings& settings, std::string& error) {
    Layout layout;
    if (given.from == "auto") {
        if (!given.layoutOptions.empty()) {
            error = "--from=auto takes no layout options";
            return false;
        }
        return true;
    }
    if (given.from != "custom") {
        const std::optional<Layout> found = preset(given.from);
        if (!found) {
            error = "no layout called '" + given.from + "'" + nearestLayout(given.from) +
                    " (see --help)";
            return false;
        }
        layout = *found;
    }
    for (const auto& [name, value] : given.layoutOptions) {
        if (!applyLayoutOption(layout, name, value, error)) {
            return false;
        }
    }
    if (!layout.quoted && layout.separator == layout.decimalMark) {
        error = "--separator and --decimal are the same mark; fields holding it need --quoted";
        return false;
    }
    if (layout.timeColumn == 0 ||
        (layout.time.kind == TimeFormat::Kind::pattern && layout.time.pattern.empty()) ||
        (layout.priceColumn == 0 && layout.bidColumn == 0 && layout.askColumn == 0)) {
        error = "a custom layout needs --time-column, --time-format and a price column";
        return false;
    }
    settings.layout = layout;
    return true;
}

bool takesValue(const std::string& name) {
    return name != "iso-time" && name != "verbose" && name != "quoted" && name != "help" &&
           name != "version";
}

bool isLayoutOption(const std::string& name) {
    return name == "separator" || name == "decimal" || name == "quoted" || name == "header" ||
           name == "header-text" || name == "time-column" || name == "time-format" ||
           name == "bid-column" || name == "ask-column" || name == "price-column";
}

bool known(const std::string& name) {
    return isLayoutOption(name) || name == "from" || name == "price" || name == "symbol" ||
           name == "output" || name == "iso-time" || name == "verbose" || name == "help" ||
           name == "version";
}

bool apply(const std::string& name, const std::string& value, Given& given, Command& command) {
    TicksSettings& settings = command.settings;
    if (name == "help" || name == "version") {
        command.action = name == "help" ? Command::Action::help : Command::Action::version;
    } else if (name == "from") {
        given.from = value;
        std::transform(given.from.begin(), given.from.end(), given.from.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    } else if (name == "price") {
        const std::map<std::string, Quote> quotes{
            {"bid", Quote::bid}, {"ask", Quote::ask}, {"mid", Quote::mid}, {"price", Quote::price}};
        const auto found = quotes.find(value);
        if (found == quotes.end()) {
            command.error = "--price cannot be '" + value + "' (bid, ask, mid or price)";
            return false;
        }
        settings.quote = found->second;
    } else if (name == "symbol") {
        if (value.find_first_of(",\r\n") != std::string::npos) {
            command.error = "--symbol cannot hold a comma or a line end";
            return false;
        }
        settings.symbol = value;
    } else if (name == "output") {
        if (value.empty()) {
            command.error = "--output needs a file name";
            return false;
        }
        settings.output = value;
    } else if (name == "iso-time") {
        settings.isoTime = true;
    } else if (name == "verbose") {
        settings.verbose = true;
    } else {
        given.layoutOptions.emplace_back(name, value);
    }
    return true;
}

Command failed(std::string error) {
    Command command;
    command.action = Command::Action::fail;
    command.error = std::move(error);
    return command;
}

}  // namespace

Command readCommandLine(int argc, char** argv) {
    Command command;
    Given given;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (optionsEnded || word == "-" || word.empty() || word[0] != '-') {
            command.settings.files.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name;
        std::optional<std::string> value;
        if (word.starts_with("--")) {
            const std::size_t equals = word.find('=');
            name = word.substr(2, equals == std::string::npos ? equals : equals - 2);
            if (equals != std::string::npos) {
                value = word.substr(equals + 1);
            }
        } else if (word == "-v") {
            name = "verbose";
        } else if (word.starts_with("-o")) {
            name = "output";
            if (word.size() > 2) {
                value = word.substr(2);
            }
        } else {
            return failed("unknown option '" + word + "' (see --help)");
        }
        if (!known(name)) {
            return failed("unknown option '--" + name + "' (see --help)");
        }
        if (takesValue(name) && !value) {
            if (i + 1 >= argc) {
                return failed("--" + name + " needs a value");
            }
            value = argv[++i];
        } else if (!takesValue(name) && value) {
            return failed("--" + name + " takes no value");
        }
        if (!apply(name, value.value_or(""), given, command)) {
            return failed(command.error);
        }
    }
    if (command.action != Command::Action::rewrite) {
        return command;
    }
    if (given.from.empty()) {
        return failed("say which layout the files have: --from=LAYOUT (see --help)");
    }
    if (command.settings.files.empty()) {
        return failed("no tick file given");
    }
    std::string error;
    if (!layoutOf(given, command.settings, error)) {
        return failed(error);
    }
    if (const std::optional<Layout>& layout = command.settings.layout;
        layout && layout->time.kind == TimeFormat::Kind::pattern) {
        const std::string& pattern = layout->time.pattern;
        if (!layout->quoted && pattern.find(layout->separator) != std::string::npos) {
            return failed("--time-format cannot hold the separator of the fields: '" + pattern +
                          "'");
        }
        // The converter's time field ends at a comma: such a time must be written anew.
        if (pattern.find(',') != std::string::npos && !command.settings.isoTime) {
            return failed(
                "--time-format with a comma needs --iso-time, since the converter's "
                "time field can hold no comma");
        }
    }
    // A price the layout does not have is a mistake of the command line too; with
    // --from=auto it can only be found once the file is read.
    if (const std::optional<Layout>& layout = command.settings.layout; layout) {
        if (const std::optional<std::string> why = missingQuote(*layout, command.settings.quote)) {
            return failed(*why);
        }
    }
    return command;
}

std::string helpText() {
    std::string presets;
    for (const std::string& name : presetNames()) {
        presets += "  " + name + std::string(14 - name.size(), ' ') + "times in " +
                   preset(name)->zone + "\n";
    }
    return "Usage: vellumbrook-ticks --from=LAYOUT [OPTION]... FILE...\n"
           "Turns tick files as public sources publish them, oldest tick first, into the input\n"
           "of vellumbrook: one line SYMBOL,TIME,PRICE,QUOTE per tick, newest first. Several\n"
           "files are taken oldest first; times must never go back. - is standard input.\n"
           "\n"
           "Layouts (--from):\n" +
           presets +
           "  auto          recognise one of these from the first lines, and say which\n"
           "  custom        described by the layout options below\n"
           "\n"
           "Options:\n"
           "      --from=LAYOUT       the layout of the files (required)\n"
           "      --price=QUOTE       bid (the default), ask, or mid: the shortest number that\n"
           "                          reads back as (bid + ask) / 2; price for one-price layouts\n"
           "      --iso-time          write times as YYYY-MM-DD HH:MM:SS.mmm (epoch times in UTC)\n"
           "      --symbol=TEXT       the first field of every line (default: empty)\n"
           "  -o, --output=FILE       write FILE, whole or not at all, instead of standard output\n"
           "  -v, --verbose           count the lines passed over in each file\n"
           "      --help              show this help and exit\n"
           "      --version           show the version and exit\n"
           "\n"
           "Layout options (with --from=custom, or on top of a preset):\n"
           "      --separator=SEP     comma, semicolon or tab\n"
           "      --decimal=MARK      point or comma\n"
           "      --quoted            fields may stand in double quotes\n"
           "      --header=WHAT       none, or skip the first line\n"
           "      --header-text=LINE  the first line must be LINE\n"
           "      --time-column=N[,M] the time in column N, or the date in N and the time in M\n"
           "      --time-format=FMT   Y M D h m s f for digits, e.g. 'YYYYMMDD hh:mm:ss.fff',\n"
           "                          each field's letters together; epoch-s, epoch-ms or\n"
           "                          epoch-us for seconds, milliseconds or microseconds since\n"
           "                          1970 (epoch is epoch-ms)\n"
           "      --bid-column=N, --ask-column=N, --price-column=N   (columns count from 1)\n"
           "\n"
           "Exit status: 0 when every file was rewritten, 1 when one could not be (one line on\n"
           "standard error says where and why; -o then leaves no file), 2 for a bad command "
           "line.\n";
}

}  // namespace vellumbrook::ticks
