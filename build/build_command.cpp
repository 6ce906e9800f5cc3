#include "build/build_command.h"

namespace build {

std::string ExpandBuildCommand(std::string_view command, std::string_view installerPath) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about chained operator+.
    std::string quoted;
    quoted.reserve(installerPath.size() + 2);
    quoted.append(1, '"').append(installerPath).append(1, '"');
    return ExpandBuildCommandQuoted(command, quoted);
}

std::string ExpandBuildCommandQuoted(std::string_view command, std::string_view quotedPath) {
    std::string quoted(quotedPath);
    std::size_t open = command.find('<');
    if (open == std::string_view::npos) {
        return quoted;
    }
    std::size_t close = command.find('>', open + 1);
    if (close == std::string_view::npos || command.substr(open + 1, close - open - 1) != "filename") {
        return quoted;
    }
    std::string line(command.substr(0, open));
    line.append(quoted).append(command.substr(close + 1));
    return line;
}

} // namespace build
