#include "run/setup_run.h"

#include "base/text_encoding.h"
#include "runlog/run_log.h"
#include "run/version_compare.h"

namespace vantu {

RunOutcome RunSetup(SetupOperations& operations) {
  // The component model stays initialised until the process ends.
  operations.InitializeComponentModel();
  operations.AcpiInit();

  ULONG firmwareWord = 0;
  operations.ReadMbifValues(&firmwareWord);
  if ((firmwareWord & kFirmwareWordMask) < kFirmwareWordThreshold) {
    LogLine({"firmware word ", HexWord(firmwareWord), ": board not supported (bits 8 to 15 below 2)"});
    return RunOutcome::kBoardNotSupported;
  }
  LogLine({"firmware word ", HexWord(firmwareWord), ": board supported"});

  const OfferedVersion offered = operations.ReadSetupVersion();
  // RegistryKey is read here first: a value that leads out of its place ends
  // the run before anything is made or written.
  const InstalledVersion read = operations.ReadInstalledVersion();
  if (read.refused) return RunOutcome::kRegistryKeyLeadsOut;
  const std::string& installed = read.ansi;
  const auto logDecision = [&](const char* decision) {
    LogLine({"installed version \"", LogText::Ansi(installed), installed.empty() ? "\" (none recorded)" : "\"",
             ", offered \"", offered.text, "\"", decision});
  };
  // Compared as the two texts in the ANSI code page, byte by byte.
  if (IsOlderVersion(installed, offered.ansi)) {
    logDecision(": install: the installed version is older");
  } else if (operations.IsServiceInstalled()) {
    logDecision(", service present: nothing to do");
    return RunOutcome::kNothingToDo;
  } else {
    logDecision(", service missing: install");
  }

  // The offered version names the install folder. A version that is no
  // single folder name (empty, only dots and blanks, or holding a backslash,
  // a slash or a colon) would deploy into InstallPath itself or outside it:
  // nothing is made, copied, run or recorded then.
  if (!IsDeployableVersion(offered.text)) {
    LogLine({"offered version \"", offered.text, "\" names no install folder: nothing deployed"});
    return RunOutcome::kVersionNamesNoFolder;
  }

  // setup.ini lies in a folder that the user's own programs may write. A
  // setting that would lead the deployment out of its folders ends the run
  // here, like an unusable version, before anything is made: Execution is
  // looked at now (and again where it is used), InstallPath where it is
  // read, before the install folder is made.
  if (!operations.ExecutionKeepsToItsRule()) return RunOutcome::kExecutionLeadsOut;
  const InstallFolder resolved = operations.ResolveInstallFolder(offered.text);
  if (resolved.refused) return RunOutcome::kInstallPathLeadsOut;
  const std::wstring& installFolder = resolved.path;
  if (installFolder.empty()) {
    LogLine({"install folder: none (the program-files folder could not be resolved)"});
    return RunOutcome::kNoInstallFolder;
  }
  LogLine({"install folder: ", installFolder});
  switch (operations.CopyPayload(installFolder)) {
    case CopyOutcome::kComplete:
      break;
    case CopyOutcome::kIncomplete:
      return RunOutcome::kCopyFailed;
    case CopyOutcome::kRejected:
      return RunOutcome::kSealMismatch;
  }

  const bool launched = operations.LaunchServiceExecutable(installFolder);
  // Asked again for what the question does, not for its answer: it opens the
  // service control manager and reads "ServiceName" afresh, so an unreadable
  // setting is reported a second time, after the launch, in the order of
  // reads and messages that every run keeps. Whether the service now exists
  // changes nothing: the record depends on the launch alone.
  operations.IsServiceInstalled();

  if (!launched) {
    LogLine({"no record: the service executable did not start"});
    return RunOutcome::kDeployedWithoutRecord;
  }
  const std::wstring keyPath = operations.ReadRegistryKey();
  return operations.RecordInstall(keyPath, offered.text, installFolder) ? RunOutcome::kInstalled
                                                                        : RunOutcome::kDeployedWithoutRecord;
}

}  // namespace vantu
