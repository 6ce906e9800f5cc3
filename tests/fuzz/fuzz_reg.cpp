// Fuzz target for reading registry editor exports: any bytes as a .reg file. A file is read whole
// or not at all; every problem names the file and a line it has; every value read is one a cabinet
// can carry within its manifest's lengths. Written back as regedit writes a version 5.00 file, the
// values read again to the same values, so that no escape, wrapped line or multi-string is read
// other than it is written.
#include "device/cabinet.h"
#include "device/reg_file.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr std::string_view kName = "fuzz.reg";

void Put(std::u16string& out, std::u16string_view text) { out += text; }

void PutHex(std::u16string& out, const std::vector<std::uint8_t>& bytes) {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            out += u',';
            if (i % 25 == 0) {
                out += u"\\\r\n  "; // wrapped as regedit wraps long data
            }
        }
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
}

void PutQuoted(std::u16string& out, std::u16string_view text) {
    out += u'"';
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') {
            out += u'\\';
        }
        out += c;
    }
    out += u'"';
}

std::vector<std::uint8_t> Utf16Bytes(std::u16string_view text) {
    std::vector<std::uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
}

// The values as regedit would export them, in UTF-16LE after its mark.
std::vector<std::uint8_t> Export(const std::vector<device::RegistryValue>& values) {
    static constexpr const char16_t* kRoots[] = {u"", u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER", u"HKEY_LOCAL_MACHINE",
                                                 u"HKEY_USERS"};
    std::u16string text = u"\uFEFFWindows Registry Editor Version 5.00\r\n";
    for (const device::RegistryValue& v : values) {
        Put(text, u"\r\n[");
        Put(text, kRoots[static_cast<int>(v.root)]);
        Put(text, u"\\");
        Put(text, v.key);
        Put(text, u"]\r\n");
        if (v.name.empty()) {
            Put(text, u"@");
        } else {
            PutQuoted(text, v.name);
        }
        Put(text, u"=");
        switch (v.type) {
        case device::kRegString:
            if (v.texts[0].find(u'\n') == std::u16string::npos) {
                PutQuoted(text, v.texts[0]);
            } else {
                Put(text, u"hex(1):");
                PutHex(text, Utf16Bytes(v.texts[0] + u'\0'));
            }
            break;
        case device::kRegMultiString: {
            std::u16string all;
            for (const std::u16string& t : v.texts) {
                all += t + u'\0';
            }
            Put(text, u"hex(7):");
            PutHex(text, Utf16Bytes(all + u'\0'));
            break;
        }
        case device::kRegBinary:
            Put(text, u"hex:");
            PutHex(text, v.bytes);
            break;
        default: {
            Put(text, u"dword:");
            for (int shift = 28; shift >= 0; shift -= 4) {
                text += u"0123456789abcdef"[(v.number >> shift) & 15];
            }
        }
        }
        Put(text, u"\r\n");
    }
    return Utf16Bytes(text);
}

// The line a problem names, or 0 for the last one, which counts those not told.
std::size_t ProblemLine(const std::string& problem) {
    Require(problem.starts_with(std::string(kName) + ":"));
    std::size_t at = kName.size() + 1, line = 0;
    if (problem[at] == ' ') {
        Require(problem.ends_with(" more problems are not told"));
        return 0;
    }
    for (; at < problem.size() && problem[at] >= '0' && problem[at] <= '9'; ++at) {
        line = line * 10 + static_cast<std::size_t>(problem[at] - '0');
        Require(line <= 1 << 30);
    }
    Require(problem.compare(at, 2, ": ") == 0 && problem.size() > at + 2);
    return line;
}

void CheckValue(const device::RegistryValue& v) {
    Require(!v.key.empty() && v.key.front() != u'\\' && v.key.back() != u'\\');
    Require(v.key.find(u"\\\\") == std::u16string::npos);
    Require(v.root >= device::RegistryRoot::ClassesRoot && v.root <= device::RegistryRoot::Users);
    Require(v.name.find(u'\0') == std::u16string::npos);
    std::size_t bytes = v.name.size() + 1;
    switch (v.type) {
    case device::kRegString:
        Require(v.texts.size() == 1 && v.bytes.empty() && v.number == 0);
        bytes += v.texts[0].size() + 1;
        break;
    case device::kRegMultiString:
        Require(v.bytes.empty() && v.number == 0);
        for (const std::u16string& t : v.texts) {
            Require(!t.empty());
            bytes += t.size() + 1;
        }
        bytes += 1;
        break;
    case device::kRegBinary:
        Require(v.texts.empty() && v.number == 0);
        bytes += v.bytes.size();
        break;
    case device::kRegDword:
        Require(v.texts.empty() && v.bytes.empty());
        bytes += 4;
        break;
    default:
        Require(!"a type a cabinet carries");
    }
    for (const std::u16string& t : v.texts) {
        Require(t.find(u'\0') == std::u16string::npos);
    }
    Require(bytes <= device::kLongestRegistryEntry);
}

} // namespace

int FuzzRegFile(const std::uint8_t* data, std::size_t size) {
    if (size > 4 * 1024 * 1024) {
        return 0;
    }
    std::vector<device::RegistryValue> values;
    std::vector<std::string> problems;
    const bool read = device::ReadRegFile({data, size}, kName, values, problems);
    Require(read == problems.empty());
    if (!read) {
        Require(values.empty());
        Require(problems.size() <= 101);
        for (std::size_t i = 0; i < problems.size(); ++i) {
            const std::size_t line = ProblemLine(problems[i]);
            // A line of the file: no more of them than its bytes, and only the last problem unnumbered.
            Require(line <= size + 1 && (line > 0 || i + 1 == problems.size()));
        }
        return 0;
    }
    std::size_t manifest = 0;
    for (const device::RegistryValue& v : values) {
        CheckValue(v);
        manifest += v.key.size() + v.name.size();
    }
    Require(manifest <= device::kLongestManifest);
    std::vector<device::RegistryValue> again;
    Require(device::ReadRegFile(Export(values), kName, again, problems));
    Require(again == values);
    return 0;
}
