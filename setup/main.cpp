// setup.exe: installs or updates the fan-control service. Takes no
// arguments; the exit code is its only report (0, or -1 when the firmware
// gate is closed or the payload could not be copied).
#include <new>

#include "setup/dll_search.h"
#include "setup/exit_codes.h"
#include "setup/production_operations.h"
#include "setup/setup_run.h"

int main(int, char**) {
  // Before anything loads a DLL by name: the component model, the message
  // box and the shell folder lookup all do, and the run has administrator
  // rights. The exports never come through here, so a program that loads
  // setup.exe for them keeps its own search order.
  vantu::RestrictDllSearchToSystemFolder();
  try {
    vantu::ProductionOperations operations;
    return vantu::RunSetup(operations);
  } catch (const std::bad_alloc&) {
    // Out of memory: everything acquired so far has been released on the way.
    return vantu::kExitFailure;
  }
}
