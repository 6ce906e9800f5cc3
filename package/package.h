// The package object: the in-memory package (header and ordered member list) and the builder that
// writes it as a package file. The program keeps exactly one; it is also the workspace the main
// window edits.
//
// Operations answer a boolean (or nothing) and never throw; a failure with a message keeps it in
// the last-error text. Paths are UTF-16 and may be absent (nullptr).
#pragma once

#include "package/pe_resources.h"
#include "package/records.h"
#include "platform/file.h"
#include "platform/module.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Called by Write after each chunk of a member has been copied: the member, how much of it is
// copied (percent) and the share of members done once this one is (percent). Answering 1 stops the
// write; any other answer lets it go on.
using ProgressCallback =
    std::function<std::uint8_t(const PackageEntry& entry, std::int32_t filePercent, std::int32_t overallPercent)>;

// Called by OpenModule for each table record before it is kept: 0 keeps it and goes on, any other
// answer stops reading the table there.
using EntryFilter = std::function<std::uint8_t(const PackageEntry& entry)>;

// The last error of an open that found a count of 0. Unlike every other refusal it keeps the
// header it read, which is how an empty workspace file opens.
inline constexpr std::u16string_view kEmptyPackageMessage = u"ORB contains no file";

class ByteSink;
namespace platform {
class Replacement;
}

// Why an installer's own package was not read when it carries one in more than one language.
inline constexpr std::u16string_view kSeveralPackages = u"This installer holds more than one package.";

class Package {
public:
    Package();
    ~Package();
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    // Number of members in the list (not the header's count, which only Write sets).
    std::uint32_t GetCount() const { return static_cast<std::uint32_t>(entries.size()); }
    // The table itself, for readers of every entry: GetEntry copies a record of a kilobyte each time.
    const std::vector<PackageEntry>& Entries() const { return entries; }

    // Appends a member with the file's current length. Refuses a file that cannot be opened, one
    // of 2 GiB or more, and a path longer than a record can hold.
    bool AddFile(const char16_t* path, std::uint32_t flags);
    // The same for a file whose length was learnt a moment ago, with whether it may be read, by a
    // folder's listing; -1 measures it as AddFile does.
    bool AddListedFile(const char16_t* path, std::uint32_t flags, std::int64_t readableLength);
    bool GetEntry(std::uint32_t index, PackageEntry* destination) const;
    bool SetEntryFlags(std::uint32_t index, std::uint32_t flags);
    bool SetShortcutName(std::uint32_t index, const char16_t* text);
    // Where Write reads a member from when that is not the path the package stores for it: a
    // workspace saved on another computer names its files by that computer's paths, and they are
    // found again below a folder of this one. The stored path, by which the installer places the
    // file, is written unchanged. Opening or clearing the package forgets every such source.
    bool SetMemberSource(std::uint32_t index, std::u16string_view path);
    // The file a member is read from: the source set for it, else its stored path.
    std::u16string_view MemberSource(std::uint32_t index) const;
    // Changes the path the package stores for a member, which keeps being read from where it was
    // (a build that names its members below another computer's folder than the one they lie in).
    // Refuses a path longer than a record holds.
    bool SetStoredPath(std::uint32_t index, std::u16string_view path);
    // Empties the list and zeroes the whole header, magic included; construction defaults are not
    // applied again.
    void Clear();
    void RecomputeOffsets();
    std::uint32_t ComputeTotalSize();

    // Writes the package file. Answers true only for a complete, self-consistent package; on any
    // failure, and when the callback stops it, no file is left behind.
    bool Write(const char16_t* path, const ProgressCallback& callback);
    // Write in two steps, for a package that goes elsewhere than a file of its own (an installer
    // being written): PrepareStream measures every member and sets sizes, offsets and the
    // header's count, data offset and total, so that StreamSize is the package's exact length
    // before a byte is written; Stream then writes header, table and members, with the same
    // checks and progress as Write, naming `outputName` when the output fails.
    bool PrepareStream();
    std::uint64_t StreamSize() const;
    bool Stream(ByteSink& out, const ProgressCallback& callback, std::u16string_view outputName);

    PackageHeader& GetHeader() { return header; }
    const PackageHeader& GetHeader() const { return header; }
    void SetSourceFolder(const char16_t* text);
    void SetInstallFolder(const char16_t* text);
    // `destination` holds 260 units.
    void GetProgramName(char16_t* destination) const;
    void SetProgramName(const char16_t* text);
    void SetTargetFolder(std::int32_t value) { header.targetFolder = value; }

