#include "app/options.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>

namespace vellumbrook {

namespace {

constexpr std::string_view kProgramName = "Vellumbrook.exe";
constexpr std::string_view kVersion = "1.00";

// The general letters, then the EMA group. Starting with a letter selects permutation and
// reports a missing argument as '?'.
std::string optionSpec() {
    return std::string("ac:df:h:m:qrs:t:u:v") + "i:j:";
}

// Decimal digits only, leading zeros allowed, at most 2147483647. The empty text and larger
// numbers have no 32-bit value, so they are refused like any other bad value.
std::optional<std::int32_t> toCount(std::string_view text) {
    if (text.empty() || !isAllDigits(text)) {
        return std::nullopt;
    }
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

Flow reject(std::int32_t code, std::int32_t optopt, const Console& console) {
    (void)console.writeOutLine("error! opt:'" + std::to_string(code) + "' optopt:'" +
                               std::to_string(optopt) + "'");
    return Flow::fail;
}

Flow scan(int argc, char** argv, RunSettings& settings, OptionScanner& scanner,
          const Console& console) {
    const std::string spec = optionSpec();
    for (;;) {
        const std::int32_t code = scanner.nextOption(argc, argv, spec.c_str(), console.err);
        if (code == -1) {
            return Flow::proceed;
        }
        const char* value = scanner.optarg;
        switch (code) {
            case 'a':
                settings.noHeader = 1;
                break;
            case 'c':
                settings.candleLimitText = value;
                break;
            case 'f':
                settings.fileGiven = 1;
                settings.fileName = value;
                break;
            case 'i':
                settings.emaOffsetText = value;
                break;
            case 'j':
                settings.emaSpanText = value;
                break;
            case 'm':
                settings.futureCountText = value;
                break;
            case 'q':
                settings.noEma = 1;
                break;
            case 't':
                settings.ticksPerCandleText = value;
                break;
            case 'v':
                settings.showOptions = 1;
                break;
            // Accepted for the callers that pass them; -s and -u consume a value.
            case 'd':
            case 'r':
            case 's':
            case 'u':
                break;
            // '?' and ':' from the scanner, and -h, which is listed only to be refused.
            default:
                return reject(code, scanner.optopt, console);
        }
    }
}

struct NumericOption {
    std::optional<std::string_view> RunSettings::*text;
    std::int32_t RunSettings::*value;
    std::string_view errorLabel;
    std::string_view letter;
    bool zeroAllowed;
};

// The fixed order of validation; the first bad value ends the run.
constexpr std::array kEmaOptions{
    NumericOption{&RunSettings::emaOffsetText, &RunSettings::emaOffset, "EMA Offset Error", "-i",
                  true},
    // A span of zero candles has no average.
    NumericOption{&RunSettings::emaSpanText, &RunSettings::emaSpan, "EMA Span Error", "-j", false},
};
constexpr std::array kCandleOptions{
    NumericOption{&RunSettings::futureCountText, &RunSettings::futureCount,
                  "Future Candle Sticks Error", "-m", true},
    NumericOption{&RunSettings::ticksPerCandleText, &RunSettings::ticksPerCandle, "Ticks Error",
                  "-t", true},
    NumericOption{&RunSettings::candleLimitText, &RunSettings::candleLimit, "Candle Sticks Error",
                  "-c", true},
};

template <std::size_t N>
Flow validate(const std::array<NumericOption, N>& options, RunSettings& settings,
              const Console& console) {
    for (const NumericOption& option : options) {
        const std::optional<std::string_view>& text = settings.*option.text;
        if (!text) {
            continue;
        }
        const std::optional<std::int32_t> value = toCount(*text);
        if (!value || (*value == 0 && !option.zeroAllowed)) {
            console.reportError(option.errorLabel, option.letter, *text);
            return Flow::fail;
        }
        settings.*option.value = *value;
    }
    return Flow::proceed;
}

void writeUsage(const RunSettings& settings, const Console& console) {
    const auto number = [](std::int32_t value) { return std::to_string(value); };
    const std::array<std::string, 15> lines{
        std::string(kProgramName) + " (" + std::string(kVersion) + ")",
        "  Converts price ticks, newest first, into candlestick CSV with an EMA column.",
        "  Usage: Vellumbrook.exe -f'FILENAME'",
        "",
        "       OPTIONS               : VALUE ",
        "  -----------------------------------------------",
        "  -v : Show Options          : ''",
        "  -f : File Name             : '-f'FILENAME'",
        "  -t : Ticks By Candle Stick : '-t" + number(settings.ticksPerCandle) + "'",
        "  -c : Candle Sticks         : '-c" + number(2147483647) + "'",
        "  -m : Future Candle Sticks  : '-m" + number(settings.futureCount) + "'",
        "  -a : Header                : ''",
        "  -q : Technical             : ''",
        "  -i : EMA Offset            : '-i" + number(settings.emaOffset) + "'",
        "  -j : EMA Span              : '-j" + number(settings.emaSpan) + "'",
    };
    for (const std::string& line : lines) {
        if (!console.writeOutLine(line)) {
            return;
        }
    }
}

}  // namespace

bool isAllDigits(std::string_view text) {
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

Flow processOptions(int argc, char** argv, RunSettings& settings, OptionScanner& scanner,
                    const Console& console) {
    if (settings.optionsPending) {
        if (scan(argc, argv, settings, scanner, console) == Flow::fail) {
            return Flow::fail;
        }
        if (settings.noEma == 0 && validate(kEmaOptions, settings, console) == Flow::fail) {
            return Flow::fail;
        }
        if (validate(kCandleOptions, settings, console) == Flow::fail) {
            return Flow::fail;
        }
        settings.optionsPending = false;
    }
    if (settings.showOptions != 0 || settings.fileGiven == 0) {
        writeUsage(settings, console);
        return Flow::fail;
    }
    return Flow::proceed;
}

}  // namespace vellumbrook
