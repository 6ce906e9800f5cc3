// The system's own words for a failed call, from GetLastError.
#include "platform/error.h"

#include "platform/text.h"

#include <windows.h>

namespace platform {

std::string SystemReason() {
    DWORD code = GetLastError();
    if (code == ERROR_SUCCESS) {
        return {};
    }
    wchar_t buffer[512] = L"";
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                                  static_cast<DWORD>(sizeof buffer / sizeof buffer[0]), nullptr);
    // The system's texts end in a full stop and a line break, which would sit badly in brackets.
    while (length > 0 && (buffer[length - 1] == L'\n' || buffer[length - 1] == L'\r' || buffer[length - 1] == L' ' ||
                          buffer[length - 1] == L'.')) {
        --length;
    }
    SetLastError(code);
    if (length == 0) {
        return std::string("error ").append(std::to_string(code));
    }
    return ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(buffer), length));
}

void ForgetSystemReason() { SetLastError(ERROR_SUCCESS); }

KeepSystemReason::KeepSystemReason() : saved_(GetLastError()) {}
KeepSystemReason::~KeepSystemReason() { SetLastError(static_cast<DWORD>(saved_)); }

} // namespace platform
