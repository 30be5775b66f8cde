// Exit codes of setup.exe, its report to whoever started it (the run log of
// /LOG says why, when asked for).
#pragma once

namespace vantu {

// Nothing to do, or deployed (with or without the registry record).
constexpr int kExitSuccess = 0;
// The firmware gate is closed, the offered version names no install folder,
// InstallPath or Execution leads out of its folder, the payload could not be
// copied (or, for a sealed setup.exe, differs from its seal or carries a
// malformed one), another run held the machine-wide run guard for too long,
// or memory ran out. Read as an unsigned process exit code: 0xFFFFFFFF.
constexpr int kExitFailure = -1;

}  // namespace vantu
