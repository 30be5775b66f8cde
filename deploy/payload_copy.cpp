#include "deploy/payload_copy.h"

#include <windows.h>

#include <vector>

#include "base/held_file.h"
#include "base/path_functions.h"
#include "deploy/directory_walker.h"
#include "deploy/file_placement.h"
#include "runlog/run_log.h"

namespace vantu {
namespace {

struct Tally {
  unsigned copied = 0;
  unsigned passedOver = 0;
  unsigned failed = 0;
  bool incomplete = false;
  bool rejected = false;
  std::vector<std::wstring> passedOverNames;

  void Count(FilePlacer::Result placed, const std::wstring& name) {
    switch (placed) {
      case FilePlacer::Result::kPlaced:
        ++copied;
        break;
      case FilePlacer::Result::kPassedOver:
        ++passedOver;
        passedOverNames.push_back(name);
        break;
      case FilePlacer::Result::kFailed:
        Fail();
        break;
      case FilePlacer::Result::kRejected:
        rejected = true;
        ++failed;
        break;
    }
  }
  void Fail() {
    incomplete = true;
    ++failed;
  }
  bool ok() const { return !incomplete && !rejected; }
  CopyOutcome outcome() const {
    return incomplete ? CopyOutcome::kIncomplete : rejected ? CopyOutcome::kRejected : CopyOutcome::kComplete;
  }
};

void LogRefusal(const std::wstring& name, const HeldFile& held) {
  if (!LogEnabled()) return;
  if (held.open_error() != 0) {
    LogLine({"could not copy ", name, ": ", ErrorText(held.open_error())});
  } else {
    LogLine({"not copied ", name, ": ", held.check().Describe(), "; the program folder may hold plain files only"});
  }
}

}  // namespace

CopyOutcome CopyPayload(const std::wstring& sourceRoot, const RunningImage* image, const std::wstring& targetRoot,
                        PayloadRule* rule) {
  // An empty target would scatter files into the current folder, an empty
  // source would copy the root of the current drive.
  if (sourceRoot.empty() || targetRoot.empty()) {
    LogLine({"nothing copied: no ", sourceRoot.empty() ? "program" : "install", " folder"});
    return CopyOutcome::kIncomplete;
  }
  Tally tally;
  bool imagePlaced = false;
  FilePlacer placer(targetRoot);
  const auto placeImage = [&]() {
    LogLine({"copying ", image->name()});
    tally.Count(placer.Place(image->handle(), image->name(), nullptr), image->name());
    imagePlaced = true;
  };
  DirectoryWalker walker;
  for (walker.Open(sourceRoot); !walker.AtEnd(); walker.Advance()) {
    const WIN32_FIND_DATAW& entry = *walker.Current();
    const std::wstring source = walker.CurrentPath();
    const std::wstring name = FileNamePart(source);
    if (name == L"." || name == L"..") continue;
    // Sub-folders are never deployed, links to folders among them: nothing
    // of them is opened.
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      LogLine({"folder not deployed: ", name});
      continue;
    }
    if (rule && !rule->MayPlace(name)) {
      LogLine({"not sealed, not copied: ", name});
      continue;
    }
    // The image that runs, whatever now lies under its name, and only it:
    // in a folder that keeps case another entry may be the image's name.
    if (image && SameFileName(name, image->name())) {
      if (!imagePlaced) {
        placeImage();
      } else if (LogEnabled()) {
        LogLine({"not copied ", name, ": the image's name, whose file is the image that runs"});
      }
      continue;
    }
    // A link in the program folder could lead the copy to any file: it is
    // not opened, and the deployment is incomplete.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsNameSurrogateTag(entry.dwReserved0)) {
      tally.Fail();
      if (LogEnabled()) {
        LogLine({"not copied ", name, ": ", ReparsePointKind(entry.dwReserved0),
                 "; the program folder may hold plain files only"});
      }
      continue;
    }
    // Written before the copy, so that the log of a run that is killed or
    // hangs here ends with the file it was copying.
    LogLine({"copying ", name});
    // Held while it is copied: nobody can swap it for a link, rename,
    // remove or change it meanwhile.
    HeldFile held;
    if (!held.Open(source)) {
      tally.Fail();
      LogRefusal(name, held);
      continue;
    }
    const std::unique_ptr<FileCheck> check = rule ? rule->CheckFor(name) : nullptr;
    tally.Count(placer.Place(held.handle(), name, check.get()), name);
  }
  walker.Close();
  // Renamed away since the run began: the image goes all the same.
  if (image && !imagePlaced && (!rule || rule->MayPlace(image->name()))) placeImage();
  if (rule) {
    for (const std::wstring& missing : rule->NotSeen()) {
      tally.Fail();
      LogLine({"sealed file missing from the program folder: ", missing});
    }
  }
  if (LogEnabled()) {
    LogLine({tally.ok() ? "copy finished: " : "copy failed: ", std::to_string(tally.copied), " copied, ",
             std::to_string(tally.passedOver), " passed over, ", std::to_string(tally.failed), " failed",
             rule ? rule->SummaryPart() : std::string()});
  }
  if (tally.ok() && rule) {
    // A file this run placed was checked as it was copied; one it passed
    // over was placed by an earlier run, and is checked where it lies.
    for (const std::wstring& name : tally.passedOverNames) {
      if (!rule->CheckInPlace(targetRoot, name)) tally.rejected = true;
    }
    if (tally.ok()) rule->LogInstallFolder(targetRoot);
  }
  return tally.outcome();
}

}  // namespace vantu
