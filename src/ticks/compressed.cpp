#include "ticks/compressed.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#if defined(VELLUMBROOK_HAVE_ISAL)
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#else
#include <zlib.h>
#endif

namespace vellumbrook::ticks {

namespace {

constexpr std::size_t kInputSize = std::size_t{256} << 10;
constexpr std::size_t kKeptBehind = 8;

std::uint32_t le16(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8);
}
std::uint32_t le32(const unsigned char* at) {
    return le16(at) | (le16(at + 2) << 16);
}
std::uint64_t le64(const unsigned char* at) {
    return le32(at) | (static_cast<std::uint64_t>(le32(at + 4)) << 32);
}

// Exactly `size` bytes at `offset`, or CompressedError saying `what`.
std::vector<unsigned char> bytesAt(const platform::File& file, std::uint64_t offset,
                                   std::size_t size, const char* what) {
    std::vector<unsigned char> bytes(size);
    std::size_t got = 0;
    while (got < size) {
        const std::ptrdiff_t read = platform::readAt(
            file, reinterpret_cast<char*>(bytes.data() + got), size - got, offset + got);
        if (read < 0) {
            throw std::runtime_error("cannot be read");
        }
        if (read == 0) {
            throw CompressedError(what);
        }
        got += static_cast<std::size_t>(read);
    }
    return bytes;
}

}  // namespace

Container containerOf(std::string_view firstBytes) {
    if (firstBytes.starts_with("\x1f\x8b")) {
        return Container::gzip;
    }
    if (firstBytes.starts_with("PK\x03\x04") || firstBytes.starts_with("PK\x05\x06")) {
        return Container::zip;
    }
    return Container::plain;
}

ReadBytes fileBytes(const platform::File& file, std::uint64_t begin, std::uint64_t end) {
    return [&file, at = begin, end](char* into, std::size_t size) mutable -> std::size_t {
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(size, end - at));
        if (wanted == 0) {
            return 0;
        }
        const std::ptrdiff_t got = platform::readAt(file, into, wanted, at);
        if (got < 0) {
            throw std::runtime_error("cannot be read");
        }
        at += static_cast<std::uint64_t>(got);
        return static_cast<std::size_t>(got);
    };
}

ReadBytes streamBytes(const platform::File& file) {
    return [&file](char* into, std::size_t size) -> std::size_t {
        const std::ptrdiff_t got = platform::readNext(file, into, size);
        if (got < 0) {
            throw std::runtime_error("cannot be read");
        }
        return static_cast<std::size_t>(got);
    };
}

#if defined(VELLUMBROOK_HAVE_ISAL)

struct RawInflate::State {
    inflate_state stream{};
};

RawInflate::RawInflate() : state_(std::make_unique<State>()) {
    reset();
}

void RawInflate::reset() {
    isal_inflate_init(&state_->stream);
    state_->stream.crc_flag = ISAL_DEFLATE;
}

RawInflate::Result RawInflate::run(const unsigned char*& in, std::size_t& inSize,
                                   unsigned char*& out, std::size_t& outSize) {
    inflate_state& stream = state_->stream;
    constexpr std::size_t kMost = std::numeric_limits<std::uint32_t>::max();
    stream.next_in = const_cast<unsigned char*>(in);
    stream.avail_in = static_cast<std::uint32_t>(std::min(inSize, kMost));
    stream.next_out = out;
    stream.avail_out = static_cast<std::uint32_t>(std::min(outSize, kMost));
    const int status = isal_inflate(&stream);
    inSize -= static_cast<std::size_t>(stream.next_in - in);
    in = stream.next_in;
    outSize -= static_cast<std::size_t>(stream.next_out - out);
    out = stream.next_out;
    if (status < 0) {
        return Result::damaged;
    }
    if (stream.block_state != ISAL_BLOCK_FINISH) {
        return Result::more;
    }
    // Whole bytes read ahead of the stream's end belong to what follows it (a gzip trailer):
    // they are given back. The caller keeps the last 8 bytes taken readable for this.
    const auto ahead = static_cast<std::size_t>(stream.read_in_length / 8);
    in -= ahead;
    inSize += ahead;
    stream.read_in = 0;
    stream.read_in_length = 0;
    return Result::end;
}

