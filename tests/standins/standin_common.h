// What both stand-ins of the desktop's device software share: their settings from the environment
// (the tests set them before starting the installer, which passes its environment on) and the
// record they append for the tests to read, UTF-8 lines. Every line is written with one append
// that reopens the file, so that a stand-in that crashes half-way leaves what it saw so far.
#pragma once

#include <windows.h>

#include <string>

namespace standin {

// The variable's value; empty when it is unset or empty.
inline std::wstring Environment(const wchar_t* name) {
    wchar_t small[512];
    DWORD needed = GetEnvironmentVariableW(name, small, 512);
    if (needed == 0) {
        return {};
    }
    if (needed < 512) {
        return std::wstring(small, needed);
    }
    std::wstring value(needed, L'\0');
    DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
    value.resize(length < needed ? length : 0);
    return value;
}

// A whole decimal number (optionally negative), or `fallback` for anything else.
inline long NumberOr(const std::wstring& text, long fallback) {
    if (text.empty()) {
        return fallback;
    }
    wchar_t* end = nullptr;
    long value = wcstol(text.c_str(), &end, 10);
    return end && *end == L'\0' ? value : fallback;
}

inline std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

// Appends `line` and a line feed to the file; nothing when `file` is empty.
inline void AppendLine(const std::wstring& file, const std::string& line) {
    if (file.empty()) {
        return;
    }
    HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return;
    }
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
}

} // namespace standin
