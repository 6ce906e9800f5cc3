// Bounds-checked reading of an executable, from a file or from memory. The resource reader never
// touches the bytes any other way, so a malformed header can at worst make a read fail.
#pragma once

#include "platform/error.h"
#include "platform/file.h"
#include "platform/little_endian.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pe {

// Little-endian fields out of a buffer the caller has already checked.
using platform::Le16;
using platform::Le32;
using platform::PutLe16;
using platform::PutLe32;

// What the editor finds wrong itself carries no system reason: a file that breaks the format, or
// a change the format (or the executable as it stands) cannot take.

// Whether [offset, offset + length) lies inside [0, size), without overflowing.
inline bool RangeInside(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Reads exactly `length` bytes at `offset`; false when the range is not inside the source or
    // the read fails.
    virtual bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) = 0;

    bool ReadU16(std::uint64_t offset, std::uint16_t& value);
    bool ReadU32(std::uint64_t offset, std::uint32_t& value);
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;

private:
    std::span<const std::uint8_t> bytes_;
};

// Reads through a small window, so that walking a resource tree costs a few system calls and a
// large installer is never loaded whole.
class FileSource final : public ByteSource {
public:
    bool Open(std::u16string_view path);
    void Close() { file_.Close(); }
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;
    // The first read the system failed, with its reason; empty while none has. An executable that
    // could not be read would otherwise be reported as one that breaks the format.
    const Error& ReadFailure() const { return readFailure_; }

private:
    bool ReadDirect(std::uint64_t offset, std::uint8_t* buffer, std::size_t length);

    static constexpr std::size_t kWindow = 64 * 1024;
    platform::File file_;
    std::uint64_t size_ = 0;
    std::vector<std::uint8_t> window_;
    std::uint64_t windowStart_ = 0;
    Error readFailure_;
};

} // namespace pe
