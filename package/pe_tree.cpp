// Reading, editing and ordering the resource tree. The reader trusts nothing in the section: every
// directory, entry array, name and data entry is checked to lie inside it, each directory may be
// reached once only (so a directory pointing at itself or an ancestor ends the walk), and data
// must lie in bytes the file actually holds.
#include "package/pe_tree.h"

#include "platform/text.h"

#include <algorithm>
#include <set>

namespace pe {
namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;

struct RawEntry {
    ResourceKey key;
    std::uint32_t target = 0; // a subdirectory or a data entry, relative to the tree's start
};

bool HasDuplicates(const std::vector<RawEntry>& entries) {
    std::vector<const ResourceKey*> keys;
    for (const RawEntry& e : entries) {
        keys.push_back(&e.key);
    }
    std::sort(keys.begin(), keys.end(), [](const ResourceKey* a, const ResourceKey* b) { return KeyLess(*a, *b); });
    return std::adjacent_find(keys.begin(), keys.end(),
                              [](const ResourceKey* a, const ResourceKey* b) { return *a == *b; }) != keys.end();
}

// The tree's bytes: from the directory's start to the end of its section's file-backed bytes.
class TreeReader {
public:
    TreeReader(ByteSource& source, const Image& image, Error& error) : source_(source), image_(image), error_(error) {}

    bool Read(ResourceTree& tree);

private:
    bool Fail(const char* message) {
        error_ = Malformed(message);
        return false;
    }
    bool ReadBytes(std::uint32_t offset, void* buffer, std::size_t length) {
        return RangeInside(offset, length, limit_) && source_.ReadAt(base_ + offset, buffer, length);
    }
    bool ReadDirectory(std::uint32_t offset, int level, std::vector<RawEntry>& entries);
    bool ReadName(std::uint32_t offset, std::u16string& name);
    bool ReadLeaf(std::uint32_t offset, LanguageNode& node);