    // Reading packages back. Every open operation refuses input that is shorter than its header or
    // table, has a text without a terminator or offsets that do not follow one another, and then
    // leaves the object empty.
    //
    // Reads the header and table of a package or workspace file and closes it again (or, with
    // fromResource 1, does what OpenResource does with the path as the resource name).
    bool Open(const char16_t* path, std::uint8_t fromResource);
    // Opens a package data file and keeps it open until Close, so that its members can be read and
    // extracted. The file must hold every member's data.
    bool OpenPackageFile(const char16_t* path);
    // The same for a package that is `length` bytes of a larger file from `offset`, such as an
    // installer's package resource: members are read from the file in pieces, never whole.
    bool OpenPackageAt(const char16_t* path, std::uint64_t offset, std::uint64_t length);
    // A whole package held in memory, as a resource's bytes are. The bytes must stay valid until
    // the next open operation; members are read from them.
    bool OpenImage(const std::uint8_t* bytes, std::uint32_t size);
    // A package stored as a resource (type name "RT_RCDATA") of the running program.
    bool OpenResource(const char16_t* name);
    // The "ORBDATA" resource of another executable: header and the records the filter keeps; the
    // member bytes are not kept.
    bool OpenModule(const char16_t* executablePath, const EntryFilter& filter);
    // Takes over the header and member list another package read, as if this one had read them,
    // and leaves the other empty. Member data is carried by neither: this package's own open file
    // or image is let go (it belongs to the list being replaced), and the other's is not taken.
    // A workspace is read into a package of its own first, so that a refused file leaves the
    // workspace as it was.
    void TakeContents(Package& other);
    bool ReadMember(std::int32_t index, void* buffer, std::int32_t maximum);
    // Exactly `size` bytes of a member from `offset` within it, for a reader that takes a member
    // in pieces (a cabinet's data blocks) rather than whole.
    bool ReadMemberAt(std::int32_t index, std::uint32_t offset, void* buffer, std::uint32_t size);
    bool ExtractToFile(std::int32_t index, const char16_t* destination);
    // The same into a new file that replaces the destination when complete.
    bool ExtractToFile(std::int32_t index, platform::Replacement& destination);
    bool ExtractToHandle(std::int32_t index, platform::File& destination);
    void Close() { packageFile.Close(); }
    std::uint32_t SourceFolderLength() const { return sourceFolderLength; }

    // -1 when the file cannot be opened or is 2 GiB or longer.
    static std::int32_t GetFileLength(const char16_t* path);
    // True only when exactly `length` bytes were read from the start of the file.
    static bool ReadWholeFile(const char16_t* path, void* buffer, std::int32_t length);

    // Moves the last error into a text area shared by the program (overwritten by the next call).
    const char16_t* TakeLastError();
    std::u16string_view LastError() const { return lastError; }
    // Whether the last open was refused only for a count of 0, keeping the header it read (how an
    // empty workspace file opens). Callers branch on this, not on the message's text.
    bool OpenedEmpty() const { return openedEmpty; }
    // The callback's last answer during Write.
    std::uint8_t CancelRequested() const { return cancelRequested; }

private:
    enum class CopyResult { Copied, Failed, Stopped };

    bool MeasureMembers();
    CopyResult CopyMember(ByteSink& out, std::uint32_t index, const ProgressCallback& callback,
                          std::u16string_view outputName);
    void SetLastError(std::u16string_view message, std::u16string_view subject = {});
    // SetLastError with the system's reason for the call that just failed after it, in brackets.
    void SetSystemError(std::u16string_view message, std::u16string_view subject);
    bool LoadFromFile(const char16_t* path, bool keepOpen, std::uint64_t offset = 0,
                      std::uint64_t length = ~std::uint64_t{0});
    bool LoadFromImage(const std::uint8_t* bytes, std::uint32_t size, const EntryFilter* filter);
    void Refuse(std::u16string_view message);
    // Refuse for a read that stopped early: `shortMessage` where the file ended, the system's
    // reason and the file's name where a read failed.
    void RefuseRead(std::u16string_view shortMessage, std::u16string_view path);
    // The same for a member's data, the package staying open.
    void SetReadError(std::u16string_view shortMessage);
    bool AcceptHeader(std::uint64_t inputLength);
    bool AcceptResourceStep(platform::ResourceStep step);
    bool CheckMember(std::int32_t index);
    std::uint64_t MemberPosition(const PackageEntry& entry) const;

    platform::File packageFile;
    std::uint64_t packageStart = 0; // where the package begins in packageFile
    std::u16string packagePath;     // the file packageFile was opened from
    std::vector<std::uint8_t> copyBuffer;
    const std::uint8_t* image = nullptr;
    std::uint32_t imageSize = 0;
    std::u16string lastError;
    PackageHeader header{};
    std::uint8_t cancelRequested = 0;
    bool openedEmpty = false;
    std::uint32_t sourceFolderLength = 0;
    std::vector<PackageEntry> entries;
    // Each member's source set by SetMemberSource, by index; an empty one (or none) reads the
    // stored path.
    std::vector<std::u16string> sources;
    // Each member as Write measured it, to tell a member that changes while it is copied.
    std::vector<platform::FileStamp> measured;
    // Whether every entry's offset is the sum of the sizes before it (false for a table read from
    // a workspace file, whose offsets may be stale).
    bool offsetsRunOn = true;
};
