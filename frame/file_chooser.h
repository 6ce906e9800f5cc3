// The platform's open and save file choosers, filled in one way for every window that asks for a
// file: the first filter selected, a buffer of MAX_PATH characters that starts empty, no initial
// folder, title or default extension. The window keeps the call itself overridable, so that
// tests answer the chooser instead of a person.
#pragma once

#include <windows.h>
// after windows.h, which it builds on
#include <commdlg.h>

#include <functional>
#include <string>

namespace ui {

// Shows the request: GetSaveFileNameA when `save`, else GetOpenFileNameA.
BOOL ShowFileChooser(OPENFILENAMEA& request, bool save);

// What a window's overridable chooser call looks like.
using FileChooserCall = std::function<BOOL(OPENFILENAMEA& request, bool save)>;

// Asks through `run` for a file; `filter` is description and pattern pairs ended by a second NUL.
// The chosen path, or empty when the chooser was cancelled (any answer but 1 counts as cancel).
std::string ChooseFile(const FileChooserCall& run, HWND owner, const char* filter, DWORD flags, bool save);

} // namespace ui
