// The installer's own icon and version information, from installer's --icon and --version-info:
// checked before anything is written, then handed to the one-pass writer as resource edits.
#pragma once

#include "cli/args.h"
#include "package/package.h"
#include "package/pe_icons.h"
#include "package/pe_version.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The settings of every --version-info KEY=VALUE, in command-line order (a key given twice keeps
// the last). False with the problem, a usage error, for an unknown key, a setting without '=' or
// a version that is not a.b.c.d with each number below 65536.
bool ParseVersionSettings(const std::vector<std::u16string>& settings, pe::VersionChanges& changes,
                          std::string& problem);

class InstallerResources {
public:
    // Reads the --icon file, reporting one that is not a well-formed icon file, and completes the
    // version settings, when there are any, with what the workspace and the output say: the
    // program's name as ProductName, "NAME Setup" as FileDescription, the output's file name as
    // OriginalFilename. Without --version-info the template's version resource is left as it is.
    bool Prepare(const Args& args, const pe::VersionChanges& given, const Package& package, std::u16string_view output);
    std::vector<const pe::ResourceEdit*> Edits() const;
    const std::u16string& IconPath() const { return iconPath_; }

private:
    std::u16string iconPath_;
    std::optional<pe::IconReplacement> icon_;
    std::optional<pe::VersionEdit> version_;
};

} // namespace cli
