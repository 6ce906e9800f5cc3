// Recognising an installer's package among an executable's resources.
#include "package/installer.h"

#include "platform/text.h"

namespace {

bool SameName(std::u16string_view stored, std::u16string_view upper) {
    if (stored.size() != upper.size()) {
        return false;
    }
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (platform::UpperCaseUnit(stored[i]) != upper[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

bool IsPackageResource(const pe::ResourceInfo& resource) {
    return SameName(resource.type.name, u"RT_RCDATA") && SameName(resource.name.name, u"ORBDATA");
}
