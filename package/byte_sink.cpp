// Copying into a sink, and the sink over a plain file.
#include "package/byte_sink.h"

#include "platform/file.h"

#include <algorithm>
#include <cstring>

bool ByteSink::Put(const void* bytes, std::uint32_t length) {
    const auto* from = static_cast<const std::uint8_t*>(bytes);
    while (length > 0) {
        std::span<std::uint8_t> room = Reserve(length);
        if (room.empty()) {
            return false;
        }
        auto part = static_cast<std::uint32_t>(std::min<std::size_t>(room.size(), length));
        std::memcpy(room.data(), from, part);
        if (!Commit(part)) {
            return false;
        }
        from += part;
        length -= part;
    }
    return true;
}

FileSink::FileSink(platform::File& file, std::uint32_t bufferSize) : file_(file), buffer_(bufferSize) {}

std::span<std::uint8_t> FileSink::Reserve(std::uint32_t want) {
    if (used_ == buffer_.size() && !Flush()) {
        return {};
    }
    auto room = std::min<std::size_t>(want, buffer_.size() - used_);
    return {buffer_.data() + used_, room};
}

bool FileSink::Commit(std::uint32_t length) {
    Committed(buffer_.data() + used_, length);
    used_ += length;
    return !failed_;
}

bool FileSink::Flush() {
    std::uint32_t written = 0;
    if (!failed_ && used_ > 0 && (!file_.Write(buffer_.data(), used_, written) || written != used_)) {
        failed_ = true;
    }
    used_ = 0;
    return !failed_;
}
