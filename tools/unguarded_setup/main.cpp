// unguarded_setup.exe: the run of setup.exe, from the same libraries, with a
// main that adds none of the guards setup.exe's main puts around the run,
// so that the end-to-end cases can show each guard is what makes the
// difference. Never shipped. Without them:
//  - the DLL search order stays as Windows sets it up (the program's own
//    folder first): the case that plants a DLL beside it sees the planted
//    DLL loaded, so it can tell a confined search from a DLL that is simply
//    never looked for;
//  - a setting that cannot be read is always told in a message box, also in
//    a window station that nobody can see: there the run waits until it is
//    killed;
//  - there is no machine-wide run guard, no /QUIET and no /?.
#include <new>

#include "run/exit_codes.h"
#include "run/production_operations.h"
#include "run/run_context.h"
#include "run/setup_run.h"

int main(int, char**) {
  try {
    vantu::RunContext context;
    context.OpenProgramFolder();
    if (const auto refused = context.Take()) return vantu::ExitCodeOf(*refused);
    vantu::ProductionOperations operations(context);
    return vantu::ExitCodeOf(vantu::RunSetup(operations));
  } catch (const std::bad_alloc&) {
    return vantu::kExitFailure;
  }
}
