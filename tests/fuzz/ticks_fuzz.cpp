// Arbitrary bytes through vellumbrook-ticks' general reader, under a layout picked by the
// first byte: every input ends in a table or one clear error line, never a crash.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/check.hpp"
#include "ticks/driver.hpp"

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

struct Run {
    int status = 0;
    std::string out;
    std::string messages;
};

std::string contents(std::FILE* file) {
    std::string bytes;
    std::rewind(file);
    char block[4096];
    for (std::size_t got = 0; (got = std::fread(block, 1, sizeof block, file)) > 0;) {
        bytes.append(block, got);
    }
    std::fclose(file);
    return bytes;
}

Run run(const TicksSettings& settings) {
    std::FILE* out = std::tmpfile();
    std::FILE* messages = std::tmpfile();
    Run result;
    result.status = rewriteTicks(settings, out, messages);
    result.out = contents(out);
    result.messages = contents(messages);
    return result;
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
    // Read in one piece and in pieces of a few bytes, side by side, the run says the same.
    const Run whole = run(settings);
    settings.pieceSize = 1 + data[1] / 8;
    const Run pieces = run(settings);
    vellumbrook::fuzz::check(whole.status == 0 || whole.status == 1, "status is 0 or 1");
    vellumbrook::fuzz::check(whole.status == 0 || !whole.messages.empty(), "a failure says why");
    vellumbrook::fuzz::check(whole.status == pieces.status && whole.messages == pieces.messages &&
                                 (whole.status != 0 || whole.out == pieces.out),
                             "pieces give what one piece gives");
    return 0;
}
