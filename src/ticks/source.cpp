#include "ticks/source.hpp"

#include <algorithm>
#include <vector>

#include "ticks/backward_lines.hpp"
#include "ticks/inputs.hpp"
#include "ticks/text_stream.hpp"

namespace vellumbrook::ticks {

std::int64_t lineNumberOf(const Source& source, std::uint64_t start) {
    return lineNumberAt(source.file, source.begin, start);
}

[[noreturn]] void stopAtLine(const Source& source, std::uint64_t start, std::string_view what,
                             std::string_view text) {
    throw stopAtLineOf(source.name, lineNumberOf(source, start),
                       std::string(what) + ": " + shown(text));
}

[[noreturn]] void stopWithFile(const Source& source, std::string_view what) {
    throw stopInFile(source.name, what);
}

namespace {

platform::File temporaryFile(const Source& source) {
    std::string reason;
    const platform::TemporaryFolder folder = platform::temporaryFolder();
    platform::File copy = platform::makeTemporaryFile(folder.path, reason);
    if (!copy.isOpen()) {
        stopWithFile(source, "no temporary copy in " + std::string(folder.setting) + " " +
                                 shown(folder.path) + ": " + reason);
    }
    return copy;
}

void append(const Source& source, const platform::File& copy, std::string_view bytes,
            std::uint64_t& size) {
    std::string reason;
    if (!platform::writeAt(copy, bytes, size, reason)) {
        stopWithFile(source, "the temporary copy cannot be written: " + reason);
    }
    size += bytes.size();
}

bool startsWithUtf16Mark(std::string_view bytes) {
    return bytes.starts_with("\xff\xfe") || bytes.starts_with("\xfe\xff");
}

// A first line with NUL bytes is no tick file's: most likely UTF-16 without its byte order
// mark, or no text at all (/dev/zero, which would otherwise be copied until the disk is full).
void refuseNulBytes(const Source& source, std::string_view start) {
    const std::string_view firstLine = start.substr(0, start.find('\n'));
    if (firstLine.find('\0') != std::string_view::npos) {
        stopWithFile(source,
                     "its first line holds NUL bytes: UTF-16 text needs its byte order "
                     "mark (iconv -f UTF-16LE -t UTF-8 makes it UTF-8), and other "
                     "bytes are no tick file");
    }
}

bool startsWithUtf8Mark(std::string_view bytes) {
    return bytes.starts_with("\xef\xbb\xbf");
}

// Input that cannot be read twice (a pipe) is copied to an unnamed temporary file first.
// `check` looks at the UTF-8 copy as it grows, so that endless input that is no tick file
// stops at its first lines rather than when the disk is full.
void makeRereadable(Source& source, const Input& input, Progress& progress,
                    const FirstLinesCheck& check) {
    source.file = temporaryFile(source);
    source.begin = 0;
    std::vector<char> block(BackwardLines::kBlockSize);
    std::uint64_t size = 0;
    bool checked = !check;
    progress.begin((input.stream ? "copying " : "inflating ") + shownName(source.name));
    for (;;) {
        std::size_t got = 0;
        try {
            got = input.bytes(block.data(), block.size());
        } catch (const CompressedError& error) {
            stopWithFile(source, error.what());
        } catch (const std::runtime_error&) {
            stopWithFile(source, "cannot be read");
        }
        if (got == 0) {
            break;
        }
        const std::string_view bytes(block.data(), got);
        if (size == 0) {
            checked = checked || startsWithUtf16Mark(bytes);  // looked at once it is UTF-8
            if (!startsWithUtf16Mark(bytes)) {
                refuseNulBytes(source, bytes);
            }
            source.begin += startsWithUtf8Mark(bytes) ? 3 : 0;
        }
        append(source, source.file, bytes, size);
        source.end = size;
        checked = checked || check(source);
        progress.advance(input.bytesRead(), input.size);
    }
    source.begin = 0;  // the byte order mark is passed over once the copy is whole
    source.end = size;
}

// UTF-16 text becomes UTF-8 in an unnamed temporary file, so that it can be read backwards
// like any other; a code unit without its pair becomes U+FFFD.
void transcodeUtf16(Source& source, bool bigEndian) {
    platform::File copy = temporaryFile(source);
    std::vector<char> block(BackwardLines::kBlockSize);
    std::string text;
    std::uint64_t size = 0;
    Utf16Decoder decoder(bigEndian);
    std::uint64_t at = source.begin;
    while (at < source.end) {
        const std::ptrdiff_t got = platform::readAt(source.file, block.data(), block.size(), at);
        if (got <= 0) {
            stopWithFile(source, "cannot be read");
        }
        at += static_cast<std::uint64_t>(got);
        text.clear();
        decoder.decode(block.data(), static_cast<std::size_t>(got), text);
        append(source, copy, text, size);
    }
    source.file = std::move(copy);
    source.begin = 0;
    source.end = size;
}

}  // namespace

std::vector<Source> openSources(const std::string& name, Progress& progress,
                                const FirstLinesCheck& check) {
    std::vector<Source> sources;
    for (Input& input : openInputs(name)) {
        Source source;
        source.name = input.name;
        source.named = input.named;
        if (input.plainFile) {
            source.file = std::move(*input.file);
            source.begin = input.begin;
            source.end = input.end;
        } else {
            // A stream, or what a compressed file holds: copied to be read backwards.
            // Only a stream can be endless; what a file holds is looked at as the file is.
            makeRereadable(source, input, progress, input.stream ? check : FirstLinesCheck());
        }
        unsigned char mark[3] = {0, 0, 0};
        const std::ptrdiff_t got =
            platform::readAt(source.file, reinterpret_cast<char*>(mark), 3, source.begin);
        if (got >= 3 && mark[0] == 0xef && mark[1] == 0xbb && mark[2] == 0xbf) {
            source.begin += 3;
            refuseNulBytes(source, firstBytes(source, std::size_t{4} << 10));
        } else if (got >= 2 &&
                   ((mark[0] == 0xff && mark[1] == 0xfe) || (mark[0] == 0xfe && mark[1] == 0xff))) {
            source.begin += 2;
            transcodeUtf16(source, mark[0] == 0xfe);
        } else {
            refuseNulBytes(source, firstBytes(source, std::size_t{4} << 10));
        }
        sources.push_back(std::move(source));
    }
    return sources;
}

std::string firstBytes(const Source& source, std::size_t most) {
    std::string bytes(
        static_cast<std::size_t>(std::min<std::uint64_t>(most, source.end - source.begin)), '\0');
    const std::ptrdiff_t got =
        platform::readAt(source.file, bytes.data(), bytes.size(), source.begin);
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

}  // namespace vellumbrook::ticks
