// The file a reading subcommand (info, verify, extract) is given: a workspace file, a package data
// file or an installer carrying its package as the resource "ORBDATA". The header and table are
// taken as stored, without the package core's refusal of inconsistent tables, so that verify can
// say what is wrong and info can still show it.
#pragma once

#include "package/records.h"
#include "platform/file.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

enum class InputKind { Workspace, PackageFile, Installer };

std::string_view KindName(InputKind kind);

struct PackageInput {
    InputKind kind = InputKind::PackageFile;
    std::uint64_t length = 0; // bytes of the package: the file's length, or the resource's size
    std::uint64_t start = 0;  // where the package begins in the file: 0, or an installer's resource
    PackageHeader header{};
    std::vector<PackageEntry> entries; // header.count records
    platform::File file;               // open for reading members, which are read in pieces

    // Reads package bytes at an absolute position; false when they are not all there.
    bool ReadAt(std::uint64_t position, void* buffer, std::uint32_t size);
    std::uint64_t TableEnd() const { return kHeaderSize + std::uint64_t{header.count} * kEntrySize; }
};

// Loads the header and table. Fails with the cause when the file cannot be read, is an executable
// without a package, or is shorter than its header or table.
bool LoadInput(std::u16string_view path, PackageInput& input, std::string& cause);

// LoadInput for a subcommand's FILE: a failure is reported as the one error line.
bool LoadInputOrReport(std::u16string_view path, PackageInput& input);

// Reads until `size` bytes are in; false when the file ends or fails first (platform::ReadExactly).
bool ReadFully(platform::File& file, void* buffer, std::uint32_t size);

// The cause of a read that stopped early: the system's reason where a read failed (a failing
// disk is no short file), otherwise `shortCause`.
std::string ReadStopCause(std::string shortCause);

// Whether the file starts as a Windows executable does ("MZ").
bool LooksLikeExecutable(std::u16string_view path);

// Whether the file starts as a Microsoft cabinet does ("MSCF"): a device cabinet, which info and
// verify read with the cabinet reader instead.
bool LooksLikeCabinet(std::u16string_view path);

} // namespace cli
