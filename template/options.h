// The installer's command line: /S installs without any window, /D=FOLDER names the folder that
// stands for the device's root, /CPU=ARM|MIPS|SHX|INTEL the processor family, /? lists them (the
// setup flow answers it before the others are parsed). Without /S, /D= and /CPU= only preset the
// wizard's choices. As with other installers, the folder may follow /D= unquoted, blanks and all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace setup {

struct Options {
    bool silent = false;
    std::u16string destination; // empty: the default folder
    std::uint32_t cpuFlag = 0;  // 0: ARM
};

// Options are matched without regard to case, as Windows programs do. Fails with the cause for an
// unknown option, an empty /D= and an unknown processor family.
bool ParseOptions(const std::vector<std::u16string>& arguments, Options& options, std::string& cause);

} // namespace setup
