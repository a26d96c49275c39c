#include "ticks/inputs.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "ticks/messages.hpp"

namespace vellumbrook::ticks {

namespace {

// `prefix`, then the rest of `bytes`.
ReadBytes prefixed(std::string prefix, ReadBytes bytes) {
    return [prefix = std::move(prefix), at = std::size_t{0}, bytes = std::move(bytes)](
               char* into, std::size_t size) mutable -> std::size_t {
        if (at < prefix.size()) {
            const std::size_t given = std::min(size, prefix.size() - at);
            std::memcpy(into, prefix.data() + at, given);
            at += given;
            return given;
        }
        return bytes(into, size);
    };
}

// A zip that came as a stream is copied to an unnamed temporary file, since its directory
// stands at its end.
std::shared_ptr<platform::File> copyOfStream(const std::string& name, ReadBytes bytes,
                                             std::uint64_t& size) {
    std::string reason;
    const platform::TemporaryFolder folder = platform::temporaryFolder();
    auto copy = std::make_shared<platform::File>(platform::makeTemporaryFile(folder.path, reason));
    if (!copy->isOpen()) {
        throw stopInFile(name, "no temporary copy in " + std::string(folder.setting) + " " +
                                   shown(folder.path) + ": " + reason);
    }
    std::vector<char> block(std::size_t{1} << 20);
    size = 0;
    for (std::size_t got = 0; (got = bytes(block.data(), block.size())) > 0; size += got) {
        if (!platform::writeAt(*copy, {block.data(), got}, size, reason)) {
            throw stopInFile(name, "the temporary copy cannot be written: " + reason);
        }
    }
    return copy;
}

}  // namespace

std::vector<Input> openInputs(const std::string& name) {
    platform::OpenedFile opened =
        name == "-" ? platform::openStandardInput() : platform::openForReading(name);
    if (!opened.file.isOpen()) {
        throw stopInFile(name, "cannot be opened: " + opened.reason);
    }
    Input input;
    input.name = name;
    input.named = platform::idOf(opened.file);
    input.file = std::make_shared<platform::File>(std::move(opened.file));
    input.stream = !opened.rereadable;
    const platform::File& file = *input.file;
    auto read = std::make_shared<std::atomic<std::uint64_t>>(0);  // of the named file, so far
    ReadBytes raw;
    std::string first;
    if (opened.rereadable) {
        const std::int64_t size = platform::sizeOf(file);
        if (size < 0) {
            throw stopInFile(name, "cannot be read");
        }
        input.begin = opened.position;
        input.end = static_cast<std::uint64_t>(size);
        input.size = input.end - input.begin;
        first.resize(static_cast<std::size_t>(std::min<std::uint64_t>(4, input.size)));
        if (platform::readAt(file, first.data(), first.size(), input.begin) !=
            static_cast<std::ptrdiff_t>(first.size())) {
            throw stopInFile(name, "cannot be read");
        }
        raw = fileBytes(file, input.begin, input.end);
    } else {
        // The first bytes of a stream tell what it is; they are handed out again after.
        ReadBytes stream = streamBytes(file);
        first.resize(4);
        std::size_t got = 0;
        try {
            for (std::size_t more = 1; got < first.size() && more > 0; got += more) {
                more = stream(first.data() + got, first.size() - got);
            }
        } catch (const std::runtime_error&) {
            throw stopInFile(name, "cannot be read");
        }
        first.resize(got);
        raw = prefixed(first, std::move(stream));
    }
    const auto counted = [read, raw = std::move(raw)](char* into, std::size_t size) {
        const std::size_t got = raw(into, size);
        *read += got;
        return got;
    };
    input.bytesRead = [read] { return read->load(); };
    std::vector<Input> inputs;
    switch (containerOf(first)) {
        case Container::plain:
            input.plainFile = opened.rereadable;
            input.bytes = counted;
            inputs.push_back(std::move(input));
            break;
        case Container::gzip: {
            auto reader = std::make_shared<GzipReader>(counted);
            input.bytes = [reader](char* into, std::size_t size) {
                return reader->read(into, size);
            };
            inputs.push_back(std::move(input));
            break;
        }
        case Container::zip: {
            std::uint64_t size = input.end;
            if (!opened.rereadable) {
                try {
                    input.file = copyOfStream(name, counted, size);
                } catch (const CompressedError& error) {
                    throw stopInFile(name, error.what());
                } catch (const std::runtime_error&) {
                    throw stopInFile(name, "cannot be read");
                }
            }
            std::vector<ZipMember> members;
            try {
                members = membersToRead(zipMembers(*input.file, size));
            } catch (const CompressedError& error) {
                throw stopInFile(name, error.what());
            } catch (const std::runtime_error&) {
                throw stopInFile(name, "cannot be read");
            }
            for (const ZipMember& member : members) {
                Input part;
                part.name = name + ":" + member.name;
                part.named = input.named;
                part.stream = input.stream;
                part.file = input.file;
                part.size = opened.rereadable ? input.size : 0;
                // Made when it is first read, so that only one member's buffers are held.
                std::shared_ptr<ZipMemberReader> reader;
                auto at = std::make_shared<std::atomic<std::uint64_t>>(member.localHeader);
                part.bytes = [reader, at, file = input.file, size, member](
                                 char* into, std::size_t wanted) mutable {
                    if (!reader) {
                        reader = std::make_shared<ZipMemberReader>(*file, size, member);
                    }
                    const std::size_t got = reader->read(into, wanted);
                    *at = member.localHeader + reader->compressedRead();
                    return got;
                };
                part.bytesRead = [at] { return at->load(); };
                inputs.push_back(std::move(part));
            }
            break;
        }
    }
    return inputs;
}

}  // namespace vellumbrook::ticks