    ByteSource& source_;
    const Image& image_;
    Error& error_;
    std::uint64_t base_ = 0;  // file offset of the tree's start
    std::uint32_t limit_ = 0; // bytes available from there
    std::set<std::uint32_t> visited_;
    std::uint32_t entriesSeen_ = 0;
};

bool TreeReader::ReadName(std::uint32_t offset, std::u16string& name) {
    std::uint8_t lengthBytes[2];
    if (!ReadBytes(offset, lengthBytes, 2)) {
        return Fail("A resource name lies outside the resource section.");
    }
    std::uint16_t length = Le16(lengthBytes);
    std::vector<std::uint8_t> units(2u * length);
    if (length == 0) {
        return Fail("The resource directory holds an empty name.");
    }
    if (!ReadBytes(offset + 2, units.data(), units.size())) {
        return Fail("A resource name lies outside the resource section.");
    }
    name.resize(length);
    for (std::size_t i = 0; i < length; ++i) {
        name[i] = static_cast<char16_t>(Le16(units.data() + 2 * i));
    }
    return true;
}

bool TreeReader::ReadDirectory(std::uint32_t offset, int level, std::vector<RawEntry>& entries) {
    if (!visited_.insert(offset).second) {
        return Fail("The resource directory refers to itself (a loop in the tree).");
    }
    std::uint8_t header[16];
    if (!ReadBytes(offset, header, sizeof header)) {
        return Fail("A resource directory lies outside the resource section.");
    }
    std::uint32_t named = Le16(header + 12);
    std::uint32_t total = named + Le16(header + 14);
    entriesSeen_ += total;
    if (total > kMaxEntriesPerDirectory || entriesSeen_ > kMaxEntriesInTree) {
        return Fail("A resource directory lists an absurd number of entries.");
    }
    if (level == 2 && named != 0) {
        return Fail("A resource language is given as a name; languages are numbers.");
    }
    std::vector<std::uint8_t> raw(8u * total);
    if (!ReadBytes(offset + 16, raw.data(), raw.size())) {
        return Fail("A resource directory's entries lie outside the resource section.");
    }
    entries.clear();
    for (std::uint32_t i = 0; i < total; ++i) {
        std::uint32_t nameField = Le32(raw.data() + 8 * i);
        std::uint32_t target = Le32(raw.data() + 8 * i + 4);
        RawEntry entry;
        if (((nameField & kHighBit) != 0) != (i < named)) {
            return Fail("A resource directory's named-entry count does not match its entries.");
        }
        if (i < named) {
            if (!ReadName(nameField & ~kHighBit, entry.key.name)) {
                return false;
            }
        } else {
            if (nameField > 0xFFFF) {
                return Fail("A resource directory holds an id larger than 65535.");
            }
            entry.key.id = static_cast<std::uint16_t>(nameField);
        }
        bool isDirectory = (target & kHighBit) != 0;
        if (isDirectory != (level < 2)) {
            return Fail("The resource tree does not have exactly three levels (type, name, language).");
        }
        entry.target = target & ~kHighBit;
        entries.push_back(std::move(entry));
    }
    if (HasDuplicates(entries)) {
        return Fail("A resource directory lists the same entry twice.");
    }
    return true;
}

bool TreeReader::ReadLeaf(std::uint32_t offset, LanguageNode& node) {
    std::uint8_t entry[16];
    if (!ReadBytes(offset, entry, sizeof entry)) {
        return Fail("A resource data entry lies outside the resource section.");
    }
    std::uint32_t rva = Le32(entry);
    node.data.size = Le32(entry + 4);
    node.codePage = Le32(entry + 8);
    if (!image_.RvaToOffset(rva, node.data.size, node.data.fileOffset)) {
        return Fail("A resource's data lies outside the file's section data; packed or damaged executables "
                    "are not supported.");
    }
    return true;
}

bool TreeReader::Read(ResourceTree& tree) {
    tree.types.clear();
    DataDirectory dir = image_.Directory(kDirectoryResources);
    if (dir.rva == 0 && dir.size == 0) {
        return true;
    }
    int index = image_.SectionContaining(dir.rva);
    if (index < 0 || !image_.RvaToOffset(dir.rva, 16, base_)) {
        return Fail("The resource directory lies outside the executable's sections.");
    }
    const Section& s = image_.sections[static_cast<std::size_t>(index)];
    limit_ = s.FileBackedSize() - (dir.rva - s.virtualAddress);
    std::vector<RawEntry> types, names, languages;
    if (!ReadDirectory(0, 0, types)) {
        return false;
    }
    for (RawEntry& t : types) {
        TypeNode typeNode{std::move(t.key), {}};
        if (!ReadDirectory(t.target, 1, names)) {
            return false;
        }
        for (RawEntry& n : names) {
            NameNode nameNode{std::move(n.key), {}};
            if (!ReadDirectory(n.target, 2, languages)) {
                return false;
            }
            for (const RawEntry& l : languages) {
                LanguageNode leaf;
                leaf.language = l.key.id;
                if (!ReadLeaf(l.target, leaf)) {
                    return false;
                }
                nameNode.languages.push_back(leaf);
            }
            typeNode.names.push_back(std::move(nameNode));
        }
        tree.types.push_back(std::move(typeNode));
    }
    return true;
}

template <typename Node> Node* FindKey(std::vector<Node>& nodes, const ResourceKey& key) {
    auto it = std::find_if(nodes.begin(), nodes.end(), [&](const Node& n) { return n.key == key; });
    return it == nodes.end() ? nullptr : &*it;
}

template <typename Node> const Node* FindKey(const std::vector<Node>& nodes, const ResourceKey& key) {
    auto it = std::find_if(nodes.begin(), nodes.end(), [&](const Node& n) { return n.key == key; });
    return it == nodes.end() ? nullptr : &*it;
}

} // namespace

bool ReadResourceTree(ByteSource& source, const Image& image, ResourceTree& tree, Error& error) {
    return TreeReader(source, image, error).Read(tree);
}

bool CheckTreeLimits(const ResourceTree& tree, Error& error) {
    std::uint64_t total = 0;
    auto directory = [&](std::size_t entries, const ResourceKey* type) {
        total += entries;
        if (entries > kMaxEntriesPerDirectory) {
            std::string what = type == nullptr  ? std::string("resource types")
                               : type->IsName() ? "resources of type \"" + platform::ToUtf8(type->name) + "\""
                               : type->id == 3  ? std::string("icon images")
                                                : "resources of type " + std::to_string(type->id);
            error = Refusal("The executable would list " + std::to_string(entries) + " " + what +
                            "; one resource directory holds at most " + std::to_string(kMaxEntriesPerDirectory) +
                            " entries.");
            return false;
        }
        return true;
    };
    if (!directory(tree.types.size(), nullptr)) {
        return false;
    }
    for (const TypeNode& t : tree.types) {
        if (!directory(t.names.size(), &t.key)) {
            return false;
        }
        for (const NameNode& n : t.names) {
            if (!directory(n.languages.size(), &t.key)) {
                return false;
            }
        }
    }
    if (total > kMaxEntriesInTree) {
        error = Refusal("The executable would hold " + std::to_string(total) + " resource entries; at most " +
                        std::to_string(kMaxEntriesInTree) + " can be read back.");
        return false;
    }
    return true;
}

