#include "ticks/output_sink.hpp"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/platform.hpp"
#include "ticks/messages.hpp"

namespace vellumbrook::ticks {

void Sink::write(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    if (toTerminal_) {
        progress_.erase();  // the status line would stand in the middle of the output
    }
    if (file_ != nullptr) {
        file_->write(bytes);
    } else if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size() ||
               std::fflush(stream_) != 0) {
        throw stopWith(std::string("standard output cannot be written: ") + std::strerror(errno));
    }
}

}  // namespace vellumbrook::ticks
