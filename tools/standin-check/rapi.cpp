// A second connection library (rapi.dll) for checking Setup's device way against the documented
// calls rather than against the project's own stand-in. Its behaviour is chosen by environment
// variables so that one build plays every answer the documentation allows:
//   CHECK_RAPI_INIT   ok | fail (CeRapiInitEx fails) | never (event never set) | refused (hrRapiInit E_FAIL)
//                     | late (event set after CHECK_RAPI_LATE_MS)
//   CHECK_RAPI_ARCH   processor architecture reported (default 5, ARM); CHECK_RAPI_TYPE its type
//   CHECK_RAPI_MKDIR  made | exists183 | exists80 | denied (ERROR_ACCESS_DENIED, the folder is there)
//   CHECK_RAPI_CHUNK  largest number of bytes one CeWriteFile takes (a short write beyond it)
//   CHECK_RAPI_FULL   bytes after which CeWriteFile fails with ERROR_DISK_FULL
//   CHECK_RAPI_PI     null | real: the handles CeCreateProcess hands back
//   CHECK_RAPI_PROC   ok | fail (CeCreateProcess fails with ERROR_FILE_NOT_FOUND)
//   CHECK_RAPI_LOG    file to which every call is appended
//   CHECK_RAPI_OUT    host file receiving what was written to the device's file
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct RapiInit {
    DWORD cbSize;
    HANDLE heRapiInit;
    HRESULT hrRapiInit;
};

std::string Env(const char* name, const char* fallback) {
    char value[1024];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n == 0 || n >= sizeof value ? std::string(fallback) : std::string(value, n);
}

void Log(const char* format, ...) {
    std::string path = Env("CHECK_RAPI_LOG", "");
    if (path.empty()) return;
    FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(f, format, args);
    va_end(args);
    std::fputs("\r\n", f);
    std::fclose(f);
}

std::string Utf8(LPCWSTR text) {
    if (!text) return "(null)";
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

bool initialised = false; // CeRapiInitEx returned success and no CeRapiUninit since
bool connected = false;   // the event was set with S_OK
HANDLE event = nullptr;
HANDLE lateThread = nullptr;
DWORD lastError = 0;
HRESULT linkError = S_OK;
HANDLE deviceFile = nullptr; // the one open file; a token handle, not a real one
FILE* out = nullptr;
unsigned long fileBytes = 0; // held by the device's file
bool fileOnDevice = false;
const HANDLE kFileToken = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x4F11E));

bool Usable(const char* call) {
    linkError = S_OK;
    if (!initialised || !connected) {
        Log("FAULT %s called without a connection", call);
        linkError = E_FAIL;
        return false;
    }
    return true;
}

DWORD WINAPI SetLater(LPVOID) {
    Sleep(std::atoi(Env("CHECK_RAPI_LATE_MS", "2000").c_str()));
    connected = true;
    SetEvent(event);
    return 0;
}

} // namespace

extern "C" {

__declspec(dllexport) HRESULT WINAPI CeRapiInitEx(RapiInit* init) {
    std::string mode = Env("CHECK_RAPI_INIT", "ok");
    Log("CeRapiInitEx mode=%s cbSize=%lu", mode.c_str(), init ? init->cbSize : 0UL);
    if (!init || init->cbSize != sizeof(RapiInit)) return E_INVALIDARG;
    if (initialised) {
        Log("FAULT CeRapiInitEx again without CeRapiUninit");
        return 0x8E00000Bu; // already initialised, as the blocking form reports it
    }
    if (mode == "fail") return E_FAIL;
    initialised = true;
    event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    init->heRapiInit = event;
    if (mode == "never") return S_OK;
    if (mode == "late") {
        init->hrRapiInit = S_OK;
        lateThread = CreateThread(nullptr, 0, SetLater, nullptr, 0, nullptr);
        return S_OK;
    }
    init->hrRapiInit = mode == "refused" ? E_FAIL : S_OK;
    connected = mode != "refused";
    SetEvent(event);
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI CeRapiInit() {
    Log("FAULT CeRapiInit (the blocking form) called");
    return E_FAIL;
}

__declspec(dllexport) HRESULT WINAPI CeRapiUninit() {
    Log("CeRapiUninit");
    if (!initialised) return E_FAIL;
    if (deviceFile) Log("FAULT CeRapiUninit with the device file still open");
    if (event) {
        DWORD flags = 0;
        if (!GetHandleInformation(event, &flags)) Log("FAULT the init event was closed by the caller");
        if (lateThread) {
            WaitForSingleObject(lateThread, INFINITE);
            CloseHandle(lateThread);
            lateThread = nullptr;
        }
        CloseHandle(event);
        event = nullptr;
    }
    initialised = connected = false;
    return S_OK;
}

__declspec(dllexport) void WINAPI CeGetSystemInfo(SYSTEM_INFO* info) {
    if (!Usable("CeGetSystemInfo")) return;
    ZeroMemory(info, sizeof *info);
    info->wProcessorArchitecture = static_cast<WORD>(std::atoi(Env("CHECK_RAPI_ARCH", "5").c_str()));
    info->dwProcessorType = static_cast<DWORD>(std::atoi(Env("CHECK_RAPI_TYPE", "2577").c_str()));
    info->dwPageSize = 4096;
    info->dwNumberOfProcessors = 1;
    Log("CeGetSystemInfo arch=%u type=%lu", info->wProcessorArchitecture, info->dwProcessorType);
}

__declspec(dllexport) BOOL WINAPI CeCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    if (!Usable("CeCreateDirectory")) return FALSE;
    std::string mode = Env("CHECK_RAPI_MKDIR", "exists183");
    Log("CeCreateDirectory %s sa=%p mode=%s", Utf8(path).c_str(), static_cast<void*>(security), mode.c_str());
    if (mode == "made") return TRUE;
    lastError = mode == "exists80" ? ERROR_FILE_EXISTS : mode == "denied" ? ERROR_ACCESS_DENIED : ERROR_ALREADY_EXISTS;
    return FALSE;
}

__declspec(dllexport) DWORD WINAPI CeGetFileAttributes(LPCWSTR path) {
    if (!Usable("CeGetFileAttributes")) return INVALID_FILE_ATTRIBUTES;
    Log("CeGetFileAttributes %s", Utf8(path).c_str());
    if (lstrcmpiW(path, L"\\Temp") == 0) return FILE_ATTRIBUTE_DIRECTORY;
    lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_FILE_ATTRIBUTES;
}

__declspec(dllexport) HANDLE WINAPI CeCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                                  DWORD disposition, DWORD attributes, HANDLE templ) {
    if (!Usable("CeCreateFile")) return INVALID_HANDLE_VALUE;
    Log("CeCreateFile %s access=0x%lX share=%lu sa=%p disp=%lu attr=0x%lX tmpl=%p", Utf8(path).c_str(), access, share,
        static_cast<void*>(security), disposition, attributes, templ);
    if (deviceFile) {
        Log("FAULT a second file opened while one is open");
        lastError = ERROR_SHARING_VIOLATION;
        return INVALID_HANDLE_VALUE;
    }
    std::string target = Env("CHECK_RAPI_OUT", "");
    if (!target.empty()) out = std::fopen(target.c_str(), "wb");
    deviceFile = kFileToken;
    fileBytes = 0;
    fileOnDevice = true;
    return deviceFile;
}

