// The code page conversions done with our own tables: on hosts other than Windows, and on a
// Windows that lacks the code page. Which code pages are known is the tables' list on every host.
#include "platform/code_page_table.h"
#include "platform/code_page.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace platform::code_page_table {
namespace {

constexpr char16_t kNone = u'\uFFFD';
constexpr std::uint16_t kNoCode = 0xFFFF; // no code page here has a pair FF FF
constexpr std::size_t kMostTables = 16;

// A table made ready to look up: the row of each lead byte, and for every UTF-16 unit the code
// Windows writes for it. The second is built from the first direction, so that only characters
// that decode back to themselves are ever written.
struct Lookup {
    const Table* table = nullptr;
    std::array<const Row*, 256> rows{};
    std::vector<std::uint16_t> codes = std::vector<std::uint16_t>(0x10000, kNoCode);
};

std::unique_ptr<Lookup> MakeLookup(const Table& table) {
    auto lookup = std::make_unique<Lookup>();
    lookup->table = &table;
    auto add = [&](char16_t unit, unsigned code) {
        if (unit != kNone && !std::binary_search(table.duplicates.begin(), table.duplicates.end(), code)) {
            lookup->codes[unit] = static_cast<std::uint16_t>(code);
        }
    };
    for (unsigned byte = 0; byte < 256; ++byte) {
        add(table.single[byte], byte);
    }
    for (const Row& row : table.rows) {
        lookup->rows[row.lead] = &row;
        for (std::size_t i = 0; i < row.units.size(); ++i) {
            add(row.units[i], row.lead * 256u + row.first + static_cast<unsigned>(i));
        }
    }
    return lookup;
}

// Made on first use, once for each code page: a 128 KiB table is worth building only for a code
// page that some text is in.
const Lookup* Find(unsigned codePage) {
    static std::array<std::once_flag, kMostTables> made;
    static std::array<std::unique_ptr<Lookup>, kMostTables> lookups;
    auto tables = Tables();
    auto it = std::lower_bound(tables.begin(), tables.end(), codePage,
                               [](const Table& table, unsigned wanted) { return table.codePage < wanted; });
    if (it == tables.end() || it->codePage != codePage) {
        return nullptr;
    }
    auto index = static_cast<std::size_t>(it - tables.begin());
    if (index >= kMostTables) {
        return nullptr;
    }
    std::call_once(made[index], [&] { lookups[index] = MakeLookup(*it); });
    return lookups[index].get();
}

} // namespace

bool Encode(unsigned codePage, std::u16string_view in, std::string& out) {
    out.clear();
    const Lookup* lookup = Find(codePage);
    if (lookup == nullptr) {
        return false;
    }
    for (char16_t unit : in) {
        std::uint16_t code = lookup->codes[unit]; // a surrogate has none
        if (code == kNoCode) {
            out.clear();
            return false;
        }
        if (code > 0xFF) {
            out += static_cast<char>(code >> 8);
        }
        out += static_cast<char>(code & 0xFF);
    }
    return true;
}

std::u16string Decode(unsigned codePage, std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    const Lookup* lookup = Find(codePage);
    const Table* table = lookup != nullptr ? lookup->table : nullptr;
    for (std::size_t i = 0; i < in.size(); ++i) {
        auto byte = static_cast<unsigned char>(in[i]);
        if (table == nullptr) {
            out += byte < 0x80 ? char16_t{byte} : kNone;
            continue;
        }
        const Row* row = lookup->rows[byte];
        if (row == nullptr) {
            out += table->single[byte];
            continue;
        }
        char16_t unit = kNone;
        if (i + 1 < in.size()) {
            std::size_t trail = static_cast<unsigned char>(in[i + 1]);
            if (trail >= row->first && trail - row->first < row->units.size()) {
                unit = row->units[trail - row->first];
            }
        }
        if (unit != kNone) {
            ++i;
        }
        out += unit;
    }
    return out;
}

} // namespace platform::code_page_table

namespace platform {

std::span<const unsigned> KnownCodePages() {
    static const std::vector<unsigned> known = [] {
        std::vector<unsigned> list;
        for (const code_page_table::Table& table : code_page_table::Tables()) {
            list.push_back(table.codePage);
        }
        return list;
    }();
    return known;
}

bool KnownCodePage(unsigned codePage) {
    auto known = KnownCodePages();
    return std::binary_search(known.begin(), known.end(), codePage);
}

} // namespace platform
