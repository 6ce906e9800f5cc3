// The public face of the resource editor: listing, reading and updating the resources of an
// executable file. Each call opens the file, checks its headers and tree, and answers a sentence
// on failure; the parts live in pe_image (headers), pe_tree (the tree), pe_layout and pe_write.
#include "package/pe_resources.h"

#include "package/pe_image.h"
#include "package/pe_source.h"
#include "package/pe_tree.h"
#include "package/pe_write.h"
#include "platform/file.h"
#include "platform/replacement.h"

namespace pe {
namespace {

constexpr std::uint64_t kMaxResource = 0x7FFFFFFFull;

// A step that failed because the system could not read the file is told as that.
bool ReadCleanly(const FileSource& source, bool succeeded, Error& error) {
    if (!succeeded && source.ReadFailure()) {
        error = source.ReadFailure();
    }
    return succeeded;
}

bool OpenImage(std::u16string_view path, FileSource& source, Image& image, ResourceTree& tree, Error& error) {
    if (!source.Open(path)) {
        error = SystemError(ErrorCode::CannotOpen, {}, "The executable could not be opened.");
        return false;
    }
    return ReadCleanly(source, ParseImage(source, image, error) && ReadResourceTree(source, image, tree, error), error);
}

// A key exactly as listed comes first, so that every listed resource can be found again even
// where its stored name is one the platform's upper-casing lookup would miss.
const LanguageNode* FindLeaf(const ResourceTree& tree, const ResourceKey& type, const ResourceKey& name,
                             std::optional<std::uint16_t> language, Error& error) {
    const LanguageNode* leaf = FindInTree(tree, type, name, language);
    ResourceKey t, n;
    if (leaf == nullptr && NormalizeKey(type, t) && NormalizeKey(name, n)) {
        leaf = FindInTree(tree, t, n, language);
    }
    if (leaf == nullptr) {
        error = Refusal("The executable holds no such resource.");
    }
    return leaf;
}

bool ReadFound(ByteSource& source, const ResourceTree& tree, const ResourceKey& type, const ResourceKey& name,
               std::optional<std::uint16_t> language, std::vector<std::uint8_t>& data, Error& error) {
    const LanguageNode* leaf = FindLeaf(tree, type, name, language, error);
    if (leaf == nullptr) {
        return false;
    }
    data.resize(leaf->data.size);
    if (!source.ReadAt(leaf->data.fileOffset, data.data(), data.size())) {
        data.clear();
        error = SystemError(ErrorCode::CannotRead, {}, "The resource could not be read from the executable.");
        return false;
    }
    return true;
}

// The length of an update's data, checking that a file range is really there.
bool UpdateLength(const ResourceData& data, std::uint32_t& length, Error& error) {
    std::uint64_t size = data.producer != nullptr ? data.length : data.bytes.size();
    if (data.producer == nullptr && !data.path.empty()) {
        platform::File file = platform::File::OpenRead(data.path, platform::Share::Read);
        std::uint64_t fileSize = 0;
        if (!file.IsOpen() || !file.Size(fileSize)) {
            error = SystemError(ErrorCode::CannotOpen, {}, "A file to be stored as a resource could not be opened.");
            return false;
        }
        size = data.length;
        if (!RangeInside(data.offset, size, fileSize)) {
            error = Refusal("A file to be stored as a resource is shorter than the range given.");
            return false;
        }
    }
    if (size > kMaxResource) {
        error = Refusal("A resource of 2 GB or more cannot be stored in an executable.");
        return false;
    }
    length = static_cast<std::uint32_t>(size);
    return true;
}

bool ApplyUpdates(ResourceTree& tree, const std::vector<ResourceUpdate>& updates, Error& error) {
    for (const ResourceUpdate& u : updates) {
        ResourceKey type, name;
        if (u.remove) {
            bool removed = RemoveFromTree(tree, u.type, u.name, u.language) ||
                           (NormalizeKey(u.type, type) && NormalizeKey(u.name, name) &&
                            RemoveFromTree(tree, type, name, u.language));
            if (!removed) {
                error = Refusal("The executable holds no such resource to remove.");
                return false;
            }
            continue;
        }
        if (!NormalizeKey(u.type, type) || !NormalizeKey(u.name, name)) {
            error = Refusal("A resource type or name of the form #number is not a number under 65536.");
            return false;
        }
        if (type.name.size() > 0xFFFF || name.name.size() > 0xFFFF) {
            error = Refusal("A resource name is longer than 65535 characters.");
            return false;
        }
        LeafData leaf;
        leaf.update = &u.data;
        if (!UpdateLength(u.data, leaf.size, error)) {
            return false;
        }
        AddOrReplace(tree, type, name, u.language, leaf);
    }
    SortTree(tree);
    return true;
}

} // namespace

bool ListResources(std::u16string_view exePath, std::vector<ResourceInfo>& resources, Error& error) {
    resources.clear();
    FileSource source;
    Image image;
    ResourceTree tree;
    if (!OpenImage(exePath, source, image, tree, error)) {
        return false;
    }
    for (const TypeNode& t : tree.types) {
        for (const NameNode& n : t.names) {
            for (const LanguageNode& l : n.languages) {
                resources.push_back({t.key, n.key, l.language, l.data.size, l.codePage});
            }
        }
    }
    return true;
}

bool IsSigned(std::u16string_view exePath, bool& isSigned, Error& error) {
    FileSource source;
    Image image;
    if (!source.Open(exePath)) {
        error = SystemError(ErrorCode::CannotOpen, {}, "The executable could not be opened.");
        return false;
    }
    if (!ReadCleanly(source, ParseImage(source, image, error), error)) {
        return false;
    }
    DataDirectory certificates = image.Directory(kDirectoryCertificates);
    isSigned = certificates.size != 0;
    return true;
}

bool ReadResource(std::u16string_view exePath, const ResourceKey& type, const ResourceKey& name,
                  std::optional<std::uint16_t> language, std::vector<std::uint8_t>& data, Error& error) {
    FileSource source;
    Image image;
    ResourceTree tree;
    return OpenImage(exePath, source, image, tree, error) &&
           ReadCleanly(source, ReadFound(source, tree, type, name, language, data, error), error);
}

bool LocateResource(std::u16string_view exePath, const ResourceKey& type, const ResourceKey& name,
                    std::optional<std::uint16_t> language, ResourceLocation& location, Error& error) {
    FileSource source;
    Image image;
    ResourceTree tree;
    if (!OpenImage(exePath, source, image, tree, error)) {
        return false;
    }
    const LanguageNode* leaf = FindLeaf(tree, type, name, language, error);
    if (leaf == nullptr) {
        return false;
    }
    // The tree reader has checked that the data lies inside the file's section bytes.
    location = {leaf->data.fileOffset, leaf->data.size};
    return true;
}

bool ReadResourceFromImage(std::span<const std::uint8_t> file, const ResourceKey& type, const ResourceKey& name,
                           std::optional<std::uint16_t> language, std::vector<std::uint8_t>& data, Error& error) {
    MemorySource source(file);
    Image image;
    ResourceTree tree;
    return ParseImage(source, image, error) && ReadResourceTree(source, image, tree, error) &&
           ReadFound(source, tree, type, name, language, data, error);
}

namespace {

// The executable opened and checked for an update.
bool OpenForUpdate(std::u16string_view exePath, FileSource& source, Image& image, ResourceTree& tree, Error& error) {
    if (!OpenImage(exePath, source, image, tree, error)) {
        return false;
    }
    if (image.Directory(kDirectoryCertificates).rva != 0 || image.Directory(kDirectoryCertificates).size != 0) {
        error = Refusal(kSignedExecutableRefusal);
        return false;
    }
    return true;
}

} // namespace

bool UpdateResources(std::u16string_view exePath, const std::vector<ResourceUpdate>& updates, Error& error) {
    FileSource source;
    Image image;
    ResourceTree tree;
    if (!OpenForUpdate(exePath, source, image, tree, error)) {
        return false;
    }
    if (updates.empty() && tree.types.empty()) {
        return true; // nothing to add, and no section to rebuild
    }
    if (!ApplyUpdates(tree, updates, error)) {
        return false;
    }
    platform::Replacement out(exePath);
    if (!out.Open()) {
        error = out.Problem() == platform::ReplaceProblem::TargetNotRegular
                    ? Error{ErrorCode::NotRegular, {}, "The executable is not a regular file.", {}}
                    : SystemError(ErrorCode::CannotCreate, {},
                                  "The new executable could not be created beside the old one.");
        return false;
    }
    bool written = WriteWithResources(source, image, tree, out.Out(), error);
    source.Close();
    if (written && !out.Commit()) {
        error = SystemError(ErrorCode::CannotWrite, {},
                            "The updated executable could not replace the old one (is it in use?).");
        written = false;
    }
    return written;
}

bool WriteUpdatedCopy(std::u16string_view exePath, const std::vector<ResourceUpdate>& updates, platform::File& target,
                      std::vector<ResourceInfo>* written, Error& error) {
    FileSource source;
    Image image;
    ResourceTree tree;
    if (!OpenForUpdate(exePath, source, image, tree, error) || !ApplyUpdates(tree, updates, error)) {
        return false;
    }
    if (written != nullptr) {
        written->clear();
        for (const TypeNode& t : tree.types) {
            for (const NameNode& n : t.names) {
                for (const LanguageNode& l : n.languages) {
                    written->push_back({t.key, n.key, l.language, l.data.size, l.codePage});
                }
            }
        }
    }
    return WriteWithResources(source, image, tree, target, error);
}

} // namespace pe
