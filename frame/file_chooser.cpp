// The common file choosers.
#include "frame/file_chooser.h"

namespace ui {

BOOL ShowFileChooser(OPENFILENAMEA& request, bool save) {
    return save ? GetSaveFileNameA(&request) : GetOpenFileNameA(&request);
}

std::string ChooseFile(const FileChooserCall& run, HWND owner, const char* filter, DWORD flags, bool save) {
    char path[MAX_PATH] = "";
    OPENFILENAMEA request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner;
    request.lpstrFilter = filter;
    request.nFilterIndex = 1;
    request.lpstrFile = path;
    request.nMaxFile = MAX_PATH;
    request.Flags = flags;
    if (run(request, save) != TRUE) {
        return {};
    }
    path[MAX_PATH - 1] = '\0';
    return path;
}

} // namespace ui
