// UTF-16 <-> UTF-8 conversion, written out so the core needs nothing beyond the standard library.
#include "platform/text.h"

#include <cstdint>

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf16(char32_t c, std::u16string& out) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

// Decodes one code point at in[i], advancing i; answers false (and U+FFFD) for a broken sequence.
bool NextFromUtf16(std::u16string_view in, size_t& i, char32_t& c) {
    char16_t u = in[i++];
    if (u < 0xD800 || u > 0xDFFF) {
        c = u;
        return true;
    }
    if (u <= 0xDBFF && i < in.size() && in[i] >= 0xDC00 && in[i] <= 0xDFFF) {
        c = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(in[i++]) - 0xDC00);
        return true;
    }
    c = kReplacement;
    return false;
}

bool NextFromUtf8(std::string_view in, size_t& i, char32_t& c) {
    auto byte = [&](size_t k) { return static_cast<std::uint8_t>(in[k]); };
    std::uint8_t b = byte(i++);
    int extra;
    char32_t minimum;
    if (b < 0x80) {
        c = b;
        return true;
    } else if ((b & 0xE0) == 0xC0) {
        extra = 1, c = b & 0x1F, minimum = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2, c = b & 0x0F, minimum = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3, c = b & 0x07, minimum = 0x10000;
    } else {
        c = kReplacement;
        return false;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= in.size() || (byte(i) & 0xC0) != 0x80) {
            c = kReplacement;
            return false;
        }
        c = (c << 6) | (byte(i++) & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = kReplacement;
        return false;
    }
    return true;
}

} // namespace

bool Utf16ToUtf8(std::u16string_view in, std::string& out) {
    out.clear();
    bool ok = true;
    for (size_t i = 0; i < in.size();) {
        char32_t c;
        ok = NextFromUtf16(in, i, c) && ok;
        AppendUtf8(c, out);
    }
    return ok;
}

bool Utf8ToUtf16(std::string_view in, std::u16string& out) {
    out.clear();
    bool ok = true;
    for (size_t i = 0; i < in.size();) {
        char32_t c;
        ok = NextFromUtf8(in, i, c) && ok;
        AppendUtf16(c, out);
    }
    return ok;
}

std::string ToUtf8(std::u16string_view in) {
    std::string out;
    Utf16ToUtf8(in, out);
    return out;
}

std::u16string ToUtf16(std::string_view in) {
    std::u16string out;
    Utf8ToUtf16(in, out);
    return out;
}

std::string Printable(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < bytes.size();) {
        size_t start = i;
        char32_t c;
        // C1 controls as well: some terminals act on U+009B as they do on ESC [.
        bool shown = NextFromUtf8(bytes, i, c) && c >= 0x20 && c != 0x7F && (c < 0x80 || c > 0x9F);
        if (shown) {
            out.append(bytes.substr(start, i - start));
            continue;
        }
        for (size_t k = start; k < i; ++k) {
            auto b = static_cast<std::uint8_t>(bytes[k]);
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
    }
    return out;
}

char16_t UpperCaseUnit(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F)) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c >= 0x450 && c <= 0x45F) {
        return static_cast<char16_t>(c - 0x50);
    }
    if (c == 0xFF) {
        return 0x178;
    }
    if (c == 0xB5) {
        return 0x39C;
    }
    if (c == 0x3C2) { // final sigma
        return 0x3A3;
    }
    // Latin Extended-A pairs its capitals and small letters as neighbours, the capital first:
    // even/odd from U+0100 to U+0137 and from U+014A to U+0177, odd/even from U+0139 to U+0148
    // and from U+0179 to U+017E.
    if (((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) && (c & 1)) {
        return static_cast<char16_t>(c - 1);
    }
    if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && !(c & 1)) {
        return static_cast<char16_t>(c - 1);
    }
    return c;
}

} // namespace platform
