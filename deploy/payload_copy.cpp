#include "deploy/payload_copy.h"

#include <windows.h>

#include <vector>

#include "base/path_functions.h"
#include "deploy/directory_walker.h"
#include "deploy/payload_source.h"
#include "runlog/run_log.h"

namespace vantu {
namespace {

// A file held open or locked by another program (a sharing or lock
// violation) where the install folder already has a file of that name. The
// install folder belongs to this one version, so that is this version's own
// file from an earlier run, held by the running service or by a client of
// the bridge: the copy in place is the one wanted, and replacing it would
// mean stopping whoever holds it. Any other failure (the held file is the
// source, the target is not there, the source went away, a name the
// platform refuses, a full disk, ...) leaves the install folder without the
// file, and the run must not go on as if it were complete.
bool MayBePassedOver(DWORD error, const std::wstring& target) {
  if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return false;
  const DWORD attributes = GetFileAttributesW(target.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
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

bool CopyPayload(const std::wstring& sourceRoot, const std::wstring& targetRoot, const SealedCopy* sealed) {
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
  unsigned unsealed = 0;
  std::vector<bool> listedSeen(sealed ? sealed->manifest->entries().size() : 0, false);
  DirectoryWalker walker;
  walker.Open(sourceRoot);
  SkipPlainFolders(walker);
  while (!walker.AtEnd()) {
    const std::wstring source = walker.CurrentPath();
    const std::wstring name = FileNamePart(source);
    const std::wstring target = targetRoot + name;
    // A sealed copy considers only what the seal lists (and the image):
    // anything else beside setup.exe, a link among it, is left alone.
    if (sealed) {
      if (!SealedCopyTakes(*sealed, name)) {
        ++unsealed;
        LogLine({"not sealed, not copied: ", name});
        walker.Advance();
        SkipPlainFolders(walker);
        continue;
      }
      if (const SealEntry* entry = sealed->manifest->Find(name)) {
        listedSeen[static_cast<size_t>(entry - sealed->manifest->entries().data())] = true;
      }
    }
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
      } else if (MayBePassedOver(error, target)) {
        ++passedOver;
        if (LogEnabled()) LogLine({"passed over ", name, ": ", ErrorText(error), " (the install folder has it)"});
      } else {
        result = false;
        ++failed;
        if (LogEnabled()) LogLine({"could not copy ", name, ": ", ErrorText(error)});
      }
    }
    walker.Advance();
    SkipPlainFolders(walker);
  }
  walker.Close();
  if (sealed) {
    for (size_t i = 0; i < listedSeen.size(); ++i) {
      if (listedSeen[i]) continue;
      result = false;
      ++failed;
      LogLine({"sealed file missing from the program folder: ", sealed->manifest->entries()[i].name});
    }
  }
  if (LogEnabled()) {
    LogLine({result ? "copy finished: " : "copy failed: ", std::to_string(copied), " copied, ",
             std::to_string(passedOver), " passed over, ", std::to_string(failed), " failed",
             sealed ? ", " + std::to_string(unsealed) + " not sealed" : std::string()});
  }
  // What runs is checked where it runs from, once it is all in place.
  if (result && sealed) result = CheckInstallFolder(*sealed, targetRoot);
  return result;
}

}  // namespace vantu
