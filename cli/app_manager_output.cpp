// Planning and writing cab --appmgr's .ini.
#include "cli/app_manager_output.h"

#include "cli/args.h"
#include "cli/console.h"
#include "device/app_manager_ini.h"
#include "platform/error.h"
#include "platform/host_paths.h"
#include "platform/replacement.h"

namespace cli {

bool PlanAppManagerIni(std::u16string_view folder, std::u16string_view stem, std::u16string_view appName,
                       std::span<const std::u16string> cabinetNames, std::string_view subject, AppManagerOutput& ini) {
    Error error;
    if (!device::MakeAppManagerIni(appName, cabinetNames, ini.bytes, error)) {
        PrintError(subject, error);
        return false;
    }
    ini.path = platform::JoinHostPath(folder, device::AppManagerIniName(stem));
    return true;
}

bool WriteAppManagerIni(const AppManagerOutput& ini, bool quiet) {
    if (!platform::ReplaceWith(ini.path, ini.bytes)) {
        PrintError(Utf8(ini.path), SystemError(ErrorCode::CannotWrite, {}, "cannot be written"));
        return false;
    }
    if (!quiet) {
        Print(Utf8(ini.path) + "\n");
    }
    return true;
}

} // namespace cli
