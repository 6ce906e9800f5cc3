// Registry values of a cabinet design as text.
#include "device/cabinet_design.h"

#include "platform/text.h"

#include <cstdio>

namespace device {

std::string_view RootName(RegistryRoot root) {
    switch (root) {
    case RegistryRoot::ClassesRoot:
        return "HKCR";
    case RegistryRoot::CurrentUser:
        return "HKCU";
    case RegistryRoot::LocalMachine:
        return "HKLM";
    case RegistryRoot::Users:
        return "HKU";
    }
    return "?";
}

std::string RegistryLine(const RegistryValue& value) {
    auto quoted = [](const std::u16string& text) {
        std::string out = "\"";
        for (char c : platform::ToUtf8(text)) {
            out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
        }
        return out + "\"";
    };
    std::string line(RootName(value.root));
    if (!value.key.empty()) {
        line += "\\" + platform::ToUtf8(value.key);
    }
    line += "\\" + (value.name.empty() ? std::string("@") : quoted(value.name)) + " = ";
    char hex[24];
    switch (value.type & ~kRegNoClobber) {
    case kRegString:
        line += quoted(value.texts.empty() ? u"" : value.texts.front());
        break;
    case kRegMultiString:
        line += "multi:";
        for (std::size_t i = 0; i < value.texts.size(); ++i) {
            line += (i ? "," : "") + quoted(value.texts[i]);
        }
        break;
    case kRegBinary:
        line += "hex:";
        for (std::size_t i = 0; i < value.bytes.size(); ++i) {
            std::snprintf(hex, sizeof hex, "%s%02x", i ? "," : "", static_cast<unsigned>(value.bytes[i]));
            line += hex;
        }
        break;
    case kRegDword:
        std::snprintf(hex, sizeof hex, "dword:0x%08X", static_cast<unsigned>(value.number));
        line += hex;
        break;
    default:
        std::snprintf(hex, sizeof hex, "type 0x%08X", static_cast<unsigned>(value.type));
        line += hex;
        break;
    }
    if (value.type & kRegNoClobber) {
        line += " (kept if present)";
    }
    return line;
}

} // namespace device
