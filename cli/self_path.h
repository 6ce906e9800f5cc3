// The path of the running tarvelo-build, to find the installer template that ships beside it.
#pragma once

#include <string>

namespace cli {

// The folder holding the running program, with a trailing separator; false where the host does not
// tell.
bool OwnFolder(std::u16string& folder);

} // namespace cli
