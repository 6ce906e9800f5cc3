// Drives a running wizard window for the checks by hand: finds the top window by its title and
// runs each step given on the command line in turn.
//   wait              until the window is there (20 s at most)
//   click:ID          posts BM_CLICK to the child control ID
//   sleep:MS          waits
//   dump              prints every visible child: ID, class, enabled, checked, text
//   gone:MS           waits until the window is gone
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring title;
HWND window = nullptr;

std::string Utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}

BOOL CALLBACK Child(HWND child, LPARAM) {
    if (!IsWindowVisible(child)) return TRUE;
    wchar_t cls[64] = {}, text[2048] = {};
    GetClassNameW(child, cls, 64);
    SendMessageTimeoutW(child, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
    std::wstring t = text;
    for (auto& c : t) if (c == L'\r' || c == L'\n') c = L'|';
    LRESULT checked = lstrcmpiW(cls, L"Button") == 0 ? SendMessageW(child, BM_GETCHECK, 0, 0) : 0;
    std::printf("  %d %s %s%s %s\n", GetDlgCtrlID(child), Utf8(cls).c_str(), IsWindowEnabled(child) ? "on" : "off",
                checked == BST_CHECKED ? " checked" : "", Utf8(t).c_str());
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    title = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::wstring step = argv[i];
        std::wstring value = step.find(L':') == std::wstring::npos ? L"" : step.substr(step.find(L':') + 1);
        if (step == L"wait") {
            for (int n = 0; n < 200 && !(window = FindWindowW(nullptr, title.c_str())); ++n) Sleep(100);
            std::printf("wait: %s\n", window ? "found" : "NOT FOUND");
            if (!window) return 1;
        } else if (step.rfind(L"click:", 0) == 0) {
            HWND control = GetDlgItem(window, _wtoi(value.c_str()));
            std::printf("click %ls: %s\n", value.c_str(), control ? "posted" : "NO SUCH CONTROL");
            PostMessageW(control, BM_CLICK, 0, 0);
        } else if (step.rfind(L"sleep:", 0) == 0) {
            Sleep(_wtoi(value.c_str()));
        } else if (step == L"dump") {
            std::printf("dump:\n");
            EnumChildWindows(window, Child, 0);
        } else if (step.rfind(L"gone:", 0) == 0) {
            int ms = _wtoi(value.c_str());
            int n = 0;
            for (; n < ms / 100 && IsWindow(window); ++n) Sleep(100);
            std::printf("gone: %s\n", IsWindow(window) ? "STILL THERE" : "yes");
        }
        std::fflush(stdout);
    }
    return 0;
}
