#include "ticks/time_reading.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vellumbrook::ticks {
namespace {

struct TimeCase {
    const char* format;  // as --time-format takes it, or "binance" for that preset's epoch
    const char* text;
    const char* iso;  // what --iso-time writes; empty: not a time
};

class TimeReading : public ::testing::TestWithParam<TimeCase> {};

TEST_P(TimeReading, ReadsOnlyTimesThatExist) {
    const TimeCase& c = GetParam();
    const TimeFormat format =
        std::string(c.format) == "binance"
            ? TimeFormat{TimeFormat::Kind::epochMillisecondsOrMicroseconds, ""}
            : timeFormatNamed(c.format);
    const std::optional<TickTime> time = TimeReader(format).read(c.text);
    IsoText text{};
    EXPECT_EQ(time ? std::string(isoTime(*time, text)) : std::string(), c.iso)
        << c.format << " '" << c.text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Times, TimeReading,
    ::testing::Values(TimeCase{"epoch-s", "1704153600", "2024-01-02 00:00:00.000"},
                      TimeCase{"epoch-ms", "1704153600123", "2024-01-02 00:00:00.123"},
                      TimeCase{"epoch", "1704153600123", "2024-01-02 00:00:00.123"},
                      TimeCase{"epoch-us", "1704153600123456", "2024-01-02 00:00:00.123"},
                      // A count is never read in a unit other than the one named.
                      TimeCase{"epoch-ms", "1704153600123456", ""},
                      TimeCase{"epoch-ms", "1704153600", "1970-01-20 17:22:33.600"},
                      TimeCase{"binance", "1704153600123", "2024-01-02 00:00:00.123"},
                      TimeCase{"binance", "1704153600123456", "2024-01-02 00:00:00.123"},
                      TimeCase{"binance", "1704153600", ""},
                      TimeCase{"epoch-s", "253402300799", "9999-12-31 23:59:59.000"},
                      TimeCase{"epoch-s", "253402300800", ""},
                      TimeCase{"epoch-ms", "253402300800000", ""}, TimeCase{"epoch-s", "-1", ""},
                      TimeCase{"epoch-s", "", ""},
                      TimeCase{"YYYY-MM-DD hh:mm:ss", "2024-02-29 23:59:60",
                               "2024-02-29 23:59:60.000"},
                      TimeCase{"YYYY-MM-DD hh:mm:ss", "2024-02-29 23:58:60", ""},
                      TimeCase{"YYYY-MM-DD hh:mm:ss", "2023-02-29 00:00:00", ""},
                      TimeCase{"YYYY-MM-DD hh:mm:ss", "2024-04-31 00:00:00", ""},
                      TimeCase{"YYYY-MM-DD hh:mm:ss", "2024-00-01 00:00:00", ""},
                      TimeCase{"YYYY-MM-DD hh:mm:ss", "2024-01-00 00:00:00", ""},
                      TimeCase{"YYYY-MM-DD hh:mm:ss", "0000-01-01 00:00:00", ""},
                      TimeCase{"YYYY-MM-DD hh:mm:ss", "2024-01-01 24:00:00", ""},
                      TimeCase{"YY-MM-DD hh:mm", "24-03-01 12:30", "2024-03-01 12:30:00.000"},
                      // Text after the pattern: only Dukascopy's zone, applied.
                      TimeCase{"DD.MM.YYYY hh:mm:ss.fff", "27.10.2024 02:30:00.000 GMT+0200",
                               "2024-10-27 00:30:00.000"},
                      TimeCase{"DD.MM.YYYY hh:mm:ss.fff", "27.10.2024 02:30:00.000 GMT+0100",
                               "2024-10-27 01:30:00.000"},
                      TimeCase{"DD.MM.YYYY hh:mm:ss.fff", "27.10.2024 02:30:00.000 CET", ""},
                      TimeCase{"YYYY-MM-DD", "2024-01-02 23:00", ""}));

}  // namespace
}  // namespace vellumbrook::ticks
