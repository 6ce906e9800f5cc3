// The help file's path and the HTML Help viewer, looked up only when the user first asks for help
// so that a system without it costs nothing at start-up.
#include "ui/help.h"

#include "workspace/paths.h"

#include <vector>

namespace ui {

namespace {

// The viewer control is taken from the system folder by its full path: a file of the same name
// beside the program or in the current folder must never be loaded in its place.
std::wstring SystemLibraryPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return std::wstring(folder, length) + L"\\" + name;
}

HWND WINAPI SystemViewer(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data) {
    static bool searched = false;
    static HtmlHelpFunction htmlHelp = nullptr;
    if (!searched) {
        searched = true;
        std::wstring library = SystemLibraryPath(L"hhctrl.ocx");
        htmlHelp = library.empty() ? nullptr : FindHtmlHelp(library.c_str());
    }
    return htmlHelp ? htmlHelp(caller, file, command, data) : nullptr;
}

HelpViewer viewer = SystemViewer;

} // namespace

std::wstring HelpFilePathFor(std::wstring_view executablePath) {
    return workspace::ParentPath(executablePath) + L"\\" + kHelpFileName;
}

// The executable's path may be longer than MAX_PATH; the buffer grows until it fits.
std::wstring HelpFilePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return HelpFilePathFor(L"");
        }
        if (length < buffer.size() || buffer.size() >= 32768) {
            return HelpFilePathFor(std::wstring_view(buffer.data(), length));
        }
        buffer.resize(buffer.size() * 2);
    }
}

HtmlHelpFunction FindHtmlHelp(const wchar_t* libraryPath) {
    HMODULE library = LoadLibraryW(libraryPath);
    if (!library) {
        return nullptr;
    }
    // The library stays loaded for the rest of the run, as the viewer's windows live in it.
    return reinterpret_cast<HtmlHelpFunction>(reinterpret_cast<void*>(GetProcAddress(library, "HtmlHelpW")));
}

HelpViewer SetHelpViewer(HelpViewer replacement) {
    HelpViewer previous = viewer;
    viewer = replacement ? replacement : SystemViewer;
    return previous;
}

void OpenHelpIndex(HWND caller) {
    std::wstring path = HelpFilePath();
    viewer(caller, path.c_str(), kHelpDisplayIndex, 0);
}

} // namespace ui
