// The command line of setup.exe. Switches begin with "/" or "-", in any
// case, in any order; every other argument is ignored.
//
//   /LOG[=path]   a run log (runlog/log_switch.h)
//   /QUIET        no message box: a setting that cannot be read is told on
//                 standard error (and in the log) instead
//   /?  /HELP     the usage on standard output, and nothing else
#pragma once

#include <string>
#include <vector>

#include "runlog/log_switch.h"

namespace vantu {

struct Switches {
  LogRequest log;
  bool quiet = false;
  bool help = false;
};

Switches ParseSwitches(const std::vector<std::wstring>& arguments);

// What /? prints.
extern const char kUsage[];

}  // namespace vantu
