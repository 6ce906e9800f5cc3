// A stand-in of the desktop's connection library to the device (rapi.dll), for the tests of the
// installer's way straight onto a connected device. The "device" is a folder of the PC, named by
// TARVELO_STANDIN_DEVICE: the device path \Temp\x.CAB is <folder>\Temp\x.CAB. Its processor comes
// from TARVELO_STANDIN_ARCH (a number or ARM, MIPS, SHX, INTEL) and TARVELO_STANDIN_PROCESSOR_TYPE.
// TARVELO_STANDIN_NO_DEVICE=1 plays the desktop with nothing connected: initialising succeeds but
// its event is never signalled, as the real library's is not until a device answers. Each call is
// logged, one line, to the file TARVELO_STANDIN_LOG names, so that a test sees what the installer
// asked of the device and in which order.
//
// It holds callers to what the real library demands: no call reaches the device before
// initialising, after uninitialising or while no device has answered; device paths are absolute;
// handles are checked. The device's errors are Win32 codes, as on the device.
#include "tests/standins/standin_common.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

extern "C" {

struct RAPIINIT {
    DWORD cbSize;
    HANDLE heRapiInit;
    HRESULT hrRapiInit;
};

struct CEOSVERSIONINFO {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
};

} // extern "C"

namespace {

// Found in the file's bytes by the tests' set-up, which removes only copies of its own from the
// system folder.
[[gnu::used]] const char kMarker[] = "Tarvelo test stand-in: rapi.dll";

constexpr HRESULT kAlreadyInitialised = static_cast<HRESULT>(0x80041001);
constexpr DWORD kPlatformCe = 3;

enum class Kind { File, Process, Thread };

struct Handle {
    Kind kind;
    HANDLE file = INVALID_HANDLE_VALUE; // a file's handle on the PC
};

// Everything a session holds, behind one lock: callers may use the library from several threads.
struct State {
    CRITICAL_SECTION lock;
    std::wstring log;
    std::wstring root;
    bool initialised = false;
    bool answered = false; // a device answered the initialisation
    HANDLE initEvent = nullptr;
    DWORD lastError = 0;
    HRESULT linkError = S_OK;
    std::map<std::uintptr_t, Handle> handles;
    std::uintptr_t nextHandle = 0x1000;
    DWORD nextId = 0x100;
};

State* state = nullptr;

class Locked {
public:
    Locked() { EnterCriticalSection(&state->lock); }
    ~Locked() { LeaveCriticalSection(&state->lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

void Log(const std::string& line) { standin::AppendLine(state->log, line); }

std::string Narrow(const wchar_t* text) { return text ? standin::Utf8(text) : std::string("(null)"); }

// Fails a call the way the device does: the device's error for CeGetLastError.
template <typename T> T DeviceFails(DWORD error, T answer) {
    state->lastError = error;
    return answer;
}

// Whether a call may reach the device now; if not, the link's error says why.
bool Connected() {
    if (!state->initialised) {
        state->linkError = E_UNEXPECTED;
        state->lastError = ERROR_NOT_READY;
        return false;
    }
    if (!state->answered) {
        state->linkError = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
        state->lastError = ERROR_DEVICE_NOT_CONNECTED;
        return false;
    }
    state->linkError = S_OK;
    return true;
}

// The PC file standing for an absolute device path, or empty (with the device's error set) for
// a path the device would not take. "." and "..", drive letters and slashes are refused, so
// nothing outside the folder is ever reached; without a folder the device has no files at all.
std::wstring PcPath(const wchar_t* devicePath) {
    if (!devicePath) {
        state->lastError = ERROR_INVALID_PARAMETER;
        return {};
    }
    std::wstring path(devicePath);
    if (state->root.empty() || path.empty() || path[0] != L'\\') {
        state->lastError = ERROR_PATH_NOT_FOUND;
        return {};
    }
    if (path.find_first_of(L"/:") != std::wstring::npos) {
        state->lastError = ERROR_INVALID_NAME;
        return {};
    }
    for (std::size_t start = 1; start <= path.size();) {
        std::size_t end = path.find(L'\\', start);
        std::wstring part = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (part == L"." || part == L"..") {
            state->lastError = ERROR_INVALID_NAME;
            return {};
        }
        start = end == std::wstring::npos ? path.size() + 1 : end + 1;
    }
    return state->root + path;
}

std::uintptr_t NewHandle(Kind kind, HANDLE file) {
    std::uintptr_t value = state->nextHandle;
    state->nextHandle += 4;
    state->handles[value] = {kind, file};
    return value;
}

Handle* Find(HANDLE h) {
    auto it = state->handles.find(reinterpret_cast<std::uintptr_t>(h));
    return it == state->handles.end() ? nullptr : &it->second;
}

WORD ArchitectureFromEnvironment() {
    std::wstring text = standin::Environment(L"TARVELO_STANDIN_ARCH");
    const std::pair<const wchar_t*, WORD> names[] = {{L"INTEL", 0}, {L"MIPS", 1}, {L"SHX", 4}, {L"ARM", 5}};
    for (const auto& [name, number] : names) {
        if (lstrcmpiW(text.c_str(), name) == 0) {
            return number;
        }
    }
    return static_cast<WORD>(standin::NumberOr(text, 5));
}

} // namespace

extern "C" {

HRESULT WINAPI CeRapiInitEx(RAPIINIT* init) {
    Locked locked;
    Log("init");
    if (!init || init->cbSize != sizeof(RAPIINIT)) {
        return E_INVALIDARG;
    }
    if (state->initialised) {
        return kAlreadyInitialised;
    }
    state->initialised = true;
    state->answered = standin::Environment(L"TARVELO_STANDIN_NO_DEVICE") != L"1";
    state->initEvent = CreateEventW(nullptr, TRUE, state->answered, nullptr);
    init->heRapiInit = state->initEvent;
    init->hrRapiInit = S_OK;
    state->linkError = S_OK;
    return S_OK;
}

// The blocking form waits for a device; with none it waits here for as long as a caller would
// plausibly bear, then gives up, rather than holding a test until its own time runs out.
HRESULT WINAPI CeRapiInit() {
    bool noDevice = false;
    {
        Locked locked;
        Log("init");
        if (state->initialised) {
            return kAlreadyInitialised;
        }
        noDevice = standin::Environment(L"TARVELO_STANDIN_NO_DEVICE") == L"1";
        if (!noDevice) {
            state->initialised = state->answered = true;
            return S_OK;
        }
    }
    Sleep(30000);
    return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
}

HRESULT WINAPI CeRapiUninit() {
    Locked locked;
    Log("uninit");
    if (!state->initialised) {
        return E_FAIL;
    }
    for (auto& [value, handle] : state->handles) {
        if (handle.kind == Kind::File) {
            CloseHandle(handle.file);
        }
    }
    state->handles.clear();
    if (state->initEvent) {
        CloseHandle(state->initEvent);
        state->initEvent = nullptr;
    }
    state->initialised = state->answered = false;
    return S_OK;
}

HRESULT WINAPI CeRapiGetError() {
    Locked locked;
    return state->linkError;
}

DWORD WINAPI CeGetLastError() {
    Locked locked;
    return state->lastError;
}

void WINAPI CeGetSystemInfo(LPSYSTEM_INFO info) {
    Locked locked;
    if (!Connected() || !info) {
        return;
    }
    ZeroMemory(info, sizeof *info);
    info->wProcessorArchitecture = ArchitectureFromEnvironment();
    info->dwProcessorType =
        static_cast<DWORD>(standin::NumberOr(standin::Environment(L"TARVELO_STANDIN_PROCESSOR_TYPE"), 2577));
    info->dwPageSize = 4096;
    info->dwNumberOfProcessors = 1;
    info->dwAllocationGranularity = 0x10000;
    info->dwActiveProcessorMask = 1;
}

BOOL WINAPI CeGetVersionEx(CEOSVERSIONINFO* version) {
    Locked locked;
    if (!Connected()) {
        return FALSE;
    }
    if (!version || version->dwOSVersionInfoSize != sizeof(CEOSVERSIONINFO)) {
        return DeviceFails(ERROR_INVALID_PARAMETER, FALSE);
    }
    *version = {sizeof(CEOSVERSIONINFO), 5, 1, 1700, kPlatformCe, {}};
    return TRUE;
}

BOOL WINAPI CeCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
    Locked locked;
    Log("mkdir " + Narrow(path));
    if (!Connected()) {
        return FALSE;
    }
    std::wstring pc = PcPath(path);
    if (pc.empty()) {
        return FALSE;
    }
    // Windows answers ERROR_ALREADY_EXISTS and ERROR_PATH_NOT_FOUND here, as the device does.
    return CreateDirectoryW(pc.c_str(), nullptr) ? TRUE : DeviceFails(GetLastError(), FALSE);
}

HANDLE WINAPI CeCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                           DWORD attributes, HANDLE templateFile) {
    Locked locked;
    Log("create " + Narrow(path));
    if (!Connected()) {
        return INVALID_HANDLE_VALUE;
    }
    std::wstring pc = PcPath(path);
    if (pc.empty()) {
        return INVALID_HANDLE_VALUE;
    }
    if (templateFile) {
        return DeviceFails(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    HANDLE file = CreateFileW(pc.c_str(), access, share, nullptr, disposition, attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return DeviceFails(GetLastError(), INVALID_HANDLE_VALUE);
    }
    return reinterpret_cast<HANDLE>(NewHandle(Kind::File, file));
}

BOOL WINAPI CeWriteFile(HANDLE h, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    Locked locked;
    Log("write " + std::to_string(size));
    if (!Connected()) {
        return FALSE;
    }
    Handle* handle = Find(h);
    if (!handle || handle->kind != Kind::File) {
        return DeviceFails(ERROR_INVALID_HANDLE, FALSE);
    }
    if (!written || overlapped || (!buffer && size)) {
        return DeviceFails(ERROR_INVALID_PARAMETER, FALSE);
    }
    return WriteFile(handle->file, buffer, size, written, nullptr) ? TRUE : DeviceFails(GetLastError(), FALSE);
}

BOOL WINAPI CeReadFile(HANDLE h, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
    Locked locked;
    Log("read " + std::to_string(size));
    if (!Connected()) {
        return FALSE;
    }
    Handle* handle = Find(h);
    if (!handle || handle->kind != Kind::File) {
        return DeviceFails(ERROR_INVALID_HANDLE, FALSE);
    }
    if (!read || overlapped || (!buffer && size)) {
        return DeviceFails(ERROR_INVALID_PARAMETER, FALSE);
    }
    return ReadFile(handle->file, buffer, size, read, nullptr) ? TRUE : DeviceFails(GetLastError(), FALSE);
}

BOOL WINAPI CeCloseHandle(HANDLE h) {
    Locked locked;
    Log("close");
    if (!Connected()) {
        return FALSE;
    }
    auto it = state->handles.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == state->handles.end()) {
        return DeviceFails(ERROR_INVALID_HANDLE, FALSE);
    }
    BOOL closed = it->second.kind == Kind::File ? CloseHandle(it->second.file) : TRUE;
    state->handles.erase(it);
    return closed;
}

BOOL WINAPI CeDeleteFile(LPCWSTR path) {
    Locked locked;
    Log("delete " + Narrow(path));
    if (!Connected()) {
        return FALSE;
    }
    std::wstring pc = PcPath(path);
    if (pc.empty()) {
        return FALSE;
    }
    return DeleteFileW(pc.c_str()) ? TRUE : DeviceFails(GetLastError(), FALSE);
}

DWORD WINAPI CeGetFileAttributes(LPCWSTR path) {
    Locked locked;
    if (!Connected()) {
        return INVALID_FILE_ATTRIBUTES;
    }
    std::wstring pc = PcPath(path);
    if (pc.empty()) {
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = GetFileAttributesW(pc.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES ? attributes : DeviceFails(GetLastError(), INVALID_FILE_ATTRIBUTES);
}

// Nothing runs: the start is recorded and answered with handles of its own, which CeCloseHandle
// accepts. The device needs the program's name; the command line may be absent.
BOOL WINAPI CeCreateProcess(LPCWSTR application, LPCWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                            BOOL, DWORD, LPVOID, LPWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION info) {
    Locked locked;
    Log("process " + Narrow(application) + " " + (commandLine ? standin::Utf8(commandLine) : std::string()));
    if (!Connected()) {
        return FALSE;
    }
    if (!application || !*application) {
        return DeviceFails(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (info) {
        info->hProcess = reinterpret_cast<HANDLE>(NewHandle(Kind::Process, INVALID_HANDLE_VALUE));
        info->hThread = reinterpret_cast<HANDLE>(NewHandle(Kind::Thread, INVALID_HANDLE_VALUE));
        info->dwProcessId = state->nextId++;
        info->dwThreadId = state->nextId++;
    }
    return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        state = new State;
        InitializeCriticalSection(&state->lock);
        state->log = standin::Environment(L"TARVELO_STANDIN_LOG");
        state->root = standin::Environment(L"TARVELO_STANDIN_DEVICE");
        while (!state->root.empty() && (state->root.back() == L'\\' || state->root.back() == L'/')) {
            state->root.pop_back();
        }
        wchar_t self[MAX_PATH] = L"";
        GetModuleFileNameW(instance, self, MAX_PATH);
        Log(std::string("loaded ") + standin::Utf8(self));
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Unloaded by FreeLibrary, not at the process's end: the tests load it more than once.
        DeleteCriticalSection(&state->lock);
        delete state;
        state = nullptr;
    }
    return TRUE;
}

} // extern "C"
