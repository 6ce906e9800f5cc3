// Writing a package file: header, table, then every member streamed through one buffer, with
// progress told per 4096-byte chunk.
//
// A package that reaches the device must describe its own bytes exactly, or the installer unpacks
// wrong files without noticing. So the members are measured again just before the table is
// written, every member must deliver exactly its measured bytes and still be as measured once
// they are copied, and whatever goes wrong (a file gone, shrunk, grown or rewritten, a short
// write, the callback asking to stop) answers false and leaves no package behind. A read or write
// the system failed names the file it failed on and carries the system's reason: a failing disk
// under a source is not a changed file, and a full disk is the output's, not the source's. The package is
// written beside its path and takes the name only when complete, so an older package of that name
// survives a failed build, and a package never replaces one of its own members.
#include "package/byte_sink.h"
#include "package/package.h"
#include "platform/replacement.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::uint32_t kChunkSize = 4096;
constexpr std::uint32_t kBlockSize = 32 * kChunkSize;

constexpr std::u16string_view kCannotOpen = u"Cannot open file:";
constexpr std::u16string_view kTooLarge = u"File too large for a package:";
constexpr std::u16string_view kPackageTooLarge =
    u"The package (header, table of files and the files) would be 2 GB or more, too much for one package";
constexpr std::u16string_view kChanged = u"File changed while the package was written:";
constexpr std::u16string_view kCannotRead = u"Cannot read file:";
constexpr std::u16string_view kShortWrite = u"Read != Write file:";
constexpr std::u16string_view kNotAFile = u"The package's name is taken by something that is not a regular file:";
constexpr std::u16string_view kOwnMember = u"The package would replace one of its own files:";
constexpr std::u16string_view kCannotMove = u"The new package could not take its name:";

} // namespace

// Measures every member again; the entries change only when all of them can go into a package,
// so that a refused build leaves sizes and offsets that still follow one another.
bool Package::MeasureMembers() {
    std::vector<platform::FileStamp> stamps;
    stamps.reserve(entries.size());
    std::uint64_t total = kHeaderSize + std::uint64_t{GetCount()} * kEntrySize;
    for (std::uint32_t i = 0; i < GetCount(); ++i) {
        platform::FileStamp stamp;
        if (!platform::MeasureFile(MemberSource(i), stamp)) {
            SetLastError(kCannotOpen, MemberSource(i));
            return false;
        }
        if (stamp.size >= kFormatLimit) {
            SetLastError(kTooLarge, MemberSource(i));
            return false;
        }
        stamps.push_back(stamp);
        total += stamp.size;
    }
    // Every position in a package is 31-bit, the last byte of the last member's included.
    if (total >= kFormatLimit) {
        SetLastError(kPackageTooLarge);
        return false;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].size = static_cast<std::uint32_t>(stamps[i].size);
    }
    measured = std::move(stamps);
    RecomputeOffsets();
    return true;
}

bool Package::PrepareStream() {
    cancelRequested = 0;
    if (entries.empty() || !MeasureMembers()) {
        return false;
    }
    ComputeTotalSize();
    header.count = GetCount();
    header.dataOffset = kHeaderSize + GetCount() * kEntrySize;
    return true;
}

std::uint64_t Package::StreamSize() const {
    return std::uint64_t{kHeaderSize} + std::uint64_t{GetCount()} * kEntrySize + header.totalSize;
}

bool Package::Stream(ByteSink& out, const ProgressCallback& callback, std::u16string_view outputName) {
    // The records lie one after another in the list, exactly as the table lays them out.
    if (!out.Put(&header, kHeaderSize) || !out.Put(entries.data(), GetCount() * kEntrySize)) {
        SetSystemError(kShortWrite, outputName);
        return false;
    }
    for (std::uint32_t i = 0; i < GetCount(); ++i) {
        if (CopyMember(out, i, callback, outputName) != CopyResult::Copied) {
            return false;
        }
    }
    return true;
}

bool Package::Write(const char16_t* path, const ProgressCallback& callback) {
    cancelRequested = 0;
    if (!path || !PrepareStream()) {
        return false;
    }
    platform::FileId existing;
    if (platform::IdentifyFile(path, existing)) {
        for (const platform::FileStamp& member : measured) {
            if (member.id == existing) {
                SetLastError(kOwnMember, path);
                return false;
            }
        }
    }
    platform::Replacement out(path);
    if (!out.Open()) {
        if (out.Problem() == platform::ReplaceProblem::TargetNotRegular) {
            SetLastError(kNotAFile, path);
        }
        return false;
    }
    // One buffer for the whole package: large blocks keep the number of reads and writes low.
    FileSink sink(out.Out(), kBlockSize);
    if (!Stream(sink, callback, path)) {
        return false;
    }
    if (!sink.Flush()) {
        SetSystemError(kShortWrite, path);
        return false;
    }
    if (!out.Commit()) {
        SetLastError(out.Problem() == platform::ReplaceProblem::TargetNotRegular ? kNotAFile : kCannotMove, path);
        return false;
    }
    return true;
}

Package::CopyResult Package::CopyMember(ByteSink& out, std::uint32_t index, const ProgressCallback& callback,
                                        std::u16string_view outputName) {
    const std::uint32_t n = GetCount();
    const std::int32_t overall = static_cast<std::int32_t>((std::uint64_t{index} + 1) * 100 / n);
    const PackageEntry& entry = entries[index];
    const std::u16string_view name = MemberSource(index);

    platform::FileStamp now;
    platform::File source = platform::File::OpenRead(name, platform::Share::None, now);
    if (!source.IsOpen()) {
        SetLastError(kCannotOpen, name);
        return CopyResult::Failed;
    }
    // The file must still be the one measured, and hold exactly the measured bytes: a member that
    // grew or was rewritten in the meantime would be cut, or mixed from two versions.
    const platform::FileStamp& expected = measured[index];
    if (now != expected) {
        SetLastError(kChanged, name);
        return CopyResult::Failed;
    }
    std::uint32_t done = 0;
    std::uint32_t reported = 0;
    while (done < entry.size) {
        // Read straight into the writer's buffer: the bytes are not copied again on their way out.
        std::span<std::uint8_t> room = out.Reserve(std::min(kBlockSize, entry.size - done));
        if (room.empty()) {
            SetSystemError(kShortWrite, outputName);
            return CopyResult::Failed;
        }
        std::uint32_t got = 0;
        if (!source.Read(room.data(), static_cast<std::uint32_t>(room.size()), got)) {
            SetSystemError(kCannotRead, name);
            return CopyResult::Failed;
        }
        if (got == 0) {
            SetLastError(kChanged, name);
            return CopyResult::Failed;
        }
        if (!out.Commit(got)) {
            SetSystemError(kShortWrite, outputName);
            return CopyResult::Failed;
        }
        done += got;
        // Progress is told per 4096-byte chunk, however large the blocks that are read and written.
        while (callback && reported < done) {
            reported = std::min((reported / kChunkSize + 1) * kChunkSize, done);
            auto filePercent = static_cast<std::int32_t>(std::uint64_t{reported} * 100 / entry.size);
            cancelRequested = callback(entry, filePercent, overall);
            if (cancelRequested == 1) {
                return CopyResult::Stopped;
            }
        }
    }
    // Still as measured once read: one that grew meanwhile has another length, one rewritten
    // another time.
    if (!source.Stamp(now) || now != expected) {
        SetLastError(kChanged, name);
        return CopyResult::Failed;
    }
    return CopyResult::Copied;
}
