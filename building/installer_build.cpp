// The steps of the Create package and Create installer commands.
#include "building/installer_build.h"

#include "building/build_checks.h"
#include "building/build_command.h"
#include "package/installer_write.h"
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
    // Without a command there is nothing to run; expanded, it would be the installer's path alone,
    // and start the new installer on the developer's own computer.
    if (IsBlankCommand(road.BuildCommand())) {
        road.NothingToRun();
        return true;
    }
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

// What the window says when the checks before writing find problems: one message for all of
// them, each naming its file. A missing template alone keeps the message users know.
std::string ProblemsText(const std::vector<std::string>& lines) {
    std::string text = "The installer was not made; nothing was written.\n";
    for (const std::string& line : lines) {
        text.append("\n").append(line);
    }
    return text;
}

// The window's road: the checks, then the installer in one pass from the template in the program
// folder, each failure shown as it comes.
class WindowRoad final : public InstallerRoad {
public:
    WindowRoad(Package& package, const InstallerBuild& build, InstallerBuildHost& host, const ProgressCallback& progress)
        : package_(package), build_(build), host_(host), progress_(progress),
          templatePath_(platform::FromAnsi(build.programFolder + "\\" + std::string(kTemplateName))),
          target_(platform::FromAnsi(build.target)) {}

    bool GoesOnAfterFailure() const override { return true; }

    Error SidebarSize(const std::u16string& path, std::int32_t& width, std::int32_t& height) override {
        if (!host_.BitmapSize(platform::ToAnsi(path), width, height)) {
            return {ErrorCode::SidebarUnusable, platform::ToUtf8(path), "sidebar picture cannot be loaded", {}};
        }
        return {};
    }

    bool MakeInstaller(const std::u16string& sidebar) override {
        sidebar_ = sidebar;
        if (!Checked()) {
            return false;
        }
        Error error = Write(sidebar);
        // The picture loaded as a bitmap of the right size but cannot be stored: the installer
        // is still good with the template's own picture, as a failed store always left it.
        if (error.code == ErrorCode::Malformed && !sidebar.empty()) {
            sidebar_.clear();
            error = Write(sidebar_);
        }
        if (!error) {
            return true;
        }
        // A member that cannot be read keeps the package's own message; the others say what
        // happened to the target.
        std::string cause = error.code == ErrorCode::PackageFailed ? platform::ToAnsi(package_.LastError())
                                                                   : platform::ToAnsi(platform::ToUtf16(error.Text()));
        if (!cause.empty()) {
            host_.ShowError("The installer could not be written to \"" + build_.target + "\".\n" + cause);
        }
        host_.ShowError(kCannotMakeInstallerText);
        return false;
    }

    std::string BuildCommand() override { return build_.buildCommand; }
    std::string BuildCommandLine() override { return ExpandBuildCommand(build_.buildCommand, build_.target); }
    std::size_t LongestCommandLine() const override { return kLongestCommandLine; }

    platform::RunResult RunBuildCommand(const std::string& commandLine, int& status) override {
        // The window does not learn how the command went; a start that fails is not reported.
        host_.RunAndWait(commandLine, build_.programFolder);
        status = 0;
        return platform::RunResult::Finished;
    }

    void Report(const Error& error) override {
        bool sidebar = error.code == ErrorCode::SidebarUnusable || error.code == ErrorCode::SidebarWrongSize;
        host_.ShowError(sidebar ? kWrongSidebarText : error.message);
    }

private:
    // The package's members, the target looked at once more before it is replaced: it may have
    // become something else while the package was written.
    class Members final : public PackageMembersHost {
    public:
        Members(Package& package, const ProgressCallback& progress, WindowRoad& road)
            : PackageMembersHost(package, progress), road_(road) {}
        bool MayReplaceOutput() override { return !road_.OutputProblem(); }

    private:
        WindowRoad& road_;
    };

    Error OutputProblem() {
        return CheckOutput(target_, true, {{templatePath_, "the installer template"}, {sidebar_, "the sidebar picture"}},
                           &package_);
    }

    // Everything that would make the build fail or the installer never install, found before a
    // byte is written and told in one message.
    bool Checked() {
        std::vector<std::string> lines;
        Error templateProblem = CheckTemplate(templatePath_);
        if (templateProblem.code == ErrorCode::CannotOpen) {
            lines.emplace_back(kCannotMakeInstallerText);
        } else if (templateProblem) {
            lines.push_back(Ansi(templateProblem.subject + ": " + templateProblem.message));
        }
        if (Error output = OutputProblem()) {
            lines.push_back(Ansi(output.subject + ": " + output.message));
        }
        // An empty list has nothing to install; the write says so with the message users know.
        std::vector<InstallProblem> problems;
        if (package_.GetCount() > 0) {
            problems = InstallProblems(package_);
            for (InstallProblem& problem : CabinetProblems(package_.GetHeader(), package_.Entries(), {})) {
                problems.push_back(std::move(problem));
            }
        }
        for (const InstallProblem& problem : problems) {
            lines.push_back(Ansi(problem.families.empty() ? problem.cause
                                                          : "For " + problem.families + ": " + problem.cause));
        }
        if (lines.empty()) {
            return true;
        }
        host_.ShowError(lines.size() == 1 && templateProblem.code == ErrorCode::CannotOpen ? lines.front()
                                                                                            : ProblemsText(lines));
        return false;
    }

    Error Write(const std::u16string& sidebar) {
        package_.TakeLastError();
        Members members(package_, progress_, *this);
        return WriteInstaller({templatePath_, sidebar}, target_, members);
    }

    static std::string Ansi(const std::string& utf8) { return platform::ToAnsi(platform::ToUtf16(utf8)); }

    Package& package_;
    const InstallerBuild& build_;
    InstallerBuildHost& host_;
    const ProgressCallback& progress_;
    const std::u16string templatePath_;
    const std::u16string target_;
    std::u16string sidebar_;
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
    WindowRoad road(package, build, host, progress);
    BuildInstaller({platform::FromAnsi(build.sidebarPath), true}, road);
    host.SetCurrentFolder(savedFolder);
}

} // namespace building
