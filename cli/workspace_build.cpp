// Opening a workspace, checking an output and writing the package, shared by the building subcommands.
#include "cli/workspace_build.h"

#include "platform/console.h"

#include "cli/args.h"
#include "cli/console.h"
#include "cli/member_lookup.h"
#include "cli/package_input.h"

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
    bool written = package.Write(target.c_str(), bar.WriteCallback(package));
    bar.Finish();
    if (written) {
        return true;
    }
    // Write keeps a message for a member it could not read; without one, the output itself
    // could not be created.
    if (!package.LastError().empty()) {
        PrintError(Utf8(workspace), "cannot write the package: " + Utf8(package.LastError()));
    } else {
        PrintError(Utf8(output), "cannot create the file");
    }
    return false;
}

bool CheckOutput(std::u16string_view output, bool replace, std::initializer_list<BuildInput> inputs,
                 const Package* package) {
    switch (platform::Examine(output)) {
    case platform::PathKind::Missing:
        return true;
    case platform::PathKind::File:
        break;
    case platform::PathKind::Folder:
        PrintError(Utf8(output), "is a folder; give the name of the file to write");
        return false;
    case platform::PathKind::Link:
        PrintError(Utf8(output), "is a link; give the path of a regular file, which is replaced, or a new name");
        return false;
    case platform::PathKind::Other:
        PrintError(Utf8(output), "is not a regular file (a device, a pipe or a socket); it is never replaced");
        return false;
    }
    platform::FileId existing;
    if (platform::IdentifyFile(output, existing)) {
        for (const BuildInput& input : inputs) {
            platform::FileId id;
            if (!input.path.empty() && platform::IdentifyFile(input.path, id) && id == existing) {
                PrintError(Utf8(output), "is " + std::string(input.what) + " this build reads; choose another output");
                return false;
            }
        }
        if (package && workspace::IsMemberFile(*package, output)) {
            PrintError(Utf8(output), "is one of the workspace's files; choose another output");
            return false;
        }
    }
    if (!replace) {
        PrintError(Utf8(output), "already exists; use --force to replace it");
        return false;
    }
    return true;
}

} // namespace cli
