// The helpers the test programs share: private temporary folders, file helpers and the byte writer.
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace testing_support {

namespace fs = std::filesystem;

#ifdef _WIN32
namespace {

// A path as Wine's host sees it; empty on Windows itself.
std::wstring UnixPath(const fs::path& path) {
    using ToUnix = char*(CDECL*)(LPCWSTR);
    auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = toUnix ? toUnix(fs::absolute(path).c_str()) : nullptr;
    if (!unix) {
        return {};
    }
    std::string text(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return std::wstring(text.begin(), text.end());
}

// Whether a test of this process has planted a Unix link, which Wine's own removal cannot take
// away and the runtime's remove_all would follow out of the tree.
bool linksPlanted = false;

// Runs a program of Wine's host (L"/bin/ln") with arguments already quoted, and waits until the
// path appears or goes: the handle Wine gives for a Unix program is not that program's.
bool RunOnWineHost(const std::wstring& program, const std::wstring& arguments, const fs::path& path, bool appears) {
    std::wstring commandLine = L"Z:" + program + L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW((L"Z:" + program).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 1000; ++i) {
        if ((GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) == appears) {
            return true;
        }
        Sleep(10);
    }
    return false;
}

// Under Wine a Unix link to a folder is made with the host's ln.
bool WineLink(const std::wstring& target, const fs::path& link) {
    std::wstring unixLink = UnixPath(link);
    bool made =
        !unixLink.empty() && RunOnWineHost(L"/bin/ln", L"-s \"" + target + L"\" \"" + unixLink + L"\"", link, true);
    linksPlanted = linksPlanted || made;
    return made;
}

void RemoveTree(const fs::path& path) {
    std::error_code ec;
    if (linksPlanted && fs::exists(path, ec)) {
        RunOnWineHost(L"/bin/rm", L"-rf \"" + UnixPath(path) + L"\"", path, false);
        return;
    }
    fs::remove_all(path, ec);
}

} // namespace
#else
namespace {
void RemoveTree(const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}
} // namespace
#endif

TempDir::TempDir() {
    static std::atomic<int> counter{0};
#ifdef _WIN32
    long pid = static_cast<long>(GetCurrentProcessId());
#else
    long pid = static_cast<long>(getpid());
#endif
    path_ = fs::temp_directory_path() / ("tarvelo-test-" + std::to_string(pid) + "-" + std::to_string(counter++));
    RemoveTree(path_);
    fs::create_directories(path_);
}

TempDir::~TempDir() { RemoveTree(path_); }

std::u16string TempDir::File(std::u16string_view name) const { return U16(path_ / fs::path(name)); }

std::u16string U16(const fs::path& path) { return path.u16string(); }

void WriteBytes(const std::u16string& path, const Bytes& bytes) {
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
}

Bytes ReadBytes(const std::u16string& path) {
    // In one read: a byte at a time costs seconds for the installers of tens of megabytes.
    std::ifstream in(fs::path(path), std::ios::binary | std::ios::ate);
    if (!in) {
        return {};
    }
    Bytes bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

bool Exists(const std::u16string& path) { return fs::exists(fs::path(path)); }

Bytes Pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i + seed) % 251);
    }
    return bytes;
}

Bytes MakeBitmap(std::uint32_t width, std::uint32_t height, std::uint8_t seed) {
    std::uint32_t row = (width * 3 + 3) & ~3u;
    std::uint32_t pixels = row * height;
    ByteWriter w;
    w.Raw({'B', 'M'}).U32(14 + 40 + pixels).U32(0).U32(14 + 40);
    w.U32(40).U32(width).U32(height).Raw({1, 0, 24, 0}).U32(0).U32(pixels).U32(2835).U32(2835).U32(0).U32(0);
    w.Raw(Pattern(pixels, seed));
    return w.Data();
}

namespace {

std::uint32_t Crc32(const Bytes& bytes, std::size_t from) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
    }
    return ~crc;
}

void PutBig32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

void PngChunk(Bytes& png, const char* type, const Bytes& data) {
    PutBig32(png, static_cast<std::uint32_t>(data.size()));
    std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    PutBig32(png, Crc32(png, start));
}

// An RGBA PNG whose image data is a zlib stream of stored deflate blocks.
Bytes MakePng(std::uint32_t side, std::uint8_t seed) {
    Bytes raw;
    for (std::uint32_t y = 0; y < side; ++y) {
        raw.push_back(0); // no filter
        Bytes row = Pattern(side * 4, static_cast<std::uint8_t>(seed + y));
        raw.insert(raw.end(), row.begin(), row.end());
    }
    Bytes z{0x78, 0x01};
    for (std::size_t at = 0; at < raw.size(); at += 65535) {
        std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(n));
        z.push_back(static_cast<std::uint8_t>(n >> 8));
        z.push_back(static_cast<std::uint8_t>(~n));
        z.push_back(static_cast<std::uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                 raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBig32(z, (b << 16) | a);
    Bytes png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes header;
    PutBig32(header, side);
    PutBig32(header, side);
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8 bits, RGBA
    PngChunk(png, "IHDR", header);
    PngChunk(png, "IDAT", z);
    PngChunk(png, "IEND", {});
    return png;
}

Bytes MakeIconDib(std::uint32_t side, std::uint8_t seed) {
    std::uint32_t pixels = side * side * 4, mask = ((side + 31) / 32) * 4 * side;
    ByteWriter w;
    w.U32(40).U32(side).U32(2 * side).Raw({1, 0, 32, 0}).U32(0).U32(pixels + mask).U32(0).U32(0).U32(0).U32(0);
    w.Raw(Pattern(pixels, seed)).Raw(Bytes(mask, 0));
    return w.Data();
}

} // namespace

