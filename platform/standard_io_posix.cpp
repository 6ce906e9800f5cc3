// Arguments, the program's path and the terminal on POSIX hosts.
#include "platform/standard_io.h"

#include "platform/text.h"

#include <cstdio>

#include <unistd.h>

namespace platform {

bool ProgramArguments(int argc, char** argv, std::vector<std::u16string>& arguments, std::string& bad) {
    for (int i = 1; i < argc; ++i) {
        std::u16string argument;
        if (!Utf8ToUtf16(argv[i], argument)) {
            bad = argv[i];
            return false;
        }
        arguments.push_back(std::move(argument));
    }
    return true;
}

bool ProgramFolder(std::u16string& folder) {
    for (std::size_t size = 256; size <= 65536; size *= 2) {
        std::string buffer(size, '\0');
        ssize_t length = readlink("/proc/self/exe", buffer.data(), size);
        if (length < 0) {
            return false;
        }
        if (static_cast<std::size_t>(length) < size) {
            buffer.resize(static_cast<std::size_t>(length));
            std::size_t cut = buffer.find_last_of('/');
            return cut != std::string::npos && Utf8ToUtf16(std::string_view(buffer).substr(0, cut + 1), folder);
        }
    }
    return false;
}

void WriteStandard(bool error, std::string_view text) {
    std::FILE* stream = error ? stderr : stdout;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

} // namespace platform
