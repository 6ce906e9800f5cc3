// tarvelo-build cab of a CAB-wizard INF file, beside cab of a workspace, package or installer.
#pragma once

#include "cli/args.h"
#include "cli/command.h"

#include <string_view>

namespace cli {

// Whether cab's INPUT is an INF file (its name ends in ".inf", any case).
bool IsInfInput(std::u16string_view input);

// Compiles the INF and writes its cabinets; answers the exit status.
int RunCabInf(const Args& args, const Command& command);

} // namespace cli
