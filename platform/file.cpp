// What every host's files share: reading a run of bytes whole, with a file that ends early told
// apart from a read that fails.
#include "platform/file.h"

#include "platform/error.h"

namespace platform {

bool ReadExactly(File& file, void* buffer, std::uint32_t length) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::uint32_t done = 0;
    while (done < length) {
        std::uint32_t got = 0;
        if (!file.Read(bytes + done, length - done, got)) {
            return false;
        }
        if (got == 0) {
            // The end of the file is no failed call: a reason left by an earlier one must not
            // make a short file read as a failing disk.
            ForgetSystemReason();
            return false;
        }
        done += got;
    }
    return true;
}

} // namespace platform
