// A Windows CE device's 8-bit text: the names and texts of a device cabinet and of the CAB wizard's
// INF are bytes in the device's code page. Windows converts with its own tables, other hosts with
// ours (platform/code_page_table.h); both give the same bytes, which the Windows tests check
// character by character.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace platform {

// The Western code page, which a device has unless told otherwise.
constexpr unsigned kWesternCodePage = 1252;

// The Windows ANSI code pages (874, 932, 936, 949, 950 and 1250 to 1258), in increasing order:
// what CP_ACP is on some Windows installation, so what a device can have. The OEM and ISO code
// pages are no device's 8-bit text, and UTF-8 is none a CE device reads.
std::span<const unsigned> KnownCodePages();
bool KnownCodePage(unsigned codePage);

// Strict: fails for an unknown code page and for a text with a character the code page cannot
// hold exactly, so that a name never turns into a best fit ('A' for 'Ä') or into '?'. A character
// is held when its bytes decode back to it; private-use characters (a PC's own end-user-defined
// characters, which no device font has) never are.
bool ToCodePage(unsigned codePage, std::u16string_view in, std::string& out);

// Every byte or double-byte pair without a character (a byte the code page leaves undefined, a
// pair outside its tables, a lead byte at the end) gives U+FFFD, and the byte after a lead byte
// that makes no pair is read again on its own, so that a '\' or a '"' is never swallowed. An
// unknown code page gives U+FFFD for every byte above 0x7F.
std::u16string FromCodePage(unsigned codePage, std::string_view in);

} // namespace platform
