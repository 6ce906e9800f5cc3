// Putting the stand-ins of the desktop's device software where the installer looks for the real
// ones, and taking them away; see standin_support.h.
#include "tests/standin_support.h"

#include "tests/test_support.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace testing_support {

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kAppPathsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAppMgr.exe";
// Beside the registered path, so that a key of the desktop software's own is never deleted.
constexpr wchar_t kMarkerValue[] = L"TarveloStandin";
// Both stand-ins carry this in their bytes.
constexpr std::string_view kMarker = "Tarvelo test stand-in";
// Left in %WINDIR%\WindowsMobile when we made that folder: it and all below it are ours.
constexpr wchar_t kFolderMarker[] = L"tarvelo-standin.txt";

std::wstring Definition(const char* path) {
    std::wstring wide(path, path + std::char_traits<char>::length(path));
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return wide;
}

bool IsOurs(const std::wstring& file) {
    Bytes bytes = ReadBytes(std::u16string(file.begin(), file.end()));
    return std::search(bytes.begin(), bytes.end(), kMarker.begin(), kMarker.end()) != bytes.end();
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring WindowsMobileFolder() {
    wchar_t windows[MAX_PATH] = L"";
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\WindowsMobile";
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Removes the App Paths key when it is ours; answers whether one that is not remains.
bool RemoveAppPathsKey() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAppPathsKey, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
        return false;
    }
    bool ours = RegQueryValueExW(key, kMarkerValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return !ours || RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kAppPathsKey, KEY_WOW64_32KEY, 0) != ERROR_SUCCESS;
}

} // namespace

bool StandinsBuilt() {
#ifdef TARVELO_STANDIN_APPMGR_PATH
    return true;
#else
    return false;
#endif
}

std::wstring StandinAppMgr() {
#ifdef TARVELO_STANDIN_APPMGR_PATH
    return Definition(TARVELO_STANDIN_APPMGR_PATH);
#else
    return {};
#endif
}

std::wstring StandinRapi() {
#ifdef TARVELO_STANDIN_RAPI_PATH
    return Definition(TARVELO_STANDIN_RAPI_PATH);
#else
    return {};
#endif
}

std::wstring SystemRapiPath() {
    wchar_t system[MAX_PATH] = L"";
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\rapi.dll";
}

std::wstring WindowsMobileAppMgrPath() { return WindowsMobileFolder() + L"\\CEAppMgr.exe"; }

bool InstallRapi() { return CopyFileW(StandinRapi().c_str(), SystemRapiPath().c_str(), TRUE) != FALSE; }

bool RegisterAppMgr(const std::wstring& exe) {
    std::error_code ec;
    fs::create_directories(fs::path(exe).parent_path(), ec);
    if (!CopyFileW(StandinAppMgr().c_str(), exe.c_str(), FALSE)) {
        return false;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAppPathsKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    DWORD one = 1;
    bool set = RegSetValueExW(key, kMarkerValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one) ==
                   ERROR_SUCCESS &&
               RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(exe.c_str()),
                              static_cast<DWORD>((exe.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
    return set;
}

bool PlaceAppMgrInWindows() {
    std::wstring folder = WindowsMobileFolder();
    if (!CreateDirectoryW(folder.c_str(), nullptr)) {
        return false;
    }
    std::wstring marker = folder + L"\\" + kFolderMarker;
    WriteBytes(std::u16string(marker.begin(), marker.end()), {});
    return CopyFileW(StandinAppMgr().c_str(), WindowsMobileAppMgrPath().c_str(), TRUE) != FALSE;
}

std::string RemoveStandins() {
    std::string foreign;
    std::wstring rapi = SystemRapiPath();
    if (FileExists(rapi) && (!IsOurs(rapi) || !DeleteFileW(rapi.c_str()))) {
        foreign += Narrow(rapi) + " ";
    }
    if (RemoveAppPathsKey()) {
        foreign += "HKLM\\" + Narrow(kAppPathsKey) + " ";
    }
    std::wstring folder = WindowsMobileFolder();
    std::error_code ec;
    if (FileExists(folder + L"\\" + kFolderMarker)) {
        fs::remove_all(folder, ec);
    }
    std::wstring appMgr = WindowsMobileAppMgrPath();
    if (FileExists(appMgr) && (!IsOurs(appMgr) || !DeleteFileW(appMgr.c_str()))) {
        foreign += Narrow(appMgr) + " ";
    }
    return foreign;
}

} // namespace testing_support
