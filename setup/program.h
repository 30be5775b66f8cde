// The whole program as it is started, around the run: its switches, the
// run log, how notices are given, the machine-wide run guard, then the run.
#pragma once

#include <string>
#include <vector>

#include "setup/setup_operations.h"

namespace vantu {

// Returns the exit code. /? prints the usage and does nothing else (no log,
// no guard, no run). Out of memory ends the run with -1.
int RunProgram(const std::vector<std::wstring>& arguments, SetupOperations& operations);

}  // namespace vantu
