// The version resource is a tree of blocks, each a length, a value length, a type (1 text,
// 0 binary), a NUL-terminated UTF-16 key, its value and its children, each part 32-bit aligned
// from the resource's start. It is read whole into that tree, changed there and written out again,
// so whatever the template holds besides the changed values comes through.
//
// Tools disagree on whether a text value's length counts characters or bytes, so a text value is
// read as the text up to its first NUL within its block, and written with its length in characters,
// the terminator included, as the platform's resource compiler does.
#include "package/pe_version.h"

#include "package/pe_image.h"
#include "package/pe_source.h"

#include <algorithm>

namespace pe {
namespace {

constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kFixedSize = 52;
constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
constexpr std::uint16_t kCodePageUnicode = 1200;

struct Block {
    std::u16string key;
    std::uint16_t type = 1;
    bool hasText = false;
    std::u16string text;
    std::vector<std::uint8_t> binary;
    std::vector<Block> children;
};

std::size_t Align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

std::size_t CountBlocks(const Block& block) {
    std::size_t count = 1;
    for (const Block& child : block.children) {
        count += CountBlocks(child);
    }
    return count;
}

bool SameKey(std::u16string_view a, std::u16string_view b) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

Block* Child(Block& parent, std::u16string_view key) {
    auto it = std::find_if(parent.children.begin(), parent.children.end(),
                           [&](const Block& b) { return SameKey(b.key, key); });
    return it == parent.children.end() ? nullptr : &*it;
}

class BlockReader {
public:
    BlockReader(std::span<const std::uint8_t> data, Error& error) : data_(data), error_(error) {}

    bool Read(std::size_t offset, std::size_t limit, int depth, Block& block, std::size_t& end) {
        if (depth > kMaxVersionDepth || ++blocks_ > kMaxVersionBlocks) {
            return Fail("The version resource nests too deeply or holds too many blocks.");
        }
        if (offset + kHeaderSize > limit) {
            return Fail("The version resource is cut short.");
        }
        std::size_t length = Le16(data_.data() + offset);
        std::size_t valueLength = Le16(data_.data() + offset + 2);
        block.type = Le16(data_.data() + offset + 4);
        end = offset + length;
        if (length < kHeaderSize || end > limit) {
            return Fail("A block of the version resource reaches beyond its parent.");
        }
        std::size_t p = offset + kHeaderSize;
        if (!ReadText(p, end, block.key, true)) {
            return Fail("A key of the version resource has no end.");
        }
        p = Align4(p);
        // The root's value is the fixed part, whatever type a compiler gave it.
        if (valueLength != 0 && block.type == 1 && depth > 0) {
            block.hasText = true;
            ReadText(p, end, block.text, false);
            return true; // a text value ends its block
        }
        if (valueLength != 0) {
            if (p + valueLength > end) {
                return Fail("A value of the version resource reaches beyond its block.");
            }
            block.binary.assign(data_.begin() + static_cast<std::ptrdiff_t>(p),
                                data_.begin() + static_cast<std::ptrdiff_t>(p + valueLength));
            p += valueLength;
        }
        // Whatever is too short to be a block at the end is padding.
        for (p = Align4(p); p + kHeaderSize <= end; p = Align4(p)) {
            Block child;
            if (!Read(p, end, depth + 1, child, p)) {
                return false;
            }
            block.children.push_back(std::move(child));
        }
        return true;
    }

private:
    bool Fail(const char* message) {
        error_ = Malformed(message);
        return false;
    }
    // Units from `p` up to a NUL (after which `p` points), or to `end` when `mustEnd` is false.
    bool ReadText(std::size_t& p, std::size_t end, std::u16string& text, bool mustEnd) {
        for (; p + 2 <= end; p += 2) {
            char16_t c = static_cast<char16_t>(Le16(data_.data() + p));
            if (c == 0) {
                p += 2;
                return true;
            }
            text.push_back(c);
        }
        return !mustEnd;
    }

