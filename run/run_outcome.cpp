#include "run/run_outcome.h"

#include "run/exit_codes.h"

namespace vantu {

const char* OutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kInstalled: return "Installed";
    case RunOutcome::kNothingToDo: return "NothingToDo";
    case RunOutcome::kDeployedWithoutRecord: return "DeployedWithoutRecord";
    case RunOutcome::kBoardNotSupported: return "BoardNotSupported";
    case RunOutcome::kVersionNamesNoFolder: return "VersionNamesNoFolder";
    case RunOutcome::kInstallPathLeadsOut: return "InstallPathLeadsOut";
    case RunOutcome::kExecutionLeadsOut: return "ExecutionLeadsOut";
    case RunOutcome::kRegistryKeyLeadsOut: return "RegistryKeyLeadsOut";
    case RunOutcome::kNoInstallFolder: return "NoInstallFolder";
    case RunOutcome::kNoProgramFolder: return "NoProgramFolder";
    case RunOutcome::kImageNotHeld: return "ImageNotHeld";
    case RunOutcome::kSetupIniNotTaken: return "SetupIniNotTaken";
    case RunOutcome::kCopyFailed: return "CopyFailed";
    case RunOutcome::kSealMalformed: return "SealMalformed";
    case RunOutcome::kSealNotCheckable: return "SealNotCheckable";
    case RunOutcome::kSealMismatch: return "SealMismatch";
    case RunOutcome::kRunGuardTimedOut: return "RunGuardTimedOut";
    case RunOutcome::kRunGuardUnavailable: return "RunGuardUnavailable";
    case RunOutcome::kOutOfMemory: return "OutOfMemory";
  }
  return "Unknown";
}

int ExitCodeOf(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kInstalled:
    case RunOutcome::kNothingToDo:
    case RunOutcome::kDeployedWithoutRecord:
      return kExitSuccess;
    case RunOutcome::kRunGuardTimedOut:
      return kExitAlreadyRunning;
    default:
      return kExitFailure;
  }
}

}  // namespace vantu
