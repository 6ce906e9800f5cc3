// Packages and folder contents for the installer template's tests.
#include "tests/template_support.h"

#include "package/package.h"
#include "platform/text.h"

#include <gtest/gtest.h>

namespace testing_support {

namespace fs = std::filesystem;

Bytes WritePackage(const fs::path& folder, const std::vector<AppFile>& files, const PackageFields& fields) {
    Package package;
    for (const AppFile& file : files) {
        fs::path path = folder / fs::path(file.relative);
        fs::create_directories(path.parent_path());
        WriteBytes(U16(path), file.bytes);
        EXPECT_TRUE(package.AddFile(U16(path).c_str(), file.flags)) << platform::ToUtf8(file.relative);
        if (!file.shortcut.empty()) {
            package.SetShortcutName(package.GetCount() - 1, file.shortcut.c_str());
        }
    }
    package.SetSourceFolder(StoredForm(U16(folder / "")).c_str());
    package.SetProgramName(fields.programName.c_str());
    package.SetTargetFolder(fields.targetFolder);
    package.SetInstallFolder(fields.installFolder.c_str());
    std::u16string out = U16(folder.parent_path() / "package.dat");
    EXPECT_TRUE(package.Write(out.c_str(), nullptr)) << platform::ToUtf8(package.LastError());
    Bytes bytes = ReadBytes(out);
    fs::remove(fs::path(out));
    return bytes;
}

Bytes CraftPackage(std::u16string_view sourceFolder, const std::vector<CraftedMember>& members,
                   const PackageFields& fields) {
    std::uint32_t count = static_cast<std::uint32_t>(members.size());
    std::uint32_t total = 0;
    for (const CraftedMember& m : members) {
        total += static_cast<std::uint32_t>(m.bytes.size());
    }
    ByteWriter w;
    w.U32(0x6F726220).Text(sourceFolder).Text(fields.installFolder).Text(fields.programName).Text(u"").Text(u"");
    w.U32(static_cast<std::uint32_t>(fields.targetFolder)).U32(count).U32(2620 + count * 1052).U32(total);
    std::uint32_t offset = 0;
    for (const CraftedMember& m : members) {
        w.Text(m.filename).Text(m.shortcut).U32(static_cast<std::uint32_t>(m.bytes.size())).U32(offset).U32(m.flags);
        offset += static_cast<std::uint32_t>(m.bytes.size());
    }
    for (const CraftedMember& m : members) {
        w.Raw(m.bytes);
    }
    return w.Data();
}

std::map<std::string, Bytes> FolderContents(const fs::path& folder) {
    std::map<std::string, Bytes> contents;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file()) {
            std::string relative = platform::ToUtf8(it->path().lexically_relative(folder).generic_u16string());
            contents[relative] = ReadBytes(U16(it->path()));
        }
    }
    return contents;
}

} // namespace testing_support