std::uint32_t crc32Of(std::uint32_t crc, const unsigned char* bytes, std::size_t size) {
    return crc32_gzip_refl(crc, bytes, size);
}

#else

struct RawInflate::State {
    z_stream stream{};
};

RawInflate::RawInflate() : state_(std::make_unique<State>()) {
    if (inflateInit2(&state_->stream, -15) != Z_OK) {
        throw std::bad_alloc();
    }
}

void RawInflate::reset() {
    inflateReset(&state_->stream);
}

RawInflate::Result RawInflate::run(const unsigned char*& in, std::size_t& inSize,
                                   unsigned char*& out, std::size_t& outSize) {
    z_stream& stream = state_->stream;
    constexpr std::size_t kMost = std::numeric_limits<uInt>::max();
    stream.next_in = const_cast<unsigned char*>(in);
    stream.avail_in = static_cast<uInt>(std::min(inSize, kMost));
    stream.next_out = out;
    stream.avail_out = static_cast<uInt>(std::min(outSize, kMost));
    const int status = inflate(&stream, Z_NO_FLUSH);
    inSize -= static_cast<std::size_t>(stream.next_in - in);
    in = stream.next_in;
    outSize -= static_cast<std::size_t>(stream.next_out - out);
    out = stream.next_out;
    switch (status) {
        case Z_STREAM_END:
            return Result::end;
        case Z_OK:
        case Z_BUF_ERROR:
            return Result::more;
        case Z_MEM_ERROR:
            throw std::bad_alloc();
        default:
            return Result::damaged;
    }
}

std::uint32_t crc32Of(std::uint32_t crc, const unsigned char* bytes, std::size_t size) {
    while (size > 0) {
        const auto part = static_cast<uInt>(std::min<std::size_t>(size, 1U << 30));
        crc = static_cast<std::uint32_t>(crc32(crc, bytes, part));
        bytes += part;
        size -= part;
    }
    return crc;
}

#endif

RawInflate::~RawInflate() {
#if !defined(VELLUMBROOK_HAVE_ISAL)
    inflateEnd(&state_->stream);
#endif
}

// gzip

GzipReader::GzipReader(ReadBytes compressed)
    : compressed_(std::move(compressed)), input_(kInputSize) {}

bool GzipReader::fill() {
    if (inputEnded_) {
        return false;
    }
    // The last 8 bytes taken stay: the inflater may give bytes it read ahead back.
    if (inEnd_ + kKeptBehind >= input_.size()) {
        const std::size_t from = inAt_ - std::min(inAt_, kKeptBehind);
        std::memmove(input_.data(), input_.data() + from, inEnd_ - from);
        inEnd_ -= from;
        inAt_ -= from;
    }
    const std::size_t got =
        compressed_(reinterpret_cast<char*>(input_.data() + inEnd_), input_.size() - inEnd_);
    if (got == 0) {
        inputEnded_ = true;
        return false;
    }
    inEnd_ += got;
    compressedRead_ += got;
    return true;
}

bool GzipReader::haveBytes(std::size_t count) {
    while (inEnd_ - inAt_ < count) {
        if (!fill()) {
            return false;
        }
    }
    return true;
}

