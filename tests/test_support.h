// Helpers shared by the test programs: a private temporary folder, small file helpers, and a
// little-endian byte writer for assembling expected file contents independently of the code under
// test.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The path of `name` inside the folder, as UTF-16 in the host's own form.
    std::u16string File(std::u16string_view name) const;

private:
    std::filesystem::path path_;
};

std::u16string U16(const std::filesystem::path& path);
void WriteBytes(const std::u16string& path, const Bytes& bytes);
Bytes ReadBytes(const std::u16string& path);
bool Exists(const std::u16string& path);
// Bytes 0, 1, 2, ... wrapping at 251, so that a misplaced chunk shows up in a comparison.
Bytes Pattern(std::size_t size, std::uint8_t seed = 0);
// A bottom-up 24-bit .bmp file with no colour table.
Bytes MakeBitmap(std::uint32_t width, std::uint32_t height, std::uint8_t seed);
// An icon file (.ico) of square 32-bit images of the given sides: each a DIB with its AND mask,
// or, where `png` says so, a PNG (stored, not compressed) as large icons are kept. A side of 256
// is written as 0 in the directory, as the format says.
struct IconSpec {
    std::uint32_t side;
    bool png = false;
};
Bytes MakeIconFile(const std::vector<IconSpec>& images);

// Plants a link at `link` leading to `target`: a symbolic link to a folder or a file, or a second
// (hard) name of the file. False where the host cannot make that kind; under Wine, whose own
// links are not made, a Unix link (which Wine shows as a reparse point for a folder).
enum class LinkKind { ToFolder, ToFile, Hard };
bool PlantLink(const std::filesystem::path& target, const std::filesystem::path& link, LinkKind kind);

// Sets SOURCE_DATE_EPOCH for this program and the programs it starts; nullptr removes it.
void SetDateEpoch(const char* value);

// A file of the given length that takes no disk space where the host supports sparse files.
void MakeSparseFile(const std::u16string& path, std::uint64_t size);

// Appends fields in the package format's encoding: 32-bit little-endian integers and text fields
// of 260 UTF-16LE units.
class ByteWriter {
public:
    ByteWriter& U32(std::uint32_t value);
    ByteWriter& Text(std::u16string_view text);
    ByteWriter& Raw(const Bytes& bytes);
    const Bytes& Data() const { return data_; }

private:
    Bytes data_;
};

// A link to a folder for as long as the object lives: a symbolic link on POSIX; under Wine, whose
// CreateSymbolicLinkW makes nothing, a Unix link made by ln, which Wine shows as a folder with a
// reparse point, as Windows shows a junction. `target` is relative to the link's folder, written
// with slashes. The link goes first, so that removing the folder around it never follows it (the
// Windows runtime's remove_all would). Made() is false where no link could be made (Windows itself).
class FolderLink {
public:
    FolderLink(const std::filesystem::path& link, const std::string& target);
    ~FolderLink();
    FolderLink(const FolderLink&) = delete;
    FolderLink& operator=(const FolderLink&) = delete;
    bool Made() const { return made_; }

private:
    std::filesystem::path link_;
    bool made_ = false;
};

std::uint32_t ReadU32(const Bytes& bytes, std::size_t offset);
std::u16string ReadText(const Bytes& bytes, std::size_t offset);

} // namespace testing_support

namespace testing_support {
// A file of the source tree (e.g. u"tests/data/pe/x.exe"), as a path this program can open; under
// Wine the source tree is reached through drive Z:.
std::u16string SourceFile(std::u16string_view relative);

// A host path as a package stores it: with backslash separators.
std::u16string StoredForm(std::u16string path);
} // namespace testing_support
