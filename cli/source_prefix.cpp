// Checking --source-prefix and renaming a workspace's members below it.
#include "cli/source_prefix.h"

#include "cli/args.h"
#include "cli/console.h"
#include "device/member_paths.h"

#include <algorithm>

namespace cli {
namespace {

constexpr std::string_view kAbsolute =
    "is not an absolute Windows path (a drive's, as C:\\Build\\App, or a share's, as \\\\server\\share\\App)";

// The names after the drive or share, each one Windows accepts in a path (the rules a member's
// path passes), joined by backslashes; empty for the root.
bool CheckNames(std::u16string_view rest, std::u16string& names, std::string& cause) {
    while (!rest.empty() && rest.back() == u'\\') {
        rest.remove_suffix(1);
    }
    names.clear();
    if (rest.empty()) {
        return true;
    }
    if (rest.find(u"\\\\") != std::u16string_view::npos) {
        cause = "has an empty name between two backslashes";
        return false;
    }
    for (std::size_t start = 0; start <= rest.size();) {
        std::size_t end = std::min(rest.find(u'\\', start), rest.size());
        std::u16string_view name = rest.substr(start, end - start);
        std::u16string checked;
        Error error;
        if (name == u"." || !device::RelativeMemberPath(u"", name, checked, error)) {
            cause = "holds \"" + Utf8(name) + "\", which Windows does not take for a folder's name" +
                    (error.message.empty() ? "" : " (" + error.message + ")");
            return false;
        }
        start = end + 1;
    }
    names = rest;
    return true;
}

} // namespace

bool ParseSourcePrefix(std::u16string_view given, std::u16string& folder, std::string& problem) {
    std::u16string path(given);
    std::replace(path.begin(), path.end(), u'/', u'\\');
    auto refuse = [&](std::string_view cause) {
        problem = "--source-prefix \"" + Utf8(given) + "\" " + std::string(cause);
        return false;
    };
    std::u16string names;
    std::string cause;
    bool drive = path.size() >= 3 && ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')) &&
                 path[1] == u':' && path[2] == u'\\';
    if (drive) {
        folder = path.substr(0, 2);
        if (!CheckNames(std::u16string_view(path).substr(3), names, cause)) {
            return refuse(cause);
        }
    } else if (path.starts_with(u"\\\\") && path.size() > 2 && path[2] != u'\\') {
        // \\server\share: both names must be there; what follows is a folder on the share.
        std::size_t server = path.find(u'\\', 2);
        std::size_t share = server == std::u16string::npos ? server : path.find(u'\\', server + 1);
        std::u16string checked;
        if (server == std::u16string::npos || server + 1 == path.size() || path[server + 1] == u'\\' ||
            !CheckNames(std::u16string_view(path).substr(2, share == std::u16string::npos ? share : share - 2), checked,
                        cause)) {
            return refuse(cause.empty() ? kAbsolute : cause);
        }
        folder = u"\\\\" + checked;
        if (share != std::u16string::npos && !CheckNames(std::u16string_view(path).substr(share + 1), names, cause)) {
            return refuse(cause);
        }
    } else {
        return refuse(kAbsolute);
    }
    if (!names.empty()) {
        folder += u"\\" + names;
    }
    // The stored source folder ends in a backslash, and a member needs room for a name after it.
    if (folder.size() + 2 > kMaxTextLength) {
        return refuse("is longer than a package can store (" + std::to_string(kMaxTextLength - 2) + " characters)");
    }
    return true;
}

bool StoreBelowPrefix(Package& package, std::u16string_view folder, std::u16string_view workspace) {
    PackageHeader& header = package.GetHeader();
    const std::u16string source(FieldText(header.sourceFolder));
    const std::u16string stored = std::u16string(folder) + u"\\";
    auto below = [&](std::u16string_view path, std::u16string& renamed, Error& error) {
        std::u16string relative;
        if (!device::RelativeMemberPath(source, path, relative, error)) {
            return false;
        }
        renamed = stored + relative;
        if (renamed.size() > kMaxTextLength) {
            error = Refusal("below --source-prefix its path, " + Utf8(renamed) + ", would be longer than " +
                            std::to_string(kMaxTextLength) + " characters");
            return false;
        }
        return true;
    };
    for (std::uint32_t i = 0; i < package.GetCount(); ++i) {
        std::u16string renamed;
        Error error;
        std::u16string filename(FieldText(package.Entries()[i].filename));
        if (!below(filename, renamed, error) || !package.SetStoredPath(i, renamed)) {
            PrintError(Utf8(workspace), "file " + Utf8(filename) + ": " + error.message);
            return false;
        }
    }
    // A picture kept elsewhere has no place below the prefix; its folder is the build machine's own.
    std::u16string image(FieldText(header.imageFile));
    if (!image.empty()) {
        std::u16string renamed;
        Error ignored;
        if (!below(image, renamed, ignored)) {
            renamed = image.substr(image.find_last_of(u"\\/") + 1);
        }
        SetFieldText(header.imageFile, renamed);
    }
    SetFieldText(header.sourceFolder, stored);
    return true;
}

} // namespace cli