void GzipReader::readHeader() {
    const auto next = [this]() -> unsigned {
        if (!haveBytes(1)) {
            throw CompressedError("the gzip data ends early");
        }
        return input_[inAt_++];
    };
    if (next() != 0x1f || next() != 0x8b) {
        throw CompressedError("bytes after the last gzip member are no gzip data");
    }
    if (const unsigned method = next(); method != 8) {
        throw CompressedError("a gzip member of method " + std::to_string(method) +
                              ", not deflate, which is not read");
    }
    const unsigned flags = next();
    if ((flags & 0xe0) != 0) {
        throw CompressedError("the gzip data is damaged");
    }
    for (int i = 0; i < 6; ++i) {  // time, extra flags, system
        next();
    }
    if ((flags & 0x04) != 0) {  // extra field
        const unsigned size = next() | (next() << 8);
        for (unsigned i = 0; i < size; ++i) {
            next();
        }
    }
    for (const unsigned zeroEnded : {0x08U, 0x10U}) {  // name, comment
        if ((flags & zeroEnded) != 0) {
            while (next() != 0) {
            }
        }
    }
    if ((flags & 0x02) != 0) {  // header CRC
        next();
        next();
    }
}

void GzipReader::checkTrailer() {
    if (!haveBytes(8)) {
        throw CompressedError("the gzip data ends early");
    }
    const unsigned char* trailer = input_.data() + inAt_;
    if (le32(trailer) != crc_) {
        throw CompressedError("its CRC does not match: the gzip data is damaged");
    }
    if (le32(trailer + 4) != length_) {
        throw CompressedError("its length does not match: the gzip data is damaged");
    }
    inAt_ += 8;
    inflate_.reset();
    crc_ = 0;
    length_ = 0;
}

std::size_t GzipReader::read(char* into, std::size_t size) {
    for (;;) {
        if (stage_ == Stage::done) {
            return 0;
        }
        if (stage_ == Stage::header) {
            if (!haveBytes(1)) {
                stage_ = Stage::done;
                continue;
            }
            readHeader();
            stage_ = Stage::body;
        }
        const unsigned char* in = input_.data() + inAt_;
        std::size_t inSize = inEnd_ - inAt_;
        auto* out = reinterpret_cast<unsigned char*>(into);
        std::size_t outSize = size;
        const RawInflate::Result result = inflate_.run(in, inSize, out, outSize);
        inAt_ = static_cast<std::size_t>(in - input_.data());
        const std::size_t produced = size - outSize;
        crc_ = crc32Of(crc_, reinterpret_cast<const unsigned char*>(into), produced);
        length_ += static_cast<std::uint32_t>(produced);
        if (result == RawInflate::Result::damaged) {
            throw CompressedError("the gzip data is damaged");
        }
        if (result == RawInflate::Result::end) {
            checkTrailer();
            stage_ = Stage::header;
        } else if (produced == 0 && inAt_ == inEnd_ && !fill()) {
            throw CompressedError("the gzip data ends early");
        }
        if (produced > 0) {
            return produced;
        }
    }
}

// zip

