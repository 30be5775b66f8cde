// Opens the run log that the command line asks for and writes its first
// line: which build of setup.exe started, from where.
#pragma once

#include "runlog/log_switch.h"
#include "runlog/run_log.h"

namespace vantu {

// Does nothing (and calls nothing) when no log was asked for. A log that
// cannot be created is no log: the run goes on exactly as without one.
void OpenRequestedLog(const LogRequest& request, RunLog& log);

}  // namespace vantu
