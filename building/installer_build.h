// The two commands that write the workspace's package: the package data file on its own, and the
// installer, a copy of the template carrying the package and the sidebar bitmap, followed by the
// build command. The steps and their order live here; what only the platform can do (the current
// folder, loading a bitmap, starting a process, a message box) is asked of a host, so that the
// main window and the tests run the same sequence.
#pragma once

#include "package/installer.h"
#include "package/package.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace building {

inline constexpr std::string_view kTemplateName = "Template.exe";
inline constexpr std::string_view kTemporaryPackageName = "temp.dat";
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

// Writes the package to `path` (8-bit text in the user interface's code page). Answers false with
// the message for the user when a package with members could not be written; an empty file list
// answers false with no message, as there is nothing to report.
bool WritePackageFile(Package& package, std::string_view path, const ProgressCallback& progress, std::string& failure);

// What an installer build needs of the platform. All texts are in the user interface's code page.
class InstallerBuildHost {
public:
    virtual ~InstallerBuildHost() = default;
    virtual std::string CurrentFolder() = 0;
    virtual bool SetCurrentFolder(const std::string& folder) = 0;
    // The size of the bitmap file as the platform loads it; false when it does not load as one.
    virtual bool BitmapSize(const std::string& path, std::int32_t& width, std::int32_t& height) = 0;
    virtual InstallerPatcher& Patcher() = 0;
    // Starts the command line with the program folder current and waits for it without a time
    // limit; a start that fails is not reported.
    virtual void RunAndWait(const std::string& commandLine) = 0;
    // A message box with the caption "Error" and an OK button, owned by the main window.
    virtual void ShowError(const std::string& text) = 0;
};

struct InstallerBuild {
    std::string target;        // the installer to make, its extension already given
    std::string programFolder; // without a trailing backslash
    std::string sidebarPath;
    std::string buildCommand;
};

// Everything from making the program folder current to restoring the folder that was current
// before. A failed step is reported and the later steps still run, the build command included, so
// that the user sees every problem of one build at once.
void MakeInstallerFile(Package& package, const InstallerBuild& build, InstallerBuildHost& host,
                       const ProgressCallback& progress);

} // namespace building
