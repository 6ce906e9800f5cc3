// The two commands that write the workspace's package: the package data file on its own, and the
// installer, a copy of the template carrying the package and the sidebar bitmap, followed by the
// build command. BuildInstaller is the one sequence both front ends follow; what differs (where
// the package goes on its way into the installer, how messages are shown, how the command is
// started) is asked of an InstallerRoad. Both write the installer in one pass (WriteInstaller):
// the template read where it lies, the package and the picture written into the new file, which
// takes the target's name only when complete.
#pragma once

#include "package/package.h"
#include "platform/error.h"
#include "platform/process.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace building {

inline constexpr std::string_view kTemplateName = "Template.exe";
inline constexpr std::string_view kDataFileExtension = ".DAT";
inline constexpr std::string_view kInstallerExtension = ".exe";
// The longest command line the build command may expand to; the platform's start takes it from a
// buffer of 260 characters.
inline constexpr std::size_t kLongestCommandLine = 259;
// A sidebar setting this short names no real file and is passed over without a word.
inline constexpr std::size_t kShortestSidebarPath = 5;
inline constexpr std::uint16_t kSidebarResource = 251;

inline constexpr const char* kErrorCaption = "Error";
inline constexpr const char* kCannotMakeInstallerText =
    "Unable to create Install file, be sure the \n \"Template.exe\" files is in same directory as the \"Tarvelo.exe\"";
inline constexpr const char* kWrongSidebarText =
    "The bitmap you provided for your installer is not the correct size. It must be 128 pixels wide and 280 pixels "
    "tall. The installer will use the default bitmap";

// Writes the package to `path` (8-bit text in the user interface's code page). The error's message
// is for the user, in the same code page; an empty file list fails with no message, as there is
// nothing to report.
Error WritePackageFile(Package& package, std::string_view path, const ProgressCallback& progress);

// What differs between the front ends while an installer is built.
class InstallerRoad {
public:
    virtual ~InstallerRoad() = default;
    // The window reports a failed step and takes the next, so that the user sees every problem of
    // one build at once; the command line stops at the first.
    virtual bool GoesOnAfterFailure() const = 0;
    // The size of the picture as the host loads it, or why it does not load.
    virtual Error SidebarSize(const std::u16string& path, std::int32_t& width, std::int32_t& height) = 0;
    // Makes the installer carrying the package, and the picture when `sidebar` is not empty;
    // reports its own failures. False when the installer was not made.
    virtual bool MakeInstaller(const std::u16string& sidebar) = 0;
    // The build command as the workspace holds it, and with the installer's path in place of
    // <filename>, in the host's encoding. A blank command runs nothing.
    virtual std::string BuildCommand() = 0;
    virtual std::string BuildCommandLine() = 0;
    virtual std::size_t LongestCommandLine() const { return std::string::npos; }
    virtual platform::RunResult RunBuildCommand(const std::string& commandLine, int& status) = 0;
    // Told when the build command is blank and nothing was run.
    virtual void NothingToRun() {}
    virtual void Report(const Error& error) = 0;
};

struct InstallerJob {
    std::u16string sidebar; // as the workspace names it; a path shorter than kShortestSidebarPath names none
    bool runBuildCommand = true;
};

// Checks the picture, makes the installer, then runs the build command. True when every step
// succeeded.
bool BuildInstaller(const InstallerJob& job, InstallerRoad& road);

// What an installer build needs of the platform. All texts are in the user interface's code page.
class InstallerBuildHost {
public:
    virtual ~InstallerBuildHost() = default;
    virtual std::string CurrentFolder() = 0;
    virtual bool SetCurrentFolder(const std::string& folder) = 0;
    // The size of the bitmap file as the platform loads it; false when it does not load as one.
    virtual bool BitmapSize(const std::string& path, std::int32_t& width, std::int32_t& height) = 0;
    // Starts the command line in `folder` and waits for it without a time limit; a start that
    // fails is not reported.
    virtual void RunAndWait(const std::string& commandLine, const std::string& folder) = 0;
    // A message box with the caption "Error" and an OK button, owned by the main window.
    virtual void ShowError(const std::string& text) = 0;
};

struct InstallerBuild {
    std::string target;        // the installer to make, its extension already given
    std::string programFolder; // without a trailing backslash
    std::string sidebarPath;
    std::string buildCommand;
};

// The window's build, from making the program folder current to restoring the folder that was
// current before. Before anything is written the template, the target and the install plan are
// checked, and every problem is shown in one message; then the installer is written in one pass
// from the template in the program folder. A failed step is reported and the later steps still
// run, the build command included; nothing is ever written into the program folder.
void MakeInstallerFile(Package& package, const InstallerBuild& build, InstallerBuildHost& host,
                       const ProgressCallback& progress);

} // namespace building
