// A second Application Manager (CEAppMgr.exe) for checking Setup's hand-over against the
// documented command line and .ini rather than against the project's own stand-in. It reads each
// .ini named on its command line as the desktop's program would, through the profile calls, and
// checks every cabinet it lists. Chosen by environment variables:
//   CHECK_APPMGR_MODE  read (default) | blind (exits 0 at once) | fail (reads, then exits 3)
//   CHECK_APPMGR_SLEEP milliseconds to wait before the verdict (a slow Application Manager)
//   CHECK_APPMGR_LOG   file to which what was read and the verdict are appended
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Env(const char* name, const char* fallback) {
    char value[1024];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n == 0 || n >= sizeof value ? std::string(fallback) : std::string(value, n);
}

FILE* logFile = nullptr;

void Log(const std::string& line) {
    if (logFile) {
        std::fprintf(logFile, "%s\r\n", line.c_str());
        std::fflush(logFile);
    }
}

std::string Ansi(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}

std::string Profile(const std::string& ini, const std::string& section, const char* key) {
    char value[4096];
    DWORD n = GetPrivateProfileStringA(section.c_str(), key, "", value, sizeof value, ini.c_str());
    return std::string(value, n);
}

// Whether the file is a cabinet whose header declares the size it has.
bool WholeCabinet(const std::string& path, std::string& why) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = "missing";
        return false;
    }
    unsigned char head[12] = {};
    DWORD got = 0;
    LARGE_INTEGER size{};
    bool read = ReadFile(file, head, sizeof head, &got, nullptr) && got == sizeof head && GetFileSizeEx(file, &size);
    CloseHandle(file);
    if (!read || head[0] != 'M' || head[1] != 'S' || head[2] != 'C' || head[3] != 'F') {
        why = "not a cabinet";
        return false;
    }
    unsigned long declared = head[8] | head[9] << 8 | head[10] << 16 | static_cast<unsigned long>(head[11]) << 24;
    if (declared != static_cast<unsigned long>(size.QuadPart)) {
        why = "size " + std::to_string(size.QuadPart) + " but header says " + std::to_string(declared);
        return false;
    }
    return true;
}

bool CheckIni(const std::wstring& argument) {
    std::string ini = Ansi(argument);
    Log("ini " + ini);
    // Profile calls look for a bare name in the Windows folder: the path must be whole.
    bool whole = argument.size() > 2 && ((argument[1] == L':' && argument[2] == L'\\') || argument.rfind(L"\\\\", 0) == 0);
    if (!whole) {
        Log("FAULT not a full path");
        return false;
    }
    std::string version = Profile(ini, "CEAppManager", "Version");
    std::string component = Profile(ini, "CEAppManager", "Component");
    Log("Version=" + version + " Component=" + component);
    if (version != "1.0" || component.empty()) {
        Log("FAULT [CEAppManager] incomplete");
        return false;
    }
    std::string description = Profile(ini, component, "Description");
    std::string uninstall = Profile(ini, component, "Uninstall");
    std::string cabs = Profile(ini, component, "CabFiles");
    Log("Description=" + description + " Uninstall=" + uninstall + " CabFiles=" + cabs);
    if (uninstall.empty() || cabs.empty()) {
        Log("FAULT [" + component + "] incomplete");
        return false;
    }
    std::string folder = ini.substr(0, ini.find_last_of('\\') + 1);
    bool ok = true;
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = cabs.find(',', start);
        std::string name = cabs.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        std::string why;
        if (name.empty() || name.front() == ' ' || name.back() == ' ') {
            Log("FAULT blank around a name in CabFiles");
            ok = false;
        } else if (!WholeCabinet(folder + name, why)) {
            Log("FAULT " + name + ": " + why);
            ok = false;
        } else {
            Log("cabinet " + name + " whole");
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return ok;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::string logPath = Env("CHECK_APPMGR_LOG", "");
    if (!logPath.empty()) logFile = std::fopen(logPath.c_str(), "ab");
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    Log("started in " + Ansi(cwd) + " with " + Ansi(GetCommandLineW()));
    std::string mode = Env("CHECK_APPMGR_MODE", "read");
    if (mode == "blind") {
        Log("verdict blind");
        return 0;
    }
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    bool ok = true;
    int inis = 0;
    for (int i = 1; i < count; ++i) {
        std::wstring a = args[i];
        if (a == L"/report" || a == L"/register") continue;
        ++inis;
        ok = CheckIni(a) && ok;
    }
    if (inis == 0) {
        Log("FAULT no .ini given");
        ok = false;
    }
    Sleep(std::atoi(Env("CHECK_APPMGR_SLEEP", "0").c_str()));
    Log(ok ? "verdict ok" : "verdict fault");
    if (logFile) std::fclose(logFile);
    return mode == "fail" ? 3 : ok ? 0 : 2;
}
