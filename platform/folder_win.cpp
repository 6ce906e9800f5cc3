// Win32 folder listing with the platform's enumeration.
#include "platform/folder.h"

#include <windows.h>

namespace platform {

bool ListFolder(std::u16string_view folder, std::vector<FolderItem>& items) {
    items.clear();
    std::wstring pattern(folder.begin(), folder.end());
    pattern += L"\\*.*";
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    do {
        FolderItem item;
        item.name.assign(found.cFileName, found.cFileName + wcslen(found.cFileName));
        item.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        items.push_back(std::move(item));
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return true;
}

bool IsFolderOrUnknown(std::u16string_view path) {
    std::wstring wide(path.begin(), path.end());
    return (GetFileAttributesW(wide.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace platform
