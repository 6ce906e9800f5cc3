// Making a destination folder the user named, and unmaking it after a failed run.
#include "platform/destination.h"

#include "platform/host_paths.h"
#include "platform/text.h"

#include <filesystem>
#include <system_error>

namespace platform {

std::string TrimmedFolderProblem(std::u16string_view path) {
    std::u16string component;
    auto check = [&]() -> std::string {
        bool relative = component == u"." || component == u"..";
        if (!component.empty() && !relative && (component.back() == u'.' || component.back() == u' ')) {
            return "the folder name \"" + ToUtf8(component) +
                   "\" ends in a dot or a blank, which Windows drops from names; choose a name without";
        }
        return {};
    };
    for (char16_t c : path) {
        if (c == u'\\' || c == u'/') {
            if (std::string problem = check(); !problem.empty()) {
                return problem;
            }
            component.clear();
        } else {
            component += c;
        }
    }
    return check();
}

bool Destination::Make(std::u16string_view path, Error& error) {
    namespace fs = std::filesystem;
    Undo();
    const fs::path folder = FsPath(path);
    if (path.empty() || folder.empty()) {
        error = Refusal("no folder was given");
        return false;
    }
#ifdef _WIN32
    if (std::string problem = TrimmedFolderProblem(path); !problem.empty()) {
        error = Refusal(problem);
        return false;
    }
#endif
    // The missing folders, found from the inside out; every look follows links, so a link, a
    // junction or a mount point on the way is taken for the folder it leads to.
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path p = folder.lexically_normal(); !p.empty(); p = p.parent_path()) {
        fs::file_status status = fs::status(p, ec);
        if (status.type() != fs::file_type::not_found) {
            break;
        }
        missing.push_back(p);
        if (p == p.parent_path() || !p.has_relative_path()) {
            break;
        }
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (!fs::create_directory(*it, ec) && ec) {
            error = {ErrorCode::CannotCreate, ToUtf8(FromFsPath(*it)), "cannot make the folder", ec.message()};
            Undo();
            return false;
        }
        made_.push_back(FromFsPath(*it));
    }
    if (!fs::is_directory(folder, ec)) {
        std::string reason = ec && ec != std::errc::no_such_file_or_directory ? ec.message() : std::string();
        if (reason.empty()) {
            reason = fs::is_symlink(fs::symlink_status(folder, ec)) ? "it is a link that leads to no folder"
                                                                    : "it is not a folder";
        }
        error = {ErrorCode::CannotCreate, ToUtf8(path), "cannot make the folder", reason};
        Undo();
        return false;
    }
    return true;
}

void Destination::Undo() {
    KeepSystemReason keep;
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
        std::error_code ec;
        // Only an empty folder goes: anything in it is someone's.
        std::filesystem::remove(FsPath(*it), ec);
    }
    made_.clear();
}

} // namespace platform
