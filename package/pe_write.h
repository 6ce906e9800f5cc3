// Writing an executable with a rebuilt resource section: choosing where the section goes, fixing
// the headers, and streaming every part of the new file so that memory does not grow with the
// size of the resources.
#pragma once

#include "package/pe_image.h"
#include "package/pe_source.h"
#include "package/pe_tree.h"
#include "platform/file.h"

#include <string>

namespace pe {

// Writes `source` (described by `image`) with `tree` as its resources into `target`, a new empty
// file. The tree must be sorted; its existing leaves point into `source`.
bool WriteWithResources(FileSource& source, const Image& image, const ResourceTree& tree, platform::File& target,
                        Error& error);

} // namespace pe