bool KeyLess(const ResourceKey& a, const ResourceKey& b) {
    if (a.IsName() != b.IsName()) {
        return a.IsName();
    }
    if (a.IsName()) {
        // char_traits<char16_t> compares code units as unsigned numbers, a prefix first.
        return a.name < b.name;
    }
    return a.id < b.id;
}

bool NormalizeKey(const ResourceKey& key, ResourceKey& normalized) {
    if (!key.IsName()) {
        normalized = key;
        return true;
    }
    if (key.name[0] == u'#') {
        std::uint32_t value = 0;
        if (key.name.size() < 2 || key.name.size() > 6) {
            return false;
        }
        for (std::size_t i = 1; i < key.name.size(); ++i) {
            char16_t c = key.name[i];
            if (c < u'0' || c > u'9') {
                return false;
            }
            value = value * 10 + static_cast<std::uint32_t>(c - u'0');
        }
        if (value > 0xFFFF) {
            return false;
        }
        normalized = ResourceKey::Id(static_cast<std::uint16_t>(value));
        return true;
    }
    normalized = ResourceKey::Name(key.name);
    for (char16_t& c : normalized.name) {
        c = platform::UpperCaseUnit(c);
    }
    return true;
}

void AddOrReplace(ResourceTree& tree, const ResourceKey& type, const ResourceKey& name, std::uint16_t language,
                  const LeafData& data) {
    TypeNode* typeNode = FindKey(tree.types, type);
    if (typeNode == nullptr) {
        typeNode = &tree.types.emplace_back(TypeNode{type, {}});
    }
    NameNode* nameNode = FindKey(typeNode->names, name);
    if (nameNode == nullptr) {
        nameNode = &typeNode->names.emplace_back(NameNode{name, {}});
    }
    auto& languages = nameNode->languages;
    auto it =
        std::find_if(languages.begin(), languages.end(), [&](const LanguageNode& l) { return l.language == language; });
    if (it == languages.end()) {
        languages.push_back(LanguageNode{language, 0, data});
    } else {
        *it = LanguageNode{language, 0, data};
    }
}

bool RemoveFromTree(ResourceTree& tree, const ResourceKey& type, const ResourceKey& name, std::uint16_t language) {
    TypeNode* typeNode = FindKey(tree.types, type);
    NameNode* nameNode = typeNode ? FindKey(typeNode->names, name) : nullptr;
    if (nameNode == nullptr) {
        return false;
    }
    auto& languages = nameNode->languages;
    auto it =
        std::find_if(languages.begin(), languages.end(), [&](const LanguageNode& l) { return l.language == language; });
    if (it == languages.end()) {
        return false;
    }
    languages.erase(it);
    // A directory left without entries would be one the loader has to step through for nothing.
    if (languages.empty()) {
        typeNode->names.erase(typeNode->names.begin() + (nameNode - typeNode->names.data()));
    }
    if (typeNode->names.empty()) {
        tree.types.erase(tree.types.begin() + (typeNode - tree.types.data()));
    }
    return true;
}

void SortTree(ResourceTree& tree) {
    auto byKey = [](const auto& a, const auto& b) { return KeyLess(a.key, b.key); };
    std::sort(tree.types.begin(), tree.types.end(), byKey);
    for (TypeNode& t : tree.types) {
        std::sort(t.names.begin(), t.names.end(), byKey);
        for (NameNode& n : t.names) {
            std::sort(n.languages.begin(), n.languages.end(),
                      [](const LanguageNode& a, const LanguageNode& b) { return a.language < b.language; });
        }
    }
}

const LanguageNode* FindInTree(const ResourceTree& tree, const ResourceKey& type, const ResourceKey& name,
                               std::optional<std::uint16_t> language) {
    const TypeNode* typeNode = FindKey(tree.types, type);
    const NameNode* nameNode = typeNode != nullptr ? FindKey(typeNode->names, name) : nullptr;
    if (nameNode == nullptr || nameNode->languages.empty()) {
        return nullptr;
    }
    const auto& languages = nameNode->languages;
    auto with = [&](std::uint16_t wanted) -> const LanguageNode* {
        auto it = std::find_if(languages.begin(), languages.end(),
                               [&](const LanguageNode& l) { return l.language == wanted; });
        return it == languages.end() ? nullptr : &*it;
    };
    if (language) {
        return with(*language);
    }
    for (std::uint16_t wanted : {std::uint16_t{0}, kLanguageEnglishUS}) {
        if (const LanguageNode* found = with(wanted)) {
            return found;
        }
    }
    return &*std::min_element(languages.begin(), languages.end(),
                              [](const LanguageNode& a, const LanguageNode& b) { return a.language < b.language; });
}

} // namespace pe
