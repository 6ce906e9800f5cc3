// Where streamed bytes go: a package data file, or the resource section of an installer being
// written. The writer lends its own buffer, so that a member's bytes are read from their file
// straight into the place they are written from, never copied in between.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Room for at least one and at most `want` of the next bytes (want > 0); empty when no room
    // can be made (a write failed).
    virtual std::span<std::uint8_t> Reserve(std::uint32_t want) = 0;
    // The first `length` bytes of the room Reserve gave are the next bytes of the output.
    virtual bool Commit(std::uint32_t length) = 0;

    // Copies `length` bytes in.
    bool Put(const void* bytes, std::uint32_t length);
};

namespace platform {
class File;
}

// Into an open file, through a buffer of its own: small pieces are gathered so that the file
// sees few large writes.
class FileSink : public ByteSink {
public:
    FileSink(platform::File& file, std::uint32_t bufferSize);
    std::span<std::uint8_t> Reserve(std::uint32_t want) override;
    bool Commit(std::uint32_t length) final;
    // Writes what is gathered; to be called once the last bytes are in.
    bool Flush();

protected:
    // Sees each run of bytes as it is committed, before it is written (for a checksum, say).
    virtual void Committed(const std::uint8_t* /*bytes*/, std::uint32_t /*length*/) {}
    platform::File& File() { return file_; }

private:
    platform::File& file_;
    std::vector<std::uint8_t> buffer_;
    std::uint32_t used_ = 0;
    bool failed_ = false;
};
