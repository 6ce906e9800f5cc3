// tarvelo-build: the command-line builder beside the GUI. Reads the arguments (UTF-8 on POSIX
// hosts, the exact UTF-16 command line on Windows), handles --help and --version, and hands the
// rest to the subcommand named first.
#include "cli/command.h"
#include "cli/console.h"
#include "cli/nearest.h"

#include "platform/file.h"
#include "platform/standard_io.h"
#include "platform/text.h"

#include <array>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace cli {
namespace {

// Every subcommand; a new one is one more row.
const std::array<const Command*, 9> kCommands{&kGatherCommand,  &kSetCommand, &kInfoCommand,
                                              &kVerifyCommand,  &kDatCommand, &kInstallerCommand,
                                              &kExtractCommand, &kCabCommand, &kInfCommand};

std::string ProgramHelp() {
    std::string text = "Usage: tarvelo-build COMMAND [ARGUMENTS] [--quiet]\n"
                       "       tarvelo-build --help | --version\n\n"
                       "Builds Pocket PC installers and package data files from workspace files (.orb),\n"
                       "and inspects, verifies and unpacks packages and installers.\n\nCommands:\n";
    for (const Command* c : kCommands) {
        std::string name(c->name);
        text +=
            "  " + name + std::string(name.size() < 12 ? 12 - name.size() : 1, ' ') + std::string(c->summary) + "\n";
    }
    text += "\nRun \"tarvelo-build COMMAND --help\" for a command's arguments.\n"
            "Exit status: 0 success, 1 failure, 2 wrong usage.\n";
    return text;
}

int RunCommand(const Command& command, const std::vector<std::u16string>& arguments) {
    Args args;
    std::string problem;
    if (!args.Parse(arguments, command.options, problem)) {
        return UsageError(command, problem);
    }
    if (args.Help()) {
        Print(command.help);
        return kExitSuccess;
    }
    return command.run(args);
}

int Main(int argc, char** argv) {
    // A build stopped part way must not leave its unfinished files beside the outputs.
    platform::CleanUpOnInterrupt();
    std::vector<std::u16string> arguments;
    std::string bad;
    if (!platform::ProgramArguments(argc, argv, arguments, bad)) {
        PrintError(bad, "argument is not valid UTF-8");
        return kExitUsage;
    }
    if (arguments.empty()) {
        PrintErrorLine(ProgramHelp());
        return kExitUsage;
    }
    const std::u16string& first = arguments.front();
    if (first == u"--help" || first == u"-h" || first == u"help") {
        Print(ProgramHelp());
        return kExitSuccess;
    }
    if (first == u"--version") {
        Print(std::string(kProgramName) + " " TARVELO_VERSION "\n");
        return kExitSuccess;
    }
    for (const Command* command : kCommands) {
        if (first == platform::ToUtf16(command->name)) {
            return RunCommand(*command, std::vector<std::u16string>(arguments.begin() + 1, arguments.end()));
        }
    }
    std::vector<std::string_view> names;
    for (const Command* command : kCommands) {
        names.push_back(command->name);
    }
    std::string problem = "unknown command \"" + Utf8(first) + "\"; ";
    std::optional<std::string> meant = NearestName(Utf8(first), names);
    PrintError("", problem + (meant ? "did you mean \"" + *meant + "\"?" : "see \"tarvelo-build --help\""));
    return kExitUsage;
}

} // namespace

int UsageError(const Command& command, std::string_view problem) {
    // A problem that ends in a suggestion ("did you mean --force?") is pointer enough.
    if (problem.ends_with('?')) {
        PrintError(command.name, problem);
        return kExitUsage;
    }
    PrintError(command.name, std::string(problem) + "; see \"tarvelo-build " + std::string(command.name) + " --help\"");
    return kExitUsage;
}

} // namespace cli

// Every allocation a file's numbers decide is bounded before it is made; should one still fail, or
// anything else be thrown, the command ends with one line and a failure, never with the runtime's
// abort (which on Windows is exit status 3 and, from a console, a dialog).
int main(int argc, char** argv) {
    try {
        return cli::Main(argc, argv);
    } catch (const std::bad_alloc&) {
        cli::PrintError("", "out of memory");
    } catch (const std::exception& e) {
        cli::PrintError("", e.what());
    } catch (...) {
        cli::PrintError("", "stopped by an unexpected fault");
    }
    // Unwinding has run the destructors by now, which removed any unfinished output.
    return cli::kExitFailure;
}
