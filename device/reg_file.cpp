// Reading a registry editor export into registry values, line by line, as regedit imports it.
#include "device/reg_file.h"

#include "device/cabinet.h"
#include "device/inf_text.h"
#include "platform/text.h"

#include <optional>

namespace device {
namespace {

constexpr std::u16string_view kHeader4 = u"REGEDIT4";
constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";

// Past this many, problems are counted rather than told: a file that is not a registry file at all
// would otherwise give one line of complaint per line of text.
constexpr std::size_t kMostProblems = 100;
// Characters of the file quoted in a message, enough to find the place.
constexpr std::size_t kQuoted = 40;

// The registry types regedit writes as hex(N) that a cabinet cannot carry, by name.
const char* TypeName(std::uint32_t type) {
    switch (type) {
    case 0:
        return "REG_NONE";
    case 2:
        return "REG_EXPAND_SZ";
    case 5:
        return "REG_DWORD_BIG_ENDIAN";
    case 6:
        return "REG_LINK";
    case 8:
        return "REG_RESOURCE_LIST";
    case 9:
        return "REG_FULL_RESOURCE_DESCRIPTOR";
    case 10:
        return "REG_RESOURCE_REQUIREMENTS_LIST";
    case 11:
        return "REG_QWORD";
    default:
        return nullptr;
    }
}

struct Root {
    std::u16string_view name, shortName;
    std::optional<RegistryRoot> root; // none for a root a cabinet cannot write to
};

constexpr Root kRoots[] = {
    {u"HKEY_LOCAL_MACHINE", u"HKLM", RegistryRoot::LocalMachine},
    {u"HKEY_CURRENT_USER", u"HKCU", RegistryRoot::CurrentUser},
    {u"HKEY_CLASSES_ROOT", u"HKCR", RegistryRoot::ClassesRoot},
    {u"HKEY_USERS", u"HKU", RegistryRoot::Users},
    {u"HKEY_CURRENT_CONFIG", u"HKCC", std::nullopt},
    {u"HKEY_DYN_DATA", u"HKDD", std::nullopt},
    {u"HKEY_PERFORMANCE_DATA", u"HKPD", std::nullopt},
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

std::u16string_view TrimEnd(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::u16string_view TrimStart(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

// What the file says, for the end of a message: on one line, and no more of it than finds the place.
std::string Quote(std::u16string_view text) {
    return platform::Printable(platform::ToUtf8(text.substr(0, kQuoted))) + (text.size() > kQuoted ? "..." : "");
}

// The bytes a value's name and data take in a cabinet's manifest, one per character of the
// device's 8-bit code page, each text with its terminating zero.
std::size_t EntryBytes(const RegistryValue& value) {
    std::size_t n = value.name.size() + 1;
    switch (value.type & kRegTypeMask) {
    case kRegString:
        return n + value.texts[0].size() + 1;
    case kRegBinary:
        return n + value.bytes.size();
    case kRegDword:
        return n + 4;
    default:
        for (const std::u16string& text : value.texts) {
            n += text.size() + 1;
        }
        return n + 1;
    }
}

// A line being read: what is left of it after what was taken.
class Cursor {
public:
    explicit Cursor(std::u16string_view line) : rest_(line) {}
    bool End() const { return rest_.empty(); }
    char16_t Peek() const { return rest_.front(); }
    std::u16string_view Rest() const { return rest_; }
    void Skip(std::size_t n = 1) { rest_.remove_prefix(n); }
    void SkipBlanks() { rest_ = TrimStart(rest_); }
    bool Take(std::u16string_view prefix) {
        if (rest_.substr(0, prefix.size()) != prefix) {
            return false;
        }
        rest_.remove_prefix(prefix.size());
        return true;
    }
    // Blanks, then nothing or a comment.
    bool OnlyComment() const {
        std::u16string_view rest = TrimStart(rest_);
        return rest.empty() || rest.front() == u';';
    }

private:
    std::u16string_view rest_;
};

class Reader {
public:
    Reader(std::string_view name, std::u16string_view text, bool unicode)
        : name_(name), text_(text), unicode_(unicode) {}

    void Run(std::vector<RegistryValue>& values, std::vector<std::string>& problems);

private:
    bool NextLine(std::u16string_view& line);
    void Problem(std::size_t line, const std::string& what);
    void ReadKey(std::u16string_view line);
    void ReadValue(std::u16string_view line);
    bool ReadData(Cursor& at, RegistryValue& value, std::size_t first);
    bool ReadString(Cursor& at, std::u16string& text);
    bool ReadHex(Cursor& at, std::vector<std::uint8_t>& bytes, std::size_t first);
    bool ReadHexPart(std::u16string_view part, bool& afterByte, std::vector<std::uint8_t>& bytes, bool& tooLong);
    bool Typed(std::uint32_t type, std::vector<std::uint8_t>& bytes, RegistryValue& value, std::size_t line);
    bool Texts(std::uint32_t type, const std::vector<std::uint8_t>& bytes, std::u16string& text, std::size_t line);
    void Keep(RegistryValue& value, std::size_t line);

    std::string name_;
    std::u16string_view text_;
    bool unicode_; // version 5.00: hex(1) and hex(7) data are UTF-16LE, not 8-bit
    std::size_t at_ = 0, number_ = 0;
    std::vector<std::string> problems_;
    std::size_t untold_ = 0;
    std::vector<RegistryValue> values_;
    std::size_t manifestBytes_ = 0;

    // The key of the [line] above, once there was one; whether its line was sound.
    bool haveKey_ = false, keyUsable_ = false;
    RegistryRoot root_ = RegistryRoot::LocalMachine;
    std::u16string_view rootName_;
    std::u16string key_;
};

bool Reader::NextLine(std::u16string_view& line) {
    if (at_ >= text_.size()) {
        return false;
    }
    std::size_t end = std::min(text_.find(u'\n', at_), text_.size());
    line = text_.substr(at_, end - at_);
    if (!line.empty() && line.back() == u'\r') {
        line.remove_suffix(1);
    }
    at_ = end + 1;
    ++number_;
    return true;
}

void Reader::Problem(std::size_t line, const std::string& what) {
    if (problems_.size() < kMostProblems) {
        problems_.push_back(name_ + ":" + std::to_string(line) + ": " + what);
    } else {
        ++untold_;
    }
}

void Reader::Run(std::vector<RegistryValue>& values, std::vector<std::string>& problems) {
    std::u16string_view line;
    if (!NextLine(line) || (TrimEnd(line) != kHeader4 && TrimEnd(line) != kHeader5)) {
        Problem(1, "not a registry editor file: its first line must be \"" + platform::ToUtf8(kHeader5) + "\" or \"" +
                       platform::ToUtf8(kHeader4) + "\": " + Quote(line));
    } else {
        while (NextLine(line)) {
            line = TrimStart(line);
            if (line.find(u'\0') != std::u16string_view::npos) {
                Problem(number_, "a NUL character, which no text of the registry holds");
            } else if (line.empty() || line.front() == u';') {
                continue;
            } else if (line.front() == u'[') {
                ReadKey(line);
            } else if (line.front() == u'"' || line.front() == u'@') {
                ReadValue(line);
            } else {
                Problem(number_, "neither a [key], a value (\"name\"= or @=) nor a comment: " + Quote(line));
            }
        }
    }
    if (untold_ > 0) {
        problems_.push_back(name_ + ": " + std::to_string(untold_) + " more problems are not told");
    }
    problems = std::move(problems_);
    values.clear();
    if (problems.empty()) {
        values = std::move(values_);
    }
}

void Reader::ReadKey(std::u16string_view line) {
    haveKey_ = true;
    keyUsable_ = false;
    // A key's names may hold ] and ;, so only the last ] closes it and nothing may follow.
    line = TrimEnd(line);
    if (line.size() < 2 || line.back() != u']') {
        Problem(number_, "a key's line ends with ]: " + Quote(line));
        return;
    }
    std::u16string_view inside = line.substr(1, line.size() - 2);
    if (!inside.empty() && inside.front() == u'-') {
        Problem(number_, "[-...] deletes a key, which a device cabinet cannot do: it only adds values");
        return;
    }
    std::size_t slash = inside.find(u'\\');
    std::u16string_view rootName = inside.substr(0, slash);
    const Root* root = nullptr;
    for (const Root& r : kRoots) {
        if (inf::SameName(rootName, r.name) || inf::SameName(rootName, r.shortName)) {
            root = &r;
            break;
        }
    }
    if (root == nullptr) {
        Problem(number_, "not a registry root: " + Quote(rootName));
        return;
    }
    if (!root->root) {
        Problem(number_, platform::ToUtf8(root->name) +
                             " is a root a device cabinet cannot write to; it writes to HKEY_LOCAL_MACHINE, "
                             "HKEY_CURRENT_USER, HKEY_CLASSES_ROOT and HKEY_USERS");
        return;
    }
    std::u16string_view path = slash == std::u16string_view::npos ? u"" : inside.substr(slash + 1);
    std::size_t names = 0;
    for (std::size_t begin = 0; slash != std::u16string_view::npos; begin = path.find(u'\\', begin) + 1) {
        std::size_t end = std::min(path.find(u'\\', begin), path.size());
        if (end == begin) {
            Problem(number_,
                    "an empty name in the key (two backslashes together, or one at the end): " + Quote(inside));
            return;
        }
        // Each name is a text of the manifest, its zero and padding to four bytes counted in its length.
        if (end - begin + 4 > kLongestRegistryEntry) {
            Problem(number_, "a name in the key is longer than a cabinet's manifest holds (" +
                                 std::to_string(kLongestRegistryEntry) + " bytes with its end)");
            return;
        }
        ++names;
        if (end == path.size()) {
            break;
        }
    }
    // The key is listed as its names' numbers, 16 bits each, and a zero after them.
    if (2 * (names + 1) > kLongestRegistryEntry) {
        Problem(number_, "the key has more names than a cabinet's manifest holds (" + std::to_string(names) + ")");
        return;
    }
    keyUsable_ = true;
    root_ = *root->root;
    rootName_ = root->name;
    key_.assign(path);
}

void Reader::ReadValue(std::u16string_view line) {
    const std::size_t first = number_;
    Cursor at(line);
    RegistryValue value;
    if (!at.Take(u"@") && !ReadString(at, value.name)) {
        return;
    }
    at.SkipBlanks();
    if (!at.Take(u"=")) {
        Problem(first, "a value's name is followed by =: " + Quote(at.Rest()));
        return;
    }
    at.SkipBlanks();
    if (!ReadData(at, value, first)) {
        return;
    }
    Keep(value, first);
}

// A number of one to eight hexadecimal digits, as dword: and hex(N) give them.
bool ReadNumber(Cursor& at, std::uint32_t& number) {
    std::size_t digits = 0;
    for (number = 0; !at.End() && HexDigit(at.Peek()) >= 0 && digits <= 8; ++digits) {
        number = number << 4 | static_cast<std::uint32_t>(HexDigit(at.Peek()));
        at.Skip();
    }
    return digits > 0 && digits <= 8;
}

bool Reader::ReadData(Cursor& at, RegistryValue& value, std::size_t first) {
    const std::u16string_view data = at.Rest();
    if (at.Take(u"-") && at.OnlyComment()) {
        Problem(first, "=- deletes a value, which a device cabinet cannot do: it only adds values");
        return false;
    }
    at = Cursor(data);
    if (!at.End() && at.Peek() == u'"') {
        value.type = kRegString;
        value.texts.emplace_back();
        if (!ReadString(at, value.texts[0])) {
            return false;
        }
    } else if (at.Take(u"dword:")) {
        value.type = kRegDword;
        if (!ReadNumber(at, value.number) || !at.OnlyComment()) {
            Problem(first, "dword: takes one to eight hexadecimal digits: " + Quote(data));
            return false;
        }
    } else if (at.Take(u"hex:")) {
        value.type = kRegBinary;
        return ReadHex(at, value.bytes, first);
    } else if (at.Take(u"hex(")) {
        std::uint32_t type = 0;
        if (!ReadNumber(at, type) || !at.Take(u"):")) {
            Problem(first, "hex( takes the type's number in hexadecimal, then \"):\": " + Quote(data));
            return false;
        }
        std::vector<std::uint8_t> bytes;
        return ReadHex(at, bytes, first) && Typed(type, bytes, value, first);
    } else {
        Problem(first, "a value's data is \"text\", dword:, hex: or hex(N): " + Quote(data));
        return false;
    }
    if (!at.OnlyComment()) {
        Problem(first, "text after the value's data: " + Quote(TrimStart(at.Rest())));
        return false;
    }
    return true;
}

// A quoted text from its opening quote; \\ and \" are the only escapes regedit writes.
bool Reader::ReadString(Cursor& at, std::u16string& text) {
    const std::u16string_view whole = at.Rest();
    at.Skip(); // the opening quote
    while (!at.End()) {
        char16_t c = at.Peek();
        at.Skip();
        if (c == u'"') {
            return true;
        }
        if (c == u'\\') {
            if (at.End() || (at.Peek() != u'\\' && at.Peek() != u'"')) {
                Problem(number_, "a backslash in quotes is written \\\\ and a quote \\\": " + Quote(whole));
                return false;
            }
            c = at.Peek();
            at.Skip();
        }
        text += c;
    }
    Problem(number_, "a text without its closing quote: " + Quote(whole));
    return false;
}

// Bytes written as two hexadecimal digits each, separated by commas, on as many lines as a
// backslash at the end of each line but the last joins (regedit wraps them at 80 columns).
bool Reader::ReadHex(Cursor& at, std::vector<std::uint8_t>& bytes, std::size_t first) {
    bool afterByte = false, tooLong = false, sound = true;
    std::u16string_view part = at.Rest();
    for (;;) {
        part = TrimEnd(part.substr(0, part.find(u';')));
        const bool continued = !part.empty() && part.back() == u'\\';
        if (continued) {
            part.remove_suffix(1);
        }
        // After a problem the value's further lines are still its own, not lines to complain of.
        sound = sound && ReadHexPart(part, afterByte, bytes, tooLong);
        if (!continued) {
            break;
        }
        if (!NextLine(part)) {
            Problem(number_, "the value's data goes on past the end of the file");
            return false;
        }
        part = TrimStart(part);
    }
    if (sound && tooLong) {
        Problem(first, "the value's data is far longer than a cabinet's manifest holds for one value (" +
                           std::to_string(kLongestRegistryEntry) + " bytes)");
        return false;
    }
    return sound;
}

bool Reader::ReadHexPart(std::u16string_view part, bool& afterByte, std::vector<std::uint8_t>& bytes, bool& tooLong) {
    Cursor at(part);
    for (at.SkipBlanks(); !at.End(); at.SkipBlanks()) {
        if (at.Peek() == u',') {
            if (!afterByte) {
                Problem(number_, "a comma where a byte was due: " + Quote(at.Rest()));
                return false;
            }
            afterByte = false;
            at.Skip();
            continue;
        }
        int high = HexDigit(at.Peek());
        if (high < 0 || afterByte) {
            Problem(number_, afterByte ? "bytes are separated by commas: " + Quote(at.Rest())
                                       : "not a byte in hexadecimal: " + Quote(at.Rest()));
            return false;
        }
        at.Skip();
        int value = high;
        if (!at.End() && HexDigit(at.Peek()) >= 0) {
            value = value << 4 | HexDigit(at.Peek());
            at.Skip();
            if (!at.End() && HexDigit(at.Peek()) >= 0) {
                Problem(number_, "a byte is two hexadecimal digits: " + Quote(part));
                return false;
            }
        }
        afterByte = true;
        // Two bytes a character for hex(7) and hex(1): their manifest length is checked once read.
        if (bytes.size() < 2 * kLongestRegistryEntry) {
            bytes.push_back(static_cast<std::uint8_t>(value));
        } else {
            tooLong = true;
        }
    }
    return true;
}

// The data of hex(N) as the value a cabinet carries, for the types it can carry.
bool Reader::Typed(std::uint32_t type, std::vector<std::uint8_t>& bytes, RegistryValue& value, std::size_t line) {
    switch (type) {
    case 1: {
        value.type = kRegString;
        std::u16string text;
        if (!Texts(type, bytes, text, line)) {
            return false;
        }
        // The zero that ends the string, when written, is no part of it.
        if (!text.empty() && text.back() == u'\0') {
            text.pop_back();
        }
        if (text.find(u'\0') != std::u16string::npos) {
            Problem(line, "hex(1) holds a NUL character before its end, which a string cannot carry");
            return false;
        }
        value.texts.push_back(std::move(text));
        return true;
    }
    case 3:
        value.type = kRegBinary;
        value.bytes = std::move(bytes);
        return true;
    case 4:
        if (bytes.size() != 4) {
            Problem(line, "hex(4) is a DWORD of four bytes, not " + std::to_string(bytes.size()));
            return false;
        }
        value.type = kRegDword;
        value.number = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
        return true;
    case 7: {
        value.type = kRegMultiString;
        std::u16string text;
        if (!Texts(type, bytes, text, line)) {
            return false;
        }
        // Each string ends with a zero, and an empty one ends the list.
        if (!text.empty() && text.back() != u'\0') {
            Problem(line, "hex(7) does not end with a NUL character, as a multi-string does");
            return false;
        }
        std::size_t begin = 0;
        while (begin < text.size()) {
            std::size_t end = text.find(u'\0', begin);
            if (end == begin) {
                if (end + 1 != text.size()) {
                    Problem(line, "hex(7) goes on after the empty string that ends a multi-string");
                    return false;
                }
                break;
            }
            value.texts.push_back(text.substr(begin, end - begin));
            begin = end + 1;
        }
        return true;
    }
    default: {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string number;
        for (std::uint32_t n = type; number.empty() || n != 0; n >>= 4) {
            number.insert(number.begin(), kDigits[n & 15]);
        }
        const char* name = TypeName(type);
        Problem(line, "hex(" + number + ") is " + (name ? std::string(name) + ", " : std::string()) +
                          "a type a device cabinet cannot carry: it takes strings (\"text\" or hex(1)), "
                          "multi-strings (hex(7)), binary data (hex:) and DWORDs (dword: or hex(4))");
        return false;
    }
    }
}

// The characters of hex(1) or hex(7) data: UTF-16LE in a version 5.00 file, 8-bit in REGEDIT4.
bool Reader::Texts(std::uint32_t type, const std::vector<std::uint8_t>& bytes, std::u16string& text, std::size_t line) {
    if (!unicode_) {
        // The code page's conversion has no character for a zero byte, which ends each string here.
        const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        for (std::size_t begin = 0; begin < all.size();) {
            const std::size_t end = std::min(all.find('\0', begin), all.size());
            text += FromCabinetText(all.substr(begin, end - begin));
            if (end < all.size()) {
                text += u'\0';
            }
            begin = end + 1;
        }
        return true;
    }
    if (bytes.size() % 2 != 0) {
        Problem(line, "hex(" + std::to_string(type) +
                          ") of a version 5.00 file is UTF-16, two bytes a character, not " +
                          std::to_string(bytes.size()) + " bytes");
        return false;
    }
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
    }
    return true;
}

void Reader::Keep(RegistryValue& value, std::size_t line) {
    if (!haveKey_) {
        Problem(line, "a value before any [key]");
        return;
    }
    if (!keyUsable_) {
        return; // its key was refused at its own line
    }
    if (key_.empty()) {
        Problem(line, "a value directly in " + platform::ToUtf8(rootName_) +
                          ": a device cabinet sets values in keys below a root");
        return;
    }
    const std::size_t bytes = EntryBytes(value);
    if (bytes > kLongestRegistryEntry) {
        Problem(line, "the value's name and data come to " + std::to_string(bytes) +
                          " bytes, more than a cabinet's manifest holds for one value (" +
                          std::to_string(kLongestRegistryEntry) + ")");
        return;
    }
    // Each value counts with its key, more than the manifest takes for a key it shares, so that
    // what is held here is bounded too, however many values one long key has.
    if (manifestBytes_ <= kLongestManifest) {
        manifestBytes_ += key_.size() + bytes;
        if (manifestBytes_ > kLongestManifest) {
            Problem(line, "the registry values up to here come to more than a cabinet's manifest holds (" +
                              std::to_string(kLongestManifest) + " bytes)");
        }
    }
    if (!problems_.empty()) {
        return; // nothing is read into the answer once there is a problem
    }
    value.root = root_;
    value.key = key_;
    values_.push_back(std::move(value));
}

// A version 5.00 file without a byte order mark is UTF-8, and one with a broken sequence is no
// text at all: its line is told rather than the broken bytes taken as something else.
bool DecodeUtf8(std::string_view bytes, std::u16string& text, std::size_t& badLine) {
    if (platform::Utf8ToUtf16(bytes, text)) {
        return true;
    }
    badLine = 1;
    for (std::size_t begin = 0;; ++badLine) {
        std::size_t end = std::min(bytes.find('\n', begin), bytes.size());
        std::u16string ignored;
        if (!platform::Utf8ToUtf16(bytes.substr(begin, end - begin), ignored) || end == bytes.size()) {
            return false;
        }
        begin = end + 1;
    }
}

std::size_t CountLines(std::u16string_view text) {
    std::size_t lines = 1;
    for (char16_t c : text) {
        lines += c == u'\n';
    }
    return lines;
}

} // namespace

bool ReadRegFile(std::span<const std::uint8_t> bytes, std::string_view name, std::vector<RegistryValue>& values,
                 std::vector<std::string>& problems) {
    values.clear();
    problems.clear();
    const std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const std::string header5 = platform::ToUtf8(kHeader5);
    std::u16string text;
    if (raw.starts_with("\xFF\xFE")) {
        if (!inf::DecodeInf(bytes, text)) {
            inf::DecodeInf(bytes.first(bytes.size() - 1), text);
            problems.push_back(std::string(name) + ":" + std::to_string(CountLines(text)) +
                               ": the UTF-16 text ends in the middle of a character");
            return false;
        }
    } else if (raw.starts_with("\xEF\xBB\xBF") || raw.starts_with(header5)) {
        std::size_t badLine = 0;
        if (!DecodeUtf8(raw.substr(raw.starts_with("\xEF") ? 3 : 0), text, badLine)) {
            problems.push_back(std::string(name) + ":" + std::to_string(badLine) +
                               ": not UTF-8 text, which a file without a UTF-16 byte order mark must be");
            return false;
        }
    } else {
        inf::DecodeInf(bytes, text);
    }
    const bool unicode = text.starts_with(kHeader5);
    Reader(name, text, unicode).Run(values, problems);
    return problems.empty();
}

} // namespace device
