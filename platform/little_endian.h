// Little-endian fields, the byte order of every format this program reads and writes (the PE
// executable, the cabinet and its manifest, the bitmap, the package): one set of helpers for all
// of them. Readers check their bounds before calling these.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

inline std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void PutLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// Appending to a byte buffer (std::string or std::vector<std::uint8_t>) being built.
template <typename Buffer> void AppendLe16(Buffer& out, std::uint16_t v) {
    out.push_back(static_cast<typename Buffer::value_type>(v & 0xFF));
    out.push_back(static_cast<typename Buffer::value_type>(v >> 8));
}
template <typename Buffer> void AppendLe32(Buffer& out, std::uint32_t v) {
    AppendLe16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    AppendLe16(out, static_cast<std::uint16_t>(v >> 16));
}
// Overwriting a field of a buffer already built, which the caller made long enough.
template <typename Buffer> void SetLe16(Buffer& out, std::size_t at, std::uint16_t v) {
    PutLe16(reinterpret_cast<std::uint8_t*>(out.data()) + at, v);
}
template <typename Buffer> void SetLe32(Buffer& out, std::size_t at, std::uint32_t v) {
    PutLe32(reinterpret_cast<std::uint8_t*>(out.data()) + at, v);
}

} // namespace platform
