// The steps of the Create package and Create installer commands.
#include "building/installer_build.h"

#include "building/build_command.h"
#include "platform/file.h"
#include "platform/text.h"
#include "workspace/bitmap.h"

namespace building {

namespace {

std::string CannotWriteText(std::string_view path, const std::string& cause) {
    std::string text = "The package could not be written to \"";
    text.append(path).append("\".\n").append(cause);
    return text;
}

std::string CommandTooLongText(const std::string& commandLine) {
    return "The build command was not run: with the installer's path in place of <filename> it is " +
           std::to_string(commandLine.size()) + " characters long, and at most " + std::to_string(kLongestCommandLine) +
           " can be started.\n" + commandLine;
}

// Stores the sidebar picture when it has the installer's size; the store's own result is not
// looked at, as the installer still works with the template's picture.
void StoreSidebar(Package& package, const InstallerBuild& build, InstallerBuildHost& host) {
    if (build.sidebarPath.size() < kShortestSidebarPath) {
        return;
    }
    std::int32_t width = 0, height = 0;
    if (!host.BitmapSize(build.sidebarPath, width, height) || width != workspace::kSidebarWidth ||
        height != workspace::kSidebarHeight) {
        host.ShowError(kWrongSidebarText);
        return;
    }
    package.StoreBitmap(platform::FromAnsi(build.target).c_str(), platform::FromAnsi(build.sidebarPath).c_str(),
                        pe::ResourceKey::Id(kSidebarResource), host.Patcher());
}

void RunBuildCommand(const InstallerBuild& build, InstallerBuildHost& host) {
    std::string commandLine = ExpandBuildCommand(build.buildCommand, build.target);
    // Cut to fit, the line would start a different command, or the right one on a wrong file.
    if (commandLine.size() > kLongestCommandLine) {
        host.ShowError(CommandTooLongText(commandLine));
        return;
    }
    host.RunAndWait(commandLine);
}

} // namespace

bool WritePackageFile(Package& package, std::string_view path, const ProgressCallback& progress, std::string& failure) {
    failure.clear();
    // A message left by an earlier operation must not be taken for this write's cause.
    package.TakeLastError();
    if (package.Write(platform::FromAnsi(path).c_str(), progress)) {
        return true;
    }
    if (package.GetCount() > 0) {
        // Without a message of its own the writer could not create the file itself.
        std::u16string cause(package.TakeLastError());
        failure = CannotWriteText(path, cause.empty() ? "The file cannot be created." : platform::ToAnsi(cause));
    }
    return false;
}

void MakeInstallerFile(Package& package, const InstallerBuild& build, InstallerBuildHost& host,
                       const ProgressCallback& progress) {
    const std::string savedFolder = host.CurrentFolder();
    // The template and the build command's program are both looked for in the program folder. For
    // a program in a drive's root that folder reads "C:", which as a current folder would mean the
    // drive's current folder rather than its root.
    std::string folderToEnter = build.programFolder;
    if (!folderToEnter.empty() && folderToEnter.back() == ':') {
        folderToEnter += '\\';
    }
    host.SetCurrentFolder(folderToEnter);

    std::string temporary = build.programFolder;
    temporary.append("\\").append(kTemporaryPackageName);
    const std::u16string temporaryWide = platform::FromAnsi(temporary);
    // A package left behind by an earlier run must not go into this installer when this run
    // writes none.
    platform::RemoveFile(temporaryWide);
    std::string failure;
    if (!WritePackageFile(package, temporary, progress, failure) && !failure.empty()) {
        host.ShowError(failure);
    }

    if (!package.MakeInstaller(platform::FromAnsi(kTemplateName).c_str(), temporaryWide.c_str(),
                               platform::FromAnsi(build.target).c_str(), host.Patcher())) {
        host.ShowError(kCannotMakeInstallerText);
    }
    StoreSidebar(package, build, host);
    platform::RemoveFile(temporaryWide);
    RunBuildCommand(build, host);
    host.SetCurrentFolder(savedFolder);
}

} // namespace building
