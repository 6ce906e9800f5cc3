// What makes an executable an installer: the package stored among its resources, under the type
// name "RT_RCDATA" and the name "ORBDATA" in U.S. English, and the sidebar picture as bitmap 251.
// The one-pass writer (installer_write.h) puts them there; the readers look for them here.
#pragma once

#include "package/pe_resources.h"

// Whether a resource is an installer's package: type "RT_RCDATA", name "ORBDATA", whatever the
// case they are stored in and in any language.
bool IsPackageResource(const pe::ResourceInfo& resource);
