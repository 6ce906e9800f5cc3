// Finding and starting the Application Manager, and the connection library's calls.
#include "template/desktop_win.h"

#include "platform/handle_win.h"
#include "platform/text.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdio>

namespace installer_template {
namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::u16string Narrow(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

bool IsFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring FolderOf(std::wstring_view path) {
    std::size_t slash = path.find_last_of(L"\\/");
    return std::wstring(slash == std::wstring_view::npos ? std::wstring_view() : path.substr(0, slash));
}

// The path registered under the App Paths key: its default value, which may be quoted or hold
// %variables% (REG_EXPAND_SZ).
std::wstring RegisteredAppManager() {
    HKEY key = nullptr;
    // A 32-bit installer reads the 32-bit view, where the desktop software registers it for
    // programs like this one.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAppMgr.exe", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
        return {};
    }
    DWORD type = 0;
    DWORD size = 0;
    std::wstring value;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0 && size < 64 * 1024) {
        value.resize(size / sizeof(wchar_t) + 1);
        DWORD got = size;
        if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &got) !=
            ERROR_SUCCESS) {
            value.clear();
        }
        value.resize(wcsnlen(value.c_str(), value.size()));
    }
    RegCloseKey(key);
    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"') {
        value = value.substr(1, value.size() - 2);
    }
    if (type == REG_EXPAND_SZ && !value.empty()) {
        std::wstring expanded(32768, L'\0');
        DWORD length = ExpandEnvironmentStringsW(value.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
        value = length == 0 || length > expanded.size() ? std::wstring() : expanded.substr(0, length - 1);
    }
    return value;
}

