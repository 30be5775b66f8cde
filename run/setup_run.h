// The setup run: the firmware gate, the version decision, deployment, the
// launch of the service executable and the registry record.
#pragma once

#include "run/run_outcome.h"
#include "run/setup_operations.h"

namespace vantu {

// The firmware interface word lets the run go on when its bits 8 to 15,
// read as a number, are at least 2.
constexpr ULONG kFirmwareWordMask = 0xFF00;
constexpr ULONG kFirmwareWordThreshold = 0x200;

// Runs the setup once with `operations`; returns how it ended
// (run_outcome.h).
RunOutcome RunSetup(SetupOperations& operations);

}  // namespace vantu
