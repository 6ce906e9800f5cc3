// The code page conversions through Windows' own, held to what our tables promise on other hosts:
// nothing best-fitted, private-use characters refused, a byte without a character read as U+FFFD.
// A Windows that lacks a code page (Windows XP without its East Asian files) uses the tables.
#include "platform/code_page.h"
#include "platform/code_page_table.h"

#include <windows.h>

namespace platform {
namespace {

bool PrivateUse(wchar_t unit) { return unit >= 0xE000 && unit <= 0xF8FF; }

bool SystemHas(unsigned codePage) { return KnownCodePage(codePage) && IsValidCodePage(codePage); }

} // namespace

bool ToCodePage(unsigned codePage, std::u16string_view in, std::string& out) {
    out.clear();
    if (!SystemHas(codePage)) {
        return code_page_table::Encode(codePage, in, out);
    }
    if (in.empty()) {
        return true;
    }
    auto wide = reinterpret_cast<const wchar_t*>(in.data());
    int units = static_cast<int>(in.size());
    BOOL usedDefault = FALSE;
    int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, units, nullptr, 0, nullptr, &usedDefault);
    if (length <= 0 || usedDefault) {
        return false;
    }
    out.resize(static_cast<std::size_t>(length));
    if (WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, units, out.data(), length, nullptr, &usedDefault) !=
            length ||
        usedDefault || FromCodePage(codePage, out) != in) {
        // WC_NO_BEST_FIT_CHARS keeps best fits out, but only the way back shows a character that
        // the code page reads as another or as none.
        out.clear();
        return false;
    }
    return true;
}

std::u16string FromCodePage(unsigned codePage, std::string_view in) {
    if (!SystemHas(codePage)) {
        return code_page_table::Decode(codePage, in);
    }
    std::u16string out;
    out.reserve(in.size());
    // A character at a time, so that a byte without one costs only itself: the whole text at once
    // would either fail (MB_ERR_INVALID_CHARS) or hide where Windows put its default character.
    for (std::size_t i = 0; i < in.size(); ++i) {
        auto byte = static_cast<unsigned char>(in[i]);
        if (byte < 0x80) {
            out += char16_t{byte};
            continue;
        }
        std::size_t size = IsDBCSLeadByteEx(codePage, byte) ? 2 : 1;
        wchar_t unit = 0;
        if (i + size <= in.size() &&
            MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data() + i, static_cast<int>(size), &unit, 1) == 1 &&
            !PrivateUse(unit)) {
            out += static_cast<char16_t>(unit);
            i += size - 1;
        } else {
            out += u'\uFFFD';
        }
    }
    return out;
}

} // namespace platform
