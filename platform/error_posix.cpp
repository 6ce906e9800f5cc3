// The system's own words for a failed call, from errno.
#include "platform/error.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::string SystemReason() {
    int saved = errno;
    if (saved == 0) {
        return {};
    }
    // strerror is not required to be thread-safe; the GNU and POSIX strerror_r differ in type.
    char buffer[256] = "";
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    std::string reason = strerror_r(saved, buffer, sizeof buffer);
#else
    std::string reason =
        strerror_r(saved, buffer, sizeof buffer) == 0 ? buffer : std::string("error ").append(std::to_string(saved));
#endif
    errno = saved;
    return reason;
}

void ForgetSystemReason() { errno = 0; }

KeepSystemReason::KeepSystemReason() : saved_(static_cast<unsigned long>(errno)) {}
KeepSystemReason::~KeepSystemReason() { errno = static_cast<int>(saved_); }

} // namespace platform
