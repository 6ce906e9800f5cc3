// Arguments, the program's path and the console on Windows.
#include "platform/standard_io.h"

#include "platform/text.h"

#include <cstdio>

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

namespace platform {

bool ProgramArguments(int, char**, std::vector<std::u16string>& arguments, std::string&) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) {
        return false;
    }
    for (int i = 1; i < count; ++i) {
        std::wstring_view argument(wide[i]);
        arguments.emplace_back(argument.begin(), argument.end());
    }
    LocalFree(wide);
    return true;
}

bool ProgramFolder(std::u16string& folder) {
    // Paths may be longer than MAX_PATH; grow until the name fits.
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        std::wstring buffer(size, L'\0');
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) {
            return false;
        }
        if (length < size) {
            std::size_t cut = buffer.find_last_of(L"\\/", length);
            if (cut == std::wstring::npos) {
                return false;
            }
            folder.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(cut + 1));
            return true;
        }
    }
    return false;
}

void WriteStandard(bool error, std::string_view text) {
    std::FILE* stream = error ? stderr : stdout;
    HANDLE handle = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        std::fflush(stream);
        std::u16string wide = ToUtf16(text);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

} // namespace platform