Bytes MakeIconFile(const std::vector<IconSpec>& images) {
    ByteWriter w;
    w.Raw({0, 0, 1, 0, static_cast<std::uint8_t>(images.size()), static_cast<std::uint8_t>(images.size() >> 8)});
    std::vector<Bytes> data;
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const IconSpec& spec = images[i];
        auto seed = static_cast<std::uint8_t>(i * 37);
        data.push_back(spec.png ? MakePng(spec.side, seed) : MakeIconDib(spec.side, seed));
        auto side = static_cast<std::uint8_t>(spec.side >= 256 ? 0 : spec.side);
        w.Raw({side, side, 0, 0, 1, 0, 32, 0}).U32(static_cast<std::uint32_t>(data.back().size())).U32(offset);
        offset += static_cast<std::uint32_t>(data.back().size());
    }
    for (const Bytes& d : data) {
        w.Raw(d);
    }
    return w.Data();
}

void MakeSparseFile(const std::u16string& path, std::uint64_t size) {
#ifdef _WIN32
    // Extending through the file pointer leaves the new range unwritten; the C runtime's own
    // resize would write every zero.
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(size);
    bool ok = SetFilePointerEx(h, li, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    ASSERT_TRUE(ok);
#else
    WriteBytes(path, {});
    fs::resize_file(fs::path(path), size);
#endif
}

bool PlantLink(const fs::path& target, const fs::path& link, LinkKind kind) {
    std::error_code ec;
    if (kind == LinkKind::Hard) {
        fs::create_hard_link(target, link, ec);
        return !ec;
    }
#ifdef _WIN32
    DWORD flags =
        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE | (kind == LinkKind::ToFolder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) &&
        fs::symlink_status(link, ec).type() != fs::file_type::not_found) {
        return true;
    }
    // Wine makes no links of its own, but shows a Unix link to a folder as a link (a reparse
    // point) and one to a file as the file: the host's ln makes them.
    return WineLink(UnixPath(target), link);
#else
    if (kind == LinkKind::ToFolder) {
        fs::create_directory_symlink(target, link, ec);
    } else {
        fs::create_symlink(target, link, ec);
    }
    return !ec;
#endif
}

FolderLink::FolderLink(const fs::path& link, const std::string& target) : link_(link) {
#ifdef _WIN32
    made_ = WineLink(std::wstring(target.begin(), target.end()), link);
#else
    std::error_code error;
    fs::create_directory_symlink(target, link, error);
    made_ = !error;
#endif
}

FolderLink::~FolderLink() {
    if (!made_) {
        return;
    }
#ifdef _WIN32
    RunOnWineHost(L"/bin/rm", L"\"" + UnixPath(link_) + L"\"", link_, false);
#else
    std::error_code ignored;
    fs::remove(link_, ignored);
#endif
}

ByteWriter& ByteWriter::U32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        data_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    return *this;
}

ByteWriter& ByteWriter::Text(std::u16string_view text) {
    for (std::size_t i = 0; i < 260; ++i) {
        char16_t unit = i < text.size() ? text[i] : u'\0';
        data_.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        data_.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return *this;
}

ByteWriter& ByteWriter::Raw(const Bytes& bytes) {
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    return *this;
}

std::uint32_t ReadU32(const Bytes& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | bytes.at(offset + static_cast<std::size_t>(i));
    }
    return value;
}

std::u16string ReadText(const Bytes& bytes, std::size_t offset) {
    std::u16string text;
    for (std::size_t i = 0; i < 260; ++i) {
        char16_t unit = static_cast<char16_t>(bytes.at(offset + 2 * i) | (bytes.at(offset + 2 * i + 1) << 8));
        if (unit == u'\0') {
            break;
        }
        text += unit;
    }
    return text;
}

} // namespace testing_support

namespace testing_support {
std::u16string StoredForm(std::u16string path) {
    for (char16_t& c : path) {
        if (c == u'/') {
            c = u'\\';
        }
    }
    return path;
}
} // namespace testing_support

namespace testing_support {
std::u16string SourceFile(std::u16string_view relative) {
    std::string top = TARVELO_SOURCE_DIR;
    std::u16string path(top.begin(), top.end());
    path += u'/';
    path += relative;
#ifdef _WIN32
    if (!path.empty() && path[0] == u'/') {
        path = u"Z:" + path;
    }
    for (char16_t& c : path) {
        if (c == u'/') {
            c = u'\\';
        }
    }
#endif
    return path;
}
void SetDateEpoch(const char* value) {
#ifdef _WIN32
    // The process's environment, which programs started from here inherit, and the C runtime's
    // copy of it, which getenv reads in this one.
    std::wstring wide = value ? std::wstring(value, value + std::strlen(value)) : std::wstring();
    SetEnvironmentVariableW(L"SOURCE_DATE_EPOCH", value ? wide.c_str() : nullptr);
    _putenv_s("SOURCE_DATE_EPOCH", value ? value : "");
#else
    if (value) {
        setenv("SOURCE_DATE_EPOCH", value, 1);
    } else {
        unsetenv("SOURCE_DATE_EPOCH");
    }
#endif
}

} // namespace testing_support
