#include "build/build_command.h"

namespace build {

std::string ExpandBuildCommand(std::string_view command, std::string_view installerPath) {
    std::string quoted = "\"" + std::string(installerPath) + "\"";
    std::size_t open = command.find('<');
    if (open == std::string_view::npos) {
        return quoted;
    }
    std::size_t close = command.find('>', open + 1);
    if (close == std::string_view::npos || command.substr(open + 1, close - open - 1) != "filename") {
        return quoted;
    }
    return std::string(command.substr(0, open)) + quoted + std::string(command.substr(close + 1));
}

} // namespace build
