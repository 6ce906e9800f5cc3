// What every subcommand of tarvelo-build is: a name, its help text, the options it accepts and the
// function that runs it. Adding a subcommand means one file defining a Command and one row in the
// table of main.cpp.
#pragma once

#include "cli/args.h"

#include <span>
#include <string_view>

namespace cli {

// Exit statuses: scripts tell a failed build from a mistyped command line.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct Command {
    std::string_view name;
    std::string_view summary; // one line, for the program's own --help
    std::string_view help;    // the whole text of "tarvelo-build NAME --help"
    std::span<const OptionSpec> options;
    int (*run)(const Args& args);
};

extern const Command kGatherCommand;
extern const Command kSetCommand;
extern const Command kInfoCommand;
extern const Command kVerifyCommand;
extern const Command kDatCommand;
extern const Command kInstallerCommand;
extern const Command kExtractCommand;
extern const Command kInfCommand;
extern const Command kCabCommand;

// Reports a command line the subcommand cannot use, with a pointer to its help; answers kExitUsage.
int UsageError(const Command& command, std::string_view problem);

} // namespace cli
