// The versioned folder below the program-files folder that a version is
// deployed into.
#pragma once

#include <string>

namespace vantu {

// Makes the program-files folder joined with the InstallPath setting and
// `version` (every missing folder on the way is created) and returns it with
// one backslash appended; empty when the platform refuses.
std::wstring ResolveInstallFolder(std::wstring version);

}  // namespace vantu
