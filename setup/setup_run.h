// The setup run: the firmware gate, the version decision, deployment, the
// launch of the service executable and the registry record.
#pragma once

#include "setup/setup_operations.h"

namespace vantu {

// The firmware interface word lets the run go on when its bits 8 to 15,
// read as a number, are at least 2.
constexpr ULONG kFirmwareWordMask = 0xFF00;
constexpr ULONG kFirmwareWordThreshold = 0x200;

// Runs the setup once with `operations`; returns the exit code: -1 when
// the firmware gate is closed, when an install is due but the offered
// version cannot name the install folder or a setting leads out of its
// folder, or when the payload could not be copied; 0 otherwise.
int RunSetup(SetupOperations& operations);

}  // namespace vantu
