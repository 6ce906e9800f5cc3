// cab --appmgr: the desktop Application Manager's .ini written beside the cabinets of one run, for
// developers whose own desktop installer (NSIS, Inno Setup) starts CEAppMgr.exe with it.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace cli {

struct AppManagerOutput {
    std::u16string path; // STEM.ini in the cabinets' folder
    std::string bytes;
};

// The .ini in `folder`, named as the cabinets named after `stem` are, that lists `cabinetNames`
// (in that folder) under `appName`. Prints the error about `subject` and answers false when the
// list cannot carry a name, before anything is written.
bool PlanAppManagerIni(std::u16string_view folder, std::u16string_view stem, std::u16string_view appName,
                       std::span<const std::u16string> cabinetNames, std::string_view subject, AppManagerOutput& ini);

// Writes the .ini the one way files are written and prints its path unless `quiet`; false after
// printing why it could not be written.
bool WriteAppManagerIni(const AppManagerOutput& ini, bool quiet);

} // namespace cli
