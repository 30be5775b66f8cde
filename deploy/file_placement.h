// Files placed into the install folder, each whole or not at all: copied
// from its held source into a staging folder inside the install folder, and
// moved to its own name only once complete and, where a check is asked for,
// only once its bytes passed it. A file that fails leaves nothing behind:
// the install folder never holds bytes that were not checked, under any
// name.
//
// Each staged file is open, shared with nobody, from the moment it is made
// until it has its name or is gone: it is moved into place, or deleted,
// through that handle (SetFileInformationByHandle), so that no other program
// (users may read below the program-files folder) can open it in between,
// keep it from moving or make it stay.
//
// The staging folder (~FanServiceSetup.staging) has a fixed name: only
// administrators write in the install folder and one run goes at a time, so
// what a run that was killed left there is emptied by the next one (a
// staging folder that is a link is not used). Every temporary file is made
// in that small folder rather than beside thousands of payload files (under
// Wine every new name costs a scan of its folder).
#pragma once

#include <windows.h>

#include <string>

#include "base/file_data.h"
#include "base/unique_handle.h"
#include "deploy/payload_rule.h"

namespace vantu {

// The staging folder's name in the install folder.
extern const wchar_t kStagingFolderName[];

class FilePlacer {
 public:
  enum class Result {
    kPlaced,
    // The target is held by another program (a sharing or lock violation):
    // this version's own file from an earlier run, held by the running
    // service or a client of the bridge. Left as it is.
    kPassedOver,
    kFailed,
    kRejected,  // its bytes failed the check
  };

  // Places into `installFolder`, ending in a backslash.
  explicit FilePlacer(std::wstring installFolder);
  // Removes the staging folder.
  ~FilePlacer();
  FilePlacer(const FilePlacer&) = delete;
  FilePlacer& operator=(const FilePlacer&) = delete;

  // Copies the data of `source` (read from its current position to its end)
  // to the install folder as `name`, with the source's time of last
  // writing, its bytes shown to `check` (may be null). An existing target is
  // replaced; one refused with access denied loses its attributes (a
  // read-only mark) and is tried once more. The log says what became of it.
  Result Place(HANDLE source, const std::wstring& name, FileCheck* check);

 private:
  // The staging folder, made (or emptied of what a killed run left) at the
  // first placement, and held with the install folder; false, logged, when
  // it cannot be.
  bool PrepareStaging();
  // Moves the staged file `staged` to `name` in the install folder.
  bool MoveIntoPlace(HANDLE staged, const std::wstring& name);

  std::wstring folder_;
  std::wstring staging_;
  UniqueFileHandle installFolder_;  // held; the staging folder must lie in it
  UniqueFileHandle stagingFolder_;  // held: neither renamed nor removed meanwhile
  bool stagingFailed_ = false;
  DataCopier copier_;
};

}  // namespace vantu
