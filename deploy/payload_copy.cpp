#include "deploy/payload_copy.h"

#include <windows.h>

#include "deploy/directory_walker.h"
#include "deploy/path_functions.h"

namespace vantu {

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
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE) && GetLastError() == ERROR_ACCESS_DENIED) {
      // Clears a read-only, hidden or system mark on the existing target.
      SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) result = false;
    }
    walker.Advance();
    walker.SkipDirectories();
  }
  walker.Close();
  return result;
}

}  // namespace vantu
