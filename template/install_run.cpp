// Writing the planned files.
#include "template/install_run.h"

#include "cli/member_paths.h"
#include "package/package.h"
#include "platform/file.h"
#include "platform/text.h"

#include <filesystem>
#include <system_error>

namespace setup {
namespace {

namespace fs = std::filesystem;

// Whether `inner` lies inside `outer`; both are canonical paths.
bool Inside(const fs::path& inner, const fs::path& outer) {
    auto o = outer.begin();
    auto i = inner.begin();
    for (; o != outer.end(); ++o, ++i) {
        if (i == inner.end() || *i != *o) {
            return false;
        }
    }
    return true;
}

// Makes the file's folder and checks, once links are followed, that it is still inside the
// destination; a link in the way of the file itself is refused too.
bool PrepareTarget(const fs::path& root, const std::u16string& target, std::string& cause) {
    fs::path path = cli::FsPath(target);
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec) {
        cause = "cannot make its folder: " + ec.message();
        return false;
    }
    fs::path parent = fs::canonical(path.parent_path(), ec);
    if (ec || !Inside(parent, root)) {
        cause = "its folder leads outside the destination folder";
        return false;
    }
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        cause = "a link of that name is in the way";
        return false;
    }
    return true;
}

bool WriteText(const std::u16string& path, const std::string& text) {
    platform::File file = platform::File::Create(path);
    std::uint32_t written = 0;
    bool ok = file.IsOpen() && file.Write(text.data(), static_cast<std::uint32_t>(text.size()), written) &&
              written == text.size();
    file.Close();
    if (!ok) {
        platform::RemoveFile(path);
    }
    return ok;
}

} // namespace

InstallOutcome RunInstall(Package& package, const InstallPlan& plan, const std::u16string& destination,
                          InstallObserver* observer) {
    InstallOutcome outcome;
    outcome.filesPlanned = plan.files.size() + plan.shortcuts.size();
    std::error_code ec;
    fs::path folder = cli::FsPath(destination);
    if (destination.empty() || folder.empty()) {
        outcome.cause = "no destination folder was given";
        return outcome;
    }
    fs::create_directories(folder, ec);
    fs::path root = fs::canonical(folder, ec);
    if (ec || !fs::is_directory(root, ec)) {
        outcome.cause = "cannot make the destination folder " + platform::ToUtf8(destination);
        return outcome;
    }
    const std::u16string rootText = cli::FromFsPath(root);
    std::uint64_t bytesDone = 0;
    for (const PlannedFile& file : plan.files) {
        if (observer) {
            observer->FileStarting(file.relative, bytesDone, plan.totalBytes);
        }
        std::u16string target = cli::JoinHostPath(rootText, file.relative);
        std::string why;
        if (!PrepareTarget(root, target, why)) {
            outcome.cause = platform::ToUtf8(file.relative) + ": " + why;
            return outcome;
        }
        if (!package.ExtractToFile(file.index, target.c_str())) {
            outcome.cause = platform::ToUtf8(file.relative) + ": " + platform::ToUtf8(package.LastError());
            return outcome;
        }
        bytesDone += file.size;
        ++outcome.filesWritten;
    }
    for (const PlannedShortcut& shortcut : plan.shortcuts) {
        if (observer) {
            observer->FileStarting(shortcut.relative, bytesDone, plan.totalBytes);
        }
        std::u16string target = cli::JoinHostPath(rootText, shortcut.relative);
        std::string why;
        if (!PrepareTarget(root, target, why) || !WriteText(target, shortcut.text)) {
            outcome.cause = platform::ToUtf8(shortcut.relative) + ": " + (why.empty() ? "cannot be written" : why);
            return outcome;
        }
        ++outcome.filesWritten;
    }
    return outcome;
}

} // namespace setup
