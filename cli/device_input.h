// What the device outputs (cab, inf) are made from: a workspace, whose members are read from the
// files it names, or a package data file or installer, whose members are read from it; and the
// choices those commands share: processor families, the output's names, the provider.
#pragma once

#include "cli/args.h"
#include "cli/package_input.h"
#include "device/cabinet.h"
#include "device/layout.h"
#include "package/package.h"
#include "platform/destination.h"

#include <memory>
#include <string>
#include <vector>

namespace cli {

struct DeviceInput {
    std::u16string path;
    PackageInput input; // header and table; a workspace's sizes are its files' sizes now
    Package package;    // a workspace's, for the output checks
    std::int64_t time = 0;

    // Loads INPUT, checks that its package could install, and reads the files' date. A
    // workspace's files are looked up below `sourceFolder` when one is given (--source-folder).
    // Prints the error and answers false when it cannot be used.
    bool Load(std::u16string_view given, std::u16string_view sourceFolder = {});
    std::unique_ptr<device::MemberSource> Members();
    // The program name, or the input's own name when it has none.
    std::u16string AppName() const;
};

// The families --cpu names (a comma-separated list), or every family when it is not given.
// Fails with the problem for an unknown name.
bool ParseCpuList(const Args& args, std::vector<const device::CpuChoice*>& families, std::string& problem);

// --provider's text, which cabinets and INF files hold as Western Windows text (code page 1252);
// fails with the problem for a character they cannot hold.
bool CheckProvider(const Args& args, std::string& problem);

// One output of a family: its plan and the file it goes to.
struct FamilyOutput {
    const device::CpuChoice* family = nullptr;
    device::InstallPlan plan;
    std::u16string path;
};

// Plans each family, naming its output "PROGRAM.FAMILY<extension>" in the folder of -d. A family
// without files is left out with a note, or refused when --cpu names it; `kind` says what is not
// made ("cabinet"). Prints the error and answers false when a plan is refused.
bool PlanFamilies(const Args& args, const DeviceInput& in, const std::vector<const device::CpuChoice*>& families,
                  std::string_view kind, std::u16string_view extension, std::vector<FamilyOutput>& outputs);

// Makes the folder of -d when missing (reached through links or not) and checks that every output
// may be written (--force for an existing one); prints the error when not. `made` removes the
// folders it made unless the caller keeps them once the outputs are written.
bool PrepareOutputs(const Args& args, DeviceInput& in, const std::vector<FamilyOutput>& outputs,
                    platform::Destination& made);

} // namespace cli
