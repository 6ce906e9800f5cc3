// Removing the files being written when the console stops the program. The console's handler runs
// on a thread of its own while the program goes on writing, so the list is guarded by a lock, and
// the files are deleted while still open: they were opened to allow it, and go when the process
// ends and closes them.
#include "platform/file.h"
#include "platform/folder.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>
#include <windows.h>

namespace platform {
namespace {

std::mutex lock;
std::vector<std::wstring>& Paths() {
    static std::vector<std::wstring> paths;
    return paths;
}

BOOL WINAPI RemoveAndGoOn(DWORD) {
    {
        std::lock_guard<std::mutex> guard(lock);
        for (const std::wstring& path : Paths()) {
            DeleteFileW(path.c_str());
        }
    }
    return FALSE; // the next handler, in the end the system's, ends the program as usual
}

} // namespace

File File::CreateTemporary(const FolderHandle& folder, std::u16string_view name, bool* nameTaken) {
    // The console's handler may run at any moment on its thread: the file is made and remembered
    // under the lock, so that it never exists unremembered.
    std::lock_guard<std::mutex> guard(lock);
    File file = folder.CreateNew(name, nameTaken);
    if (file.IsOpen()) {
        std::u16string path = folder.PathOf(name);
        Paths().emplace_back(path.begin(), path.end());
    }
    return file;
}

void ForgetOnInterrupt(std::u16string_view path) {
    std::wstring wide(path.begin(), path.end());
    std::lock_guard<std::mutex> guard(lock);
    auto found = std::find(Paths().begin(), Paths().end(), wide);
    if (found != Paths().end()) {
        Paths().erase(found);
    }
}

void CleanUpOnInterrupt() { SetConsoleCtrlHandler(RemoveAndGoOn, TRUE); }

} // namespace platform
