// Reading a registry editor export (a .reg file, "REGEDIT4" or "Windows Registry Editor Version
// 5.00") into the registry values a device cabinet carries. A cabinet can only add values, and
// only strings, multi-strings, binary data and DWORDs, so whatever a .reg file can say beyond that
// (deleting keys or values, expandable strings, other types and roots) is refused by name rather
// than dropped. Every problem names its line ("Notes.reg:12: ..."), so that a user corrects the
// file once, not once per problem.
#pragma once

#include "device/cabinet_design.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace device {

// A cabinet's manifest gives the length of each of its registry texts in 16 bits: each name of a
// key (with its zero, padded to four bytes), the list of a key's names (two bytes each and a zero),
// a value's name and data together. Nothing longer can be written, so the reader refuses it at its
// line, and keeps no more of one value than twice this while it reads.
inline constexpr std::size_t kLongestRegistryEntry = 0xFFFF;

// Reads `bytes`, the whole of a .reg file, into `values` in the order the file gives them. Each
// problem is one line of `problems`, "NAME:LINE: what is wrong", `name` being how the file is to be
// named in them; all are collected, and on any `values` is left empty and the answer is false. A
// file whose first line is neither header is refused at that line without reading further.
//
// A value is read as regedit would set it, replacing what the device has (no kRegNoClobber). The
// device's folder macros (%InstallDir%, %CE1%, ...) stay as written, for the device to expand. A
// key without values gives nothing: a cabinet makes a key for the values it sets.
bool ReadRegFile(std::span<const std::uint8_t> bytes, std::string_view name, std::vector<RegistryValue>& values,
                 std::vector<std::string>& problems);

} // namespace device
