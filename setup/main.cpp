// setup.exe: installs or updates the fan-control service. The exit code is
// its report: 0, or -1 when the firmware gate is closed, the offered version
// names no install folder or the payload could not be copied. The one
// argument it takes, /LOG, asks for a run log that says why (run_log.h);
// every other argument is ignored. Its arguments, like every path it
// handles, are UTF-16 (wmain).
#include <new>
#include <string>
#include <vector>

#include "runlog/log_switch.h"
#include "runlog/run_log.h"
#include "setup/dll_search.h"
#include "setup/exit_codes.h"
#include "setup/production_operations.h"
#include "setup/redirection_guard.h"
#include "setup/run_start.h"
#include "setup/setup_run.h"

int wmain(int argc, wchar_t** argv) {
  // Before anything loads a DLL by name: the component model, the message
  // box and the shell folder lookup all do, and the run has administrator
  // rights. The exports never come through here, so a program that loads
  // setup.exe for them keeps its own search order.
  vantu::RestrictDllSearchToSystemFolder();
  // Before the first file is opened: the run works in folders that the
  // user's own programs may change, and their links are not to be followed.
  vantu::EnforceRedirectionTrust();
  try {
    // The program folder as the run finds it now, held until it ends.
    vantu::ProductionOperations operations;
    vantu::RunLog log;
    vantu::OpenRequestedLog(vantu::ParseLogSwitch(std::vector<std::wstring>(argv + 1, argv + argc)),
                            operations.program_folder(), log);
    const int exitCode = vantu::RunSetup(operations);
    vantu::LogLine({exitCode == vantu::kExitSuccess ? "exit code 0" : "exit code -1 (0xFFFFFFFF)"});
    return exitCode;
  } catch (const std::bad_alloc&) {
    // Out of memory: everything acquired so far has been released on the way.
    vantu::LogLine({"out of memory: exit code -1 (0xFFFFFFFF)"});
    return vantu::kExitFailure;
  }
}
