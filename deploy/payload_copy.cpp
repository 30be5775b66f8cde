#include "deploy/payload_copy.h"

#include <windows.h>

#include "base/path_functions.h"
#include "deploy/directory_walker.h"
#include "deploy/payload_source.h"
#include "runlog/run_log.h"

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

// Moves past the folders of the listing, but not past one that is a
// reparse point: the copy refuses that one.
void SkipPlainFolders(DirectoryWalker& walker) {
  while (!walker.AtEnd() && (walker.Current()->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !IsReparsePointEntry(*walker.Current())) {
    walker.Advance();
  }
}

}  // namespace

bool CopyPayload(const std::wstring& sourceRoot, const std::wstring& targetRoot) {
  // An empty target would scatter files into the current folder, an empty
  // source would copy the root of the current drive.
  if (sourceRoot.empty() || targetRoot.empty()) {
    LogLine({"nothing copied: no ", sourceRoot.empty() ? "program" : "install", " folder"});
    return false;
  }
  bool result = true;
  unsigned copied = 0;
  unsigned passedOver = 0;
  unsigned failed = 0;
  DirectoryWalker walker;
  walker.Open(sourceRoot);
  SkipPlainFolders(walker);
  while (!walker.AtEnd()) {
    const std::wstring source = walker.CurrentPath();
    const std::wstring name = FileNamePart(source);
    const std::wstring target = targetRoot + name;
    // A link in the program folder could lead the copy to any file: it is
    // not copied, and the deployment is incomplete.
    if (IsReparsePointEntry(*walker.Current())) {
      result = false;
      ++failed;
      if (LogEnabled()) {
        LogLine({"not copied ", name, ": ", ReparsePointKind(walker.Current()->dwReserved0),
                 "; the program folder may hold plain files only"});
      }
      walker.Advance();
      SkipPlainFolders(walker);
      continue;
    }
    // Written before the copy, so that the log of a run that is killed or
    // hangs here ends with the file it was copying.
    LogLine({"copying ", name});
    // Held open while it is copied: nobody can swap it for a link, rename,
    // remove or change it meanwhile.
    PayloadSource held;
    if (!held.Open(source)) {
      result = false;
      ++failed;
      held.LogRefusal(name);
      walker.Advance();
      SkipPlainFolders(walker);
      continue;
    }
    if (CopyFileW(source.c_str(), target.c_str(), FALSE)) {
      ++copied;
    } else {
      const DWORD error = GetLastError();
      if (error == ERROR_ACCESS_DENIED) {
        // Clears a read-only, hidden or system mark on the existing target.
        SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (CopyFileW(source.c_str(), target.c_str(), FALSE)) {
          ++copied;
          if (LogEnabled()) {
            LogLine({"copied ", name, " after resetting the target's attributes (first try: ", ErrorText(error),
                     ")"});
          }
        } else {
          result = false;
          ++failed;
          // The error texts come from the platform: asked for the log only,
          // so that a run without it makes exactly the calls it always made.
          if (LogEnabled()) {
            LogLine({"could not copy ", name, ": ", ErrorText(GetLastError()),
                     " even after resetting the target's attributes"});
          }
        }
      } else if (CannotBePlaced(error)) {
        result = false;
        ++failed;
        if (LogEnabled()) LogLine({"could not copy ", name, ": ", ErrorText(error)});
      } else {
        // Anything else passes the file over, a file held open or locked by
        // another program (ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION)
        // among them. The install folder belongs to this one version, so a
        // target in use there is normally this version's own file from an
        // earlier run, held by the running service or by a client of the
        // bridge: the copy in place is the one wanted, and replacing it would
        // mean stopping whoever holds it. The rest of the payload goes on.
        ++passedOver;
        if (LogEnabled()) LogLine({"passed over ", name, ": ", ErrorText(error)});
      }
    }
    walker.Advance();
    SkipPlainFolders(walker);
  }
  walker.Close();
  if (LogEnabled()) {
    LogLine({result ? "copy finished: " : "copy failed: ", std::to_string(copied), " copied, ",
             std::to_string(passedOver), " passed over, ", std::to_string(failed), " failed"});
  }
  return result;
}

}  // namespace vantu
