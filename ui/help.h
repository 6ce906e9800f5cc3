// The help file that lies beside the program, and the platform's HTML Help viewer that shows it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace ui {

inline constexpr const wchar_t* kHelpFileName = L"TarveloHelp.chm";
// HTML Help's command for the index page (HH_DISPLAY_INDEX); htmlhelp.h is not always at hand.
inline constexpr UINT kHelpDisplayIndex = 2;

// The help file of an executable: its folder (the path up to its last backslash, or the whole
// path when it has none) and "\TarveloHelp.chm".
std::wstring HelpFilePathFor(std::wstring_view executablePath);

// The help file beside the running program.
std::wstring HelpFilePath();

using HtmlHelpFunction = HWND(WINAPI*)(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data);

// HtmlHelpW of the library at `libraryPath`; null when the library or the function is missing.
HtmlHelpFunction FindHtmlHelp(const wchar_t* libraryPath);

// How the help is shown. The default finds HtmlHelpW in the system's hhctrl.ocx the first time it
// is needed and does nothing, silently, where there is none. Tests put their own in its place;
// nullptr brings the default back. Answers the viewer it replaced.
using HelpViewer = HtmlHelpFunction;
HelpViewer SetHelpViewer(HelpViewer viewer);

// Opens the index of the help file beside the program, on behalf of `caller`. Whatever goes wrong
// is left to the viewer to report.
void OpenHelpIndex(HWND caller);

} // namespace ui
