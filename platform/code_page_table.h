// The Windows ANSI code pages as tables of our own, so that hosts without Windows' conversions
// write and read a device's 8-bit text with the same bytes as Windows does (and Windows itself
// when it lacks a code page, as a Western Windows XP without its East Asian files does). The
// tables come from tools/code-page-tables; the tests compare them with Windows' conversions.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform::code_page_table {

// One lead byte of a double-byte code page: the characters of its pairs from trail byte `first`
// on, U+FFFD where a pair has none.
struct Row {
    std::uint8_t lead;
    std::uint8_t first;
    std::u16string_view units;
};

struct Table {
    unsigned codePage;
    std::u16string_view single; // 256 units, U+FFFD for a lead byte or a byte without a character
    std::span<const Row> rows;
    // Codes that decode to a character Windows writes with another code (the duplicates of
    // Shift-JIS's NEC and IBM extensions, say): read, never written.
    std::span<const std::uint16_t> duplicates;
};

// Every known code page, in increasing order (code_page_data.cpp, generated).
std::span<const Table> Tables();

// The conversions of platform/code_page.h, for a known code page, done with the tables.
bool Encode(unsigned codePage, std::u16string_view in, std::string& out);
std::u16string Decode(unsigned codePage, std::string_view in);

} // namespace platform::code_page_table
