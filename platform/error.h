// A failure on its way to the person who will read about it. Every layer used to carry its own
// shape of message (a text out-parameter, a detail member, an outcome with a cause); one value lets
// a caller branch on what happened without comparing texts, and keeps the operating system's own
// words for a failed system call next to ours instead of losing them on the way up.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

enum class ErrorCode : std::uint8_t {
    None,
    CannotOpen,    // a file or folder that exists could not be opened, or one needed is missing
    CannotCreate,  // no new file could be made where one is needed
    CannotRead,    // reading stopped before the end
    CannotWrite,   // writing stopped before the end, or the written file could not take its name
    NotRegular,    // a name that must be a file's is a folder, a link, a device or a pipe
    Malformed,     // a file is not what it claims to be
    Refused,       // the request itself cannot be carried out (an output that is an input, ...)
    PackageFailed, // the package could not be written; the package object keeps its own message
    SidebarUnusable,
    SidebarWrongSize,
    CommandTooLong,
    CommandNotStarted,
    CommandFailed,
};

struct Error {
    ErrorCode code = ErrorCode::None;
    std::string subject; // what the failure concerns (a path, "build command"); UTF-8, may be empty
    std::string message; // UTF-8
    std::string reason;  // the operating system's own words, where a system call failed

    explicit operator bool() const noexcept { return code != ErrorCode::None; }
    // The message with the system's reason after it in brackets.
    std::string Text() const;
    // "subject: " and the text, for one line of a report.
    std::string Line() const;
};

namespace platform {

// The last failed system call of this thread, in the operating system's words (strerror, or
// FormatMessage of GetLastError); empty when it recorded no failure.
std::string SystemReason();
// Clears the system's last error, before a step that may fail without a system call failing (a
// package that ends early): SystemReason is then empty rather than a reason left by an earlier,
// unrelated call (a name looked up and found missing, say).
void ForgetSystemReason();

// Keeps the system's last error across cleaning up after a failure (closing, removing a temporary
// file), so that the reason told is the failure's, not the cleanup's.
class KeepSystemReason {
public:
    KeepSystemReason();
    ~KeepSystemReason();
    KeepSystemReason(const KeepSystemReason&) = delete;
    KeepSystemReason& operator=(const KeepSystemReason&) = delete;

private:
    unsigned long saved_;
};

} // namespace platform

// Errors with no system call to blame: data that is not what it claims to be, and a request that
// cannot be carried out.
inline Error Malformed(std::string message) { return {ErrorCode::Malformed, {}, std::move(message), {}}; }
inline Error Refusal(std::string message) { return {ErrorCode::Refused, {}, std::move(message), {}}; }

// An error whose reason is the system's account of the call that just failed.
Error SystemError(ErrorCode code, std::string subject, std::string message);
