// The whole program as it is started, around the run: its switches, the
// run log, how notices are given, the machine-wide run guard, the seal, then
// the run.
#pragma once

#include <string>
#include <vector>

#include "run/run_outcome.h"

namespace vantu {

// Returns the exit code. /? prints the usage and does nothing else (no log,
// no guard, no run). A run guard held by another run for longer than its
// limit ends the run with 1618, one that cannot be taken with -1, before
// anything is read. A sealed image whose payload does not match its seal
// ends with -1 before any setting is read. Out of memory ends the run with
// -1.
int RunProgram(const std::vector<std::wstring>& arguments);

// The same, with how the run ended; `helpShown` (may be null) tells that /?
// was given, and nothing else was done.
RunOutcome RunProgramOutcome(const std::vector<std::wstring>& arguments, bool* helpShown = nullptr);

}  // namespace vantu