std::vector<ZipMember> zipMembers(const platform::File& file, std::uint64_t size) {
    constexpr std::uint64_t kEndSize = 22;
    constexpr const char* kNoEnd = "no zip directory at its end: the zip is cut short or damaged";
    if (size < kEndSize) {
        throw CompressedError(kNoEnd);
    }
    const std::uint64_t tailSize = std::min<std::uint64_t>(size, kEndSize + 0xffff);
    const std::uint64_t tailStart = size - tailSize;
    const std::vector<unsigned char> tail =
        bytesAt(file, tailStart, static_cast<std::size_t>(tailSize), kNoEnd);
    std::size_t end = tail.size() - kEndSize + 1;
    bool found = false;
    while (end-- > 0) {
        if (le32(&tail[end]) == 0x06054b50 &&
            end + kEndSize + le16(&tail[end + 20]) <= tail.size()) {
            found = true;
            break;
        }
    }
    if (!found) {
        throw CompressedError(kNoEnd);
    }
    const unsigned char* record = &tail[end];
    const std::uint64_t endAt = tailStart + end;
    std::uint64_t entries = le16(record + 10);
    std::uint64_t directorySize = le32(record + 12);
    std::uint64_t directoryAt = le32(record + 16);
    const bool zip64 = entries == 0xffff || directorySize == 0xffffffff ||
                       directoryAt == 0xffffffff || le16(record + 4) == 0xffff;
    if (!zip64 && (le16(record + 4) != 0 || le16(record + 6) != 0)) {
        throw CompressedError("a zip split over several disks, which is not read");
    }
    if (zip64) {
        constexpr const char* kBadZip64 = "its zip64 directory is damaged";
        if (endAt < 20) {
            throw CompressedError(kBadZip64);
        }
        const std::vector<unsigned char> locator = bytesAt(file, endAt - 20, 20, kBadZip64);
        if (le32(locator.data()) != 0x07064b50) {
            throw CompressedError(kBadZip64);
        }
        const std::uint64_t at = le64(locator.data() + 8);
        if (at > size || size - at < 56) {
            throw CompressedError(kBadZip64);
        }
        const std::vector<unsigned char> end64 = bytesAt(file, at, 56, kBadZip64);
        if (le32(end64.data()) != 0x06064b50) {
            throw CompressedError(kBadZip64);
        }
        entries = le64(end64.data() + 32);
        directorySize = le64(end64.data() + 40);
        directoryAt = le64(end64.data() + 48);
    }
    if (directoryAt > size || directorySize > size - directoryAt) {
        throw CompressedError("its central directory lies outside the file");
    }
    constexpr std::uint64_t kEntrySize = 46;
    constexpr std::uint64_t kMostDirectory = std::uint64_t{256} << 20;
    if (directorySize > kMostDirectory || entries > directorySize / kEntrySize) {
        throw CompressedError("its central directory is damaged");
    }
    const std::vector<unsigned char> directory =
        bytesAt(file, directoryAt, static_cast<std::size_t>(directorySize),
                "its central directory is damaged");
    std::vector<ZipMember> members;
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < entries; ++i) {
        if (directory.size() - at < kEntrySize || le32(&directory[at]) != 0x02014b50) {
            throw CompressedError("its central directory is damaged");
        }
        const unsigned char* entry = &directory[at];
        const std::size_t nameSize = le16(entry + 28);
        const std::size_t extraSize = le16(entry + 30);
        const std::size_t commentSize = le16(entry + 32);
        if (directory.size() - at - kEntrySize < nameSize + extraSize + commentSize) {
            throw CompressedError("its central directory is damaged");
        }
        ZipMember member;
        member.flags = static_cast<std::uint16_t>(le16(entry + 8));
        member.method = static_cast<std::uint16_t>(le16(entry + 10));
        member.crc = le32(entry + 16);
        member.compressedSize = le32(entry + 20);
        member.size = le32(entry + 24);
        member.localHeader = le32(entry + 42);
        member.name.assign(reinterpret_cast<const char*>(entry + kEntrySize), nameSize);
        // zip64: the sizes and the offset that did not fit stand in an extra field.
        const unsigned char* extra = entry + kEntrySize + nameSize;
        for (std::size_t e = 0; e + 4 <= extraSize;) {
            const std::size_t fieldSize = le16(extra + e + 2);
            if (e + 4 + fieldSize > extraSize) {
                break;
            }
            if (le16(extra + e) == 0x0001) {
                const unsigned char* field = extra + e + 4;
                std::size_t left = fieldSize;
                for (std::uint64_t* value :
                     {&member.size, &member.compressedSize, &member.localHeader}) {
                    if (*value != 0xffffffff) {
                        continue;
                    }
                    if (left < 8) {
                        throw CompressedError("its zip64 sizes are damaged: " + member.name);
                    }
                    *value = le64(field);
                    field += 8;
                    left -= 8;
                }
            }
            e += 4 + fieldSize;
        }
        if (member.localHeader > size || member.compressedSize > size) {
            throw CompressedError("member " + member.name + " lies outside the file");
        }
        members.push_back(std::move(member));
        at += kEntrySize + nameSize + extraSize + commentSize;
    }
    return members;
}

