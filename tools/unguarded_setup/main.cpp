// unguarded_setup.exe: the run of setup.exe, from the same libraries, with a
// main that leaves the DLL search order as Windows sets it up (the program's
// own folder first). For the end-to-end case that plants a DLL beside it:
// this program must load the planted DLL, or the case could not tell a
// confined search from a DLL that is simply never looked for. Never shipped.
#include <new>

#include "setup/exit_codes.h"
#include "setup/production_operations.h"
#include "setup/setup_run.h"

int main(int, char**) {
  try {
    vantu::ProductionOperations operations;
    return vantu::RunSetup(operations);
  } catch (const std::bad_alloc&) {
    return vantu::kExitFailure;
  }
}
