// Where tarvelo-build talks: results on standard output, one line per error on standard error, and
// a progress bar on standard error only when a person is watching it (a terminal), so that logs of
// scripted builds stay clean.
#pragma once

#include "package/package.h"
#include "platform/error.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace cli {

inline constexpr std::string_view kProgramName = "tarvelo-build";

// Writes UTF-8 text to standard output (to a Windows console as UTF-16, so that names show right).
void Print(std::string_view text);
// "tarvelo-build: SUBJECT: CAUSE" on standard error; the subject is usually the file concerned.
void PrintError(std::string_view subject, std::string_view cause);
// The error's text (with the system's reason, where it has one) about `subject`.
void PrintError(std::string_view subject, const Error& error);
// A line on standard error as it is given.
void PrintErrorLine(std::string_view line);

// A UTF-8 text as a JSON string, quotes included; control characters escaped as \uXXXX.
std::string Json(std::string_view text);

// The failed checks of verify, each printed as an error line about `subject`; after a screenful
// the rest are only counted.
class Findings {
public:
    explicit Findings(std::string subject) : subject_(std::move(subject)) {}
    void Fail(const std::string& what);
    std::size_t Count() const { return count_; }
    // Says how many were not shown.
    void Summarise() const;

private:
    std::string subject_;
    std::size_t count_ = 0;
};

// A one-line bar drawn over itself while a package is written; silent when not enabled.
class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}
    ~ProgressBar() { Finish(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Show(int percent, std::string_view label);
    // Ends the bar's line, so that later messages start on their own.
    void Finish();
    // A callback for Package::Write that follows the bytes copied, not only the members done:
    // one large member would otherwise hold the bar still for most of the build.
    ProgressCallback WriteCallback(const Package& package);

private:
    bool enabled_;
    bool drawn_ = false;
    int shown_ = -1;
};

} // namespace cli
