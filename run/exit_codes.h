// Exit codes of setup.exe, its report to whoever started it (the run log of
// /LOG says why, when asked for).
#pragma once

namespace vantu {

// Each cause of the end of a run is an outcome of its own (run_outcome.h),
// which the log names; these are the codes they end with.

// Installed, nothing to do, or deployed without the registry record.
constexpr int kExitSuccess = 0;
// Every other outcome. Read as an unsigned process exit code: 0xFFFFFFFF.
constexpr int kExitFailure = -1;
// Another run held the machine-wide run guard for longer than the limit:
// ERROR_INSTALL_ALREADY_RUNNING, which deployment tools (Configuration
// Manager, Intune) retry later.
constexpr int kExitAlreadyRunning = 1618;

}  // namespace vantu
