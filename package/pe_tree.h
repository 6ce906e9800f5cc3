// The resource tree of an executable as three levels (type, name, language), read from the
// section with every offset checked, edited in memory and kept in the order the loader's binary
// search needs. Resource bytes are not held here: a leaf says where they come from.
#pragma once

#include "package/pe_image.h"
#include "package/pe_resources.h"
#include "package/pe_source.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pe {

// Where a resource's bytes come from: a range of the executable being read, or an update.
struct LeafData {
    std::uint64_t fileOffset = 0;
    const ResourceData* update = nullptr;
    std::uint32_t size = 0;
};

struct LanguageNode {
    std::uint16_t language = 0;
    std::uint32_t codePage = 0;
    LeafData data;
};

struct NameNode {
    ResourceKey key;
    std::vector<LanguageNode> languages;
};

struct TypeNode {
    ResourceKey key;
    std::vector<NameNode> names;
};

struct ResourceTree {
    std::vector<TypeNode> types;
};

// Reads the tree that data directory 2 points to; an executable without one gives an empty tree.
bool ReadResourceTree(ByteSource& source, const Image& image, ResourceTree& tree, Error& error);

// Whether the reader above would take the tree back: at most kMaxEntriesPerDirectory entries in
// any one directory and kMaxEntriesInTree in all, counted as the reader counts them. Writers ask
// before writing, so that what they write reads back.
bool CheckTreeLimits(const ResourceTree& tree, Error& error);

// The loader's order: text keys first, compared by UTF-16 code unit with a shorter prefix first,
// then numbers ascending.
bool KeyLess(const ResourceKey& a, const ResourceKey& b);

// A key as the platform's functions take it: "#123" means the number 123, and a text is
// upper-cased. False for a text the platform would refuse ("#" followed by no number under 65536).
bool NormalizeKey(const ResourceKey& key, ResourceKey& normalized);

// Adds or replaces one resource. The keys must be normalized.
void AddOrReplace(ResourceTree& tree, const ResourceKey& type, const ResourceKey& name, std::uint16_t language,
                  const LeafData& data);

// Removes one resource, and the directories it leaves empty; false when there is no such resource.
// The keys are compared as they are stored.
bool RemoveFromTree(ResourceTree& tree, const ResourceKey& type, const ResourceKey& name, std::uint16_t language);

// Sorts every level into the loader's order.
void SortTree(ResourceTree& tree);

// Finds a resource as the loader does; without a language: neutral, then U.S. English, then the
// first present. The keys must be normalized.
const LanguageNode* FindInTree(const ResourceTree& tree, const ResourceKey& type, const ResourceKey& name,
                               std::optional<std::uint16_t> language);

} // namespace pe
