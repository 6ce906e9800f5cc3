// Opening a workspace, checking an output and writing the package, shared by the building subcommands.
#include "cli/workspace_build.h"

#include "platform/standard_io.h"

#include "cli/args.h"
#include "cli/console.h"
#include "cli/member_lookup.h"
#include "cli/package_input.h"

#include "building/build_checks.h"

#include "platform/file.h"
#include "platform/host_paths.h"
#include "workspace/workspace_file.h"

namespace cli {

bool OpenWorkspace(std::u16string_view path, Package& package, std::u16string_view sourceFolder) {
    std::u16string text(path);
    if (!platform::File::OpenRead(text, platform::Share::Read).IsOpen()) {
        PrintError(Utf8(path), platform::CannotOpenCause(path));
        return false;
    }
    // Package::Open would read an executable's first bytes as a header and refuse it for a reason
    // that says nothing to the user.
    if (LooksLikeExecutable(text)) {
        PrintError(Utf8(path), "not a workspace file (it is an executable)");
        return false;
    }
    if (!package.Open(text.c_str(), 0)) {
        if (package.OpenedEmpty()) {
            PrintError(Utf8(path), "the workspace holds no files");
            return false;
        }
        std::string why = package.LastError().empty() ? "it cannot be read" : Utf8(package.LastError());
        PrintError(Utf8(path), "not a workspace file: " + why);
        return false;
    }
    return LocateMembers(package, sourceFolder, path);
}

bool WritePackage(Package& package, std::u16string_view workspace, std::u16string_view destination,
                  std::u16string_view output, bool quiet) {
    std::u16string target(destination);
    ProgressBar bar(!quiet && platform::StandardErrorIsTerminal());
    platform::ForgetSystemReason();
    bool written = package.Write(target.c_str(), bar.WriteCallback(package));
    // Taken before the bar's last drawing can overwrite it.
    std::string reason = platform::SystemReason();
    bar.Finish();
    if (written) {
        return true;
    }
    // Write keeps a message for a member it could not read; without one, the output itself
    // could not be created.
    if (!package.LastError().empty()) {
        PrintError(Utf8(workspace), "cannot write the package: " + Utf8(package.LastError()));
    } else {
        PrintError(Utf8(output), Error{ErrorCode::CannotCreate, {}, "cannot create the file", reason});
    }
    return false;
}

bool CheckOutput(std::u16string_view output, bool replace, std::initializer_list<BuildInput> inputs,
                 const Package* package) {
    if (Error error = building::CheckOutput(output, replace, inputs, package)) {
        PrintError(error.subject, error.message);
        return false;
    }
    return true;
}

} // namespace cli
