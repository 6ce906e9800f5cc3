// Win32 resource updates and the shell's silent copy.
#include "platform/resource_update.h"

#include <string>
#include <windows.h>
// after windows.h, which it builds on
#include <shellapi.h>

namespace platform {
namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

} // namespace

bool ShellCopyFile(std::u16string_view from, std::u16string_view to) {
    // The shell takes lists of paths, each ended by a NUL, the list by a second one.
    std::wstring source = Wide(from) + L'\0';
    std::wstring target = Wide(to) + L'\0';
    SHFILEOPSTRUCTW op{};
    // The shell asks before it replaces a file. Its question belongs to the program's top window,
    // which it disables meanwhile, so the window cannot start another build under the open question.
    HWND active = GetActiveWindow();
    op.hwnd = active ? GetAncestor(active, GA_ROOTOWNER) : nullptr;
    op.wFunc = FO_COPY;
    op.pFrom = source.c_str();
    op.pTo = target.c_str();
    op.fFlags = FOF_SILENT;
    return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

ResourceUpdater::~ResourceUpdater() {
    if (handle_) {
        EndUpdateResourceW(handle_, TRUE);
    }
}

bool ResourceUpdater::Begin(std::u16string_view executable) {
    handle_ = BeginUpdateResourceW(Wide(executable).c_str(), FALSE);
    return handle_ != nullptr;
}

bool ResourceUpdater::Update(ResourceName type, ResourceName name, std::uint16_t language, const void* data,
                             std::uint32_t size) {
    std::wstring typeText = Wide(type.text);
    std::wstring nameText = Wide(name.text);
    LPCWSTR typeId = type.text.empty() ? MAKEINTRESOURCEW(type.id) : typeText.c_str();
    LPCWSTR nameId = name.text.empty() ? MAKEINTRESOURCEW(name.id) : nameText.c_str();
    return handle_ && UpdateResourceW(handle_, typeId, nameId, language, const_cast<void*>(data), size) != 0;
}

bool ResourceUpdater::Commit() {
    if (!handle_) {
        return false;
    }
    bool ok = EndUpdateResourceW(handle_, FALSE) != 0;
    handle_ = nullptr;
    return ok;
}

} // namespace platform
