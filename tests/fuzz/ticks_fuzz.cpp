// Arbitrary bytes through vellumbrook-ticks, under a layout that the input itself gives on the
// program's own command line: separator, decimal mark, quoting, header, columns up to 16, a
// time pattern of pattern letters and literals or an epoch word, the price and --iso-time.
// Every input ends in a table or one clear error line, never a crash, and pieces of a few
// bytes say exactly what one piece says.
//
// The input: 8 bytes of layout, then the pattern's tokens (as many as byte 7 says), then the
// file.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/check.hpp"
#include "fuzz/ticks_run.hpp"

namespace {

using vellumbrook::fuzz::check;
using vellumbrook::fuzz::runTicks;
using vellumbrook::fuzz::TicksRun;

// A time pattern from tokens: the fields of the pattern letters, or literal characters.
std::string timePattern(const std::uint8_t* tokens, std::size_t count) {
    static const std::vector<std::string_view> kTokens{
        "YYYY", "YY", "MM", "DD", "hh", "mm", "ss", "fff", "f", "ffffff", "M",
        "D",    " ",  ".",  ":",  "-",  "/",  "T",  ",",   ";", "\"",     "Y"};
    std::string pattern;
    for (std::size_t i = 0; i < count; ++i) {
        pattern += kTokens[tokens[i] % kTokens.size()];
    }
    return pattern;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t tokens = size < 8 ? 0 : data[7] % 12U;
    if (size < 8 + tokens) {
        return 0;
    }
    const std::string_view file(reinterpret_cast<const char*>(data) + 8 + tokens,
                                size - 8 - tokens);
    static const std::string path = vellumbrook::fuzz::scratchFile("ticks-fuzz.csv");
    std::ofstream(path, std::ios::binary)
        .write(file.data(), static_cast<std::streamsize>(file.size()));

    const char* separators[] = {"comma", "semicolon", "tab", "comma"};
    const char* headers[] = {"--header=none", "--header=skip", "--header-text=", ""};
    const char* quotes[] = {"bid", "ask", "mid", "price"};
    const char* epochs[] = {"epoch", "epoch-s", "epoch-ms", "epoch-us"};
    std::vector<std::string> args{"vellumbrook-ticks", "--from=custom"};
    args.push_back(std::string("--separator=") + separators[data[0] & 3]);
    args.push_back(data[0] & 4 ? "--decimal=comma" : "--decimal=point");
    if (data[0] & 8) {
        args.push_back("--quoted");
    }
    std::string header = headers[(data[0] >> 4) & 3];
    if (header == "--header-text=") {
        header += std::string(file.substr(0, file.find('\n')));  // the first line, as it is
    }
    if (!header.empty()) {
        args.push_back(header);
    }
    args.push_back(std::string("--price=") + quotes[data[0] >> 6]);
    if (data[1] & 1) {
        args.push_back("--iso-time");
    }
    const int dateColumn = data[3] % 17;
    args.push_back("--time-column=" + (dateColumn > 0 ? std::to_string(dateColumn) + "," : "") +
                   std::to_string(1 + data[2] % 16));
    args.push_back("--time-format=" + (tokens == 0 ? std::string(epochs[data[3] % 4])
                                                   : timePattern(data + 8, tokens)));
    const char* columns[] = {"--bid-column=", "--ask-column=", "--price-column="};
    for (int i = 0; i < 3; ++i) {
        if (const int column = data[4 + i] % 17; column > 0) {
            args.push_back(columns[i] + std::to_string(column));
        }
    }
    args.push_back(path);

    // Read in one piece and in pieces of a few bytes, side by side, the run says the same.
    const TicksRun whole = runTicks(args, 0);
    check(whole.status == 0 || whole.status == 1 || whole.status == 2, "status is 0, 1 or 2");
    check(whole.status == 0 || !whole.messages.empty(), "a failure says why");
    check(vellumbrook::fuzz::linesAreSound(whole.messages, "vellumbrook-ticks"),
          "messages are the program's lines, escaped");
    if (whole.status == 2) {
        return 0;  // a layout that the command line refuses
    }
    const TicksRun pieces = runTicks(args, 1 + data[1] / 2);
    check(whole.status == pieces.status && whole.messages == pieces.messages &&
              (whole.status != 0 || whole.out == pieces.out),
          "pieces give what one piece gives");

    // --candles, read forward once, gives the converter's table of that tick table, or the
    // same failure in the same words.
    // Converter letters with their values, from bytes the layout reads too; -c 5 stands for
    // every candle kept, the converter's default.
    std::vector<std::string> letters{
        "-t", std::to_string(data[1] >> 5), "-m", std::to_string(data[5] % 4),
        "-i", std::to_string(data[4] % 4),  "-j", std::to_string(1 + data[3] % 5)};
    if (data[6] % 6 < 5) {
        letters.insert(letters.end(), {"-c", std::to_string(data[6] % 6)});
    }
    const std::map<std::string, std::string> longNames{{"-t", "--ticks-per-candle="},
                                                       {"-m", "--future-rows="},
                                                       {"-i", "--ema-offset="},
                                                       {"-j", "--ema-span="},
                                                       {"-c", "--keep-candles="}};
    std::vector<std::string> candleArgs = args;
    candleArgs.insert(candleArgs.end() - 1, "--candles");
    for (std::size_t i = 0; i < letters.size(); i += 2) {
        candleArgs.insert(candleArgs.end() - 1, longNames.at(letters[i]) + letters[i + 1]);
    }
    std::vector<std::string> converterArgs{"vellumbrook", "-f", ""};
    converterArgs.insert(converterArgs.end(), letters.begin(), letters.end());
    const TicksRun candles = runTicks(candleArgs, 0);
    check(candles.status == whole.status && candles.messages == whole.messages,
          "--candles fails as the tick table does");
    if (whole.status == 0) {
        check(candles.out == vellumbrook::fuzz::convert(whole.out, converterArgs),
              "--candles gives the converter's table of the tick table");
    }
    return 0;
}
