#include "ticks/command_line.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "ticks/messages.hpp"

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

// "; did you mean NAME?" for the layout nearest to a misspelt one, if one is near: the
// layouts that begin with the word given ("hist", "mt5"), else the one a few edits away.
std::string nearestLayout(const std::string& given) {
    std::vector<std::string> names = presetNames();
    names.insert(names.end(), {"auto", "custom"});
    std::vector<std::string> beginning;
    for (const std::string& name : names) {
        if (given.size() >= 2 && name.starts_with(given)) {
            beginning.push_back(name);
        }
    }
    if (!beginning.empty()) {
        std::string suggestion = "; did you mean " + beginning.front();
        for (std::size_t i = 1; i < beginning.size(); ++i) {
            suggestion += (i + 1 == beginning.size() ? " or " : ", ") + beginning[i];
        }
        return suggestion + "?";
    }
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

struct Option;

// Everything given on the command line, before it is turned into settings.
struct Given {
    std::string from;
    // The converter's values as given, with where each goes; checked once all are read.
    std::vector<std::pair<std::string, std::int32_t*>> candleValues;
    // Layout options with their values, applied in the order given, so that a later one wins.
    std::vector<std::pair<const Option*, std::string>> layoutOptions;
};

// What an option does with its value: false, with `error` set, for a value it cannot take.
using ApplyToRun = bool (*)(const std::string& value, Given& given, Command& command);
using ApplyToLayout = bool (*)(const std::string& value, Layout& layout);

// One option of the command line, as it is read, applied and shown in the help.
struct Option {
    std::string_view name;  // after "--"
    bool takesValue;
    ApplyToRun applyToRun;        // an option of the run, or
    ApplyToLayout applyToLayout;  // a layout option, applied once --from is known
    std::string_view usage;       // the help's left column; empty: not listed on its own
    std::string_view help;        // the help's right column, its lines joined by \n
};

bool setSeparator(const std::string& value, Layout& layout) {
    const std::map<std::string, char> separators{{"comma", ','}, {"semicolon", ';'}, {"tab", '\t'}};
    const auto found = separators.find(value);
    if (found == separators.end()) {
        return false;
    }
    layout.separator = found->second;
    return true;
}

bool setDecimal(const std::string& value, Layout& layout) {
    if (value != "point" && value != "comma") {
        return false;
    }
    layout.decimalMark = value == "point" ? '.' : ',';
    return true;
}

bool setHeader(const std::string& value, Layout& layout) {
    if (value != "none" && value != "skip") {
        return false;
    }
    layout.header = value == "none" ? Layout::Header::none : Layout::Header::skip;
    layout.headers.clear();
    return true;
}

bool setTimeColumn(const std::string& value, Layout& layout) {
    const std::size_t comma = value.find(',');
    const std::optional<int> first = columnNumber(std::string_view(value).substr(0, comma));
    const std::optional<int> second = comma == std::string::npos
                                          ? std::optional<int>(0)
                                          : columnNumber(std::string_view(value).substr(comma + 1));
    if (!first || !second) {
        return false;
    }
    layout.dateColumn = *second != 0 ? *first : 0;
    layout.timeColumn = *second != 0 ? *second : *first;
    return true;
}

// A price column: a single price stands for a trades layout, which has no bid and no ask.
template <int Layout::*column>
bool setColumn(const std::string& value, Layout& layout) {
    const std::optional<int> number = columnNumber(value);
    if (!number) {
        return false;
    }
    layout.*column = *number;
    if (column == &Layout::priceColumn) {
        layout.bidColumn = layout.askColumn = 0;
    }
    return true;
}

bool setQuote(const std::string& value, Given&, Command& command) {
    const std::map<std::string, Quote> quotes{
        {"bid", Quote::bid}, {"ask", Quote::ask}, {"mid", Quote::mid}, {"price", Quote::price}};
    const auto found = quotes.find(value);
    if (found == quotes.end()) {
        command.error = "--price cannot be " + shown(value) + " (bid, ask, mid or price)";
        return false;
    }
    command.settings.quote = found->second;
    return true;
}

bool setSymbol(const std::string& value, Given&, Command& command) {
    if (value.find_first_of(",\r\n") != std::string::npos) {
        command.error = "--symbol cannot hold a comma or a line end";
        return false;
    }
    command.settings.symbol = value;
    return true;
}

bool setOutput(const std::string& value, Given&, Command& command) {
    if (value.empty()) {
        command.error = "--output needs a file name";
        return false;
    }
    command.settings.output = value;
    return true;
}

bool setFrom(const std::string& value, Given& given, Command&) {
    given.from = value;
    std::transform(given.from.begin(), given.from.end(), given.from.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return true;
}

// The converter's values, read as it reads its own: decimal digits only, up to 2147483647.
template <std::int32_t CandleSettings::*value>
bool setCandleValue(const std::string& text, Given& given, Command& command) {
    given.candleValues.emplace_back(text, &(command.settings.candleSettings.*value));
    return true;
}

const Option kOptions[] = {
    {"from", true, setFrom, nullptr, "--from=LAYOUT", "the layout of the files (required)"},
    {"price", true, setQuote, nullptr, "--price=QUOTE",
     "bid (the default), ask, or mid: the shortest number that\n"
     "reads back as (bid + ask) / 2; price for one-price layouts"},
    {"iso-time", false,
     [](const std::string&, Given&, Command& command) { return command.settings.isoTime = true; },
     nullptr, "--iso-time", "write times as YYYY-MM-DD HH:MM:SS.mmm (epoch times in UTC)"},
    {"symbol", true, setSymbol, nullptr, "--symbol=TEXT",
     "the first field of every line (default: empty)"},
    {"output", true, setOutput, nullptr, "-o, --output=FILE",
     "write FILE, whole or not at all, instead of standard output"},
    {"verbose", false,
     [](const std::string&, Given&, Command& command) { return command.settings.verbose = true; },
     nullptr, "-v, --verbose", "count the lines passed over in each file"},
    {"candles", false,
     [](const std::string&, Given&, Command& command) { return command.settings.candles = true; },
     nullptr, "--candles",
     "write vellumbrook's candle table instead of the ticks,\n"
     "reading each file forward once; with these values:"},
    {"ticks-per-candle", true, setCandleValue<&CandleSettings::ticksPerCandle>, nullptr,
     "--ticks-per-candle=N", "vellumbrook -t: ticks per candle (70)"},
    {"keep-candles", true, setCandleValue<&CandleSettings::candleLimit>, nullptr,
     "--keep-candles=N", "vellumbrook -c: the newest candles kept (all)"},
    {"future-rows", true, setCandleValue<&CandleSettings::futureCount>, nullptr, "--future-rows=N",
     "vellumbrook -m: empty future rows (1)"},
    {"ema-offset", true, setCandleValue<&CandleSettings::emaOffset>, nullptr, "--ema-offset=N",
     "vellumbrook -i: EMA offset in rows (1)"},
    {"ema-span", true, setCandleValue<&CandleSettings::emaSpan>, nullptr, "--ema-span=N",
     "vellumbrook -j: EMA span in candles (20)"},
    {"no-header", false,
     [](const std::string&, Given&, Command& command) { return command.settings.noHeader = true; },
     nullptr, "--no-header", "vellumbrook -a: no header line"},
    {"no-ema", false,
     [](const std::string&, Given&, Command& command) { return command.settings.noEma = true; },
     nullptr, "--no-ema", "vellumbrook -q: no EMA column"},
    {"help", false,
     [](const std::string&, Given&, Command& command) {
         command.action = Command::Action::help;
         return true;
     },
     nullptr, "--help", "show this help and exit"},
    {"version", false,
     [](const std::string&, Given&, Command& command) {
         command.action = Command::Action::version;
         return true;
     },
     nullptr, "--version", "show the version and exit"},
    {"separator", true, nullptr, setSeparator, "--separator=SEP", "comma, semicolon or tab"},
    {"decimal", true, nullptr, setDecimal, "--decimal=MARK", "point or comma"},
    {"quoted", false, nullptr,
     [](const std::string&, Layout& layout) { return layout.quoted = true; }, "--quoted",
     "fields may stand in double quotes"},
    {"header", true, nullptr, setHeader, "--header=WHAT", "none, or skip the first line"},
    {"header-text", true, nullptr,
     [](const std::string& value, Layout& layout) {
         layout.headers = {value};
         layout.header = Layout::Header::check;
         return true;
     },
     "--header-text=LINE", "the first line must be LINE"},
    {"time-column", true, nullptr, setTimeColumn, "--time-column=N[,M]",
     "the time in column N, or the date in N and the time in M"},
    {"time-format", true, nullptr,
     [](const std::string& value, Layout& layout) {
         layout.time = timeFormatNamed(value);
         return !value.empty() && isTimePattern(value);
     },
     "--time-format=FMT",
     "Y M D h m s f for digits, e.g. 'YYYYMMDD hh:mm:ss.fff',\n"
     "each field's letters together; epoch-s, epoch-ms or\n"
     "epoch-us for seconds, milliseconds or microseconds since\n"
     "1970 (epoch is epoch-ms)"},
    {"bid-column", true, nullptr, setColumn<&Layout::bidColumn>,
     "--bid-column=N, --ask-column=N, --price-column=N   (columns count from 1)", ""},
    {"ask-column", true, nullptr, setColumn<&Layout::askColumn>, "", ""},
    {"price-column", true, nullptr, setColumn<&Layout::priceColumn>, "", ""},
};

const Option* optionNamed(std::string_view name) {
    for (const Option& option : kOptions) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

// The help's lines for the options of the run or for the layout options.
std::string optionsHelp(bool layoutOptions) {
    std::string text;
    for (const Option& option : kOptions) {
        if (option.usage.empty() || (option.applyToLayout != nullptr) != layoutOptions) {
            continue;
        }
        const bool hasShortName = option.usage.starts_with("-") && !option.usage.starts_with("--");
        std::string line = std::string(hasShortName ? "  " : "      ") + std::string(option.usage);
        for (std::string_view help = option.help; !help.empty();) {
            const std::size_t end = help.find('\n');
            line.resize(std::max<std::size_t>(line.size() + 1, 26), ' ');
            text += line + std::string(help.substr(0, end)) + "\n";
            line.clear();
            help.remove_prefix(end == std::string_view::npos ? help.size() : end + 1);
        }
        if (!line.empty()) {
            text += line + "\n";
        }
    }
    return text;
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
            error = "no layout called " + shown(given.from) + nearestLayout(given.from) +
                    " (see --help)";
            return false;
        }
        layout = *found;
    }
    for (const auto& [option, value] : given.layoutOptions) {
        if (!option->applyToLayout(value, layout)) {
            error = "--" + std::string(option->name) + " cannot be " + shown(value);
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

// The converter's values, checked as it checks its own: digits only (leading zeros too), up
// to 2147483647, a span of at least 1; under --no-ema the EMA values are not looked at.
bool checkCandleValues(const Given& given, TicksSettings& settings, std::string& error) {
    CandleSettings& values = settings.candleSettings;
    for (const auto& [text, value] : given.candleValues) {
        const bool isEma = value == &values.emaOffset || value == &values.emaSpan;
        const std::string name = value == &values.ticksPerCandle ? "--ticks-per-candle"
                                 : value == &values.candleLimit  ? "--keep-candles"
                                 : value == &values.futureCount  ? "--future-rows"
                                 : value == &values.emaOffset    ? "--ema-offset"
                                                                 : "--ema-span";
        if (!settings.candles) {
            error = name + " needs --candles";
            return false;
        }
        if (isEma && settings.noEma) {
            continue;
        }
        std::int32_t number = 0;
        const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), number);
        const bool digitsOnly = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
            return c >= '0' && c <= '9';
        });
        const bool spanOfNone = value == &values.emaSpan && number == 0;
        if (!digitsOnly || failure != std::errc() || end != text.data() + text.size() ||
            spanOfNone) {
            error = name + " cannot be " + shown(text) + " (" +
                    (value == &values.emaSpan ? "1" : "0") + " to 2147483647)";
            return false;
        }
        *value = number;
    }
    if ((settings.noHeader || settings.noEma) && !settings.candles) {
        error = std::string(settings.noHeader ? "--no-header" : "--no-ema") + " needs --candles";
        return false;
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
            return failed("unknown option " + shown(word) + " (see --help)");
        }
        const Option* option = optionNamed(name);
        if (option == nullptr) {
            return failed("unknown option " + shown("--" + name) + " (see --help)");
        }
        if (option->takesValue && !value) {
            if (i + 1 >= argc) {
                return failed("--" + name + " needs a value");
            }
            value = argv[++i];
        } else if (!option->takesValue && value) {
            return failed("--" + name + " takes no value");
        }
        if (option->applyToLayout != nullptr) {
            given.layoutOptions.emplace_back(option, value.value_or(""));
        } else if (!option->applyToRun(value.value_or(""), given, command)) {
            return failed(command.error);
        }
    }
    if (command.action != Command::Action::rewrite) {
        return command;
    }
    if (given.from.empty()) {
        return failed("say which layout the files have: --from=LAYOUT (see --help)");
    }
    if (std::string error; !checkCandleValues(given, command.settings, error)) {
        return failed(error);
    }
    // The layout first: "--from a.csv" is a layout called a.csv, and no file.
    std::string error;
    if (!layoutOf(given, command.settings, error)) {
        return failed(error);
    }
    const std::vector<std::string>& files = command.settings.files;
    if (files.empty()) {
        return failed("no tick file given");
    }
    // A stream is read once: a second "-" would be empty, or the same ticks again.
    if (std::count(files.begin(), files.end(), "-") > 1) {
        return failed("- is named more than once; standard input can be read only once");
    }
    if (const std::optional<Layout>& layout = command.settings.layout;
        layout && layout->time.kind == TimeFormat::Kind::pattern) {
        const std::string& pattern = layout->time.pattern;
        if (!layout->quoted && pattern.find(layout->separator) != std::string::npos) {
            return failed("--time-format cannot hold the separator of the fields: " +
                          shown(pattern));
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
           "Zip and gzip files are read as they are: of a zip, its .csv members.\n"
           "\n"
           "Layouts (--from):\n" +
           presets +
           "  auto          recognise one of these from the first lines, and say which\n"
           "  custom        described by the layout options below\n"
           "\n"
           "Options:\n" +
           optionsHelp(false) +
           "\n"
           "Layout options (with --from=custom, or on top of a preset):\n" +
           optionsHelp(true) +
           "\n"
           "Exit status: 0 when every file was rewritten, 1 when one could not be (one line on\n"
           "standard error says where and why; -o then leaves no file), 2 for a bad command "
           "line.\n";
}

}  // namespace vellumbrook::ticks
