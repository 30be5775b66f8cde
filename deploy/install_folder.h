// The versioned folder below the program-files folder that a version is
// deployed into.
#pragma once

#include <string>

namespace vantu {

struct InstallFolder {
  // Ending in a backslash; empty when the platform refuses.
  std::wstring path;
  // The InstallPath setting breaks its rule (setting_rules.h), or the
  // resolved folder does not lie below the program-files folder: nothing may
  // be deployed. The log says why.
  bool refused = false;
};

// Reads the InstallPath setting and checks it against its rule before
// anything is made; then makes the program-files folder joined with it and
// `version` (every missing folder on the way is created) and returns that
// folder with one backslash appended, once it is sure that the folder lies
// below the program-files folder.
InstallFolder ResolveInstallFolder(std::wstring version);

}  // namespace vantu
