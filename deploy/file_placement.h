// Files placed into the install folder, each whole or not at all: copied
// from its held source to a new temporary name beside its target, and given
// its own name only once complete and, where a check is asked for, only
// once its bytes passed it. A file that fails leaves nothing behind: the
// install folder never holds bytes that were not checked, under any name.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "base/file_data.h"
#include "deploy/payload_rule.h"

namespace vantu {

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
  // Removes every temporary file of the placer that is still there.
  ~FilePlacer();
  FilePlacer(const FilePlacer&) = delete;
  FilePlacer& operator=(const FilePlacer&) = delete;

  // Copies the data of `source` (read from its current position to its end)
  // to the install folder as `name`, its bytes shown to `check` (may be
  // null). An existing target is replaced; one refused with access denied
  // loses its attributes (a read-only mark) and is tried once more. The log
  // says what became of it.
  Result Place(HANDLE source, const std::wstring& name, FileCheck* check);

 private:
  // A new file of a name nothing has, open for writing; its name in `path`.
  HANDLE NewTemporary(std::wstring* path, DWORD* error);
  void Remove(const std::wstring& temporary);
  void Forget(const std::wstring& temporary);
  Result Fail(const std::wstring& temporary);

  std::wstring folder_;
  DataCopier copier_;
  std::vector<std::wstring> temporaries_;  // made and not yet named or removed
  unsigned next_ = 0;
};

}  // namespace vantu
