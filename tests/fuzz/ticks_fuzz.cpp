// Arbitrary bytes through vellumbrook-ticks' general reader, under a layout picked by the
// first byte: every input ends in a table or one clear error line, never a crash.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/check.hpp"
#include "ticks/rewrite.hpp"

namespace {

using namespace vellumbrook::ticks;

Layout layoutFrom(std::uint8_t choice) {
    const std::vector<std::string>& names = presetNames();
    if (choice % 8 < names.size()) {
        return *preset(names[choice % 8]);
    }
    Layout layout;  // a general one: quoted, semicolons, decimal commas, two time columns
    layout.separator = choice & 0x10 ? ';' : '\t';
    layout.decimalMark = choice & 0x20 ? ',' : '.';
    layout.quoted = (choice & 0x40) != 0;
    layout.header = choice & 0x80 ? Layout::Header::skip : Layout::Header::none;
    layout.dateColumn = 1;
    layout.timeColumn = 2;
    layout.bidColumn = 3;
    layout.askColumn = 4;
    layout.time.pattern = "DD.MM.YYYY hh:mm:ss.fff";
    return layout;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    static const std::string path =
        (std::filesystem::temp_directory_path() / "vellumbrook-ticks-fuzz.csv").string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data + 2), static_cast<std::streamsize>(size - 2));
    TicksSettings settings;
    settings.layout = layoutFrom(data[0]);
    const Quote quotes[] = {Quote::bid, Quote::ask, Quote::mid, Quote::price};
    settings.quote = quotes[data[1] % 4];
    settings.isoTime = (data[1] & 4) != 0;
    settings.files = {path};
    std::FILE* out = std::tmpfile();
    std::FILE* messages = std::tmpfile();
    const int status = rewriteTicks(settings, out, messages);
    vellumbrook::fuzz::check(status == 0 || status == 1, "status is 0 or 1");
    vellumbrook::fuzz::check(status == 0 || std::ftell(messages) > 0, "a failure says why");
    std::fclose(out);
    std::fclose(messages);
    return 0;
}
