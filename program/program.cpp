#include "program/program.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "notice/notice.h"
#include "runlog/run_log.h"
#include "run/exit_codes.h"
#include "run/production_operations.h"
#include "run/run_context.h"
#include "program/run_guard.h"
#include "program/run_start.h"
#include "run/setup_run.h"
#include "program/switches.h"

namespace vantu {
namespace {

void WriteStandardOutput(const char* text) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!output || output == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(output, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

RunOutcome Ended(RunOutcome outcome) {
  const int exitCode = ExitCodeOf(outcome);
  LogLine({"outcome ", OutcomeName(outcome), ": ",
           exitCode == kExitSuccess          ? "exit code 0"
           : exitCode == kExitAlreadyRunning ? "exit code 1618 (ERROR_INSTALL_ALREADY_RUNNING)"
                                             : "exit code -1 (0xFFFFFFFF)"});
  return outcome;
}

RunOutcome Run(const Switches& switches) {
  RunLog log;
  try {
    // The program folder as the run finds it now, held until it ends: the
    // payload's source, and a folder no log may be written to.
    RunContext context;
    context.OpenProgramFolder();
    OpenRequestedLog(switches.log, context.program_folder().path(), log);
    DecideNotices(switches.quiet);
    RunGuard guard;
    switch (guard.Take()) {
      case RunGuard::Outcome::kTimedOut:
        WriteStandardErrorLine("another setup run held the machine for too long; nothing was done");
        return Ended(RunOutcome::kRunGuardTimedOut);
      case RunGuard::Outcome::kFailed:
        WriteStandardErrorLine(("the run guard could not be taken: " + guard.failure() + "; nothing was done").c_str());
        return Ended(RunOutcome::kRunGuardUnavailable);
      case RunGuard::Outcome::kTaken:
      case RunGuard::Outcome::kTakenOver:
        break;
    }
    if (const std::optional<RunOutcome> refused = context.Take()) return Ended(*refused);
    ProductionOperations operations(context);
    return Ended(RunSetup(operations));
  } catch (const std::bad_alloc&) {
    // Out of memory: everything acquired so far has been released on the way.
    LogLine({"out of memory"});
    return Ended(RunOutcome::kOutOfMemory);
  }
}

}  // namespace

RunOutcome RunProgramOutcome(const std::vector<std::wstring>& arguments, bool* helpShown) {
  const Switches switches = ParseSwitches(arguments);
  if (helpShown) *helpShown = switches.help;
  if (switches.help) {
    WriteStandardOutput(kUsage);
    return RunOutcome::kNothingToDo;
  }
  return Run(switches);
}

int RunProgram(const std::vector<std::wstring>& arguments) { return ExitCodeOf(RunProgramOutcome(arguments)); }

}  // namespace vantu
