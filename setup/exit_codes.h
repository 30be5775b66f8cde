// Exit codes of setup.exe, its report to whoever started it (the run log of
// /LOG says why, when asked for).
#pragma once

namespace vantu {

// Nothing to do, or deployed (with or without the registry record).
constexpr int kExitSuccess = 0;
// The firmware gate is closed, the offered version names no install folder,
// InstallPath or Execution leads out of its folder, the payload could not be
// copied (or, for a sealed setup.exe, differs from its seal or carries a
// malformed one), the machine-wide run guard could not be taken (an error,
// or a name that another program made), or memory ran out. Read as an
// unsigned process exit code: 0xFFFFFFFF.
constexpr int kExitFailure = -1;
// Another run held the machine-wide run guard for longer than the limit:
// ERROR_INSTALL_ALREADY_RUNNING, which deployment tools (Configuration
// Manager, Intune) retry later.
constexpr int kExitAlreadyRunning = 1618;

}  // namespace vantu