std::vector<ZipMember> membersToRead(const std::vector<ZipMember>& members) {
    std::vector<ZipMember> files;
    std::vector<ZipMember> tables;
    for (const ZipMember& member : members) {
        if (member.isFolder()) {
            continue;
        }
        files.push_back(member);
        std::string ending =
            member.name.substr(member.name.size() - std::min<std::size_t>(member.name.size(), 4));
        std::transform(ending.begin(), ending.end(), ending.begin(),
                       [](unsigned char c) { return static_cast<char>(c | 0x20); });
        if (ending == ".csv") {
            tables.push_back(member);
        }
    }
    if (!tables.empty()) {
        return tables;
    }
    if (files.empty()) {
        throw CompressedError("the zip holds no file");
    }
    if (files.size() > 1) {
        std::string names;
        for (const ZipMember& file : files) {
            names += (names.empty() ? "" : ", ") + file.name;
        }
        throw CompressedError("the zip holds several files and none ends in .csv (" + names +
                              "); unzip the one to read");
    }
    return files;
}

ZipMemberReader::ZipMemberReader(const platform::File& file, std::uint64_t fileSize,
                                 const ZipMember& member)
    : member_(member) {
    if ((member.flags & 0x0001) != 0) {
        throw CompressedError("it is encrypted, which is not read");
    }
    if (member.method != 0 && member.method != 8) {
        throw CompressedError("it is compressed with method " + std::to_string(member.method) +
                              "; only stored and deflate are read");
    }
    constexpr std::uint64_t kLocalSize = 30;
    constexpr const char* kNoHeader = "the zip directory points at no member: the zip is damaged";
    if (member.localHeader > fileSize || fileSize - member.localHeader < kLocalSize) {
        throw CompressedError(kNoHeader);
    }
    const std::vector<unsigned char> local =
        bytesAt(file, member.localHeader, kLocalSize, kNoHeader);
    if (le32(local.data()) != 0x04034b50) {
        throw CompressedError(kNoHeader);
    }
    const std::uint64_t dataAt =
        member.localHeader + kLocalSize + le16(&local[26]) + le16(&local[28]);
    if (dataAt > fileSize || member.compressedSize > fileSize - dataAt) {
        throw CompressedError("its sizes contradict its headers: the zip is damaged");
    }
    compressed_ = fileBytes(file, dataAt, dataAt + member.compressedSize);
    input_.resize(kInputSize);
}

std::size_t ZipMemberReader::read(char* into, std::size_t size) {
    constexpr const char* kSizes = "its sizes contradict its headers: the zip is damaged";
    while (!ended_) {
        if (inAt_ == inEnd_) {
            inAt_ = 0;
            inEnd_ = compressed_(reinterpret_cast<char*>(input_.data()), input_.size());
            compressedRead_ += inEnd_;
        }
        const unsigned char* in = input_.data() + inAt_;
        std::size_t inSize = inEnd_ - inAt_;
        auto* out = reinterpret_cast<unsigned char*>(into);
        std::size_t outSize = size;
        if (member_.method == 0) {
            const std::size_t copied = std::min(inSize, outSize);
            std::memcpy(out, in, copied);
            in += copied;
            inSize -= copied;
            outSize -= copied;
            ended_ = inEnd_ == 0;
        } else {
            const RawInflate::Result result = inflate_.run(in, inSize, out, outSize);
            if (result == RawInflate::Result::damaged) {
                throw CompressedError("the zip data is damaged");
            }
            ended_ = result == RawInflate::Result::end;
            if (!ended_ && inEnd_ == 0) {
                throw CompressedError("the zip data ends early");
            }
        }
        inAt_ = static_cast<std::size_t>(in - input_.data());
        const std::size_t produced = size - outSize;
        crc_ = crc32Of(crc_, reinterpret_cast<const unsigned char*>(into), produced);
        written_ += produced;
        if (written_ > member_.size) {
            throw CompressedError(kSizes);
        }
        if (ended_) {
            if (written_ != member_.size) {
                throw CompressedError(kSizes);
            }
            if (crc_ != member_.crc) {
                throw CompressedError("its CRC does not match: the zip data is damaged");
            }
        }
        if (produced > 0) {
            return produced;
        }
    }
    return 0;
}

}  // namespace vellumbrook::ticks
