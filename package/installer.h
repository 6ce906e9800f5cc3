// How an installer is made from the template: the copy step and the storing of one file's bytes
// as a resource. Two implementations: the platform's own functions (Win32), and the project's
// own copy and PE resource editor for hosts without them, such as the command-line builder on
// Linux.
#pragma once

#include "package/pe_resources.h"

#include <cstdint>
#include <string>
#include <string_view>

enum class StoreOutcome {
    Stored,
    NoSource,              // the source file cannot be opened, or there is no memory for it
    ReadFailed,            // the source file could not be read in full
    CannotOpenDestination, // the destination's resources could not be opened for update
    NotStored,             // the update itself was refused
};

class InstallerPatcher {
public:
    virtual ~InstallerPatcher() = default;
    virtual bool CopyTemplate(std::u16string_view from, std::u16string_view to) = 0;
    // Stores `length` bytes of `source`, starting at `offset`, as one resource of `destination`
    // (language 1033), replacing one of the same type, name and language.
    virtual StoreOutcome Store(std::u16string_view destination, const pe::ResourceKey& type,
                               const pe::ResourceKey& name, std::u16string_view source, std::uint32_t offset,
                               std::uint32_t length) = 0;
    // Removes one resource of `destination`, the keys as pe::ListResources gives them.
    virtual bool Remove(std::u16string_view destination, const pe::ResourceKey& type, const pe::ResourceKey& name,
                        std::uint16_t language) = 0;
};

// The platform's shell copy and resource update functions. The source is read whole into one
// buffer, as the update functions take it.
class PlatformPatcher : public InstallerPatcher {
public:
    bool CopyTemplate(std::u16string_view from, std::u16string_view to) override;
    StoreOutcome Store(std::u16string_view destination, const pe::ResourceKey& type, const pe::ResourceKey& name,
                       std::u16string_view source, std::uint32_t offset, std::uint32_t length) override;
    bool Remove(std::u16string_view destination, const pe::ResourceKey& type, const pe::ResourceKey& name,
                std::uint16_t language) override;
};

// The project's own copy and resource editor: works on any host, streams the source in chunks.
// An existing destination is replaced only when allowed; a refused replace leaves it untouched.
class PortablePatcher : public InstallerPatcher {
public:
    explicit PortablePatcher(bool allowReplace) : allowReplace_(allowReplace) {}
    bool CopyTemplate(std::u16string_view from, std::u16string_view to) override;
    StoreOutcome Store(std::u16string_view destination, const pe::ResourceKey& type, const pe::ResourceKey& name,
                       std::u16string_view source, std::uint32_t offset, std::uint32_t length) override;
    bool Remove(std::u16string_view destination, const pe::ResourceKey& type, const pe::ResourceKey& name,
                std::uint16_t language) override;
    // Why the last step failed, in more words than the package's own messages carry.
    const Error& Detail() const { return detail_; }

private:
    bool allowReplace_;
    Error detail_;
};

// Whether a resource is an installer's package: type "RT_RCDATA", name "ORBDATA", whatever the
// case they are stored in and in any language.
bool IsPackageResource(const pe::ResourceInfo& resource);

// The platform's functions where there are any, else the portable editor without replacing.
InstallerPatcher& DefaultPatcher();
