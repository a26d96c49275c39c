#include "ticks/rewrite.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string_view>

#include "output/progress.hpp"
#include "platform/platform.hpp"
#include "ticks/backward_lines.hpp"

namespace vellumbrook::ticks {

namespace {

constexpr std::string_view kProgram = "vellumbrook-ticks";

// Ends the run: the one line that says why, already made.
struct Stop {
    std::string message;
};

// One input made ready for reading backwards: a rereadable file of UTF-8 lines, the bytes
// [begin, end) of `file`.
struct Source {
    std::string name;
    platform::File file;
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

std::string where(const Source& source, std::int64_t line) {
    return std::string(kProgram) + ": " + source.name + ":" + std::to_string(line) + ": ";
}

[[noreturn]] void stopAtLine(const Source& source, std::uint64_t start, std::string_view what,
                             std::string_view text) {
    throw Stop{where(source, lineNumberAt(source.file, source.begin, start)) + std::string(what) +
               ": '" + std::string(text) + "'"};
}

[[noreturn]] void stopWithFile(const Source& source, std::string_view what) {
    throw Stop{std::string(kProgram) + ": " + source.name + ": " + std::string(what)};
}

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xe0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

platform::File temporaryFile(const Source& source) {
    std::string reason;
    const platform::TemporaryFolder folder = platform::temporaryFolder();
    platform::File copy = platform::makeTemporaryFile(folder.path, reason);
    if (!copy.isOpen()) {
        stopWithFile(source, "no temporary copy in " + std::string(folder.setting) + " '" +
                                 folder.path + "': " + reason);
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

// Input that cannot be read twice (a pipe) is copied to an unnamed temporary file first.
void makeRereadable(Source& source) {
    platform::File copy = temporaryFile(source);
    std::vector<char> block(BackwardLines::kBlockSize);
    std::uint64_t size = 0;
    for (;;) {
        const std::ptrdiff_t got = platform::readNext(source.file, block.data(), block.size());
        if (got < 0) {
            stopWithFile(source, "cannot be read");
        }
        if (got == 0) {
            break;
        }
        append(source, copy, {block.data(), static_cast<std::size_t>(got)}, size);
    }
    source.file = std::move(copy);
    source.end = size;
}

// UTF-16 text becomes UTF-8 in an unnamed temporary file, so that it can be read backwards
// like any other; a code unit without its pair becomes U+FFFD.
void transcodeUtf16(Source& source, bool bigEndian) {
    platform::File copy = temporaryFile(source);
    std::vector<char> block(BackwardLines::kBlockSize);
    std::string text;
    std::uint64_t size = 0;
    std::uint32_t highSurrogate = 0;
    std::uint64_t at = source.begin;
    int carried = -1;  // an odd byte left from the block before
    while (at < source.end) {
        const std::ptrdiff_t got = platform::readAt(source.file, block.data(), block.size(), at);
        if (got <= 0) {
            stopWithFile(source, "cannot be read");
        }
        at += static_cast<std::uint64_t>(got);
        text.clear();
        for (std::ptrdiff_t i = 0; i < got; ++i) {
            const int byte = static_cast<unsigned char>(block[static_cast<std::size_t>(i)]);
            if (carried < 0) {
                carried = byte;
                continue;
            }
            const auto unit = static_cast<std::uint32_t>(bigEndian ? (carried << 8) | byte
                                                                   : (byte << 8) | carried);
            carried = -1;
            if (unit >= 0xd800 && unit < 0xdc00) {
                if (highSurrogate != 0) {
                    appendUtf8(text, 0xfffd);
                }
                highSurrogate = unit;
            } else if (unit >= 0xdc00 && unit < 0xe000) {
                appendUtf8(text, highSurrogate != 0
                                     ? 0x10000 + ((highSurrogate - 0xd800) << 10) + (unit - 0xdc00)
                                     : 0xfffd);
                highSurrogate = 0;
            } else {
                if (highSurrogate != 0) {
                    appendUtf8(text, 0xfffd);
                    highSurrogate = 0;
                }
                appendUtf8(text, unit);
            }
        }
        append(source, copy, text, size);
    }
    source.file = std::move(copy);
    source.begin = 0;
    source.end = size;
}

Source openSource(const std::string& name) {
    Source source;
    source.name = name;
    platform::OpenedFile opened = platform::openForReading(name == "-" ? "/dev/stdin" : name);
    if (!opened.file.isOpen()) {
        stopWithFile(source, "cannot be opened");
    }
    source.file = std::move(opened.file);
    if (opened.rereadable) {
        const std::int64_t size = platform::sizeOf(source.file);
        if (size < 0) {
            stopWithFile(source, "cannot be read");
        }
        source.end = static_cast<std::uint64_t>(size);
    } else {
        makeRereadable(source);
    }
    unsigned char mark[3] = {0, 0, 0};
    const std::ptrdiff_t got = platform::readAt(source.file, reinterpret_cast<char*>(mark), 3, 0);
    if (got >= 3 && mark[0] == 0xef && mark[1] == 0xbb && mark[2] == 0xbf) {
        source.begin = 3;
    } else if (got >= 2 &&
               ((mark[0] == 0xff && mark[1] == 0xfe) || (mark[0] == 0xfe && mark[1] == 0xff))) {
        source.begin = 2;
        transcodeUtf16(source, mark[0] == 0xfe);
    }
    return source;
}

std::string firstBytes(const Source& source, std::size_t most) {
    std::string bytes(
        static_cast<std::size_t>(std::min<std::uint64_t>(most, source.end - source.begin)), '\0');
    const std::ptrdiff_t got =
        platform::readAt(source.file, bytes.data(), bytes.size(), source.begin);
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

const char* quoteName(Quote quote) {
    switch (quote) {
        case Quote::bid:
            return "bid";
        case Quote::ask:
            return "ask";
        case Quote::mid:
            return "mid";
        case Quote::price:
            break;
    }
    return "price";
}

bool isBlank(std::string_view line) {
    for (const char c : line) {
        if (c != ' ' && c != '\t') {
            return false;
        }
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// A decimal number with the given mark, written with a point into `out`: a sign, digits with
// at most one mark, an exponent. False for anything else.
bool normalisedNumber(std::string_view text, char mark, std::string& out) {
    std::size_t i = 0;
    const auto digitsFrom = [&] {
        const std::size_t first = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
        }
        return i - first;
    };
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    std::size_t digits = digitsFrom();
    std::size_t markAt = std::string_view::npos;
    if (i < text.size() && text[i] == mark) {
        markAt = i++;
        digits += digitsFrom();
    }
    if (digits == 0) {
        return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
            ++i;
        }
        if (digitsFrom() == 0) {
            return false;
        }
    }
    if (i != text.size()) {
        return false;
    }
    out.assign(text);
    if (markAt != std::string_view::npos) {
        out[markAt] = '.';
    }
    return true;
}

// Writes the output in large pieces, to standard output or to the output file.
class Sink {
  public:
    Sink(std::FILE* stream, const platform::File* file, Progress& progress)
        : stream_(stream),
          file_(file),
          progress_(progress),
          toTerminal_(file == nullptr && platform::isTerminal(stream)) {
        buffer_.reserve(kFlushAt + 4096);
    }
    std::string& buffer() { return buffer_; }
    void flushIfFull() {
        if (buffer_.size() >= kFlushAt) {
            flush();
        }
    }
    void flush() {
        if (toTerminal_) {
            progress_.erase();  // the status line would stand in the middle of the output
        }
        std::string reason;
        if (file_ != nullptr) {
            if (!platform::writeAt(*file_, buffer_, written_, reason)) {
                throw Stop{std::string(kProgram) +
                           ": the output file cannot be written: " + reason};
            }
        } else if (std::fwrite(buffer_.data(), 1, buffer_.size(), stream_) != buffer_.size() ||
                   std::fflush(stream_) != 0) {
            throw Stop{std::string(kProgram) +
                       ": standard output cannot be written: " + std::strerror(errno)};
        }
        written_ += buffer_.size();
        buffer_.clear();
    }

  private:
    static constexpr std::size_t kFlushAt = std::size_t{1} << 20;
    std::FILE* stream_;
    const platform::File* file_;
    Progress& progress_;
    bool toTerminal_;
    std::string buffer_;
    std::uint64_t written_ = 0;
};

struct Counts {
    std::int64_t ticks = 0;
    std::int64_t blank = 0;
    std::int64_t headers = 0;
    std::int64_t withoutPrice = 0;
};

// The tick that was written last, which is the next one in time order: the one each line
// read before it must not come after.
struct Later {
    bool known = false;
    std::int64_t key = 0;
    std::uint64_t start = 0;
    std::string timeText;
    std::size_t fileIndex = 0;
    std::string fileName;
};

class Rewriter {
  public:
    Rewriter(const TicksSettings& settings, const Layout& layout, Quote quote, Sink& sink,
             Progress& progress)
        : settings_(settings), layout_(layout), quote_(quote), sink_(sink), progress_(progress) {
        lastColumn_ = std::max({layout.dateColumn, layout.timeColumn, layout.bidColumn,
                                layout.askColumn, layout.priceColumn});
        fields_.resize(static_cast<std::size_t>(lastColumn_));
    }

    Counts rewrite(const Source& source, std::size_t fileIndex) {
        fileIndex_ = fileIndex;
        Counts counts;
        BackwardLines lines(source.file, source.begin, source.end);
        std::string_view line;
        std::uint64_t start = 0;
        progress_.begin("reading " + source.name);
        for (std::uint64_t count = 1; lines.previous(line, start); ++count) {
            rewriteLine(source, line, start, counts);
            sink_.flushIfFull();
            if (count % 4096 == 0) {
                progress_.advance(source.end - start, source.end - source.begin);
            }
        }
        return counts;
    }

  private:
    bool isHeader(std::string_view line) const {
        for (const std::string& header : layout_.headers) {
            if (line == header) {
                return true;
            }
        }
        return false;
    }

    // Cuts `line` into its first `lastColumn_` fields; false when it has fewer.
    bool split(std::string_view line) {
        std::size_t field = 0;
        std::size_t at = 0;
        while (field < fields_.size()) {
            if (layout_.quoted && at < line.size() && line[at] == '"') {
                std::string& text = unquoted_[field % 8];
                text.clear();
                std::size_t i = at + 1;
                for (; i < line.size(); ++i) {
                    if (line[i] == '"') {
                        if (i + 1 < line.size() && line[i + 1] == '"') {
                            text += '"';
                            ++i;
                            continue;
                        }
                        break;
                    }
                    text += line[i];
                }
                fields_[field++] = text;
                at = line.find(layout_.separator, i);
            } else {
                // Fields are short: a plain walk beats a library search here.
                std::size_t end = at;
                while (end < line.size() && line[end] != layout_.separator) {
                    ++end;
                }
                fields_[field++] = line.substr(at, end - at);
                at = end < line.size() ? end : std::string_view::npos;
            }
            if (at == std::string_view::npos) {
                break;
            }
            ++at;
        }
        return field == fields_.size();
    }

    std::string_view column(int number) const {
        return fields_[static_cast<std::size_t>(number - 1)];
    }

    // The price text to write; nothing for a row that has none and may be left out.
    std::optional<std::string_view> priceOf(const Source& source, std::uint64_t start) {
        const auto number = [&](int columnNumber, const char* what, std::string& into) {
            const std::string_view text = trimmed(column(columnNumber));
            if (text.empty() && layout_.rowsWithoutPriceLeftOut) {
                return false;
            }
            if (!normalisedNumber(text, layout_.decimalMark, into)) {
                stopAtLine(source, start, std::string("no number in the ") + what, text);
            }
            return true;
        };
        switch (quote_) {
            case Quote::bid:
                return number(layout_.bidColumn, "bid", price_)
                           ? std::optional(std::string_view(price_))
                           : std::nullopt;
            case Quote::ask:
                return number(layout_.askColumn, "ask", price_)
                           ? std::optional(std::string_view(price_))
                           : std::nullopt;
            case Quote::price:
                return number(layout_.priceColumn, "price", price_)
                           ? std::optional(std::string_view(price_))
                           : std::nullopt;
            case Quote::mid:
                break;
        }
        if (!number(layout_.bidColumn, "bid", price_) ||
            !number(layout_.askColumn, "ask", other_)) {
            return std::nullopt;
        }
        double bid = 0.0;
        double ask = 0.0;
        std::from_chars(price_.data(), price_.data() + price_.size(), bid);
        std::from_chars(other_.data(), other_.data() + other_.size(), ask);
        char digits[64];
        // The shortest text that reads back as the same double.
        const char* end = std::to_chars(digits, digits + sizeof digits, (bid + ask) / 2).ptr;
        price_.assign(digits, static_cast<std::size_t>(end - digits));
        return price_;
    }

    void rewriteLine(const Source& source, std::string_view line, std::uint64_t start,
                     Counts& counts) {
        const bool firstLine = start == source.begin;
        if (isBlank(line)) {
            ++counts.blank;
            return;
        }
        if (isHeader(line) || (firstLine && layout_.header == Layout::Header::skip)) {
            ++counts.headers;
            return;
        }
        if (firstLine && layout_.header == Layout::Header::check) {
            stopAtLine(source, start, "not a " + layout_.name + " header", line);
        }
        if (!split(line)) {
            stopAtLine(
                source, start,
                "fewer than the " + std::to_string(lastColumn_) + " fields of " + layout_.name,
                line);
        }
        std::string_view timeText = column(layout_.timeColumn);
        if (layout_.dateColumn > 0) {
            joinedTime_.assign(column(layout_.dateColumn)).append(" ").append(timeText);
            timeText = joinedTime_;
        }
        const std::optional<TickTime> time = readTime(timeText, layout_.time);
        if (!time || timeText.find(',') != std::string_view::npos) {
            stopAtLine(source, start, "not a time of " + layout_.name, timeText);
        }
        const std::optional<std::string_view> price = priceOf(source, start);
        if (!price) {
            ++counts.withoutPrice;
            return;
        }
        checkOrder(source, start, *time, timeText);
        std::string& out = sink_.buffer();
        out.append(settings_.symbol).append(",");
        if (settings_.isoTime) {
            out.append(isoTime(*time));
        } else {
            out.append(timeText);
        }
        out.append(",").append(*price).append(",").append(quoteName(quote_)).append("\n");
        ++counts.ticks;
    }

    void checkOrder(const Source& source, std::uint64_t start, const TickTime& time,
                    std::string_view timeText) {
        if (later_.known && time.key > later_.key) {
            if (later_.fileIndex == fileIndex_) {
                throw Stop{where(source, lineNumberAt(source.file, source.begin, later_.start)) +
                           "the time goes back from '" + std::string(timeText) + "' to '" +
                           later_.timeText + "'; ticks must run oldest first"};
            }
            throw Stop{where(source, lineNumberAt(source.file, source.begin, start)) +
                       "its last tick '" + std::string(timeText) +
                       "' comes after the first tick '" + later_.timeText + "' of " +
                       later_.fileName + "; give the files oldest first"};
        }
        later_.known = true;
        later_.key = time.key;
        later_.start = start;
        later_.timeText.assign(timeText);
        if (later_.fileIndex != fileIndex_ || later_.fileName.empty()) {
            later_.fileIndex = fileIndex_;
            later_.fileName = source.name;
        }
    }

    const TicksSettings& settings_;
    const Layout& layout_;
    Quote quote_;
    Sink& sink_;
    Progress& progress_;
    int lastColumn_ = 0;
    std::vector<std::string_view> fields_;
    std::string unquoted_[8];
    std::string joinedTime_;
    std::string price_;
    std::string other_;
    Later later_;
    std::size_t fileIndex_ = 0;
};

Layout layoutFor(const TicksSettings& settings, const Source& first, std::FILE* messages) {
    if (settings.layout) {
        return *settings.layout;
    }
    const std::optional<Layout> found = recognise(firstBytes(first, std::size_t{64} << 10));
    if (!found) {
        std::string names;
        for (const std::string& name : presetNames()) {
            names += (names.empty() ? "" : ", ") + name;
        }
        stopWithFile(first, "its layout is not one that can be told for sure; give --from (" +
                                names + ", or the column options)");
    }
    std::fprintf(messages, "%s: %s: read as %s\n", kProgram.data(), first.name.c_str(),
                 found->name.c_str());
    std::fflush(messages);
    return *found;
}

Quote quoteFor(const TicksSettings& settings, const Layout& layout) {
    const bool onePrice = layout.priceColumn > 0;
    const Quote quote = settings.quote.value_or(onePrice ? Quote::price : Quote::bid);
    const bool fits =
        onePrice ? quote == Quote::price
                 : (quote == Quote::bid && layout.bidColumn > 0) ||
                       (quote == Quote::ask && layout.askColumn > 0) ||
                       (quote == Quote::mid && layout.bidColumn > 0 && layout.askColumn > 0);
    if (!fits) {
        throw Stop{std::string(kProgram) + ": " + layout.name + " has no " + quoteName(quote) +
                   (onePrice ? " (it has one price: --price=price)" : "")};
    }
    return quote;
}

// The output file is written under a name of its own beside it and takes its name only
// when it is complete, so that a failed run leaves no partial table behind.
class OutputFile {
  public:
    explicit OutputFile(const std::string& name) : name_(name) {
        std::random_device random;
        std::string reason;
        for (int attempt = 0; attempt < 16 && !file_.isOpen(); ++attempt) {
            partName_ = name + ".part-" + std::to_string(random());
            file_ = platform::createNewFile(partName_, reason);
        }
        if (!file_.isOpen()) {
            throw Stop{std::string(kProgram) + ": " + name + ": cannot be written: " + reason};
        }
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() {
        if (!committed_) {
            file_ = platform::File();
            platform::removeFile(partName_);
        }
    }
    const platform::File& file() const { return file_; }
    void commit() {
        file_ = platform::File();
        std::string reason;
        if (!platform::renameReplacing(partName_, name_, reason)) {
            throw Stop{std::string(kProgram) + ": " + name_ + ": cannot be written: " + reason};
        }
        committed_ = true;
    }

  private:
    std::string name_;
    std::string partName_;
    platform::File file_;
    bool committed_ = false;
};

void reportCounts(std::FILE* messages, const Source& source, const Counts& counts) {
    std::fprintf(messages,
                 "%s: %s: %lld ticks; passed over: %lld blank lines, %lld header lines, %lld "
                 "rows without a price\n",
                 kProgram.data(), source.name.c_str(), static_cast<long long>(counts.ticks),
                 static_cast<long long>(counts.blank), static_cast<long long>(counts.headers),
                 static_cast<long long>(counts.withoutPrice));
}

}  // namespace

int rewriteTicks(const TicksSettings& settings, std::FILE* out, std::FILE* messages) {
    // Progress shows on a terminal only: files, pipes and scripts get exactly the same bytes.
    Progress progress(platform::isTerminal(messages) ? messages : nullptr, std::string(kProgram));
    try {
        std::vector<Source> sources;
        for (const std::string& name : settings.files) {
            sources.push_back(openSource(name));
        }
        const Layout layout = layoutFor(settings, sources.front(), messages);
        const Quote quote = quoteFor(settings, layout);
        std::optional<OutputFile> outputFile;
        if (!settings.output.empty()) {
            outputFile.emplace(settings.output);
        }
        Sink sink(out, outputFile ? &outputFile->file() : nullptr, progress);
        Rewriter rewriter(settings, layout, quote, sink, progress);
        std::vector<Counts> counts(sources.size());
        // Newest first: the last file first, each from its end.
        for (std::size_t i = sources.size(); i-- > 0;) {
            try {
                counts[i] = rewriter.rewrite(sources[i], i);
            } catch (const std::runtime_error& error) {
                stopWithFile(sources[i], error.what());
            }
        }
        sink.flush();
        if (outputFile) {
            outputFile->commit();
        }
        progress.erase();
        if (settings.verbose) {
            for (std::size_t i = 0; i < sources.size(); ++i) {
                reportCounts(messages, sources[i], counts[i]);
            }
        }
        return 0;
    } catch (const Stop& stop) {
        progress.erase();
        std::fprintf(messages, "%s\n", stop.message.c_str());
    } catch (const std::exception& error) {
        progress.erase();
        std::fprintf(messages, "%s: %s\n", kProgram.data(), error.what());
    }
    std::fflush(messages);
    return 1;
}

}  // namespace vellumbrook::ticks
