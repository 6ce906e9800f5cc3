// A stand-in of the desktop's Application Manager (CEAppMgr.exe), for the tests of the installer's
// way through it. It takes the command line the Application Manager takes,
//     CEAppMgr.exe [/report] [/register] "C:\full\path\app.ini" ["second.ini" ...]
// and checks what a real one would need of each .ini: its component ([CEAppManager] Component),
// that component's CabFiles (a comma list of names relative to the .ini's folder, taken as they
// stand: a blank around a comma names another file), and each cabinet beside the .ini, whole
// (an MS-CAB file whose real size is the size its header declares).
//
// When TARVELO_STANDIN_RECORD names a folder it appends what it saw there, to appmgr.txt:
//     command <its whole command line>
//     option /report|/register
//     ini <path>, then component <name>, cabinet <name> ok|<what is wrong> for each cabinet, and
//         ok or fault <what is wrong> for the .ini as a whole
//     exit <status>
// and copies the .ini and the cabinets it was handed into a new folder runN, so that a test can
// compare their bytes even if the installer changes them afterwards.
//
// Exit status: 0 when everything was there, 2 for a fault in what it was given, or the number
// TARVELO_STANDIN_APPMGR_EXIT holds when set.
#include "tests/standins/standin_common.h"

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace {

// Found in the file's bytes by the tests' set-up, which removes only copies of its own.
[[gnu::used]] const char kMarker[] = "Tarvelo test stand-in: CEAppMgr.exe";

class Record {
public:
    explicit Record(const std::wstring& folder) : folder_(folder) {
        if (folder_.empty()) {
            return;
        }
        file_ = folder_ + L"\\appmgr.txt";
        for (int n = 1; n < 10000; ++n) {
            std::wstring run = folder_ + L"\\run" + std::to_wstring(n);
            if (CreateDirectoryW(run.c_str(), nullptr)) {
                run_ = run;
                break;
            }
            if (GetLastError() != ERROR_ALREADY_EXISTS) {
                break;
            }
        }
    }
    void Line(const std::string& text) const { standin::AppendLine(file_, text); }
    // A copy of the file in this run's folder, under its own name.
    void Keep(const std::wstring& path) const {
        if (!run_.empty()) {
            std::size_t slash = path.find_last_of(L"\\/");
            std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
            CopyFileW(path.c_str(), (run_ + L"\\" + name).c_str(), FALSE);
        }
    }

private:
    std::wstring folder_, file_, run_;
};

// A drive's root or a network share: the Application Manager resolves nothing against its own
// current folder.
bool IsFullPath(const std::wstring& path) {
    bool drive = path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\';
    bool share = path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\';
    return drive || share;
}

std::wstring ProfileString(const std::wstring& ini, const wchar_t* section, const wchar_t* key) {
    std::vector<wchar_t> buffer(4096);
    DWORD length =
        GetPrivateProfileStringW(section, key, L"", buffer.data(), static_cast<DWORD>(buffer.size()), ini.c_str());
    return std::wstring(buffer.data(), length);
}

// Empty for a whole cabinet, else what is wrong with it.
std::string CabinetFault(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return "missing";
    }
    unsigned char header[12] = {};
    DWORD read = 0;
    LARGE_INTEGER size{};
    bool ok = ReadFile(h, header, sizeof header, &read, nullptr) && GetFileSizeEx(h, &size);
    CloseHandle(h);
    if (!ok || read < sizeof header || header[0] != 'M' || header[1] != 'S' || header[2] != 'C' || header[3] != 'F') {
        return "not a cabinet";
    }
    unsigned long long declared =
        header[8] | header[9] << 8 | header[10] << 16 | static_cast<unsigned long long>(header[11]) << 24;
    if (static_cast<unsigned long long>(size.QuadPart) != declared) {
        return "size " + std::to_string(size.QuadPart) + ", header says " + std::to_string(declared);
    }
    return {};
}

// Checks one .ini and its cabinets; false for any fault.
bool CheckIni(const std::wstring& ini, const Record& record) {
    record.Line("ini " + standin::Utf8(ini));
    if (!IsFullPath(ini)) {
        record.Line("fault not a full path");
        return false;
    }
    DWORD attributes = GetFileAttributesW(ini.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        record.Line("fault missing");
        return false;
    }
    record.Keep(ini);
    std::wstring component = ProfileString(ini, L"CEAppManager", L"Component");
    record.Line("component " + standin::Utf8(component));
    std::wstring list = component.empty() ? std::wstring() : ProfileString(ini, component.c_str(), L"CabFiles");
    if (list.empty()) {
        record.Line("fault no cabinets");
        return false;
    }
    std::wstring folder = ini.substr(0, ini.find_last_of(L'\\'));
    bool whole = true;
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t comma = list.find(L',', start);
        std::wstring name = list.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
        start = comma == std::wstring::npos ? list.size() + 1 : comma + 1;
        std::string fault = name.empty() ? "empty name" : CabinetFault(folder + L"\\" + name);
        record.Line("cabinet " + standin::Utf8(name) + " " + (fault.empty() ? "ok" : fault));
        if (fault.empty() || fault.starts_with("size") || fault == "not a cabinet") {
            record.Keep(folder + L"\\" + name);
        }
        whole = whole && fault.empty();
    }
    record.Line(whole ? "ok" : "fault in the cabinets");
    return whole;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    Record record(standin::Environment(L"TARVELO_STANDIN_RECORD"));
    const wchar_t* commandLine = GetCommandLineW();
    record.Line("command " + standin::Utf8(commandLine));
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(commandLine, &count);
    bool fault = false;
    int inis = 0;
    for (int i = 1; arguments && i < count; ++i) {
        std::wstring argument = arguments[i];
        if (argument.starts_with(L"/")) {
            bool known = lstrcmpiW(argument.c_str(), L"/report") == 0 || lstrcmpiW(argument.c_str(), L"/register") == 0;
            record.Line((known ? "option " : "fault unknown option ") + standin::Utf8(argument));
            fault = fault || !known;
        } else {
            ++inis;
            fault = !CheckIni(argument, record) || fault;
        }
    }
    LocalFree(arguments);
    if (inis == 0) {
        record.Line("fault no .ini given");
        fault = true;
    }
    int status =
        static_cast<int>(standin::NumberOr(standin::Environment(L"TARVELO_STANDIN_APPMGR_EXIT"), fault ? 2 : 0));
    // A pause before the last line: a caller that does not wait for the end finds no exit recorded.
    Sleep(300);
    record.Line("exit " + std::to_string(status));
    return status;
}
