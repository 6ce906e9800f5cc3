// The 8-bit text of device cabinets, in the device's code page.
#include "device/cabinet.h"

namespace device {

bool ToCabinetText(std::u16string_view text, std::string& out, unsigned codePage) {
    if (text.find(u'\0') != std::u16string_view::npos) {
        out.clear();
        return false;
    }
    return platform::ToCodePage(codePage, text, out);
}

std::u16string FromCabinetText(std::string_view text, unsigned codePage) {
    return platform::FromCodePage(codePage, text);
}

} // namespace device
