// What a deployment holds the payload to. The copy asks, for each entry of
// the program folder, whether it may be placed and, as its bytes pass,
// whether they are the ones expected; the answers come from whoever knows
// (a sealed setup.exe's seal). Without a rule every file is placed as it
// is.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/file_data.h"

namespace vantu {

// The bytes of one file, checked as they are copied.
class FileCheck : public DataObserver {
 public:
  virtual ~FileCheck() = default;
  // After the last chunk: whether the `bytes` bytes seen are the ones
  // expected. The check logs why not.
  virtual bool Passed(uint64_t bytes) = 0;
};

class PayloadRule {
 public:
  virtual ~PayloadRule() = default;

  // Whether the program folder's file `name` is placed at all. One that is
  // not is left alone, and named in the log.
  virtual bool MayPlace(const std::wstring& name) = 0;

  // A check of the bytes of `name` as they are copied; null when they are
  // taken as they are.
  virtual std::unique_ptr<FileCheck> CheckFor(const std::wstring& name) = 0;

  // The files that must be placed and were not asked about by MayPlace: the
  // program folder lacks them.
  virtual std::vector<std::wstring> NotSeen() const = 0;

  // Whether the file `name` that lies in `installFolder` (ending in a
  // backslash) and that this run did not place itself (it was passed over)
  // is the one expected.
  virtual bool CheckInPlace(const std::wstring& installFolder, const std::wstring& name) = 0;

  // Once every file is in place: logs what the install folder holds beside
  // what the rule knows.
  virtual void LogInstallFolder(const std::wstring& installFolder) = 0;

  // The part of the copy's summary line that the rule adds (", 2 not
  // sealed"); empty for none.
  virtual std::string SummaryPart() const = 0;
};

}  // namespace vantu
