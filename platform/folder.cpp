// What open folders do alike on every host.
#include "platform/folder.h"

namespace platform {

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        other.handle_ = kNone;
    }
    return *this;
}

FolderHandle FolderHandle::OpenParent(std::u16string_view path, std::u16string& name) {
    std::size_t cut = path.find_last_of(u"/\\");
    name = std::u16string(cut == std::u16string_view::npos ? path : path.substr(cut + 1));
    if (cut == std::u16string_view::npos) {
        return Open(u".");
    }
    // "/x" lies in "/", and "C:\x" in "C:\", not in "C:", which is the drive's current folder.
    bool root = cut == 0 || (cut == 2 && path[1] == u':');
    return Open(path.substr(0, root ? cut + 1 : cut));
}

std::u16string FolderHandle::PathOf(std::u16string_view name) const {
    std::u16string path = path_;
    if (!path.empty() && path.back() != u'/' && path.back() != u'\\') {
        path += NativeSeparator();
    }
    return path += name;
}

} // namespace platform
