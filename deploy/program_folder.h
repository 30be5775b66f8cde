// The folder setup.exe runs from, as the run finds it at its start: the
// source of the payload, and the folder no run log may be written to.
#pragma once

#include <string>

#include "base/unique_handle.h"

namespace vantu {

// setup.exe usually runs from a folder that the user's own programs may
// change (Downloads, a temporary folder, a share). Its path may lead through
// a link (a junction, a symbolic link) that such a program could point
// elsewhere while the run goes on, and the folder itself could be renamed
// and another put in its place. So the run opens the folder once, at its
// start, takes the folder's final path (every link resolved) and keeps the
// folder open until it ends, without sharing its deletion: on Windows the
// folder can then be neither renamed nor removed, and the payload is listed
// and copied from that final path.
class ProgramFolder {
 public:
  ProgramFolder() = default;
  ProgramFolder(const ProgramFolder&) = delete;
  ProgramFolder& operator=(const ProgramFolder&) = delete;

  // Opens `folder` (the folder of the running executable, ModuleDirectory)
  // and takes its final path. Some volumes (network and third-party file
  // systems) tell no final path at all: there the folder is taken by the
  // path it was started from, still held, and every file is checked as it
  // is copied all the same. False when it cannot be opened, or its final
  // path cannot be told for another reason: the folder is then unknown, and
  // nothing can be copied from it.
  bool Open(const std::wstring& folder);

  // The final path, ending in a backslash; empty while unknown.
  const std::wstring& path() const { return path_; }
  // Open's error when it failed; when it succeeded on a volume that tells
  // no final path, GetFinalPathNameByHandleW's answer (0 otherwise).
  DWORD error() const { return error_; }
  bool final_path_unknown() const { return !path_.empty() && error_ != 0; }

 private:
  UniqueFileHandle handle_;
  std::wstring path_;
  DWORD error_ = 0;
};

}  // namespace vantu