__declspec(dllexport) BOOL WINAPI CeWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                                               LPOVERLAPPED overlapped) {
    if (!Usable("CeWriteFile")) return FALSE;
    if (file != kFileToken || file != deviceFile) {
        Log("FAULT CeWriteFile on a handle not open");
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (overlapped) Log("FAULT CeWriteFile with an OVERLAPPED");
    DWORD chunk = static_cast<DWORD>(std::strtoul(Env("CHECK_RAPI_CHUNK", "0").c_str(), nullptr, 10));
    DWORD take = chunk != 0 && size > chunk ? chunk : size;
    unsigned long full = std::strtoul(Env("CHECK_RAPI_FULL", "0").c_str(), nullptr, 10);
    if (full != 0 && fileBytes + take > full) {
        Log("CeWriteFile asked=%lu fails: disk full", size);
        lastError = ERROR_DISK_FULL;
        return FALSE;
    }
    fileBytes += take;
    if (out && take) std::fwrite(data, 1, take, out);
    *written = take;
    Log("CeWriteFile asked=%lu wrote=%lu", size, take);
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI CeCloseHandle(HANDLE handle) {
    if (!Usable("CeCloseHandle")) return FALSE;
    Log("CeCloseHandle %p", handle);
    if (handle == kFileToken && deviceFile == kFileToken) {
        deviceFile = nullptr;
        if (out) std::fclose(out);
        out = nullptr;
        return TRUE;
    }
    if (handle == reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x1000)) ||
        handle == reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x1004))) {
        return TRUE;
    }
    Log("FAULT CeCloseHandle of a handle never given");
    lastError = ERROR_INVALID_HANDLE;
    return FALSE;
}

__declspec(dllexport) BOOL WINAPI CeCreateProcess(LPCWSTR app, LPCWSTR line, LPSECURITY_ATTRIBUTES a,
                                                   LPSECURITY_ATTRIBUTES b, BOOL inherit, DWORD flags, LPVOID env,
                                                   LPWSTR dir, LPVOID startup, LPPROCESS_INFORMATION info) {
    if (!Usable("CeCreateProcess")) return FALSE;
    Log("CeCreateProcess app=%s line=%s inherit=%d flags=%lu env=%p dir=%s si=%p", Utf8(app).c_str(),
        Utf8(line).c_str(), inherit, flags, env, Utf8(dir).c_str(), startup);
    if (a || b) Log("FAULT security attributes given");
    if (deviceFile) Log("FAULT installer started with the cabinet still open");
    if (Env("CHECK_RAPI_PROC", "ok") == "fail") {
        lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    if (info) {
        bool real = Env("CHECK_RAPI_PI", "real") == "real";
        info->hProcess = real ? reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x1000)) : nullptr;
        info->hThread = real ? reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x1004)) : nullptr;
        info->dwProcessId = 0x55;
        info->dwThreadId = 0x56;
    }
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI CeDeleteFile(LPCWSTR path) {
    if (!Usable("CeDeleteFile")) return FALSE;
    Log("CeDeleteFile %s", Utf8(path).c_str());
    if (deviceFile) {
        lastError = ERROR_SHARING_VIOLATION;
        Log("FAULT deleting the file while it is open");
        return FALSE;
    }
    if (!fileOnDevice) {
        lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    fileOnDevice = false;
    return TRUE;
}

__declspec(dllexport) DWORD WINAPI CeGetLastError() {
    Log("CeGetLastError -> %lu", lastError);
    return lastError;
}

__declspec(dllexport) HRESULT WINAPI CeRapiGetError() {
    Log("CeRapiGetError -> 0x%08lX", static_cast<unsigned long>(linkError));
    return linkError;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH) {
        Log("device keeps the cabinet: %s", fileOnDevice ? "yes" : "no");
        if (initialised) Log("FAULT unloaded without CeRapiUninit");
        Log("unloaded");
    }
    return TRUE;
}
}
