// Standard output and error for tarvelo-build, and the progress bar.
#include "cli/console.h"

#include "platform/text.h"

#include "platform/standard_io.h"

namespace cli {
namespace {

constexpr std::size_t kMaxReported = 50;

} // namespace

void Print(std::string_view text) { platform::WriteStandard(false, text); }

void PrintError(std::string_view subject, std::string_view cause) {
    std::string line(kProgramName);
    line += ": ";
    // One line whatever it names: a name may hold a line break or a terminal's escape.
    if (!subject.empty()) {
        line += platform::Printable(subject);
        line += ": ";
    }
    line += platform::Printable(cause);
    line += '\n';
    platform::WriteStandard(true, line);
}

void PrintError(std::string_view subject, const Error& error) { PrintError(subject, error.Text()); }

void PrintErrorLine(std::string_view line) { platform::WriteStandard(true, std::string(line) + "\n"); }

std::string Json(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void Findings::Fail(const std::string& what) {
    if (++count_ <= kMaxReported) {
        PrintError(subject_, what);
    }
}

void Findings::Summarise() const {
    if (count_ > kMaxReported) {
        PrintError(subject_, std::to_string(count_ - kMaxReported) + " more failed checks not shown");
    }
}

void ProgressBar::Show(int percent, std::string_view label) {
    if (!enabled_ || percent == shown_) {
        return;
    }
    constexpr int kWidth = 40;
    shown_ = percent;
    int filled = percent * kWidth / 100;
    std::string line = "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(kWidth - filled), ' ') + "] ";
    line += std::to_string(percent) + "% " + std::string(label);
    platform::WriteStandard(true, line);
    drawn_ = true;
}

void ProgressBar::Finish() {
    if (drawn_) {
        platform::WriteStandard(true, "\n");
        drawn_ = false;
        shown_ = -1;
    }
}

ProgressCallback ProgressBar::WriteCallback(const Package& package) {
    if (!enabled_) {
        return nullptr;
    }
    return [this, &package](const PackageEntry& entry, std::int32_t filePercent, std::int32_t) -> std::uint8_t {
        // Write has measured every member before the first callback, so the total is current.
        std::uint64_t total = package.GetHeader().totalSize;
        std::uint64_t done = entry.offset + std::uint64_t{entry.size} * static_cast<std::uint32_t>(filePercent) / 100;
        Show(total == 0 ? 100 : static_cast<int>(done * 100 / total), "writing the package");
        return 0;
    };
}

} // namespace cli
