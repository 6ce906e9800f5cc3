// Message boxes, the standard streams, the documents folder and the wizard, as the installer uses them.
#include "template/host_win.h"

#include "platform/text.h"
#include "template/wizard.h"

#include <windows.h>
// after windows.h, which they build on
#include <commctrl.h>
#include <shlobj.h>

namespace installer_template {
namespace {

std::wstring Wide(const std::string& utf8) {
    std::u16string text = platform::ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

// A program of the windows subsystem has standard streams only when its starter gave them (a
// script redirecting them does); started from a console, it borrows the console of its parent.
HANDLE ConsoleStream(DWORD which) {
    HANDLE stream = GetStdHandle(which);
    if (stream && stream != INVALID_HANDLE_VALUE) {
        return stream;
    }
    // Refused when this process has a console already, from a stream written before.
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED) {
        return nullptr;
    }
    stream =
        CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    return stream == INVALID_HANDLE_VALUE ? nullptr : stream;
}

// The text with CR LF line ends and one at its end, written whole.
void WriteLines(DWORD which, const std::string& text) {
    HANDLE stream = ConsoleStream(which);
    if (!stream) {
        return;
    }
    std::string lines;
    for (char c : text) {
        if (c == '\n') {
            lines += '\r';
        }
        lines += c;
    }
    lines.append("\r\n");
    DWORD written = 0;
    WriteFile(stream, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
}

} // namespace

void WindowsHost::ShowError(const std::string& text) {
    MessageBoxW(nullptr, Wide(text).c_str(), L"Setup", MB_OK | MB_ICONERROR);
}

void WindowsHost::PrintError(const std::string& line) { WriteLines(STD_ERROR_HANDLE, line); }

void WindowsHost::ShowInformation(const std::string& text) {
    MessageBoxW(nullptr, Wide(text).c_str(), L"Setup", MB_OK | MB_ICONINFORMATION);
}

void WindowsHost::PrintOutput(const std::string& text) { WriteLines(STD_OUTPUT_HANDLE, text); }

std::u16string WindowsHost::DocumentsFolder() {
    wchar_t documents[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents))) {
        return u".";
    }
    std::wstring path(documents);
    return std::u16string(path.begin(), path.end());
}

std::u16string WindowsHost::InstallerFile() {
    // Long enough for any path Windows gives a running program.
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) {
        return {};
    }
    return std::u16string(path.begin(), path.begin() + length);
}

int WindowsHost::RunWizard(Package& package, const Options& options) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    CWizard wizard(package, options, DocumentsFolder(), InstallerFile(), &desktop_);
    return wizard.Run(nullptr);
}

} // namespace installer_template
