#include "app/option_scanner.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/capture.hpp"

namespace vellumbrook {
namespace {

constexpr const char* kSpec = "ac:df:h:m:qrs:t:u:vi:j:";

struct Returned {
    int code;
    std::string optarg;  // "(none)" when the scanner left it empty
    bool operator==(const Returned&) const = default;
};

// Runs a whole scan over "prog" followed by `args`, recording every result.
struct Scan {
    std::vector<Returned> results;
    std::vector<std::string> argvAfter;
    int optind = 0;
    int optopt = 0;
    std::string messages;
};

Scan scan(std::vector<std::string> args, const char* spec = kSpec) {
    args.insert(args.begin(), "prog");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    testing::CapturedConsole captured;
    std::FILE* messages = captured.console().err;

    OptionScanner scanner;
    Scan result;
    const int argc = static_cast<int>(args.size());
    for (int guard = 0; guard < 100; ++guard) {
        const int code = scanner.nextOption(argc, argv.data(), spec, messages);
        result.results.push_back({code, scanner.optarg ? scanner.optarg : "(none)"});
        if (code == -1) {
            break;
        }
    }
    result.messages = captured.err();
    for (int i = 0; i < argc; ++i) {
        result.argvAfter.emplace_back(argv[static_cast<std::size_t>(i)]);
    }
    result.optind = scanner.optind;
    result.optopt = scanner.optopt;
    return result;
}

struct ScanCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<Returned> results;
    std::vector<std::string> argvAfter;
    int optind;
    std::string messages;
};

class ScannerCases : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScannerCases, ReturnsCodesAndReordersArguments) {
    const ScanCase& expected = GetParam();
    const Scan got = scan(expected.args);
    EXPECT_EQ(got.results, expected.results);
    EXPECT_EQ(got.argvAfter, expected.argvAfter);
    EXPECT_EQ(got.optind, expected.optind);
    EXPECT_EQ(got.messages, expected.messages);
}

const Returned kEnd{-1, "(none)"};

INSTANTIATE_TEST_SUITE_P(
    OptionScanner, ScannerCases,
    ::testing::Values(
        ScanCase{
            "cluster", {"-qv"}, {{'q', "(none)"}, {'v', "(none)"}, kEnd}, {"prog", "-qv"}, 2, ""},
        ScanCase{"attached", {"-t70"}, {{'t', "70"}, kEnd}, {"prog", "-t70"}, 2, ""},
        ScanCase{"separate", {"-t", "70"}, {{'t', "70"}, kEnd}, {"prog", "-t", "70"}, 3, ""},
        ScanCase{"cluster_then_value",
                 {"-qt70"},
                 {{'q', "(none)"}, {'t', "70"}, kEnd},
                 {"prog", "-qt70"},
                 2,
                 ""},
        ScanCase{"value_with_dash", {"-t", "-5"}, {{'t', "-5"}, kEnd}, {"prog", "-t", "-5"}, 3, ""},
        ScanCase{"empty_value", {"-t", ""}, {{'t', ""}, kEnd}, {"prog", "-t", ""}, 3, ""},
        ScanCase{"missing_last_value",
                 {"-t"},
                 {{'?', "(none)"}, kEnd},
                 {"prog", "-t"},
                 3,
                 "prog: option requires an argument -- t\n"},
        ScanCase{"unknown_letter",
                 {"-x"},
                 {{'?', "(none)"}, kEnd},
                 {"prog", "-x"},
                 2,
                 "prog: invalid option -- x\n"},
        ScanCase{"word_moves_behind",
                 {"file", "-q"},
                 {{'q', "(none)"}, kEnd},
                 {"prog", "-q", "file"},
                 2,
                 ""},
        ScanCase{"words_keep_their_order",
                 {"a", "-f", "x", "b", "-q", "c"},
                 {{'f', "x"}, {'q', "(none)"}, kEnd},
                 {"prog", "-f", "x", "-q", "a", "b", "c"},
                 4,
                 ""},
        ScanCase{"double_dash_stops", {"--", "-q"}, {kEnd}, {"prog", "--", "-q"}, 2, ""},
        ScanCase{"double_dash_after_word",
                 {"w", "-a", "--", "-q"},
                 {{'a', "(none)"}, kEnd},
                 {"prog", "-a", "--", "w", "-q"},
                 3,
                 ""},
        ScanCase{"lone_dash_and_empty",
                 {"-", "", "-a"},
                 {{'a', "(none)"}, kEnd},
                 {"prog", "-", "", "-a"},
                 4,
                 ""},
        ScanCase{"word_before_option_with_value",
                 {"word", "-t"},
                 {{'?', "(none)"}, kEnd},
                 {"prog", "-t", "word"},
                 3,
                 "prog: option requires an argument -- t\n"},
        ScanCase{
            "colon_is_a_listed_letter", {"-:"}, {{':', "(none)"}, kEnd}, {"prog", "-:"}, 2, ""},
        ScanCase{"long_name_is_letters",
                 {"--name"},
                 {{'?', "(none)"}, {'?', "(none)"}, {'a', "(none)"}, {'m', "e"}, kEnd},
                 {"prog", "--name"},
                 2,
                 "prog: invalid option -- -\nprog: invalid option -- n\n"}),
    [](const ::testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

TEST(OptionScanner, ErrorLetterIsKeptInOptopt) {
    EXPECT_EQ(scan({"-x"}).optopt, 'x');
    EXPECT_EQ(scan({"-a", "-t"}).optopt, 't');
    EXPECT_EQ(scan({"-a"}).optopt, 0);
}

TEST(OptionScanner, ColonPrefixReportsMissingArgumentAsColon) {
    const Scan got = scan({"-t"}, ":t:");
    ASSERT_EQ(got.results.size(), 2U);
    EXPECT_EQ(got.results[0].code, ':');
    EXPECT_EQ(got.messages, "prog: option requires an argument -- t\n");
}

TEST(OptionScanner, PlusModeStopsAtFirstWord) {
    const Scan got = scan({"-a", "word", "-q"}, "+aq");
    EXPECT_EQ(got.results, (std::vector<Returned>{{'a', "(none)"}, kEnd}));
    EXPECT_EQ(got.argvAfter, (std::vector<std::string>{"prog", "-a", "word", "-q"}));
    EXPECT_EQ(got.optind, 2);
}

TEST(OptionScanner, MinusModeReturnsWordsInOrder) {
    const Scan got = scan({"w1", "-a", "w2"}, "-aq");
    EXPECT_EQ(got.results, (std::vector<Returned>{{1, "w1"}, {'a', "(none)"}, {1, "w2"}, kEnd}));
    EXPECT_EQ(got.argvAfter, (std::vector<std::string>{"prog", "w1", "-a", "w2"}));
}

}  // namespace
}  // namespace vellumbrook
