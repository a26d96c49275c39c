#include "output/output_file.hpp"

#include <algorithm>
#include <random>

#include "output/quoted.hpp"

namespace vellumbrook::output {

OutputFile::OutputFile(const std::string& name, const std::vector<platform::FileId>& inputs)
    : name_(name) {
    using Kind = platform::OutputTarget::Kind;
    const platform::OutputTarget target = platform::inspectOutput(name);
    if (target.id && std::find(inputs.begin(), inputs.end(), *target.id) != inputs.end()) {
        throw OutputFileError(escaped(name) +
                              ": is also an input; write the output to another file");
    }
    if (target.kind == Kind::folder) {
        fail("it is a folder");
    }
    std::string reason;
    target_ = target.path;
    if (target.kind == Kind::other) {
        file_ = platform::openForWriting(target_, reason);
        if (!file_.isOpen()) {
            fail(reason);
        }
        return;
    }
    std::random_device random;
    for (int attempt = 0; attempt < 16 && !file_.isOpen(); ++attempt) {
        partName_ = target_ + ".part-" + std::to_string(random());
        file_ = platform::createNewFile(partName_, reason);
    }
    if (!file_.isOpen()) {
        fail(reason);
    }
    if (target.kind == Kind::regular) {
        platform::copyPermissions(file_, target_);
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
}

void OutputFile::fail(const std::string& reason) const {
    throw OutputFileError(escaped(name_) + ": cannot be written: " + reason);
}

}  // namespace vellumbrook::output
