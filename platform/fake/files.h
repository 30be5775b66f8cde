// Path resolution shared by the file, profile, process and shell areas.
#pragma once

#include <string>

#include "fake_win32/api.h"

namespace fake_win32::internal {

struct ResolvedPath {
  std::string full;  // absolute Windows path, "C:\a\b" ("C:\" for a drive root)
  std::string host;  // the host path it maps onto
  bool isDriveRoot = false;
};

// Resolves an absolute, drive-relative or relative Windows path against the
// current folder. False for a path that names nothing (empty, UNC).
bool Resolve(const std::string& windowsPath, ResolvedPath* out);
bool IsHeld(const ResolvedPath& path);
// Attributes of a path, as GetFileAttributesW reports them, without
// appearing in the call log.
DWORD AttributesOf(const std::string& windowsPath);

}  // namespace fake_win32::internal
