// Writing the planned files.
#include "template/install_run.h"

#include "device/member_paths.h"
#include "package/package.h"
#include "platform/file.h"
#include "platform/replacement.h"
#include "platform/text.h"

#include <filesystem>
#include <system_error>

namespace setup {
namespace {

namespace fs = std::filesystem;

bool WriteText(platform::Replacement& file, const std::string& text) {
    std::uint32_t written = 0;
    return file.Open() && file.Out().Write(text.data(), static_cast<std::uint32_t>(text.size()), written) &&
           written == text.size() && file.Commit();
}

} // namespace

InstallOutcome RunInstall(Package& package, const device::InstallPlan& plan, const std::u16string& destination,
                          InstallObserver* observer) {
    InstallOutcome outcome;
    outcome.filesPlanned = plan.files.size() + plan.shortcuts.size();
    std::error_code ec;
    fs::path folder = device::FsPath(destination);
    if (destination.empty() || folder.empty()) {
        outcome.error = {ErrorCode::Refused, {}, "no destination folder was given", {}};
        return outcome;
    }
    fs::create_directories(folder, ec);
    fs::path root = fs::canonical(folder, ec);
    if (ec || !fs::is_directory(root, ec)) {
        outcome.error = {ErrorCode::CannotCreate,
                         {},
                         "cannot make the destination folder " + platform::ToUtf8(destination),
                         ec ? ec.message() : std::string()};
        return outcome;
    }
    const platform::FolderHandle rootFolder = platform::FolderHandle::Open(device::FromFsPath(root));
    std::uint64_t bytesDone = 0;
    for (const device::PlannedFile& file : plan.files) {
        if (observer) {
            observer->FileStarting(file.relative, bytesDone, plan.totalBytes);
        }
        std::vector<platform::FolderHandle> chain;
        std::u16string name;
        Error why;
        if (!device::PrepareTarget(rootFolder, file.relative, chain, name, why)) {
            outcome.error = {ErrorCode::CannotCreate, platform::ToUtf8(file.relative), why.message, why.reason};
            return outcome;
        }
        platform::Replacement out(chain.empty() ? rootFolder : chain.back(), name);
        if (!package.ExtractToFile(file.index, out)) {
            outcome.error = {
                ErrorCode::CannotWrite, platform::ToUtf8(file.relative), platform::ToUtf8(package.LastError()), {}};
            return outcome;
        }
        bytesDone += file.size;
        ++outcome.filesWritten;
    }
    for (const device::PlannedShortcut& shortcut : plan.shortcuts) {
        if (observer) {
            observer->FileStarting(shortcut.relative, bytesDone, plan.totalBytes);
        }
        std::vector<platform::FolderHandle> chain;
        std::u16string name;
        Error why;
        bool placed = device::PrepareTarget(rootFolder, shortcut.relative, chain, name, why);
        platform::Replacement out(chain.empty() ? rootFolder : chain.back(), name);
        if (!placed || !WriteText(out, shortcut.text)) {
            outcome.error = {ErrorCode::CannotWrite,
                             platform::ToUtf8(shortcut.relative),
                             why.message.empty() ? "cannot be written" : why.message,
                             {}};
            return outcome;
        }
        ++outcome.filesWritten;
    }
    return outcome;
}

} // namespace setup
