// The workspace options that `gather` and `set` share: the workspace fields and, per file named by
// its path relative to the source folder, the agreement text, the shortcut and the processors.
// They store what the main window's controls store for the same input.
#pragma once

#include "cli/args.h"

#include "package/package.h"

#include <span>

namespace cli {

extern const std::span<const OptionSpec> kWorkspaceOptions;
extern const std::string_view kWorkspaceOptionsHelp;
// What FILE is, and which refusals are usage errors and which failures: after the options.
extern const std::string_view kWorkspaceOptionsNotes;

// Checks the values of the workspace options that no workspace could take, before anything is
// read; fails with the problem, for a usage error.
bool CheckWorkspaceOptions(const Args& args, std::string& problem);

// Applies every workspace option given, once CheckWorkspaceOptions has accepted them; for a FILE
// that names no one file of the workspace or a picture that cannot be used it prints one error
// line and answers false, leaving the workspace file on disk untouched.
bool ApplyWorkspaceOptions(const Args& args, Package& package, std::u16string& imageFile, std::u16string& buildCommand);

// Writes the workspace file, reporting a failure; a workspace the installer would refuse to install
// is refused with the reasons.
bool SaveWorkspaceFile(Package& package, const std::u16string& path, std::u16string_view imageFile,
                       std::u16string_view buildCommand);

} // namespace cli
