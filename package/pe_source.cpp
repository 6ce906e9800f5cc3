// The two byte sources behind the resource reader: a span of memory and a file read with seeks.
#include "package/pe_source.h"

#include <algorithm>
#include <cstring>

namespace pe {

bool ByteSource::ReadU16(std::uint64_t offset, std::uint16_t& value) {
    std::uint8_t b[2];
    if (!ReadAt(offset, b, sizeof b)) {
        return false;
    }
    value = Le16(b);
    return true;
}

bool ByteSource::ReadU32(std::uint64_t offset, std::uint32_t& value) {
    std::uint8_t b[4];
    if (!ReadAt(offset, b, sizeof b)) {
        return false;
    }
    value = Le32(b);
    return true;
}

bool MemorySource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
    if (!RangeInside(offset, length, bytes_.size())) {
        return false;
    }
    if (length != 0) {
        std::memcpy(buffer, bytes_.data() + offset, length);
    }
    return true;
}

bool FileSource::Open(std::u16string_view path) {
    file_ = platform::File::OpenRead(path, platform::Share::Read);
    window_.clear();
    return file_.IsOpen() && file_.Size(size_);
}

bool FileSource::ReadDirect(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
    if (!file_.Seek(offset)) {
        return false;
    }
    while (length > 0) {
        auto want = static_cast<std::uint32_t>(std::min<std::size_t>(length, 1u << 30));
        std::uint32_t got = 0;
        if (!file_.Read(buffer, want, got)) {
            if (!readFailure_) {
                readFailure_ = SystemError(ErrorCode::CannotRead, {}, "The executable could not be read.");
            }
            return false;
        }
        if (got == 0) {
            return false;
        }
        buffer += got;
        length -= got;
    }
    return true;
}

bool FileSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
    if (!RangeInside(offset, length, size_)) {
        return false;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    // Large reads (resource data being copied) go straight to the file.
    if (length > kWindow / 2) {
        return ReadDirect(offset, out, length);
    }
    bool cached = !window_.empty() && offset >= windowStart_ && offset - windowStart_ + length <= window_.size();
    if (!cached) {
        std::uint64_t start = offset - offset % 4096;
        auto count = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, size_ - start));
        window_.resize(count);
        if (!ReadDirect(start, window_.data(), count)) {
            window_.clear();
            return false;
        }
        windowStart_ = start;
    }
    if (length != 0) {
        std::memcpy(out, window_.data() + (offset - windowStart_), length);
    }
    return true;
}

} // namespace pe
