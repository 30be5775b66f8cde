// setup.exe: installs or updates the fan-control service. The exit code is
// its report: 0, 1618 or -1, for the causes that exit_codes.h names. Its switches
// (/LOG, /QUIET, /?) are in switches.h; every other argument is ignored. Its
// arguments, like every path it handles, are UTF-16 (wmain).
#include <new>
#include <string>
#include <vector>

#include "program/dll_search.h"
#include "run/exit_codes.h"
#include "program/program.h"
#include "program/redirection_guard.h"

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
    return vantu::RunProgram(std::vector<std::wstring>(argv + 1, argv + argc));
  } catch (const std::bad_alloc&) {
    return vantu::kExitFailure;  // not even the arguments could be kept
  }
}
