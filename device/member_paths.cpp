// Member paths below a folder.
#include "device/member_paths.h"

#include "platform/names.h"
#include "platform/text.h"

#include <algorithm>
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
        // DEL and the C1 controls are allowed by Windows, but no more a part of a name than the others.
        if (std::any_of(part.begin(), part.end(), platform::ForbiddenInName) || platform::HasControlCharacter(part)) {
            error = Refusal("its path holds a character Windows does not allow in names (< > \" | ? * or a control "
                            "character): " +
                            platform::Printable(platform::ToUtf8(rest)));
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

} // namespace device
