// How a run ended: one outcome per cause, logged once by name at the end
// ("outcome CopyFailed: exit code -1 (0xFFFFFFFF)") and turned into the
// exit code, setup.exe's report to whoever started it.
#pragma once

namespace vantu {

enum class RunOutcome {
  // Exit code 0.
  kInstalled,              // deployed, the service executable run, the install recorded
  kNothingToDo,            // the installed version is not older and the service is present
  kDeployedWithoutRecord,  // deployed, but the service executable did not start or the record was not written
  // Exit code -1.
  kBoardNotSupported,      // the firmware gate is closed
  kVersionNamesNoFolder,   // the offered version names no install folder
  kInstallPathLeadsOut,    // InstallPath leads out of the program-files folder
  kExecutionLeadsOut,      // Execution names more than one plain file
  kRegistryKeyLeadsOut,    // RegistryKey names a key outside HKLM\SOFTWARE
  kNoInstallFolder,        // the install folder could not be resolved or made
  kNoProgramFolder,        // the program folder could not be opened
  kImageNotHeld,           // the running image could not be held, or is no longer the file that runs
  kSetupIniNotTaken,       // setup.ini is there but could not be held or copied
  kCopyFailed,             // a file of the payload could not be placed
  kSealMalformed,          // the image's seal cannot be read
  kSealNotCheckable,       // the image is sealed but SHA-256 is not available
  kSealMismatch,           // setup.ini or a file of the payload differs from the seal
  kRunGuardUnavailable,    // the machine-wide run guard could not be taken (an error, a name others made)
  kOutOfMemory,
  // Exit code 1618 (ERROR_INSTALL_ALREADY_RUNNING), which deployment tools retry.
  kRunGuardTimedOut,       // another run held the machine for longer than the limit
};

// Its name in the log: "CopyFailed".
const char* OutcomeName(RunOutcome outcome);
// The exit code it ends the run with: 0, -1 or 1618.
int ExitCodeOf(RunOutcome outcome);

}  // namespace vantu
