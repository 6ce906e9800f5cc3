// POSIX hosts have no ANSI code page; their 8-bit text is UTF-8.
#include "platform/text.h"

namespace platform {

std::string ToAnsi(std::u16string_view in) { return ToUtf8(in); }
std::u16string FromAnsi(std::string_view in) { return ToUtf16(in); }

} // namespace platform
