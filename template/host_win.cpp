// Message boxes, standard error, the documents folder and the wizard, as the installer uses them.
#include "template/host_win.h"

#include "platform/text.h"
#include "template/wizard.h"

#include <windows.h>
// after windows.h, which they build on
#include <commctrl.h>
#include <shlobj.h>

namespace setup {
namespace {

std::wstring Wide(const std::string& utf8) {
    std::u16string text = platform::ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

// A program of the windows subsystem has a standard error only when its starter gave it one (a
// script redirecting it does); started from a console, it borrows the console of its parent.
HANDLE ErrorStream() {
    HANDLE stream = GetStdHandle(STD_ERROR_HANDLE);
    if (stream && stream != INVALID_HANDLE_VALUE) {
        return stream;
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) {
        return nullptr;
    }
    stream =
        CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    return stream == INVALID_HANDLE_VALUE ? nullptr : stream;
}

} // namespace

void WindowsHost::ShowError(const std::string& text) {
    MessageBoxW(nullptr, Wide(text).c_str(), L"Setup", MB_OK | MB_ICONERROR);
}

void WindowsHost::PrintError(const std::string& line) {
    HANDLE stream = ErrorStream();
    if (!stream) {
        return;
    }
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::u16string WindowsHost::DefaultDestination() {
    wchar_t documents[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents))) {
        return u"Tarvelo Device";
    }
    std::wstring path = std::wstring(documents) + L"\\Tarvelo Device";
    return std::u16string(path.begin(), path.end());
}

int WindowsHost::RunWizard(Package& package, const Options& options) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    CWizard wizard(package, options, DefaultDestination());
    return wizard.Run(nullptr);
}

} // namespace setup
