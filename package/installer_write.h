// Making an installer in one pass: the new executable's layout is planned from the template's
// headers, the package's measured length and the sidebar bitmap's, and then the output is written
// once, front to back. The template is read where it lies, the package's members are read once
// each straight into their place in the resource section, the checksum is summed as the bytes
// go, and the finished file takes the output's name in one rename. The bytes are those of the
// older road (a package data file, a copy of the template, one resource update after another).
#pragma once

#include "package/package.h"
#include "package/pe_resources.h"
#include "platform/error.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class ByteSink;

// What differs between the callers of WriteInstaller: where the package's bytes come from (and so
// how progress is shown while they are written), and whether the output may still be replaced.
class InstallerWriteHost {
public:
    virtual ~InstallerWriteHost() = default;
    // The package's exact length, before anything is written. False when there is no package to
    // write; the host keeps its own message.
    virtual bool MeasurePackage(std::uint64_t& length) = 0;
    // Writes exactly the measured bytes into the installer `output`. False when they cannot all be
    // written; the host keeps its own message (naming `output` when it is the writing that failed).
    virtual bool WritePackage(ByteSink& out, std::u16string_view output) = 0;
    // Asked once the installer is complete, just before it takes the output's name: false leaves
    // the output as it was (the caller found it changed into something it may not replace).
    virtual bool MayReplaceOutput() { return true; }
};

// The package of a Package object, streamed from its member files with Write's checks; the
// callback sees the same progress as during Write.
class PackageMembersHost : public InstallerWriteHost {
public:
    PackageMembersHost(Package& package, ProgressCallback progress)
        : package_(package), progress_(std::move(progress)) {}
    bool MeasurePackage(std::uint64_t& length) override;
    bool WritePackage(ByteSink& out, std::u16string_view output) override;

private:
    Package& package_;
    ProgressCallback progress_;
};

struct InstallerParts {
    std::u16string templatePath;
    std::u16string sidebarPath; // a .bmp file, stored without its file header; empty for none
    pe::ResourceKey sidebarName = pe::ResourceKey::Id(251);
    // Further changes planned against the template (its icon, its version information), applied
    // after the package and the picture; not owned.
    std::vector<const pe::ResourceEdit*> edits = {};
    // What the cabinet the installer writes carries besides the package's files, as the template
    // reads it (type "RT_RCDATA", name kDeviceOptionsName); empty for none.
    std::vector<std::uint8_t> deviceOptions = {};
};

inline constexpr char16_t kDeviceOptionsName[] = u"DEVOPTS";

// Writes the installer to `output`. On failure the output is as it was, no other file is left
// behind, and the error's code says which part failed:
//   PackageFailed  the host could not measure or write the package (its own message says why);
//   Malformed      the template or the sidebar picture could not be used;
//   CannotCreate   no new file can be made beside the output (NotRegular: the output is no file);
//   CannotWrite    the finished file could not take the output's name;
//   Refused        the host refused, at the end, to replace the output.
Error WriteInstaller(const InstallerParts& parts, std::u16string_view output, InstallerWriteHost& host);
