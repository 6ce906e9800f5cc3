// tarvelo-build cab of a CAB-wizard INF file, beside cab of a workspace, package or installer.
#pragma once

#include "cli/args.h"
#include "cli/command.h"
#include "device/inf_compile.h"

#include <string>
#include <vector>

#include <string_view>

namespace cli {

// Whether cab's INPUT is an INF file (its name ends in ".inf", any case).
bool IsInfInput(std::u16string_view input);

// Compiles the INF and writes its cabinets; answers the exit status.
int RunCabInf(const Args& args, const Command& command);

// The INF at `path` read in `codePage`, compiled for `label` (empty for none) with its sources
// found below `sourceFolder` where it names absolute Windows folders, and each source measured.
// False after printing every problem.
bool CompileInfFile(const std::u16string& path, const std::u16string& label, const std::u16string& sourceFolder,
                    unsigned codePage, device::inf::CompiledInf& compiled);

// The labels the INF at `path` defines; false after printing why it cannot be read.
bool InfFileLabels(const std::u16string& path, unsigned codePage, std::vector<std::u16string>& labels);

} // namespace cli
