// tarvelo-build info of a device cabinet: its manifest as the device reads it.
#include "cli/cabinet_reading.h"
#include "cli/command.h"
#include "cli/console.h"

#include "device/cabinet.h"
#include "device/layout.h"
#include "platform/text.h"

#include <cstdio>

namespace cli {
namespace {

// The family whose devices report this processor; empty for 0 ("any") and the types no family
// declares.
std::string FamilyName(std::uint32_t processorType) {
    for (const device::CpuChoice& choice : device::kCpuChoices) {
        if (choice.processorType != 0 && choice.processorType == processorType) {
            return platform::ToUtf8(choice.name);
        }
    }
    return "";
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

// The CE versions and builds the cabinet is limited to, those set only ("" for none).
std::string VersionLimits(const std::uint32_t (&v)[6]) {
    std::string text;
    auto add = [&](std::string part) { text += (text.empty() ? "" : ", ") + part; };
    if (v[0] || v[1]) {
        add("CE " + std::to_string(v[0]) + "." + std::to_string(v[1]) + " or later");
    }
    if (v[2] || v[3]) {
        add("up to CE " + std::to_string(v[2]) + "." + std::to_string(v[3]));
    }
    if (v[4]) {
        add("build " + std::to_string(v[4]) + " or later");
    }
    if (v[5]) {
        add("up to build " + std::to_string(v[5]));
    }
    return text;
}

std::string U8(const std::u16string& text) { return platform::ToUtf8(text); }

// A text of the cabinet for the readable layout: whatever it holds, no control character or
// escape reaches the terminal (the JSON layout escapes its own way).
std::string Shown(const std::u16string& text) { return platform::Printable(U8(text)); }

std::string TextReport(const std::u16string& path, const device::Cabinet& c) {
    std::string family = FamilyName(c.processorType);
    std::string out = "File:           " + Shown(path) + " (device cabinet, " + std::to_string(c.length) + " bytes)\n";
    out += "Application:    " + Shown(c.appName) + "\n";
    out += "Provider:       " + Shown(c.provider) + "\n";
    out += "Processor:      " + std::to_string(c.processorType) +
           (c.processorType == 0 ? " (any)"
            : family.empty()     ? ""
                                 : " (" + family + ")") +
           "\n";
    if (std::string limits = VersionLimits(c.versions); !limits.empty()) {
        out += "CE versions:    " + limits + "\n";
    }
    if (!c.unsupported.empty()) {
        std::string list;
        for (const std::u16string& platform : c.unsupported) {
            list += (list.empty() ? "" : ", ") + Shown(platform);
        }
        out += "Unsupported:    " + list + "\n";
    }
    out += std::string("Compression:    ") + (c.compression == 1 ? "MSZIP" : "none") + "\n";
    if (!c.installDir.empty()) {
        out += "Install folder: " + Shown(c.installDir) + "\n";
    }
    out += std::string("Signed:         ") +
           (c.signatureSize ? "yes (Authenticode, " + std::to_string(c.signatureSize) + " bytes)"
            : c.headerReserve ? "no (" + std::to_string(c.headerReserve) + " bytes reserved for a signature)"
                              : "no") +
           "\n";
    if (c.setupDll) {
        out += "Setup DLL:      yes (file 999, " + std::to_string(c.setupDll->size) + " bytes)\n";
    }
    out += "Folders:        " + std::to_string(c.folders.size()) + "\n";
    for (const std::u16string& folder : c.folders) {
        out += "  " + Shown(folder) + "\n";
    }
    out += "Files:          " + std::to_string(c.files.size()) + "\n";
    out += "      #  flags             size  device path\n";
    for (const device::CabinetFile& file : c.files) {
        char line[48];
        std::snprintf(line, sizeof line, "  %5u  %s %10u  ", unsigned{file.number}, Hex(file.flags).c_str(),
                      static_cast<unsigned>(file.size));
        out += line + Shown(file.relative) + "\n";
    }
    out += "Registry:       " + std::to_string(c.registry.size()) + "\n";
    for (const device::CabinetRegistryValue& value : c.registry) {
        out += "  " + platform::Printable(device::RegistryLine(value.value)) + "\n";
    }
    out += "Shortcuts:      " + std::to_string(c.links.size()) + "\n";
    for (const device::CabinetLink& link : c.links) {
        out += "  " + Shown(link.relative) + " -> " + Shown(link.targetPath) + (link.toFile ? "" : " (folder)") + "\n";
    }
    return out;
}

std::string JsonReport(const std::u16string& path, const device::Cabinet& c) {
    auto list = [](const std::vector<std::u16string>& texts) {
        std::string out;
        for (const std::u16string& text : texts) {
            out += (out.empty() ? "" : ", ") + Json(U8(text));
        }
        return "[" + out + "]";
    };
    std::string out = "{\"file\": " + Json(U8(path)) +
                      ", \"kind\": \"cabinet\", \"length\": " + std::to_string(c.length) +
                      ", \"appName\": " + Json(U8(c.appName)) + ", \"provider\": " + Json(U8(c.provider)) +
                      ", \"processorType\": " + std::to_string(c.processorType) +
                      ", \"processorFamily\": " + Json(FamilyName(c.processorType)) + ", \"versions\": {";
    const char* names[6] = {"minMajor", "minMinor", "maxMajor", "maxMinor", "minBuild", "maxBuild"};
    for (int i = 0; i < 6; ++i) {
        out += std::string(i ? ", " : "") + "\"" + names[i] + "\": " + std::to_string(c.versions[i]);
    }
    out += "}, \"unsupported\": " + list(c.unsupported) +
           ", \"compression\": " + (c.compression == 1 ? "\"mszip\"" : "\"none\"") +
           ", \"signed\": " + (c.signatureSize ? "true" : "false") + ", \"installFolder\": " + Json(U8(c.installDir)) + ", \"setupDll\": " +
           (c.setupDll ? "{\"size\": " + std::to_string(c.setupDll->size) + "}" : std::string("null")) +
           ", \"folders\": " + list(c.folders) + ", \"files\": [";
    for (std::size_t i = 0; i < c.files.size(); ++i) {
        const device::CabinetFile& f = c.files[i];
        out += std::string(i ? ", " : "") + "{\"number\": " + std::to_string(f.number) +
               ", \"path\": " + Json(U8(f.relative)) + ", \"size\": " + std::to_string(f.size) +
               ", \"flags\": " + std::to_string(f.flags) + ", \"source\": " + std::to_string(f.source) + "}";
    }
    out += "], \"registry\": [";
    for (std::size_t i = 0; i < c.registry.size(); ++i) {
        const device::RegistryValue& v = c.registry[i].value;
        std::string data;
        switch (v.type & ~device::kRegNoClobber) {
        case device::kRegBinary:
            for (std::uint8_t byte : v.bytes) {
                data += (data.empty() ? "" : ", ") + std::to_string(byte);
            }
            data = "[" + data + "]";
            break;
        case device::kRegDword:
            data = std::to_string(v.number);
            break;
        default:
            data = list(v.texts);
            break;
        }
        out += std::string(i ? ", " : "") + "{\"root\": " + Json(std::string(device::RootName(v.root))) +
               ", \"key\": " + Json(U8(v.key)) + ", \"name\": " + Json(U8(v.name)) +
               ", \"type\": " + std::to_string(v.type) + ", \"substitute\": " +
               (c.registry[i].substitute ? "true" : "false") + ", \"data\": " + data + "}";
    }
    out += "], \"shortcuts\": [";
    for (std::size_t i = 0; i < c.links.size(); ++i) {
        const device::CabinetLink& l = c.links[i];
        out += std::string(i ? ", " : "") + "{\"path\": " + Json(U8(l.relative)) +
               ", \"target\": " + Json(U8(l.targetPath)) + ", \"toFile\": " + (l.toFile ? "true" : "false") + "}";
    }
    return out + "]}\n";
}

} // namespace

int ShowCabinet(const std::u16string& path, bool json, unsigned codePage) {
    device::CabinetReader reader;
    reader.SetCodePage(codePage);
    Error error;
    if (!reader.Open(path, error)) {
        PrintError(U8(path), error);
        return kExitFailure;
    }
    Print(json ? JsonReport(path, reader.Contents()) : TextReport(path, reader.Contents()));
    return kExitSuccess;
}

} // namespace cli
