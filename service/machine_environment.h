// The environment the service executable starts with: the machine's own
// default, never the caller's. setup.exe runs with administrator rights,
// and whoever started it may have set anything in the environment it would
// pass on: PATH entries of folders the user writes, TEMP, variables that
// make a runtime load code. The machine's default comes from
// CreateEnvironmentBlock without a user's token (userenv.dll, not one of
// Windows' known DLLs: loaded at run time from the system folder only).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vantu {

class MachineEnvironment {
 public:
  // Makes the block: the machine's default environment, with SystemRoot and
  // SystemDrive (taken from GetSystemWindowsDirectoryW where the default
  // lacks them). False, with `why`, when it cannot be made; nothing of the
  // caller's environment takes its place then.
  bool Make(std::string* why);

  // For CreateProcessW with CREATE_UNICODE_ENVIRONMENT; valid after Make.
  void* block() { return block_.data(); }
  size_t variables() const { return variables_; }

 private:
  std::vector<wchar_t> block_;
  size_t variables_ = 0;
};

}  // namespace vantu