    std::span<const std::uint8_t> data_;
    Error& error_;
    std::size_t blocks_ = 0;
};

void PutText(std::vector<std::uint8_t>& out, std::u16string_view text) {
    for (char16_t c : text) {
        platform::AppendLe16(out, c);
    }
    platform::AppendLe16(out, 0);
}

// Appends the block; the output is 32-bit aligned where it starts.
void WriteBlock(const Block& block, std::vector<std::uint8_t>& out) {
    std::size_t start = out.size();
    out.resize(start + kHeaderSize);
    PutText(out, block.key);
    out.resize(Align4(out.size()));
    std::size_t valueLength = block.binary.size();
    if (block.hasText) {
        PutText(out, block.text);
        valueLength = block.text.size() + 1;
    } else {
        out.insert(out.end(), block.binary.begin(), block.binary.end());
    }
    for (const Block& child : block.children) {
        out.resize(Align4(out.size()));
        WriteBlock(child, out);
    }
    PutLe16(out.data() + start, static_cast<std::uint16_t>(out.size() - start));
    PutLe16(out.data() + start + 2, static_cast<std::uint16_t>(valueLength));
    PutLe16(out.data() + start + 4, block.type);
}

bool ReadRoot(std::span<const std::uint8_t> resource, Block& root, Error& error) {
    std::size_t end = 0;
    if (!BlockReader(resource, error).Read(0, resource.size(), 0, root, end)) {
        return false;
    }
    if (root.key != u"VS_VERSION_INFO") {
        error = Malformed("The version resource does not start with VS_VERSION_INFO.");
        return false;
    }
    if (!root.binary.empty() && (root.binary.size() < kFixedSize || Le32(root.binary.data()) != kFixedSignature)) {
        error = Malformed("The version resource's fixed part is damaged.");
        return false;
    }
    return true;
}

// The language and code page the platform's version functions are told to look under: the first
// translation, or else the first string table's key (LLLLCCCC in hexadecimal).
bool Translation(Block& root, std::uint16_t& language, std::uint16_t& codePage) {
    Block* vars = Child(root, u"VarFileInfo");
    Block* translation = vars != nullptr ? Child(*vars, u"Translation") : nullptr;
    if (translation != nullptr && translation->binary.size() >= 4) {
        language = Le16(translation->binary.data());
        codePage = Le16(translation->binary.data() + 2);
        return true;
    }
    Block* strings = Child(root, u"StringFileInfo");
    if (strings == nullptr || strings->children.empty() || strings->children[0].key.size() != 8) {
        return false;
    }
    std::uint32_t value = 0;
    for (char16_t c : strings->children[0].key) {
        int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                    : c >= u'a' && c <= u'f' ? c - u'a' + 10
                    : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                             : -1;
        if (digit < 0) {
            return false;
        }
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    language = static_cast<std::uint16_t>(value >> 16);
    codePage = static_cast<std::uint16_t>(value);
    return true;
}

std::u16string TableKey(std::uint16_t language, std::uint16_t codePage) {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::uint32_t value = (std::uint32_t{language} << 16) | codePage;
    std::u16string key(8, u'0');
    for (int i = 7; i >= 0; --i, value >>= 4) {
        key[static_cast<std::size_t>(i)] = kDigits[value & 15];
    }
    return key;
}

// A fixed part for a resource that has none: an application for Windows NT.
std::vector<std::uint8_t> NewFixedPart() {
    std::vector<std::uint8_t> fixed(kFixedSize);
    PutLe32(fixed.data(), kFixedSignature);
    PutLe32(fixed.data() + 4, 0x00010000);  // structure version 1.0
    PutLe32(fixed.data() + 24, 0x3F);       // VS_FFI_FILEFLAGSMASK
    PutLe32(fixed.data() + 32, 0x00040004); // VOS_NT_WINDOWS32
    PutLe32(fixed.data() + 36, 1);          // VFT_APP
    return fixed;
}

void PutVersion(std::vector<std::uint8_t>& fixed, std::size_t offset, const VersionNumber& v) {
    PutLe32(fixed.data() + offset, (std::uint32_t{v[0]} << 16) | v[1]);
    PutLe32(fixed.data() + offset + 4, (std::uint32_t{v[2]} << 16) | v[3]);
}

VersionNumber GetVersion(const std::vector<std::uint8_t>& fixed, std::size_t offset) {
    std::uint32_t high = Le32(fixed.data() + offset), low = Le32(fixed.data() + offset + 4);
    return {static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
            static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)};
}

void SetString(Block& table, const VersionString& s) {
    Block* found = Child(table, s.key);
    if (found == nullptr) {
        found = &table.children.emplace_back();
        found->key = s.key;
    }
    found->type = 1;
    found->hasText = true;
    found->text = s.value;
    found->children.clear();
}

// Sets the strings in every string table, making a table (and the translation that points to it)
// where there is none.
void SetStrings(Block& root, const std::vector<VersionString>& strings) {
    std::uint16_t language = kLanguageEnglishUS, codePage = kCodePageUnicode;
    bool translated = Translation(root, language, codePage);
    Block* tables = Child(root, u"StringFileInfo");
    if (tables == nullptr) {
        tables = &*root.children.insert(root.children.begin(), Block{u"StringFileInfo", 1, false, {}, {}, {}});
    }
    if (tables->children.empty()) {
        tables->children.push_back(Block{TableKey(language, codePage), 1, false, {}, {}, {}});
    }
    for (Block& table : tables->children) {
        for (const VersionString& s : strings) {
            SetString(table, s);
        }
    }
    if (!translated) {
        std::vector<std::uint8_t> pair(4);
        PutLe16(pair.data(), language);
        PutLe16(pair.data() + 2, codePage);
        root.children.push_back(
            Block{u"VarFileInfo", 1, false, {}, {}, {Block{u"Translation", 0, false, {}, pair, {}}}});
    }
}

bool Rewrite(Block& root, const VersionChanges& changes, std::vector<std::uint8_t>& rewritten, Error& error) {
    std::vector<VersionString> strings = changes.strings;
    if (changes.fileVersion || changes.productVersion) {
        if (root.binary.empty()) {
            root.binary = NewFixedPart();
        }
        root.type = 0;
    }
    if (changes.fileVersion) {
        PutVersion(root.binary, 8, *changes.fileVersion);
        strings.push_back({u"FileVersion", VersionText(*changes.fileVersion)});
    }
    if (changes.productVersion) {
        PutVersion(root.binary, 16, *changes.productVersion);
        strings.push_back({u"ProductVersion", VersionText(*changes.productVersion)});
    }
    if (!strings.empty()) {
        SetStrings(root, strings);
    }
    rewritten.clear();
    // What the reader would refuse is not written: the installer must read back.
    if (CountBlocks(root) > kMaxVersionBlocks) {
        error = Refusal("The version information would hold more than " + std::to_string(kMaxVersionBlocks) +
                        " blocks; set fewer texts.");
        return false;
    }
    WriteBlock(root, rewritten);
    // Every block's length is a 16-bit field, the root's included.
    if (rewritten.size() > 0xFFFF) {
        rewritten.clear();
        error = Refusal("The version information would be longer than 64 KB; shorten its texts.");
        return false;
    }
    return true;
}

} // namespace

bool ParseVersionNumber(std::u16string_view text, VersionNumber& number) {
    std::size_t part = 0, digits = 0;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == u'.') {
            if (digits == 0 || part == number.size()) {
                return false;
            }
            number[part++] = static_cast<std::uint16_t>(value);
            value = 0;
            digits = 0;
        } else if (text[i] >= u'0' && text[i] <= u'9' && digits < 6) {
            value = value * 10 + static_cast<std::uint32_t>(text[i] - u'0');
            ++digits;
            if (value > 0xFFFF) {
                return false;
            }
        } else {
            return false;
        }
    }
    return part == number.size();
}

