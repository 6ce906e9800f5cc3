// Loading a workspace file, package data file or installer for the reading subcommands.
#include "cli/package_input.h"

#include "cli/console.h"

#include "package/installer.h"
#include "package/pe_resources.h"
#include "platform/host_paths.h"
#include "platform/text.h"

#include <cstring>

namespace cli {
namespace {

std::string ShortTableCause(std::uint32_t count, std::uint64_t length) {
    return "too short for its table of " + std::to_string(count) + " files (" + std::to_string(length) +
           " bytes; the table ends at byte " + std::to_string(kHeaderSize + std::uint64_t{count} * kEntrySize) + ")";
}

bool LoadFromResource(std::u16string_view path, PackageInput& input, std::string& cause) {
    Error error;
    std::vector<pe::ResourceInfo> resources;
    if (!pe::ListResources(path, resources, error)) {
        cause = "not an executable this program can read: " + error.Text();
        return false;
    }
    // The system that runs the installer picks among several languages of a package by its own
    // order, which need not be the language looked at here: such an installer cannot be checked.
    std::vector<const pe::ResourceInfo*> packages;
    for (const pe::ResourceInfo& r : resources) {
        if (IsPackageResource(r)) {
            packages.push_back(&r);
        }
    }
    if (packages.size() > 1) {
        cause = "holds more than one package (resource ORBDATA in " + std::to_string(packages.size()) +
                " languages); which one installs depends on the PC it runs on";
        return false;
    }
    // Only the package's place in the file is looked up: an installer of a gigabyte is read in
    // pieces, never whole.
    pe::ResourceLocation location;
    if (packages.empty() ||
        !pe::LocateResource(path, packages[0]->type, packages[0]->name, packages[0]->language, location, error)) {
        cause = "no package in this executable (resource ORBDATA of type RT_RCDATA): " +
                (packages.empty() ? "The executable holds no such resource." : error.Text());
        return false;
    }
    input.kind = InputKind::Installer;
    input.start = location.fileOffset;
    input.length = location.size;
    input.file = platform::File::OpenRead(path, platform::Share::Read);
    if (!input.file.IsOpen()) {
        cause = platform::CannotOpenCause(path);
        return false;
    }
    platform::ForgetSystemReason();
    if (input.length < kHeaderSize || !input.ReadAt(0, &input.header, kHeaderSize)) {
        cause =
            ReadStopCause("its package is shorter than a package header (" + std::to_string(input.length) + " bytes)");
        return false;
    }
    if (input.TableEnd() > input.length) {
        cause = "its package is " + ShortTableCause(input.header.count, input.length);
        return false;
    }
    input.entries.resize(input.header.count);
    if (!input.entries.empty() && !input.ReadAt(kHeaderSize, input.entries.data(), input.header.count * kEntrySize)) {
        cause = ReadStopCause("cannot be read in full");
        return false;
    }
    return true;
}

// Whether the name ends in ".orb", the workspace file's extension (in any case).
bool NamedAsWorkspace(std::u16string_view path) {
    if (path.size() < 4) {
        return false;
    }
    std::u16string_view tail = path.substr(path.size() - 4);
    return tail[0] == u'.' && (tail[1] | 0x20) == u'o' && (tail[2] | 0x20) == u'r' && (tail[3] | 0x20) == u'b';
}

bool LoadFromFile(std::u16string_view path, PackageInput& input, std::string& cause) {
    input.file = platform::File::OpenRead(path, platform::Share::Read);
    if (!input.file.IsOpen() || !input.file.Size(input.length)) {
        cause = platform::CannotOpenCause(path);
        return false;
    }
    platform::ForgetSystemReason();
    if (input.length < kHeaderSize || !ReadFully(input.file, &input.header, kHeaderSize)) {
        cause = ReadStopCause("shorter than a package header (" + std::to_string(input.length) + " bytes)");
        return false;
    }
    if (input.TableEnd() > input.length) {
        cause = ShortTableCause(input.header.count, input.length);
        return false;
    }
    input.entries.resize(input.header.count);
    if (!ReadFully(input.file, input.entries.data(), input.header.count * kEntrySize)) {
        cause = ReadStopCause("cannot be read in full");
        return false;
    }
    // A workspace file is a header and table with nothing behind them. A package whose members are
    // all empty looks the same; it is taken as a package when its header says so. So is a file whose
    // header describes member data, as a written package's does, that is cut off after its table
    // unless it is named as a workspace: the main window saves the header as it holds it, which
    // after a build describes that build's data.
    std::uint64_t sizes = 0;
    for (const PackageEntry& e : input.entries) {
        sizes += e.size;
    }
    const PackageHeader& h = input.header;
    bool describesData = h.dataOffset == input.TableEnd() && h.totalSize == sizes;
    bool packageShaped = describesData && (sizes == 0 || !NamedAsWorkspace(path));
    input.kind = input.length == input.TableEnd() && !packageShaped ? InputKind::Workspace : InputKind::PackageFile;
    return true;
}

} // namespace

bool ReadFully(platform::File& file, void* buffer, std::uint32_t size) {
    return platform::ReadExactly(file, buffer, size);
}

std::string ReadStopCause(std::string shortCause) {
    std::string reason = platform::SystemReason();
    return reason.empty() ? shortCause : "cannot be read (" + reason + ")";
}

std::string_view KindName(InputKind kind) {
    switch (kind) {
    case InputKind::Workspace:
        return "workspace";
    case InputKind::PackageFile:
        return "package";
    case InputKind::Installer:
        return "installer";
    }
    return "";
}

bool PackageInput::ReadAt(std::uint64_t position, void* buffer, std::uint32_t size) {
    if (position + size > length) {
        platform::ForgetSystemReason();
        return false;
    }
    return file.Seek(start + position) && ReadFully(file, buffer, size);
}

bool LooksLikeExecutable(std::u16string_view path) {
    platform::File file = platform::File::OpenRead(path, platform::Share::Read);
    char magic[2] = {};
    return file.IsOpen() && ReadFully(file, magic, 2) && magic[0] == 'M' && magic[1] == 'Z';
}

bool LooksLikeCabinet(std::u16string_view path) {
    platform::File file = platform::File::OpenRead(path, platform::Share::Read);
    char magic[4] = {};
    return file.IsOpen() && ReadFully(file, magic, 4) && std::memcmp(magic, "MSCF", 4) == 0;
}

bool LoadInput(std::u16string_view path, PackageInput& input, std::string& cause) {
    if (!platform::File::OpenRead(path, platform::Share::Read).IsOpen()) {
        cause = platform::CannotOpenCause(path);
        return false;
    }
    if (LooksLikeExecutable(path)) {
        return LoadFromResource(path, input, cause);
    }
    return LoadFromFile(path, input, cause);
}

bool LoadInputOrReport(std::u16string_view path, PackageInput& input) {
    std::string cause;
    if (!LoadInput(path, input, cause)) {
        PrintError(platform::ToUtf8(path), cause);
        return false;
    }
    return true;
}

} // namespace cli
