// Files placed into the install folder, each whole or not at all: copied
// from its held source into a staging folder inside the install folder, and
// moved to its own name only once complete and, where a check is asked for,
// only once its bytes passed it. A file that fails leaves nothing behind:
// the install folder never holds bytes that were not checked, under any
// name.
//
// The staging folder (~FanServiceSetup.staging) has a fixed name: only
// administrators write in the install folder and one run goes at a time, so
// what a run that was killed left there is emptied by the next one. Every
// temporary file is made in that small folder rather than beside thousands
// of payload files (under Wine every new name costs a scan of its folder).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "base/file_data.h"
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
  // Removes every temporary file of the placer that is still there, and the
  // staging folder.
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
  // first placement; false, logged, when it cannot be.
  bool PrepareStaging();
  void Remove(const std::wstring& temporary);
  void Forget(const std::wstring& temporary);
  Result Fail(const std::wstring& temporary);

  std::wstring folder_;
  std::wstring staging_;
  bool stagingMade_ = false;
  DWORD stagingError_ = 0;
  DataCopier copier_;
  std::vector<std::wstring> temporaries_;  // made and not yet moved or removed
};

}  // namespace vantu