std::u16string VersionText(const VersionNumber& number) {
    std::u16string text;
    for (std::size_t i = 0; i < number.size(); ++i) {
        if (i != 0) {
            text.push_back(u'.');
        }
        for (char c : std::to_string(number[i])) {
            text.push_back(static_cast<char16_t>(c));
        }
    }
    return text;
}

bool ParseVersionResource(std::span<const std::uint8_t> resource, VersionInfo& info, Error& error) {
    info = {};
    Block root;
    if (!ReadRoot(resource, root, error)) {
        return false;
    }
    info.hasFixed = !root.binary.empty();
    if (info.hasFixed) {
        info.fileVersion = GetVersion(root.binary, 8);
        info.productVersion = GetVersion(root.binary, 16);
    }
    Translation(root, info.language, info.codePage);
    Block* tables = Child(root, u"StringFileInfo");
    if (tables != nullptr && !tables->children.empty()) {
        for (const Block& s : tables->children[0].children) {
            info.strings.push_back({s.key, s.text});
        }
    }
    return true;
}

bool ReadVersionInfo(std::u16string_view exePath, VersionInfo& info, bool& found, Error& error) {
    std::vector<ResourceInfo> resources;
    if (!ListResources(exePath, resources, error)) {
        return false;
    }
    auto version = std::find_if(resources.begin(), resources.end(),
                                [](const ResourceInfo& r) { return r.type == ResourceKey::Id(kTypeVersion); });
    found = version != resources.end();
    std::vector<std::uint8_t> bytes;
    return !found || (ReadResource(exePath, version->type, version->name, std::nullopt, bytes, error) &&
                      ParseVersionResource(bytes, info, error));
}

bool RewriteVersionResource(std::span<const std::uint8_t> resource, const VersionChanges& changes,
                            std::vector<std::uint8_t>& rewritten, Error& error) {
    Block root;
    return ReadRoot(resource, root, error) && Rewrite(root, changes, rewritten, error);
}

bool VersionEdit::Plan(std::u16string_view exePath, const std::vector<ResourceInfo>& resources,
                       std::vector<ResourceUpdate>& updates, Error& error) const {
    bool any = false;
    for (const ResourceInfo& r : resources) {
        if (r.type != ResourceKey::Id(kTypeVersion)) {
            continue;
        }
        std::vector<std::uint8_t> bytes;
        ResourceUpdate update{r.type, r.name, r.language, {}};
        if (!ReadResource(exePath, r.type, r.name, r.language, bytes, error) ||
            !RewriteVersionResource(bytes, changes_, update.data.bytes, error)) {
            return false;
        }
        updates.push_back(std::move(update));
        any = true;
    }
    if (!any) {
        Block root{u"VS_VERSION_INFO", 0, false, {}, NewFixedPart(), {}};
        ResourceUpdate update{ResourceKey::Id(kTypeVersion), ResourceKey::Id(1), kLanguageEnglishUS, {}};
        if (!Rewrite(root, changes_, update.data.bytes, error)) {
            return false;
        }
        updates.push_back(std::move(update));
    }
    return true;
}

} // namespace pe
