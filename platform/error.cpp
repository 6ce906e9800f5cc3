// Error's texts for messages (the message with the system's reason, one line of a report) and the
// error made from the call that just failed.
#include "platform/error.h"

#include <utility>

std::string Error::Text() const {
    if (reason.empty()) {
        return message;
    }
    std::string text = message;
    text.append(" (").append(reason).append(")");
    return text;
}

std::string Error::Line() const {
    if (subject.empty()) {
        return Text();
    }
    std::string line = subject;
    line.append(": ").append(Text());
    return line;
}

Error SystemError(ErrorCode code, std::string subject, std::string message) {
    // Read before anything else runs that could overwrite the system's last error.
    std::string reason = platform::SystemReason();
    return {code, std::move(subject), std::move(message), std::move(reason)};
}
