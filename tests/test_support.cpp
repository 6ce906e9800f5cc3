#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace testing_support {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<int> counter{0};
#ifdef _WIN32
    long pid = static_cast<long>(GetCurrentProcessId());
#else
    long pid = static_cast<long>(getpid());
#endif
    path_ = fs::temp_directory_path() / ("tarvelo-test-" + std::to_string(pid) + "-" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::u16string TempDir::File(std::u16string_view name) const { return U16(path_ / fs::path(name)); }

std::u16string U16(const fs::path& path) { return path.u16string(); }

void WriteBytes(const std::u16string& path, const Bytes& bytes) {
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
}

Bytes ReadBytes(const std::u16string& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

#ifdef _WIN32
namespace {

// Runs ln or rm on a link. Wine starts a Unix program as it would a Windows one, but with no
// process to wait on: this waits up to ten seconds for the link to come or go instead.
bool ChangeLink(const std::string& commandLine, const fs::path& link, bool comes) {
    std::wstring command(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, commandLine.c_str(), -1, nullptr, 0)),
                         L'\0');
    MultiByteToWideChar(CP_UTF8, 0, commandLine.c_str(), -1, command.data(), static_cast<int>(command.size()));
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return false;
    }
    for (HANDLE h : {pi.hThread, pi.hProcess}) {
        if (h) {
            CloseHandle(h);
        }
    }
    for (int i = 0; i < 200; ++i) {
        if ((GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) == comes) {
            return true;
        }
        Sleep(50);
    }
    return false;
}

// Wine's own export naming a Windows path's Unix file; Windows itself has none.
std::string UnixName(const fs::path& path) {
    using Export = char*(__cdecl*)(const wchar_t*);
    FARPROC found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (!found) {
        return {};
    }
    char* name = reinterpret_cast<Export>(reinterpret_cast<void (*)()>(found))(path.c_str());
    std::string text = name ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return text;
}

} // namespace
#endif

FolderLink::FolderLink(const fs::path& link, const std::string& target) : link_(link) {
#ifdef _WIN32
    unixLink_ = UnixName(link);
    made_ = !unixLink_.empty() && ChangeLink("Z:\\bin\\ln -s \"" + target + "\" \"" + unixLink_ + "\"", link, true);
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
    ChangeLink("Z:\\bin\\rm \"" + unixLink_ + "\"", link_, false);
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
} // namespace testing_support
