// Member paths below a folder, and path conversions for std::filesystem.
#include "device/member_paths.h"

#include "platform/file.h"
#include "platform/folder.h"
#include "platform/names.h"
#include "platform/text.h"

#include <algorithm>
#include <system_error>
#include <vector>

namespace device {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

char16_t FoldCase(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

// Windows paths are compared without regard to case or separator style: a package made there may
// spell its source folder differently from its members' names.
bool StartsWithFolder(std::u16string_view text, std::u16string_view folder) {
    if (folder.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < folder.size(); ++i) {
        bool same = IsSeparator(text[i]) ? IsSeparator(folder[i]) : FoldCase(text[i]) == FoldCase(folder[i]);
        if (!same) {
            return false;
        }
    }
    return true;
}

// Windows drops trailing dots and blanks from a path component, so ". ." or "... " may act as
// ".." there; a component of nothing but dots and blanks is never a real name.
bool OnlyDotsAndBlanks(std::u16string_view component) {
    return component.find_first_not_of(u". ") == std::u16string_view::npos;
}

std::vector<std::u16string_view> SplitComponents(std::u16string_view path) {
    std::vector<std::u16string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || IsSeparator(path[i])) {
            if (i > start) {
                parts.push_back(path.substr(start, i - start));
            }
            start = i + 1;
        }
    }
    return parts;
}

} // namespace

bool RelativeMemberPath(std::u16string_view sourceFolder, std::u16string_view filename, std::u16string& relative,
                        Error& error) {
    if (!StartsWithFolder(filename, sourceFolder)) {
        error = Refusal("it does not lie under the source folder " + platform::ToUtf8(sourceFolder));
        return false;
    }
    std::u16string_view rest = filename.substr(sourceFolder.size());
    // A source folder stored without its closing separator ("C:\App") must end at a separator of
    // the member's name, or "C:\Apple\x" would count as lying under it.
    if (!sourceFolder.empty() && !IsSeparator(sourceFolder.back())) {
        if (rest.empty() || !IsSeparator(rest.front())) {
            error = Refusal("it does not lie under the source folder " + platform::ToUtf8(sourceFolder));
            return false;
        }
        rest.remove_prefix(1);
    }
    if (rest.empty()) {
        error = Refusal("it has no name below the source folder");
        return false;
    }
    if (IsSeparator(rest.front()) || rest.find(u':') != std::u16string_view::npos) {
        error = Refusal("its path below the source folder is absolute or names a drive: " + platform::ToUtf8(rest));
        return false;
    }
    relative.clear();
    for (std::u16string_view part : SplitComponents(rest)) {
        if (part == u".") {
            continue;
        }
        if (OnlyDotsAndBlanks(part)) {
            error = Refusal("its path climbs out of the folder: " + platform::ToUtf8(rest));
            return false;
        }
        // Checked on every host: the package installs on Windows, where "nul.txt" or "COM5 " opens
        // a device in any folder and a '?' or '*' makes no file at all.
        if (platform::NamesDevice(part)) {
            error = Refusal("its path names a device: " + platform::ToUtf8(rest));
            return false;
        }
        if (std::any_of(part.begin(), part.end(), platform::ForbiddenInName)) {
            error = Refusal("its path holds a character Windows does not allow in names (< > \" | ? * or a control "
                            "character): " +
                            platform::ToUtf8(rest));
            return false;
        }
        // Windows drops a name's trailing dots and blanks where it makes a file or folder, but not
        // where it looks one up on the way to another: such a folder could be made and never used.
        if (part.back() == u'.' || part.back() == u' ') {
            error = Refusal("its path has a name ending in a dot or a blank, which Windows drops: " +
                            platform::ToUtf8(rest));
            return false;
        }
        relative += relative.empty() ? u"" : u"\\";
        relative += part;
    }
    if (relative.empty()) {
        error = Refusal("it has no name below the source folder");
        return false;
    }
    return true;
}

std::u16string JoinHostPath(std::u16string_view folder, std::u16string_view relative) {
    std::u16string path(folder);
    if (!path.empty() && !IsSeparator(path.back())) {
        path += platform::NativeSeparator();
    }
    for (char16_t c : relative) {
        path += IsSeparator(c) ? platform::NativeSeparator() : c;
    }
    return path;
}

std::filesystem::path FsPath(std::u16string_view path) {
#ifdef _WIN32
    return std::filesystem::path(std::wstring(path.begin(), path.end()));
#else
    std::string utf8;
    if (!platform::Utf16ToUtf8(platform::NativePath(path), utf8)) {
        return {};
    }
    return std::filesystem::path(utf8);
#endif
}

std::u16string FromFsPath(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::wstring& wide = path.native();
    return std::u16string(wide.begin(), wide.end());
#else
    std::u16string text;
    platform::Utf8ToUtf16(path.native(), text);
    return text;
#endif
}

