// The versioned folder below the program-files folder that a version is
// deployed into.
#pragma once

#include <string>

#include "settings/settings_file.h"

namespace vantu {

struct InstallFolder {
  // Ending in a backslash; empty when the platform refuses.
  std::wstring path;
  // The InstallPath setting breaks its rule (setting_rules.h), or the
  // resolved folder does not lie below the program-files folder: nothing may
  // be deployed. The log says why.
  bool refused = false;
};

// Reads the InstallPath setting from `settings` and checks it against its
// rule before anything is made; then makes the program-files folder joined
// with it (two separators in a row read as one, as Windows reads them) and
// `version` (every missing folder on the way is created) and returns that
// folder with one backslash appended, once it is sure that the folder lies
// below the program-files folder.
InstallFolder ResolveInstallFolder(const SettingsFile& settings, std::wstring version);

}  // namespace vantu
