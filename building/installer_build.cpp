// The steps of the Create package and Create installer commands.
#include "building/installer_build.h"

#include "building/build_command.h"
#include "platform/file.h"
#include "platform/text.h"
#include "workspace/bitmap.h"

namespace building {

namespace {

constexpr const char* kBuildCommandSubject = "build command";

std::string CannotWriteText(std::string_view path, const std::string& cause) {
    std::string text = "The package could not be written to \"";
    text.append(path).append("\".\n").append(cause);
    return text;
}

std::string CommandTooLongText(const std::string& commandLine, std::size_t longest) {
    std::string text = "The build command was not run: with the installer's path in place of <filename> it is ";
    text.append(std::to_string(commandLine.size()))
        .append(" characters long, and at most ")
        .append(std::to_string(longest))
        .append(" can be started.\n")
        .append(commandLine);
    return text;
}

// Whether the picture can be stored; a picture of the wrong size is named with its size.
Error CheckSidebar(const std::u16string& path, InstallerRoad& road) {
    std::int32_t width = 0, height = 0;
    if (Error error = road.SidebarSize(path, width, height)) {
        return error;
    }
    if (width == workspace::kSidebarWidth && height == workspace::kSidebarHeight) {
        return {};
    }
    std::string message = "sidebar picture is ";
    message.append(std::to_string(width))
        .append(" x ")
        .append(std::to_string(height))
        .append(" pixels; it must be ")
        .append(std::to_string(workspace::kSidebarWidth))
        .append(" x ")
        .append(std::to_string(workspace::kSidebarHeight));
    return {ErrorCode::SidebarWrongSize, platform::ToUtf8(path), message, {}};
}

bool RunBuildCommand(InstallerRoad& road) {
    std::string commandLine = road.BuildCommandLine();
    // Cut to fit, the line would start a different command, or the right one on a wrong file.
    if (commandLine.size() > road.LongestCommandLine()) {
        road.Report({ErrorCode::CommandTooLong,
                     kBuildCommandSubject,
                     CommandTooLongText(commandLine, road.LongestCommandLine()),
                     {}});
        return false;
    }
    int status = 0;
    if (road.RunBuildCommand(commandLine, status) != platform::RunResult::Finished) {
        road.Report({ErrorCode::CommandNotStarted, kBuildCommandSubject, "cannot be started: " + commandLine, {}});
        return false;
    }
    if (status != 0) {
        std::string message = "exited with status ";
        message.append(std::to_string(status)).append(": ").append(commandLine);
        road.Report({ErrorCode::CommandFailed, kBuildCommandSubject, message, {}});
        return false;
    }
    return true;
}

// The window's road: a package file beside the template, a copy of the template, the package and
// then the picture stored into it one after the other, each failure shown as it comes.
class PackageFileRoad final : public InstallerRoad {
public:
    PackageFileRoad(Package& package, const InstallerBuild& build, InstallerBuildHost& host,
                    const ProgressCallback& progress)
        : package_(package), build_(build), host_(host), progress_(progress) {}

    bool GoesOnAfterFailure() const override { return true; }

    Error SidebarSize(const std::u16string& path, std::int32_t& width, std::int32_t& height) override {
        if (!host_.BitmapSize(platform::ToAnsi(path), width, height)) {
            return {ErrorCode::SidebarUnusable, platform::ToUtf8(path), "sidebar picture cannot be loaded", {}};
        }
        return {};
    }

    bool MakeInstaller(const std::u16string& sidebar) override {
        std::string temporary = build_.programFolder;
        temporary.append("\\").append(kTemporaryPackageName);
        const std::u16string temporaryWide = platform::FromAnsi(temporary);
        // A package left behind by an earlier run must not go into this installer when this run
        // writes none.
        platform::RemoveFile(temporaryWide);
        if (Error error = WritePackageFile(package_, temporary, progress_); !error.message.empty()) {
            host_.ShowError(error.message);
        }
        const std::u16string target = platform::FromAnsi(build_.target);
        bool made = package_.MakeInstaller(platform::FromAnsi(kTemplateName).c_str(), temporaryWide.c_str(),
                                           target.c_str(), host_.Patcher());
        if (!made) {
            host_.ShowError(kCannotMakeInstallerText);
        }
        // The store's own result is not looked at: the installer still works with the template's
        // picture.
        if (!sidebar.empty()) {
            package_.StoreBitmap(target.c_str(), sidebar.c_str(), pe::ResourceKey::Id(kSidebarResource),
                                 host_.Patcher());
        }
        platform::RemoveFile(temporaryWide);
        return made;
    }

    std::string BuildCommandLine() override { return ExpandBuildCommand(build_.buildCommand, build_.target); }
    std::size_t LongestCommandLine() const override { return kLongestCommandLine; }

    platform::RunResult RunBuildCommand(const std::string& commandLine, int& status) override {
        // The window does not learn how the command went; a start that fails is not reported.
        host_.RunAndWait(commandLine);
        status = 0;
        return platform::RunResult::Finished;
    }

    void Report(const Error& error) override {
        bool sidebar = error.code == ErrorCode::SidebarUnusable || error.code == ErrorCode::SidebarWrongSize;
        host_.ShowError(sidebar ? kWrongSidebarText : error.message);
    }

private:
    Package& package_;
    const InstallerBuild& build_;
    InstallerBuildHost& host_;
    const ProgressCallback& progress_;
};

} // namespace

Error WritePackageFile(Package& package, std::string_view path, const ProgressCallback& progress) {
    // A message left by an earlier operation must not be taken for this write's cause.
    package.TakeLastError();
    if (package.Write(platform::FromAnsi(path).c_str(), progress)) {
        return {};
    }
    if (package.GetCount() == 0) {
        return {ErrorCode::PackageFailed, std::string(path), {}, {}};
    }
    // Without a message of its own the writer could not create the file itself.
    std::u16string cause(package.TakeLastError());
    return {ErrorCode::PackageFailed,
            std::string(path),
            CannotWriteText(path, cause.empty() ? "The file cannot be created." : platform::ToAnsi(cause)),
            {}};
}

bool BuildInstaller(const InstallerJob& job, InstallerRoad& road) {
    // A picture that cannot be used is found before anything is written. The command line stops
    // there; the window says so after the package's own messages, where it stores the picture.
    std::u16string sidebar = job.sidebar.size() < kShortestSidebarPath ? std::u16string() : job.sidebar;
    Error sidebarError = sidebar.empty() ? Error() : CheckSidebar(sidebar, road);
    if (sidebarError) {
        if (!road.GoesOnAfterFailure()) {
            road.Report(sidebarError);
            return false;
        }
        sidebar.clear();
    }
    bool made = road.MakeInstaller(sidebar);
    if (!made && !road.GoesOnAfterFailure()) {
        return false;
    }
    if (sidebarError) {
        road.Report(sidebarError);
    }
    bool ran = !job.runBuildCommand || RunBuildCommand(road);
    return made && !sidebarError && ran;
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
    PackageFileRoad road(package, build, host, progress);
    BuildInstaller({platform::FromAnsi(build.sidebarPath), true}, road);
    host.SetCurrentFolder(savedFolder);
}

} // namespace building
