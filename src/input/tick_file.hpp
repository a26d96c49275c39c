#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "input/line_scan.hpp"
#include "input/tick_line.hpp"
#include "platform/platform.hpp"

namespace vellumbrook {

// The tick file, open and counted by the first pass: it can be read again from its start,
// and its first `byteCount` bytes hold the `lineCount` lines that the conversion uses.
// Whatever the file holds past them (a recorder may still be appending) is never read.
struct TickFile {
    static constexpr std::int32_t kMaxLines = 2147483647;

    platform::File file;
    std::int32_t lineCount = 0;
    std::uint64_t byteCount = 0;
};

// Reading failed, or the file no longer holds the lines it was counted with.
class TickReadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The copy of input that cannot be read twice could not be written; what() is the system's
// reason.
class CopyError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Told, after each read, how many bytes a pass has read and how many it will read in all (0
// when that is not known, as for a pipe). For showing progress; it must not throw.
using ReadHook = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Frames the tick file into lines out of one buffer, the same way in both passes: LF ends a
// line, a CR right before the LF belongs to the line end, any other CR stays in the line, a
// byte 1A hex ends the data, and a last line without LF still counts. A line longer than the
// buffer grows it; no line is kept once the next one is asked for.
//
// The second pass looks at each byte once: every block of 64 bytes is classified into bit
// masks of its line feeds, commas and NULs, and each line's end and last three commas come
// from the masks of its block and the one before.
class LineReader {
  public:
    struct Count {
        std::int32_t lines = 0;
        std::uint64_t bytes = 0;  // what those lines and their line ends cover
    };

    // A line of the second pass, valid until the next call.
    struct ScannedLine {
        std::string_view line;   // without its line end
        bool hasFields = false;  // and `fields` are then what findTickFields gives for it
        TickFields fields;

        void setFields(const std::optional<TickFields>& found) {
            hasFields = found.has_value();
            fields = found.value_or(TickFields{});
        }
    };

    // The first pass over `source` from its start: by position when `rereadable`, else as a
    // stream, each piece read also written to `copyTo` unless that is null (a failed write
    // throws CopyError).
    LineReader(const platform::File& source, bool rereadable, const platform::File* copyTo,
               std::size_t bufferSize = platform::kReadSize, ScanPath path = fastestScanPath());
    // The second pass: the counted lines of `ticks`, from the first, their blocks classified
    // by `path`.
    explicit LineReader(const TickFile& ticks, std::size_t bufferSize = platform::kReadSize,
                        ScanPath path = fastestScanPath());

    // First pass: counts the lines, keeping at most `maxLines`.
    Count countLines(std::int32_t maxLines);
    // Second pass: the next line without its line end, valid until the next call; false once
    // every counted line has been given. Throws TickReadError when reading fails or the file
    // ends before its counted lines.
    bool nextLine(ScannedLine& scanned) {
        Cursor at = at_;
        if (at.linesLeft > 0 && findLineFeed(at)) {
            takeLine(at, scanned);
            at_ = at;
            return true;
        }
        return nextLineOfNextRun(scanned);
    }
    bool nextLine(std::string_view& line);
    // Second pass: hands the next lines, up to `count` of them, one at a time to
    // `take(const ScannedLine&)`, and tells how many it handed on: fewer only once every
    // counted line has been given. Throws as nextLine does; once `take` throws, the reader is
    // done with.
    template <typename Take>
    std::int32_t takeLines(std::int32_t count, Take take);

    // Called after every read of this pass; `total` is what it expects to read (0: unknown).
    void watch(ReadHook hook, std::uint64_t total) {
        hook_ = std::move(hook);
        total_ = total;
    }

  private:
    // Room past the buffer's end, so that a block starting anywhere in it can be loaded whole.
    static constexpr std::size_t kBlockSlack = 64;

    bool fill();
    std::size_t readSome(char* into, std::size_t room);
    std::size_t capacity() const { return buffer_.size() - kBlockSlack; }
    bool classifyMore();
    // Where the second pass stands, kept apart so that a loop over lines can hold it in
    // registers: the unfinished line, the lines still to give, and the block whose lines are
    // being handed on (its number in the run, where it starts and its line feeds not yet
    // handed on).
    struct Cursor {
        std::size_t begin = 0;
        std::int32_t linesLeft = 0;
        std::size_t block = 0;
        std::size_t blockStart = 0;
        std::uint64_t lineFeeds = 0;
    };

    bool findLineFeed(Cursor& at) const;
    bool nextLineOfNextRun(ScannedLine& scanned);
    void takeLine(Cursor& at, ScannedLine& scanned) const;

    const platform::File& source_;
    bool rereadable_;
    const platform::File* copyTo_ = nullptr;
    bool secondPass_ = false;
    std::uint64_t byteLimit_ = UINT64_MAX;
    std::vector<char> buffer_;
    Cursor at_;
    std::size_t scan_ = 0;  // the second pass: the end of the classified bytes
    std::size_t end_ = 0;   // the end of what has been read
    // The second pass's last run of classified blocks, masks_[1] to masks_[runBlocks_], after
    // the masks of the block before them.
    static constexpr std::size_t kRunBlocks = 128;
    BlockClassifier classify_ = nullptr;
    LineFeedCounter countLineFeeds_ = nullptr;
    std::vector<BlockMasks> masks_;
    std::size_t runBlocks_ = 0;
    std::uint64_t consumed_ = 0;
    bool ended_ = false;
    bool shrunk_ = false;  // the data ended before the counted bytes
    ReadHook hook_;
    std::uint64_t total_ = 0;
};

// Steps through the run's blocks to the next that holds a line feed not yet handed on; false
// when the run holds none. Most lines start in a block of their own, so this too is kept where
// the caller can inline it.
inline bool LineReader::findLineFeed(Cursor& at) const {
    while (at.lineFeeds == 0 && at.block < runBlocks_) {
        at.lineFeeds = masks_[++at.block].lineFeeds;
        at.blockStart += 64;
    }
    return at.lineFeeds != 0;
}

// Hands on the next line of the block. Lines are read on every tick, so this is kept where the
// caller can inline it.
inline void LineReader::takeLine(Cursor& at, ScannedLine& scanned) const {
    const auto bit = static_cast<unsigned>(std::countr_zero(at.lineFeeds));
    at.lineFeeds &= at.lineFeeds - 1;
    const std::size_t lineFeed = at.blockStart + bit;
    const char* bytes = buffer_.data();
    const std::size_t length = lineFeed - at.begin;
    scanned.line = {bytes + at.begin,
                    length > 0 && bytes[lineFeed - 1] == '\r' ? length - 1 : length};
    at.begin = lineFeed + 1;
    --at.linesLeft;
    const BlockMasks& here = masks_[at.block];
    const BlockMasks& before = masks_[at.block - 1];
    if (length <= 64 && (here.nuls | before.nuls) == 0) {
        // The line lies within the 64 bytes before its line feed, whose masks this block and
        // the one before it hold: its last three commas are the top three bits of its part.
        const std::uint64_t inLine = length == 0 ? 0 : ~std::uint64_t{0} << (64 - length);
        std::uint64_t commas = windowBefore(before.commas, here.commas, bit) & inLine;
        // The lowest comma cleared once, twice and three times: a line has fields when the
        // second is not 0, and these are its last three commas once the third is 0. Counting
        // from the lowest keeps the three apart, so the processor finds them side by side.
        std::uint64_t butOne = commas & (commas - 1);
        std::uint64_t butTwo = butOne & (butOne - 1);
        scanned.hasFields = butTwo != 0;
        if (scanned.hasFields) {
            for (std::uint64_t butThree = butTwo & (butTwo - 1); butThree != 0;
                 butThree &= butThree - 1) {
                commas = butOne;
                butOne = butTwo;
                butTwo = butThree;
            }
            // Bit i of the window stands for the byte at lineFeed - 64 + i.
            const auto place = [&](std::uint64_t bits) {
                return lineFeed + static_cast<unsigned>(std::countr_zero(bits)) - 64;
            };
            const std::size_t third = place(commas);
            const std::size_t second = place(butOne);
            const std::size_t last = place(butTwo);
            scanned.fields = {{bytes + third + 1, second - third - 1},
                              {bytes + second + 1, last - second - 1}};
        }
        return;
    }
    // A longer line, or one near a NUL (the examined text ends at the first): it is searched
    // whole.
    scanned.setFields(findTickFields(scanned.line));
}

template <typename Take>
std::int32_t LineReader::takeLines(std::int32_t count, Take take) {
    Cursor at = at_;
    std::int32_t taken = 0;
    // The line lives in registers unless it has to come from the next run.
    ScannedLine scanned;
    for (; taken < count && at.linesLeft > 0; ++taken) {
        if (findLineFeed(at)) {
            takeLine(at, scanned);
        } else {
            at_ = at;
            ScannedLine fromNextRun;
            if (!nextLineOfNextRun(fromNextRun)) {
                break;
            }
            scanned = fromNextRun;
            at = at_;
        }
        take(std::as_const(scanned));
    }
    at_ = at;
    return taken;
}

enum class TickFileStatus { read, cannotOpen, readError, temporaryFileError };

struct TickFileResult {
    TickFileStatus status = TickFileStatus::read;
    std::string reason;  // the system's words for why the temporary file failed
};

// Opens `fileName` and counts its lines (the first pass). A directory counts as a file that
// cannot be opened. Input that cannot be read twice (a pipe, a terminal, a socket, a
// device) is copied, while it is counted, to an unnamed file in `temporaryFolder`, which
// the second pass then reads. The lines are counted by `path`.
TickFileResult readTickFile(std::string_view fileName, const std::string& temporaryFolder,
                            TickFile& ticks, std::int32_t maxLines = TickFile::kMaxLines,
                            const ReadHook& hook = {}, ScanPath path = fastestScanPath());

}  // namespace vellumbrook
