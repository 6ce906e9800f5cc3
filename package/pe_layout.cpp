// Building the resource section's directories. The layout follows the resource compiler's (and
// so the linker's) so that rewriting an unchanged tree moves no resource: directories depth-first,
// names packed after them, data entries, then data at 8-byte boundaries.
#include "package/pe_layout.h"

namespace pe {
namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;

std::uint64_t Align8(std::uint64_t v) { return (v + 7) & ~std::uint64_t{7}; }

class Planner {
public:
    Planner(const ResourceTree& tree, std::uint32_t rva) : tree_(tree), rva_(rva) {}
    SectionPlan Plan();

private:
    void Measure();
    std::uint32_t PutDirectory(std::uint16_t named, std::uint16_t ids, std::size_t& entryAt);
    void PutKey(std::size_t entryAt, const ResourceKey& key);
    void PutLeaf(std::size_t entryAt, const LanguageNode& leaf);

    const ResourceTree& tree_;
    std::uint32_t rva_;
    SectionPlan plan_;
    std::uint64_t nextTable_ = 0, nextString_ = 0, nextLeaf_ = 0, nextData_ = 0;
};

template <typename Nodes> std::uint16_t CountNamed(const Nodes& nodes) {
    std::uint16_t named = 0;
    for (const auto& n : nodes) {
        named = static_cast<std::uint16_t>(named + (n.key.IsName() ? 1 : 0));
    }
    return named;
}

void Planner::Measure() {
    std::uint64_t tables = 16 + 8 * tree_.types.size(), strings = 0, leaves = 0;
    auto name = [&](const ResourceKey& key) { strings += key.IsName() ? 2 + 2 * key.name.size() : 0; };
    for (const TypeNode& t : tree_.types) {
        name(t.key);
        tables += 16 + 8 * t.names.size();
        for (const NameNode& n : t.names) {
            name(n.key);
            tables += 16 + 8 * n.languages.size();
            leaves += 16 * n.languages.size();
        }
    }
    nextString_ = tables;
    nextLeaf_ = Align8(tables + strings);
    nextData_ = nextLeaf_ + leaves;
    plan_.head.assign(static_cast<std::size_t>(nextData_), 0);
}

// Writes a directory header at the next table position; answers its offset and where its
// entries go.
std::uint32_t Planner::PutDirectory(std::uint16_t named, std::uint16_t ids, std::size_t& entryAt) {
    auto at = static_cast<std::size_t>(nextTable_);
    std::uint8_t* p = plan_.head.data() + at;
    PutLe16(p + 8, 4); // version 4.0, as the platform writes; characteristics and time stay 0
    PutLe16(p + 12, named);
    PutLe16(p + 14, ids);
    entryAt = at + 16;
    nextTable_ += 16 + 8 * (std::uint64_t{named} + ids);
    return static_cast<std::uint32_t>(at);
}

void Planner::PutKey(std::size_t entryAt, const ResourceKey& key) {
    std::uint8_t* entry = plan_.head.data() + entryAt;
    if (!key.IsName()) {
        PutLe32(entry, key.id);
        return;
    }
    auto at = static_cast<std::size_t>(nextString_);
    PutLe32(entry, kHighBit | static_cast<std::uint32_t>(at));
    PutLe16(plan_.head.data() + at, static_cast<std::uint16_t>(key.name.size()));
    for (std::size_t i = 0; i < key.name.size(); ++i) {
        PutLe16(plan_.head.data() + at + 2 + 2 * i, key.name[i]);
    }
    nextString_ += 2 + 2 * key.name.size();
}

void Planner::PutLeaf(std::size_t entryAt, const LanguageNode& leaf) {
    PutLe32(plan_.head.data() + entryAt, leaf.language);
    PutLe32(plan_.head.data() + entryAt + 4, static_cast<std::uint32_t>(nextLeaf_));
    std::uint8_t* p = plan_.head.data() + nextLeaf_;
    PutLe32(p, static_cast<std::uint32_t>(rva_ + nextData_));
    PutLe32(p + 4, leaf.data.size);
    PutLe32(p + 8, leaf.codePage);
    plan_.blobs.push_back({static_cast<std::uint32_t>(nextData_), leaf.data});
    nextLeaf_ += 16;
    nextData_ = Align8(nextData_ + leaf.data.size);
}

SectionPlan Planner::Plan() {
    Measure();
    std::size_t typeEntry = 0;
    auto typeCount = static_cast<std::uint16_t>(tree_.types.size());
    std::uint16_t typeNamed = CountNamed(tree_.types);
    PutDirectory(typeNamed, static_cast<std::uint16_t>(typeCount - typeNamed), typeEntry);
    for (const TypeNode& t : tree_.types) {
        PutKey(typeEntry, t.key);
        std::size_t nameEntry = 0;
        std::uint16_t named = CountNamed(t.names);
        std::uint32_t dir = PutDirectory(named, static_cast<std::uint16_t>(t.names.size() - named), nameEntry);
        PutLe32(plan_.head.data() + typeEntry + 4, kHighBit | dir);
        typeEntry += 8;
        for (const NameNode& n : t.names) {
            PutKey(nameEntry, n.key);
            std::size_t languageEntry = 0;
            dir = PutDirectory(0, static_cast<std::uint16_t>(n.languages.size()), languageEntry);
            PutLe32(plan_.head.data() + nameEntry + 4, kHighBit | dir);
            nameEntry += 8;
            for (const LanguageNode& l : n.languages) {
                PutLeaf(languageEntry, l);
                languageEntry += 8;
            }
        }
    }
    plan_.size = nextData_;
    return std::move(plan_);
}

} // namespace

SectionPlan PlanSection(const ResourceTree& tree, std::uint32_t rva) { return Planner(tree, rva).Plan(); }

} // namespace pe
