// Helpers of the installer template's tests: packages made by the real writer from files on
// disk, packages assembled field by field for input no writer makes, and folder contents read
// back for comparison.
#pragma once

#include "tests/test_support.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct AppFile {
    std::u16string relative; // below the application folder, with '/'
    Bytes bytes;
    std::uint32_t flags;
    std::u16string shortcut = {};
};

struct PackageFields {
    std::u16string programName = u"Notes";
    std::int32_t targetFolder = 38;
    std::u16string installFolder = u"Notes";
};

// Writes the files below `folder` and answers the package file the writer makes of them, its
// source folder `folder` as a drop sets it (with the closing separator).
Bytes WritePackage(const std::filesystem::path& folder, const std::vector<AppFile>& files,
                   const PackageFields& fields = {});

struct CraftedMember {
    std::u16string filename; // stored as given
    Bytes bytes;
    std::uint32_t flags;
    std::u16string shortcut = {};
};

// A package assembled field by field, with member names no gathering would produce.
Bytes CraftPackage(std::u16string_view sourceFolder, const std::vector<CraftedMember>& members,
                   const PackageFields& fields = {});

// Every file below `folder`, by its relative path with '/' (UTF-8), with its bytes.
std::map<std::string, Bytes> FolderContents(const std::filesystem::path& folder);

inline std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
inline Bytes BytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

} // namespace testing_support
