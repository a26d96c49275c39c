#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.hpp"

namespace vellumbrook::ticks {

// Reads the next bytes of a stream into `into`: how many, 0 at its end. Throws
// CompressedError for damaged data and std::runtime_error when the bytes cannot be read.
using ReadBytes = std::function<std::size_t(char* into, std::size_t size)>;

// Compressed data that cannot be read, in words that do not depend on the inflating library.
class CompressedError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// What a file is, told by its first bytes and never by its name.
enum class Container { plain, gzip, zip };
Container containerOf(std::string_view firstBytes);

// The bytes [begin, end) of a rereadable file, or a stream from where it stands.
ReadBytes fileBytes(const platform::File& file, std::uint64_t begin, std::uint64_t end);
ReadBytes streamBytes(const platform::File& file);

// Inflates raw deflate data: ISA-L where the system has it, zlib elsewhere. Both give the same
// bytes, and the same few outcomes.
class RawInflate {
  public:
    enum class Result { more, end, damaged };
    RawInflate();
    RawInflate(const RawInflate&) = delete;
    RawInflate& operator=(const RawInflate&) = delete;
    ~RawInflate();

    void reset();
    // Inflates from [in, in + inSize) into [out, out + outSize), moving both on: `more` when it
    // needs input or room, `end` when the deflate stream ended (what follows it is left in
    // `in`), `damaged` when it is no deflate data.
    Result run(const unsigned char*& in, std::size_t& inSize, unsigned char*& out,
               std::size_t& outSize);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The CRC-32 of gzip and zip, continued from `crc` over `bytes`.
std::uint32_t crc32Of(std::uint32_t crc, const unsigned char* bytes, std::size_t size);

// The inflated bytes of gzip data, of one member or several one after another. Bytes after
// the last member that start no member are refused.
class GzipReader {
  public:
    explicit GzipReader(ReadBytes compressed);
    std::size_t read(char* into, std::size_t size);

    // The compressed bytes taken so far.
    std::uint64_t compressedRead() const { return compressedRead_; }

  private:
    bool fill();  // more compressed bytes; false at their end
    bool haveBytes(std::size_t count);
    void readHeader();
    void checkTrailer();

    ReadBytes compressed_;
    std::vector<unsigned char> input_;
    std::size_t inAt_ = 0;
    std::size_t inEnd_ = 0;
    bool inputEnded_ = false;
    std::uint64_t compressedRead_ = 0;
    RawInflate inflate_;
    enum class Stage { header, body, done } stage_ = Stage::header;
    std::uint32_t crc_ = 0;
    std::uint32_t length_ = 0;  // of the member's inflated bytes, modulo 2^32
};

// One member of a zip file, as its central directory names it.
struct ZipMember {
    std::string name;
    std::uint16_t method = 0;
    std::uint16_t flags = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localHeader = 0;
    bool isFolder() const { return !name.empty() && name.back() == '/'; }
};

// The members of the zip file [0, size) of `file`, in the order of its central directory.
// Throws CompressedError when it is no zip or a damaged one.
std::vector<ZipMember> zipMembers(const platform::File& file, std::uint64_t size);

// The members to read: those whose names end in .csv (any case); without one, the only
// member; several members and no .csv among them are refused, named. Folders never count.
std::vector<ZipMember> membersToRead(const std::vector<ZipMember>& members);

// The inflated bytes of one member; stored and deflate are read, other methods and encrypted
// members refused by name. Its CRC and sizes are checked at its end.
class ZipMemberReader {
  public:
    ZipMemberReader(const platform::File& file, std::uint64_t fileSize, const ZipMember& member);
    std::size_t read(char* into, std::size_t size);
    std::uint64_t compressedRead() const { return compressedRead_; }

  private:
    ZipMember member_;
    ReadBytes compressed_;
    std::vector<unsigned char> input_;
    std::size_t inAt_ = 0;
    std::size_t inEnd_ = 0;
    std::uint64_t compressedRead_ = 0;
    std::uint64_t written_ = 0;
    std::uint32_t crc_ = 0;
    bool ended_ = false;
    RawInflate inflate_;
};

}  // namespace vellumbrook::ticks