// Whether a new file can be made in `folder`: the folder of a program installed for all users
// is often not writable by the user running Setup.
bool CanWriteIn(const std::wstring& folder) {
    std::wstring probe = folder + L"\\~setup-probe-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

// The system's words for an error number: the device's numbers are Windows' own.
std::string ErrorText(DWORD code) {
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring words(text ? text : L"", length);
    LocalFree(text);
    while (!words.empty() && (words.back() == L'\r' || words.back() == L'\n' || words.back() == L' ' ||
                              words.back() == L'.')) {
        words.pop_back();
    }
    return platform::ToUtf8(Narrow(words));
}

std::string Hex(HRESULT value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

// The connection library's calls, as documented for the desktop.
struct RapiInit {
    DWORD cbSize;
    HANDLE heRapiInit;
    HRESULT hrRapiInit;
};
using InitEx = HRESULT(WINAPI*)(RapiInit*);
using Uninit = HRESULT(WINAPI*)();
using GetSystemInfoCall = void(WINAPI*)(SYSTEM_INFO*);
using CreateDirectoryCall = BOOL(WINAPI*)(LPCWSTR, LPSECURITY_ATTRIBUTES);
using CreateFileCall = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using WriteFileCall = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
using CloseHandleCall = BOOL(WINAPI*)(HANDLE);
using CreateProcessCall = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                        LPVOID, LPWSTR, LPVOID, LPPROCESS_INFORMATION);
using GetFileAttributesCall = DWORD(WINAPI*)(LPCWSTR);
using DeleteFileCall = BOOL(WINAPI*)(LPCWSTR);
using GetLastErrorCall = DWORD(WINAPI*)();
using GetErrorCall = HRESULT(WINAPI*)();

struct RapiCalls {
    InitEx initEx = nullptr;
    Uninit uninit = nullptr;
    GetSystemInfoCall getSystemInfo = nullptr;
    CreateDirectoryCall createDirectory = nullptr;
    CreateFileCall createFile = nullptr;
    WriteFileCall writeFile = nullptr;
    CloseHandleCall closeHandle = nullptr;
    CreateProcessCall createProcess = nullptr;
    GetFileAttributesCall getFileAttributes = nullptr; // these four may be missing
    DeleteFileCall deleteFile = nullptr;
    GetLastErrorCall getLastError = nullptr;
    GetErrorCall getError = nullptr;

    DWORD DeviceError() const { return getLastError ? getLastError() : 0; }
    HRESULT LinkError() const { return getError ? getError() : S_OK; }
};

template <typename Call> bool Find(HMODULE module, const char* name, Call& call) {
    call = reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return call != nullptr;
}

class RapiSession : public DeviceSession {
public:
    explicit RapiSession(const RapiCalls& calls) : calls_(calls) {}
    ~RapiSession() override {
        if (file_ != INVALID_HANDLE_VALUE) {
            calls_.closeHandle(file_);
        }
        calls_.uninit();
    }

    bool Processor(std::uint16_t& architecture, std::uint32_t& type, Error& error) override {
        // The call answers nothing of its own; a failure shows as the link's error or as nothing
        // filled in.
        SYSTEM_INFO info{};
        info.wProcessorArchitecture = 0xFFFF;
        info.dwProcessorType = 0xFFFFFFFF;
        calls_.getSystemInfo(&info);
        if (FAILED(calls_.LinkError()) || (info.wProcessorArchitecture == 0xFFFF && info.dwProcessorType == 0xFFFFFFFF)) {
            // Only the link's error: the device's would be left from an earlier call.
            HRESULT linkError = calls_.LinkError();
            error = Refusal("the device did not tell its processor" +
                            (FAILED(linkError) ? " (the connection failed: " + Hex(linkError) + ")" : std::string()));
            return false;
        }
        architecture = info.wProcessorArchitecture;
        type = info.dwProcessorType;
        return true;
    }

    bool MakeFolder(std::u16string_view path, Error& error) override {
        std::wstring wide = Wide(path);
        if (calls_.createDirectory(wide.c_str(), nullptr)) {
            return true;
        }
        DWORD why = calls_.DeviceError();
        if (why == ERROR_ALREADY_EXISTS || why == ERROR_FILE_EXISTS) {
            return true;
        }
        if (calls_.getFileAttributes) {
            DWORD attributes = calls_.getFileAttributes(wide.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                return true;
            }
        }
        error = Failure("the folder cannot be made on the device", path);
        return false;
    }

    bool MakeFile(std::u16string_view path, Error& error) override {
        file_ = calls_.createFile(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file_ == INVALID_HANDLE_VALUE || file_ == nullptr) {
            file_ = INVALID_HANDLE_VALUE;
            error = Failure("the file cannot be made on the device", path);
            return false;
        }
        path_ = path;
        return true;
    }

    bool Write(std::span<const std::uint8_t> block, std::uint32_t& taken, Error& error) override {
        DWORD written = 0;
        if (!calls_.writeFile(file_, block.data(), static_cast<DWORD>(block.size()), &written, nullptr)) {
            error = Failure("the file cannot be written on the device", path_);
            return false;
        }
        taken = static_cast<std::uint32_t>(std::min<std::size_t>(written, block.size()));
        return true;
    }

    bool CloseFile(Error& error) override {
        HANDLE file = file_;
        file_ = INVALID_HANDLE_VALUE;
        if (!calls_.closeHandle(file)) {
            error = Failure("the file cannot be finished on the device", path_);
            return false;
        }
        return true;
    }

    void RemoveFile(std::u16string_view path) override {
        if (calls_.deleteFile) {
            calls_.deleteFile(Wide(path).c_str());
        }
    }

    bool StartProgram(std::u16string_view program, std::u16string_view arguments, Error& error) override {
        PROCESS_INFORMATION started{};
        if (!calls_.createProcess(Wide(program).c_str(), Wide(arguments).c_str(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, nullptr, &started)) {
            error = Failure("the device's installer cannot be started", program);
            return false;
        }
        for (HANDLE handle : {started.hThread, started.hProcess}) {
            if (handle && handle != INVALID_HANDLE_VALUE) {
                calls_.closeHandle(handle);
            }
        }
        return true;
    }

private:
    // What went wrong, with the device's error and, where the link failed, the connection's.
    Error Failure(const std::string& what, std::u16string_view path) {
        DWORD deviceError = calls_.DeviceError();
        HRESULT linkError = calls_.LinkError();
        std::string message = what;
        if (FAILED(linkError)) {
            message += " (the connection failed: " + Hex(linkError) + ")";
        } else if (deviceError != 0) {
            message += " (the device's error " + std::to_string(deviceError) + ": " + ErrorText(deviceError) + ")";
        }
        Error error = Refusal(message);
        error.subject = platform::ToUtf8(path);
        return error;
    }

    RapiCalls calls_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::u16string path_;
};

} // namespace

class RapiLibrary : public DeviceLink {
public:
    ~RapiLibrary() override {
        if (module_) {
            FreeLibrary(module_);
        }
    }

    // Null when the system folder holds no connection library or one without the calls.
    static std::unique_ptr<RapiLibrary> Load() {
        // Never by name alone: the installer runs from a download folder, where a file planted
        // under the library's name would be found first.
        wchar_t system[MAX_PATH] = {};
        UINT length = GetSystemDirectoryW(system, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return nullptr;
        }
        std::wstring path = std::wstring(system, length) + L"\\rapi.dll";
        if (!IsFile(path)) {
            return nullptr;
        }
        // Its own dependencies are looked for beside it, in the system folder, not beside Setup.
        HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!module) {
            return nullptr;
        }
        std::unique_ptr<RapiLibrary> library(new RapiLibrary(module));
        RapiCalls& c = library->calls_;
        if (!Find(module, "CeRapiInitEx", c.initEx) || !Find(module, "CeRapiUninit", c.uninit) ||
            !Find(module, "CeGetSystemInfo", c.getSystemInfo) || !Find(module, "CeCreateDirectory", c.createDirectory) ||
            !Find(module, "CeCreateFile", c.createFile) || !Find(module, "CeWriteFile", c.writeFile) ||
            !Find(module, "CeCloseHandle", c.closeHandle) || !Find(module, "CeCreateProcess", c.createProcess)) {
            return nullptr;
        }
        // Only for telling what went wrong and tidying up: a library without them still copies
        // and starts.
        Find(module, "CeGetLastError", c.getLastError);
        Find(module, "CeDeleteFile", c.deleteFile);
        Find(module, "CeRapiGetError", c.getError);
        Find(module, "CeGetFileAttributes", c.getFileAttributes);
        return library;
    }

    Connection Connect(unsigned milliseconds, std::unique_ptr<DeviceSession>& session, Error& error) override {
        session.reset();
        RapiInit init{sizeof init, nullptr, E_FAIL};
        HRESULT started = calls_.initEx(&init);
        if (FAILED(started)) {
            error = Refusal("the connection to the device cannot be started (" + Hex(started) + ")");
            // Undone on every road, as the library asks.
            calls_.uninit();
            return Connection::Failed;
        }
        // The library signals the event once a device answers; with none connected it never does.
        if (!init.heRapiInit || !WaitAnswering(init.heRapiInit, milliseconds)) {
            calls_.uninit();
            return Connection::NoDevice;
        }
        if (FAILED(init.hrRapiInit)) {
            calls_.uninit();
            error = Refusal("the device did not take the connection (" + Hex(init.hrRapiInit) + ")");
            return Connection::Failed;
        }
        session = std::make_unique<RapiSession>(calls_);
        return Connection::Connected;
    }

private:
    explicit RapiLibrary(HMODULE module) : module_(module) {}
    HMODULE module_ = nullptr;
    RapiCalls calls_;
};

