#include "output/output_file.hpp"

#include <algorithm>
#include <filesystem>
#include <random>

#include "output/quoted.hpp"

namespace vellumbrook::output {

OutputFile::OutputFile(const std::string& name, const std::vector<platform::FileId>& inputs)
    : name_(name) {
    using Kind = platform::OutputTarget::Kind;
    // "-" is standard output, as wherever a tool takes a file name.
    const platform::OutputTarget target =
        platform::inspectOutput(name == "-" ? "/dev/stdout" : name);
    if (target.id && std::find(inputs.begin(), inputs.end(), *target.id) != inputs.end()) {
        throw OutputFileError(escaped(name) +
                              ": is also an input; write the output to another file");
    }
    target_ = target.path;
    switch (target.kind) {
        case Kind::folder:
            fail("it is a folder");
        case Kind::descriptor:
        case Kind::other:
            openDirectly(target);
            return;
        case Kind::regular:
        case Kind::missing:
            createPart(target);
            return;
    }
}

void OutputFile::openDirectly(const platform::OutputTarget& target) {
    std::string reason;
    file_ = target.kind == platform::OutputTarget::Kind::descriptor
                ? platform::openDescriptor(target.descriptor, reason)
                : platform::openForWriting(target_, reason);
    if (!file_.isOpen()) {
        fail(reason);
    }
}

void OutputFile::createPart(const platform::OutputTarget& target) {
    const bool replacing = target.kind == platform::OutputTarget::Kind::regular;
    std::string reason;
    if (replacing && !platform::mayWrite(target_, reason)) {
        fail(reason);
    }
    std::random_device random;
    for (int attempt = 0; attempt < 16 && !file_.isOpen(); ++attempt) {
        partName_ = target_ + ".part-" + std::to_string(random());
        file_ = platform::createNewFile(partName_, reason);
    }
    if (!file_.isOpen()) {
        // The new file is made beside the old: it is the folder that refuses it.
        const std::filesystem::path folder = std::filesystem::path(target_).parent_path();
        fail("no new file can be made in its folder " +
             escaped(folder.empty() ? "." : folder.string()) + ": " + reason);
    }
    removedOnInterrupt_.emplace(partName_);
    if (replacing) {
        platform::copyOwnerAndPermissions(file_, target_);
    }
}

OutputFile::~OutputFile() {
    if (!committed_ && !partName_.empty()) {
        file_ = platform::File();
        platform::removeFile(partName_);
    }
}

void OutputFile::write(std::string_view bytes) {
    std::string reason;
    const bool written = partName_.empty() ? platform::writeNext(file_, bytes, reason)
                                           : platform::writeAt(file_, bytes, written_, reason);
    if (!written) {
        fail(reason);
    }
    written_ += bytes.size();
}

void OutputFile::commit() {
    file_ = platform::File();
    std::string reason;
    if (!partName_.empty() && !platform::renameReplacing(partName_, target_, reason)) {
        fail(reason);
    }
    committed_ = true;
    removedOnInterrupt_.reset();
}

void OutputFile::fail(const std::string& reason) const {
    throw OutputFileError(escaped(name_) + ": cannot be written: " + reason);
}

}  // namespace vellumbrook::output
