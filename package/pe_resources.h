// Reading and updating the resources of a Windows executable (PE32 and PE32+) without the
// platform's resource functions: the installer is patched this way on hosts that lack them, and
// a package can be found inside an installer on any host.
//
// The result of an update is what the platform's own update gives: the loader finds every old and
// new resource. Every other resource keeps its bytes. Input is untrusted: every header, table and
// directory is bounds-checked, and malformed files are refused with a message, never read past.
#pragma once

#include "platform/error.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class ByteSink;
namespace platform {
class File;
}

namespace pe {

// A resource type or name: a number, or a text.
struct ResourceKey {
    std::uint16_t id = 0;
    std::u16string name; // a text key when not empty

    static ResourceKey Id(std::uint16_t id) { return ResourceKey{id, {}}; }
    static ResourceKey Name(std::u16string_view name) { return ResourceKey{0, std::u16string(name)}; }
    bool IsName() const { return !name.empty(); }
    bool operator==(const ResourceKey&) const = default;
};

inline constexpr std::uint16_t kTypeBitmap = 2;
inline constexpr std::uint16_t kLanguageEnglishUS = 1033;

// One resource as found in an executable.
struct ResourceInfo {
    ResourceKey type;
    ResourceKey name;
    std::uint16_t language = 0;
    std::uint32_t size = 0;
    std::uint32_t codePage = 0;
};

// Bytes made while the executable is written, such as a package streamed from its members: the
// producer writes exactly the resource's length (ResourceData::length) into the sink.
class ResourceProducer {
public:
    virtual ~ResourceProducer() = default;
    virtual bool Produce(ByteSink& out) = 0;
};

// Where the bytes of a new resource come from: memory, a range of a file that is copied in
// chunks so that a large resource is never held in memory, or a producer.
struct ResourceData {
    std::vector<std::uint8_t> bytes; // used when neither `path` nor `producer` is given
    std::u16string path;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    ResourceProducer* producer = nullptr; // writes `length` bytes
};

// Adds a resource, or replaces the one with the same type, name and language; or, with `remove`,
// removes it (the keys as ListResources gives them, or as the loader finds them).
struct ResourceUpdate {
    ResourceKey type;
    ResourceKey name;
    std::uint16_t language = kLanguageEnglishUS;
    ResourceData data;
    bool remove = false;
};

// A change whose updates depend on what the executable already holds, such as its icon group or
// its version resource: planned against the executable before anything is written.
class ResourceEdit {
public:
    virtual ~ResourceEdit() = default;
    // Appends the updates that make the change to the executable at `exePath`, whose resources
    // ListResources gave as `resources`. False with a sentence when the change cannot be made.
    virtual bool Plan(std::u16string_view exePath, const std::vector<ResourceInfo>& resources,
                      std::vector<ResourceUpdate>& updates, Error& error) const = 0;
};

// Lists every resource of the executable in directory order.
bool ListResources(std::u16string_view exePath, std::vector<ResourceInfo>& resources, Error& error);

// Whether the executable carries an Authenticode signature (a certificate table, data directory 4).
// Resources are never changed in a signed executable: the signature would no longer match.
inline constexpr char kSignedExecutableRefusal[] =
    "The executable is signed; changing its resources would break the signature. Use an unsigned copy.";
bool IsSigned(std::u16string_view exePath, bool& isSigned, Error& error);

// Reads one resource. Without a language, the loader's order is followed: neutral (0), then
// U.S. English (1033), then the first language present.
bool ReadResource(std::u16string_view exePath, const ResourceKey& type, const ResourceKey& name,
                  std::optional<std::uint16_t> language, std::vector<std::uint8_t>& data, Error& error);

// Where one resource's bytes lie in the executable file (found as ReadResource finds it), so that
// a large resource can be read in pieces from the file instead of whole into memory.
struct ResourceLocation {
    std::uint64_t fileOffset = 0;
    std::uint32_t size = 0;
};
bool LocateResource(std::u16string_view exePath, const ResourceKey& type, const ResourceKey& name,
                    std::optional<std::uint16_t> language, ResourceLocation& location, Error& error);

// The same as ReadResource over a whole executable image held in memory (tests and fuzzing).
bool ReadResourceFromImage(std::span<const std::uint8_t> file, const ResourceKey& type, const ResourceKey& name,
                           std::optional<std::uint16_t> language, std::vector<std::uint8_t>& data, Error& error);

// Applies the updates to the executable. The new file is written beside it and renamed over it
// at the end, so a failure leaves the executable as it was.
bool UpdateResources(std::u16string_view exePath, const std::vector<ResourceUpdate>& updates, Error& error);

// Applies the updates to a copy of the executable written into `target`, a new empty file; the
// executable is only read. With `written`, lists the resources of the copy. The same bytes as
// copying the executable and calling UpdateResources on the copy, one update after another.
bool WriteUpdatedCopy(std::u16string_view exePath, const std::vector<ResourceUpdate>& updates, platform::File& target,
                      std::vector<ResourceInfo>* written, Error& error);

} // namespace pe
