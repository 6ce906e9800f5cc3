// The 8-bit text of device cabinets: Windows code page 1252.
#include "device/cabinet.h"

namespace device {
namespace {

// 0x80 to 0x9F of code page 1252; 0 where the code page leaves a byte undefined. The rest of the
// code page is Latin-1, one byte per character of the same number.
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

} // namespace

bool ToCabinetText(std::u16string_view text, std::string& out) {
    out.clear();
    for (char16_t c : text) {
        if (c == 0) {
            return false;
        }
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out += static_cast<char>(c);
            continue;
        }
        std::size_t i = 0;
        while (i < 32 && (kHigh[i] == 0 || kHigh[i] != c)) {
            ++i;
        }
        if (i == 32) {
            return false;
        }
        out += static_cast<char>(0x80 + i);
    }
    return true;
}

std::u16string FromCabinetText(std::string_view text) {
    std::u16string out;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        char16_t unit = byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : char16_t{byte};
        out += unit == 0 ? u'\uFFFD' : unit;
    }
    return out;
}

} // namespace device
