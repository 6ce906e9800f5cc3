// The one owner of a Win32 kernel handle held for a moment by the Windows half of the platform
// layer (a file opened to be looked at, a started process and its thread), so that no early
// return leaks one. Windows only; the objects that keep a handle for their life (File,
// FolderHandle) release it from here when they take it over.
#pragma once

#include <windows.h>

#include <memory>

namespace platform {

struct KernelHandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};

// An owned handle; empty for nullptr and for INVALID_HANDLE_VALUE, which CreateFileW answers.
class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE handle = nullptr) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    HANDLE Get() const { return handle_.get(); }
    explicit operator bool() const { return handle_ != nullptr; }
    // Hands the handle to an owner that keeps it for its life.
    HANDLE Release() { return handle_.release(); }

private:
    std::unique_ptr<void, KernelHandleCloser> handle_;
};

} // namespace platform
