// A workspace's device options in its cabinet design, and as the installer stores them.
#include "device/device_options.h"

#include "platform/code_page.h"
#include "platform/little_endian.h"

#include <cstring>

namespace device {
namespace {

// "TDOP", then a version: a record made by a newer tarvelo-build is refused, not misread.
constexpr std::uint32_t kMagic = 0x504F4454;
constexpr std::uint32_t kVersion = 1;

void PutText(std::vector<std::uint8_t>& out, std::u16string_view text) {
    platform::AppendLe32(out, static_cast<std::uint32_t>(text.size()));
    for (char16_t c : text) {
        platform::AppendLe16(out, c);
    }
}

// Reading the record, every length checked against what is left.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool U32(std::uint32_t& v) {
        if (bytes_.size() - at_ < 4) {
            return false;
        }
        v = platform::Le32(bytes_.data() + at_);
        at_ += 4;
        return true;
    }
    bool Count(std::size_t& n, std::size_t each) {
        std::uint32_t v = 0;
        if (!U32(v) || v > (bytes_.size() - at_) / each) {
            return false;
        }
        n = v;
        return true;
    }
    bool Text(std::u16string& text) {
        std::size_t n = 0;
        if (!Count(n, 2)) {
            return false;
        }
        text.resize(n);
        for (std::size_t i = 0; i < n; ++i, at_ += 2) {
            text[i] = platform::Le16(bytes_.data() + at_);
        }
        return true;
    }
    bool Raw(std::vector<std::uint8_t>& out) {
        std::size_t n = 0;
        if (!Count(n, 1)) {
            return false;
        }
        out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                   bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + n));
        at_ += n;
        return true;
    }
    bool AtEnd() const { return at_ == bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

} // namespace

void ApplyOptions(const DeviceOptions& options, CabinetDesign& design) {
    design.codePage = options.codePage;
    design.limits = options.limits;
    design.unsupported = options.unsupported;
    design.registry = options.registry;
    design.setupDll.reset();
    if (!options.setupDllName.empty()) {
        DesignFile setup;
        setup.name = options.setupDllName;
        setup.member = kSetupDllMember;
        setup.size = static_cast<std::uint32_t>(options.setupDll.size());
        // Its line in the [SourceDisksFiles] `inf -d` writes: after the files'.
        setup.source = static_cast<std::uint16_t>(design.files.size() + 1);
        design.setupDll = setup;
    }
}

bool WithSetupDll::Open(std::int32_t index, std::uint32_t size, Error& error) {
    setup_ = index == kSetupDllMember;
    offset_ = 0;
    if (!setup_) {
        return members_.Open(index, size, error);
    }
    if (size != options_.setupDll.size()) {
        error = Refusal("the setup DLL changed size");
        return false;
    }
    return true;
}

bool WithSetupDll::Read(void* buffer, std::uint32_t size, Error& error) {
    if (!setup_) {
        return members_.Read(buffer, size, error);
    }
    if (size > options_.setupDll.size() - offset_) {
        error = Refusal("the setup DLL is shorter than its size");
        return false;
    }
    std::memcpy(buffer, options_.setupDll.data() + offset_, size);
    offset_ += size;
    return true;
}

std::vector<std::uint8_t> StoreOptions(const DeviceOptions& o) {
    std::vector<std::uint8_t> out;
    platform::AppendLe32(out, kMagic);
    platform::AppendLe32(out, kVersion);
    platform::AppendLe32(out, o.codePage);
    for (std::uint32_t v : {o.limits.versionMin[0], o.limits.versionMin[1], o.limits.versionMax[0],
                            o.limits.versionMax[1], o.limits.buildMin, o.limits.buildMax}) {
        platform::AppendLe32(out, v);
    }
    platform::AppendLe32(out, static_cast<std::uint32_t>(o.unsupported.size()));
    for (const std::u16string& name : o.unsupported) {
        PutText(out, name);
    }
    platform::AppendLe32(out, static_cast<std::uint32_t>(o.registry.size()));
    for (const RegistryValue& v : o.registry) {
        platform::AppendLe32(out, static_cast<std::uint32_t>(v.root));
        PutText(out, v.key);
        PutText(out, v.name);
        platform::AppendLe32(out, v.type);
        platform::AppendLe32(out, static_cast<std::uint32_t>(v.texts.size()));
        for (const std::u16string& text : v.texts) {
            PutText(out, text);
        }
        platform::AppendLe32(out, static_cast<std::uint32_t>(v.bytes.size()));
        out.insert(out.end(), v.bytes.begin(), v.bytes.end());
        platform::AppendLe32(out, v.number);
    }
    PutText(out, o.setupDllName);
    platform::AppendLe32(out, static_cast<std::uint32_t>(o.setupDll.size()));
    out.insert(out.end(), o.setupDll.begin(), o.setupDll.end());
    return out;
}

bool LoadOptions(std::span<const std::uint8_t> bytes, DeviceOptions& options, Error& error) {
    options = DeviceOptions{};
    Reader r(bytes);
    std::uint32_t magic = 0, version = 0;
    if (!r.U32(magic) || magic != kMagic || !r.U32(version) || version != kVersion) {
        error = Malformed("its device options are not a record this version of the template reads");
        return false;
    }
    DeviceLimits& l = options.limits;
    std::size_t count = 0;
    bool ok = r.U32(options.codePage) && platform::KnownCodePage(options.codePage) && r.U32(l.versionMin[0]) && r.U32(l.versionMin[1]) && r.U32(l.versionMax[0]) && r.U32(l.versionMax[1]) &&
              r.U32(l.buildMin) && r.U32(l.buildMax) && r.Count(count, 4);
    for (std::size_t i = 0; ok && i < count; ++i) {
        ok = r.Text(options.unsupported.emplace_back());
    }
    ok = ok && r.Count(count, 4 * 6);
    for (std::size_t i = 0; ok && i < count; ++i) {
        RegistryValue& v = options.registry.emplace_back();
        std::uint32_t root = 0;
        std::size_t texts = 0;
        ok = r.U32(root) && root >= 1 && root <= 4 && r.Text(v.key) && r.Text(v.name) && r.U32(v.type) &&
             r.Count(texts, 4);
        v.root = static_cast<RegistryRoot>(root);
        for (std::size_t t = 0; ok && t < texts; ++t) {
            ok = r.Text(v.texts.emplace_back());
        }
        ok = ok && r.Raw(v.bytes) && r.U32(v.number);
    }
    ok = ok && r.Text(options.setupDllName) && r.Raw(options.setupDll) && r.AtEnd() &&
         options.setupDll.size() <= kLongestSetupDll;
    if (!ok) {
        options = DeviceOptions{};
        error = Malformed("its device options are damaged");
    }
    return ok;
}

} // namespace device