std::string CannotOpenCause(std::u16string_view path) {
    std::error_code ec;
    std::filesystem::file_status status = std::filesystem::status(FsPath(path), ec);
    switch (status.type()) {
    case std::filesystem::file_type::not_found:
    case std::filesystem::file_type::none:
        return "no such file";
    case std::filesystem::file_type::directory:
        return "is a folder, not a file";
    case std::filesystem::file_type::regular:
    case std::filesystem::file_type::unknown:
        break;
    default:
        return "is not a regular file (a device, a pipe or a socket)";
    }
#ifdef _WIN32
    // Windows opens a device for such a name ("NUL", "COM1.txt") in any folder.
    if (platform::Examine(path) == platform::PathKind::Other) {
        return "is not a regular file (a device, a pipe or a socket)";
    }
#endif
    return "cannot be opened for reading";
}

namespace {

// Opens the folders parts[kept .. parts.size() - 1) below the last of `chain` (or `root`), and
// examines the file's name in the last: the work PrepareTarget does for one file.
bool ExtendChain(const platform::FolderHandle& root, const std::vector<std::u16string_view>& parts,
                 std::vector<platform::FolderHandle>& chain, std::u16string& name, Error& error,
                 platform::PathKind* found = nullptr, platform::FileId* id = nullptr) {
    // Each folder is opened below the one before it, never through a link, and held open while
    // the file is written: so it stays the folder that was examined, whatever is done by path.
    const platform::FolderHandle* folder = chain.empty() ? &root : &chain.back();
    for (std::size_t i = chain.size(); i + 1 < parts.size(); ++i) {
        platform::PathKind found = platform::PathKind::Other;
        platform::FolderHandle child = folder->Child(parts[i], true, found);
        if (!child.IsOpen()) {
            const std::string shown = platform::ToUtf8(folder->PathOf(parts[i]));
            switch (found) {
            case platform::PathKind::Link:
                error = Refusal(shown + " is a link (a symbolic link or junction); nothing is written through links");
                break;
            case platform::PathKind::File:
                error = Refusal(shown + " is a file where a folder belongs");
                break;
            case platform::PathKind::Missing:
            case platform::PathKind::Folder:
                error = Refusal("cannot make the folder " + shown);
                break;
            case platform::PathKind::Other:
                error =
                    Refusal(shown + " is not a regular file or folder (a device, a pipe, or it cannot be examined)");
                break;
            }
            chain.clear();
            return false;
        }
        chain.push_back(std::move(child));
        folder = &chain.back();
    }
    name = std::u16string(parts.back());
    platform::PathKind kind = folder->Examine(name, id);
    if (found) {
        *found = kind;
    }
    switch (kind) {
    case platform::PathKind::Missing:
    case platform::PathKind::File:
        return true;
    case platform::PathKind::Folder:
        error = Refusal("a folder of that name is in the way");
        break;
    case platform::PathKind::Link:
        error = Refusal("a link of that name is in the way");
        break;
    case platform::PathKind::Other:
        error =
            Refusal("something that is not a regular file (a device, a pipe, or it cannot be examined) has that name");
        break;
    }
    chain.clear();
    return false;
}

} // namespace

bool PrepareTarget(const platform::FolderHandle& root, std::u16string_view relative,
                   std::vector<platform::FolderHandle>& chain, std::u16string& name, Error& error) {
    chain.clear();
    std::vector<std::u16string_view> parts = SplitComponents(relative);
    if (parts.empty()) {
        error = Refusal("it has no name below the destination folder");
        return false;
    }
    return ExtendChain(root, parts, chain, name, error);
}

const platform::FolderHandle* TargetFolders::Prepare(std::u16string_view relative, std::u16string& name, Error& error,
                                                     platform::PathKind* found, platform::FileId* id) {
    std::vector<std::u16string_view> parts = SplitComponents(relative);
    if (parts.empty()) {
        error = Refusal("it has no name below the destination folder");
        return nullptr;
    }
    // Keep the folders this file shares with the last one, compared as written: a name that differs
    // only in case is opened again, which costs a call and nothing else.
    std::size_t kept = 0;
    while (kept < names_.size() && kept + 1 < parts.size() && names_[kept] == parts[kept]) {
        ++kept;
    }
    chain_.erase(chain_.begin() + static_cast<std::ptrdiff_t>(kept), chain_.end());
    names_.erase(names_.begin() + static_cast<std::ptrdiff_t>(kept), names_.end());
    if (!ExtendChain(root_, parts, chain_, name, error, found, id)) {
        names_.clear();
        return nullptr;
    }
    for (std::size_t i = kept; i < chain_.size(); ++i) {
        names_.emplace_back(parts[i]);
    }
    return chain_.empty() ? &root_ : &chain_.back();
}

} // namespace device