bool WaitAnswering(HANDLE object, DWORD milliseconds) {
    ULONGLONG start = GetTickCount64();
    for (;;) {
        DWORD left = INFINITE;
        if (milliseconds != INFINITE) {
            ULONGLONG spent = GetTickCount64() - start;
            if (spent >= milliseconds) {
                return WaitForSingleObject(object, 0) == WAIT_OBJECT_0;
            }
            left = static_cast<DWORD>(milliseconds - spent);
        }
        DWORD woken = MsgWaitForMultipleObjects(1, &object, FALSE, left, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0) {
            return true;
        }
        if (woken != WAIT_OBJECT_0 + 1) {
            return woken == WAIT_TIMEOUT ? false : WaitForSingleObject(object, milliseconds) == WAIT_OBJECT_0;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // Left for the loop that owns the thread.
                PostQuitMessage(static_cast<int>(message.wParam));
                return WaitForSingleObject(object, milliseconds == INFINITE ? INFINITE : 0) == WAIT_OBJECT_0;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

WindowsDesktop::WindowsDesktop() = default;
WindowsDesktop::~WindowsDesktop() = default;

std::u16string WindowsDesktop::AppManager() {
    std::wstring registered = RegisteredAppManager();
    if (!registered.empty() && IsFile(registered)) {
        return Narrow(registered);
    }
    // Where Windows Mobile Device Center puts it, should the key be missing or empty.
    wchar_t windows[MAX_PATH] = {};
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    std::wstring fallback = std::wstring(windows, length) + L"\\WindowsMobile\\CEAppMgr.exe";
    return IsFile(fallback) ? Narrow(fallback) : std::u16string();
}

std::u16string WindowsDesktop::AppManagerFolder(std::u16string_view appManager, std::u16string_view stem) {
    std::wstring beside = FolderOf(Wide(appManager));
    std::wstring folder = beside + L"\\" + Wide(stem);
    DWORD attributes = GetFileAttributesW(folder.c_str());
    bool isFolder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!beside.empty() && (isFolder ? CanWriteIn(folder) : attributes == INVALID_FILE_ATTRIBUTES && CanWriteIn(beside))) {
        return Narrow(folder);
    }
    wchar_t local[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local))) {
        return Narrow(folder);
    }
    return Narrow(std::wstring(local) + L"\\" + Wide(stem));
}

bool WindowsDesktop::RunAppManager(std::u16string_view appManager, std::u16string_view ini, std::uint32_t& exitCode,
                                   Error& error) {
    std::wstring program = Wide(appManager);
    std::wstring line = L"\"" + program + L"\" \"" + Wide(ini) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // Started from its own folder, as the desktop software starts it.
    std::wstring folder = FolderOf(program);
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &started)) {
        error = SystemError(ErrorCode::CommandNotStarted, platform::ToUtf8(appManager), "cannot be started");
        return false;
    }
    platform::UniqueHandle process(started.hProcess);
    platform::UniqueHandle thread(started.hThread);
    // It may ask the user before it installs; the files stay, so waiting has no limit.
    WaitAnswering(process.Get(), INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.Get(), &code)) {
        error = SystemError(ErrorCode::CommandFailed, platform::ToUtf8(appManager), "gave no exit status");
        return false;
    }
    exitCode = code;
    return true;
}

DeviceLink* WindowsDesktop::Link() {
    if (!linkLooked_) {
        linkLooked_ = true;
        link_ = RapiLibrary::Load();
    }
    return link_.get();
}

std::u16string WindowsDesktop::TemporaryFolder() {
    wchar_t temporary[MAX_PATH + 1] = {};
    DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
    std::wstring path(temporary, length > MAX_PATH ? 0 : length);
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) {
        path.pop_back();
    }
    return Narrow(path);
}

} // namespace installer_template
