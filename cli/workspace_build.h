// The steps the building subcommands share: opening the workspace file, checking the output, and
// writing the package with a progress bar.
#pragma once

#include "building/build_checks.h"
#include "package/package.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace cli {

// Opens WORKSPACE.orb into `package`; on failure prints the one error line and answers false.
// With a source folder (--source-folder), every member is then looked up below it
// (LocateMembers) and read from there.
bool OpenWorkspace(std::u16string_view path, Package& package, std::u16string_view sourceFolder = {});

// Writes the package to `destination`; on failure prints the error line, naming the workspace for
// a member that cannot be read and `output` (what the user asked for) for a file that cannot be made.
bool WritePackage(Package& package, std::u16string_view workspace, std::u16string_view destination,
                  std::u16string_view output, bool quiet);

using building::BuildInput;

// building::CheckOutput, its refusal printed as one error line naming the output.
bool CheckOutput(std::u16string_view output, bool replace, std::initializer_list<BuildInput> inputs,
                 const Package* package);

} // namespace cli
