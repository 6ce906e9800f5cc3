// The main window's build commands: the package data file, the installer, the setup INF lines.
// The step order lives in building/; this file gives it the save dialog, the progress window and the
// platform's current folder, bitmap loader and process start.
#include "ui/main_window.h"

#include "building/installer_build.h"
#include "building/setup_inf.h"
#include "frame/file_chooser.h"
#include "platform/process.h"
#include "platform/text.h"
#include "ui/installer_settings.h"
#include "ui/progress_dialog.h"
#include "workspace/paths.h"

namespace ui {

// Create installer with the program folder given, so that a build can run in any folder; the
// command itself passes the folder of the running program.
void CreateInstallerIn(CMainWindow& window, const std::string& programFolder);

namespace {

constexpr char kDataFileFilter[] = "ORB Workspace Files (*.DAT)\0*.DAT\0All Files (*.*)\0*.*\0";
constexpr char kInstallerFilter[] = "Tarvelo Installer Files (*.exe)\0*.exe\0All Files (*.*)\0*.*\0";
// The folder must exist; no overwrite question, and the chooser leaves the current folder alone.
constexpr DWORD kSaveFlags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
constexpr DWORD kModulePathBuffer = 500;

// The file the user names in the save dialog; empty when the dialog was cancelled.
std::string ChooseTarget(CMainWindow& window, const char* filter) {
    return ChooseFile([&](OPENFILENAMEA& request, bool save) { return window.RunFileChooser(request, save); },
                      GetActiveWindow(), filter, kSaveFlags, true);
}

std::string RunningProgramFolder() {
    char path[kModulePathBuffer] = "";
    DWORD length = GetModuleFileNameA(nullptr, path, kModulePathBuffer);
    path[length < kModulePathBuffer ? length : kModulePathBuffer - 1] = '\0';
    return workspace::ParentPath(std::string_view(path));
}

// The platform's side of an installer build, with the main window as the owner of its messages.
class WindowBuildHost final : public building::InstallerBuildHost {
public:
    explicit WindowBuildHost(CMainWindow& window) : window_(window) {}

    std::string CurrentFolder() override {
        std::string folder(GetCurrentDirectoryA(0, nullptr), '\0');
        DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(folder.size()), folder.data());
        folder.resize(length < folder.size() ? length : 0);
        return folder;
    }

    bool SetCurrentFolder(const std::string& folder) override { return SetCurrentDirectoryA(folder.c_str()) != 0; }

    bool BitmapSize(const std::string& path, std::int32_t& width, std::int32_t& height) override {
        UniqueBitmap bitmap(
            static_cast<HBITMAP>(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE)));
        BITMAP info{};
        if (!bitmap || GetObjectA(bitmap.get(), sizeof info, &info) == 0) {
            return false;
        }
        width = info.bmWidth;
        height = info.bmHeight;
        return true;
    }

    void RunAndWait(const std::string& commandLine, const std::string& folder) override {
        int status = 0;
        platform::RunAndWait(platform::FromAnsi(commandLine), platform::FromAnsi(folder), status);
    }

    void ShowError(const std::string& text) override {
        window_.RunMessageBox(text.c_str(), building::kErrorCaption, MB_OK);
    }

private:
    CMainWindow& window_;
};

} // namespace

void CreateInstallerIn(CMainWindow& window, const std::string& programFolder) {
    std::string chosen = ChooseTarget(window, kInstallerFilter);
    if (chosen.empty()) {
        return;
    }
    building::InstallerBuild request;
    request.target = workspace::WithExtension(std::string_view(chosen), building::kInstallerExtension);
    progressDialog.Create(window.Window());
    progressDialog.Show();
    request.programFolder = programFolder;
    request.sidebarPath = window.settings.imagePath;
    request.buildCommand = window.settings.buildCommand;
    WindowBuildHost host(window);
    building::MakeInstallerFile(window.package, request, host, reportBuildProgress);
    progressDialog.DestroyWindow();
}

LRESULT CMainWindow::OnCreateDatFile(UINT, WPARAM, LPARAM) {
    std::string chosen = ChooseTarget(*this, kDataFileFilter);
    if (chosen.empty()) {
        return 0;
    }
    progressDialog.Create(Window());
    std::string target = workspace::WithExtension(std::string_view(chosen), building::kDataFileExtension);
    progressDialog.Show();
    Error error = building::WritePackageFile(package, target, reportBuildProgress);
    progressDialog.DestroyWindow();
    if (!error.message.empty()) {
        RunMessageBox(error.message.c_str(), building::kErrorCaption, MB_OK);
    }
    return 0;
}

LRESULT CMainWindow::OnCreateInstaller(UINT, WPARAM, LPARAM) {
    CreateInstallerIn(*this, RunningProgramFolder());
    return 0;
}

LRESULT CMainWindow::OnCreateCabwizInf(UINT, WPARAM, LPARAM) {
    infLines = building::SetupInfLines(static_cast<int>(SendMessageW(targetFolderCombo, CB_GETCURSEL, 0, 0)));
    return 0;
}

} // namespace ui
