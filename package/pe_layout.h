// Encoding a resource tree as the bytes of a resource section. The small part (directories,
// names, data entries) is built in memory; the resource data is only listed, with its offset in
// the section, so that the writer can copy it in chunks from where it lives.
#pragma once

#include "package/pe_tree.h"

#include <cstdint>
#include <vector>

namespace pe {

struct SectionBlob {
    std::uint32_t offset = 0; // inside the section
    LeafData data;
};

struct SectionPlan {
    std::vector<std::uint8_t> head; // directories, names and data entries: the start of the section
    std::vector<SectionBlob> blobs; // in ascending offsets, each 8-aligned, after `head`
    std::uint64_t size = 0;         // the whole section, a multiple of 8
};

// Lays the tree out as the resource compiler does: every directory depth-first, then the names,
// then the data entries, then the data. `rva` is where the section will be loaded: data entries
// hold addresses, not section offsets. The tree must be sorted.
SectionPlan PlanSection(const ResourceTree& tree, std::uint32_t rva);

} // namespace pe
