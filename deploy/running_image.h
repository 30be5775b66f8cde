// The running image (setup.exe itself), held from the start of the run so
// that what the run installs as setup.exe is the image that runs.
//
// Windows lets a running image be renamed: a program of the user's own
// could rename setup.exe while the run goes on and write other bytes under
// its name, and a copy by name would install those bytes as the bridge that
// other programs load, and as the service executable where Execution names
// setup.exe. So the run opens its image once, sharing reading only (from
// then on nobody can rename, replace or write it), proves that the file it
// opened is the very file that is mapped as the running module, and copies
// the image from that handle.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_handle.h"

namespace vantu {

class RunningImage {
 public:
  enum class Outcome {
    kHeld,
    kNotOpened,  // the file at the module's path could not be opened (`error`)
    kNotMapped,  // it is not the file that is mapped: renamed and replaced before the run held it
    kUnknown,    // the platform could not tell (`error`)
  };

  RunningImage() = default;
  RunningImage(const RunningImage&) = delete;
  RunningImage& operator=(const RunningImage&) = delete;

  // Opens `modulePath` (GetModuleFileNameW's path of the running module) and
  // compares the file with the one mapped as the running module, by
  // identity (NtAreMappedFilesTheSame on a view of each, which asks whether
  // they are views of one file).
  Outcome Hold(const std::wstring& modulePath);

  HANDLE handle() const { return file_.get(); }
  // Its final path (every link on the way resolved); empty when not held,
  // or when the volume tells none.
  const std::wstring& final_path() const { return finalPath_; }
  // The image's file name (setup.exe, as it was started).
  const std::wstring& name() const { return name_; }
  DWORD error() const { return error_; }

 private:
  Outcome Fail(Outcome outcome, DWORD error);

  UniqueFileHandle file_;
  std::wstring name_;
  std::wstring finalPath_;
  DWORD error_ = 0;
};

}  // namespace vantu
