// A device cabinet's manifest, made from a cabinet design; and the design of a workspace's install
// plan. The cabinet writer puts the manifest first in the cabinet.
#pragma once

#include "device/cabinet.h"
#include "device/cabinet_design.h"

#include <string>

namespace device {

// File numbers in the order of a design's files: 1 up, passing over the setup DLL's 999.
std::uint16_t CabinetFileNumber(std::size_t index);

// The manifest's bytes. Fails with the error.message for a text the device's code page lacks and
// for counts, lengths and offsets past the manifest's 16-bit fields.
bool MakeManifest(const CabinetDesign& design, std::string& out, Error& error);

// What the listing a reader makes of the design takes (kLongestListing bounds it).
std::uint64_t DesignListing(const CabinetDesign& design);

// The design of a workspace's plan, as the CAB wizard makes it of the INF `inf -d` writes for the
// plan: the same folders, numbers, flags and shortcuts.
CabinetDesign DesignCabinet(const InstallPlan& plan, const CabinetSettings& settings);

} // namespace device
