#include "setup/program.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "notice/notice.h"
#include "runlog/run_log.h"
#include "setup/exit_codes.h"
#include "setup/production_operations.h"
#include "setup/run_guard.h"
#include "setup/run_seal.h"
#include "setup/run_start.h"
#include "setup/setup_run.h"
#include "setup/switches.h"

namespace vantu {
namespace {

void WriteStandardOutput(const char* text) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!output || output == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(output, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

int LoggedExit(int exitCode) {
  LogLine({exitCode == kExitSuccess          ? "exit code 0"
           : exitCode == kExitAlreadyRunning ? "exit code 1618 (ERROR_INSTALL_ALREADY_RUNNING)"
                                             : "exit code -1 (0xFFFFFFFF)"});
  return exitCode;
}

}  // namespace

int RunProgram(const std::vector<std::wstring>& arguments) {
  const Switches switches = ParseSwitches(arguments);
  if (switches.help) {
    WriteStandardOutput(kUsage);
    return kExitSuccess;
  }
  RunLog log;
  try {
    // The program folder as the run finds it now, held until it ends: the
    // payload's source, and a folder no log may be written to.
    ProductionOperations operations;
    OpenRequestedLog(switches.log, operations.program_folder(), log);
    DecideNotices(switches.quiet);
    RunGuard guard;
    switch (guard.Take()) {
      case RunGuard::Outcome::kTimedOut:
        WriteStandardErrorLine("another setup run held the machine for too long; nothing was done");
        return LoggedExit(kExitAlreadyRunning);
      case RunGuard::Outcome::kFailed:
        WriteStandardErrorLine(("the run guard could not be taken: " + guard.failure() + "; nothing was done").c_str());
        return LoggedExit(kExitFailure);
      case RunGuard::Outcome::kTaken:
      case RunGuard::Outcome::kTakenOver:
        break;
    }
    RunSeal seal;
    if (seal.Prepare() == RunSeal::Outcome::kRefused) return LoggedExit(kExitFailure);
    operations.UseSeal(seal.copy());
    return LoggedExit(RunSetup(operations));
  } catch (const std::bad_alloc&) {
    // Out of memory: everything acquired so far has been released on the way.
    LogLine({"out of memory"});
    return LoggedExit(kExitFailure);
  }
}

}  // namespace vantu
