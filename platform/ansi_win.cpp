// Conversions to and from the ANSI code page.
#include "platform/text.h"

#include <windows.h>

namespace platform {

std::string ToAnsi(std::u16string_view in) {
    if (in.empty()) {
        return {};
    }
    auto wide = reinterpret_cast<const wchar_t*>(in.data());
    int units = static_cast<int>(in.size());
    int length = WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_ACP, 0, wide, units, out.data(), length, nullptr, nullptr);
    }
    return out;
}

std::u16string FromAnsi(std::string_view in) {
    if (in.empty()) {
        return {};
    }
    int bytes = static_cast<int>(in.size());
    int length = MultiByteToWideChar(CP_ACP, 0, in.data(), bytes, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(length > 0 ? length : 0), u'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_ACP, 0, in.data(), bytes, reinterpret_cast<wchar_t*>(out.data()), length);
    }
    return out;
}

} // namespace platform
